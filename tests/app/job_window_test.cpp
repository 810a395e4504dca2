#include "app_test_support.h"

#include "app/main_form.h"
#include "cd/cd_rip_thread.h"
#include "cd/image_writer.h"
#include "codecs/genre_list.h"
#include "codecs/id3_tag.h"
#include "codecs/mp3_encode_process.h"
#include "codecs/vorbis_library.h"
#include "codecs/wma_encode_process.h"
#include "core/disc_info.h"
#include "core/settings.h"
#include "jobs/job_engine.h"
#include "jobs/rip_form.h"
#include "support/form_texts.h"
#include "support/scripted_prompter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <vector>

namespace {

TImageSpec Tracks(int count, qint64 seconds)
{
    TImageSpec spec;
    for (int i = 0; i < count; ++i)
        spec.Tracks.push_back({.Frames = seconds * 75, .Voice = i});
    return spec;
}

// What the job window showed, recorded each time it changed.
struct TShown {
    QString Caption;
    QString Group;
    QString Elapsed;
    QString Estimated;
    int Gauge = 0;
    bool GaugeText = false;
    bool Initializing = false;
    bool operator==(const TShown&) const = default;
};

// Records the job window's state whenever its caption or gauge changes, as
// it changes (a step that is over at once is still seen, however busy the
// machine), and every millisecond in between for the other texts.
class TWatch final : public QObject {
public:
    TWatch()
    {
        qApp->installEventFilter(this);
        Timer.setInterval(1);
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            if (auto* window = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                Record(window);
        });
        Timer.start();
    }
    ~TWatch() override { qApp->removeEventFilter(this); }

    bool Any(const std::function<bool(const TShown&)>& test) const
    {
        return std::any_of(Seen.begin(), Seen.end(), test);
    }

    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::WindowTitleChange && object->objectName() == "RipForm") {
            auto* window = static_cast<QWidget*>(object);
            auto* gauge = window->findChild<QProgressBar*>("FlatGauge1");
            if (gauge && !Followed.contains(gauge)) {
                Followed.append(gauge);
                QObject::connect(gauge, &QProgressBar::valueChanged, this,
                                 [this, window] { Record(window); });
            }
            Record(window);
        }
        return false;
    }

    std::vector<TShown> Seen;

private:
    void Record(QWidget* window)
    {
        auto* group = window->findChild<QGroupBox*>("GroupBox1");
        auto* elapsed = window->findChild<QLabel*>("Label1");
        auto* estimated = window->findChild<QLabel*>("Label2");
        auto* gauge = window->findChild<QProgressBar*>("FlatGauge1");
        auto* initializing = window->findChild<QLabel*>("Label3");
        if (window->objectName() != "RipForm" || !group || !elapsed || !estimated || !gauge || !initializing)
            return; // not the job window, or one still being built
        const TShown now{window->windowTitle(),    group->title(), elapsed->text(),
                         estimated->text(),        gauge->value(), gauge->isTextVisible(),
                         initializing->isVisible()};
        if (Seen.empty() || !(Seen.back() == now))
            Seen.push_back(now);
    }

    QTimer Timer;
    QList<QPointer<QProgressBar>> Followed;
};

// Gives up on a job that does not end, so a fault fails the test instead of
// hanging it.
class TDeadline {
public:
    explicit TDeadline(std::chrono::seconds limit)
    {
        Timer.setSingleShot(true);
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            Expired = true;
            if (QWidget* window = QApplication::activeModalWidget())
                window->findChild<QPushButton*>("btStop")->click();
        });
        Timer.start(limit);
    }
    ~TDeadline() { EXPECT_FALSE(Expired) << "the job did not end in time"; }

    QTimer Timer;
    bool Expired = false;
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(30))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct TEncoders {
    explicit TEncoders(TPrompter& prompter) : Mp3(nullptr, prompter), Wma(nullptr, prompter) {}
    TMp3EncodeProcess Mp3;
    TWMAEncodeProcess Wma;
};

} // namespace

TEST(JobWindow, ShowsEachStepsProgressAndClosesByItselfAtTheEnd)
{
    TTempHome home;
    const TVorbisLibraries vorbis;
    AppSettings().OutputFolder = home.File("out");
    QDir().mkpath(AppSettings().OutputFolder);
    const QStringList files{WriteCdWav(home.File("first.wav"), 4), WriteCdWav(home.File("second.wav"), 4)};
    TScriptedPrompter prompter;
    TEncoders encoders(prompter);
    QWidget owner;
    owner.setGeometry(100, 80, 641, 479);

    TRipForm form(&owner, prompter, encoders.Mp3, encoders.Wma, TJobEngine::WavToOgg, 0, files);
    EXPECT_EQ(form.objectName(), "RipForm");
    EXPECT_EQ(form.windowTitle(), "Encoding(01/02): " + files[0]);
    EXPECT_EQ(form.findChild<QGroupBox*>("GroupBox1")->title(), "Encoding WAV to OGG");
    EXPECT_TRUE(form.findChild<QLabel*>("Label1")->text().isEmpty());
    EXPECT_TRUE(form.findChild<QLabel*>("Label2")->text().isEmpty());
    EXPECT_FALSE(form.findChild<QProgressBar*>("FlatGauge1")->isTextVisible());
    // "Initializing..." lies over the gauge until the first progress.
    EXPECT_FALSE(form.findChild<QLabel*>("Label3")->isHidden());
    // Centred over its owner, halves rounded toward zero.
    const QRect area = owner.frameGeometry();
    EXPECT_EQ(form.x(), area.left() + (area.width() - form.width()) / 2);
    EXPECT_EQ(form.y(), area.top() + (area.height() - form.height()) / 2);

    TWatch watch;
    {
        const TDeadline deadline(std::chrono::seconds(60));
        EXPECT_EQ(form.exec(), QDialog::Accepted);
    }
    EXPECT_TRUE(form.Engine().Finished());
    EXPECT_TRUE(QFile::exists(home.File("out/first.ogg")));
    EXPECT_TRUE(QFile::exists(home.File("out/second.ogg")));
    EXPECT_TRUE(prompter.Messages().isEmpty()) << prompter.Messages().join('\n').toStdString();

    const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d$"));
    EXPECT_TRUE(watch.Any([&](const TShown& s) {
        return s.Caption == "Encoding(02/02): " + files[1] && s.Group == "Encoding";
    }));
    EXPECT_TRUE(watch.Any([&](const TShown& s) {
        return s.Gauge > 0 && s.GaugeText && !s.Initializing && time.match(s.Elapsed).hasMatch() &&
               time.match(s.Estimated).hasMatch();
    }));
}

TEST(JobWindow, ShownInGermanKeepsTheStepsTextsAndTranslatesTheRest)
{
    TTempHome home;
    const TVorbisLibraries vorbis;
    home.CopyDataFile("CLan_German.ini");
    AppSettings().Language = "German";
    AppSettings().OutputFolder = home.File("out");
    QDir().mkpath(AppSettings().OutputFolder);
    const QString wav = WriteCdWav(home.File("a.wav"), 1);
    TScriptedPrompter prompter;
    TEncoders encoders(prompter);

    TRipForm form(nullptr, prompter, encoders.Mp3, encoders.Wma, TJobEngine::WavToOgg, 0, {wav});
    QString caption;
    QString group;
    QString elapsed;
    QString stop;
    QString initializing;
    TModalAnswer answer([&](QWidget* window) {
        initializing = window->findChild<QLabel*>("Label3")->text();
        caption = window->windowTitle();
        group = window->findChild<QGroupBox*>("GroupBox1")->title();
        elapsed = window->findChild<QLabel*>("Label10")->text();
        stop = window->findChild<QPushButton*>("btStop")->text();
    });
    const TDeadline deadline(std::chrono::seconds(60));
    form.exec();
    // The step's caption and group title, not the language file's design-time
    // "Auslesen" for both.
    EXPECT_EQ(caption, "Encoding(01/01): " + wav);
    EXPECT_EQ(group, "WAV nach OGG kodieren");
    EXPECT_EQ(elapsed, "Verstrichene Zeit:");
    EXPECT_EQ(stop, "Stopp");
    EXPECT_EQ(initializing, "Initialisierung...");
}

TEST(JobWindow, EnglishLanguageFileCoversTheWindow)
{
    TTempHome home;
    const TVorbisLibraries vorbis;
    AppSettings().OutputFolder = home.File("out");
    QDir().mkpath(AppSettings().OutputFolder);
    TScriptedPrompter prompter;
    TEncoders encoders(prompter);
    TRipForm form(nullptr, prompter, encoders.Mp3, encoders.Wma, TJobEngine::WavToOgg, 0,
                  {WriteCdWav(home.File("a.wav"), 1)});
    form.Engine().Stop();
    // The first step has retitled the window and its group; the file holds
    // their design-time texts.
    form.setWindowTitle("Extracting");
    form.findChild<QGroupBox*>("GroupBox1")->setTitle("Extracting");
    ExpectEnglishFileCoversForm(&form);
}

TEST(JobWindow, CtrlXExtractsTheTickedTracksToTaggedMp3Files)
{
    TAppTest test;
    test.UseImage("disc.cue", Tracks(2, 3));
    TScriptedPrompter prompter;
    TMainForm form(&prompter);
    AppSettings().OutputFolder = test.Home.File("out");
    AppSettings().OutputFormat = 0;
    AppSettings().KeepWav = false;
    AppSettings().UseId3 = true;
    QDir().mkpath(AppSettings().OutputFolder);
    form.show();
    QApplication::setActiveWindow(&form);
    QCoreApplication::processEvents();
    DiscInfo().Artist = "The Testers";
    DiscInfo().Album = "Loopback";
    DiscInfo().Year = "2026";
    DiscInfo().Genre = 17;
    auto* list = form.findChild<QTreeWidget*>("ListView1");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    list->topLevelItem(0)->setText(1, "Intro: \"Part\" 1");

    TWatch watch;
    {
        const TDeadline deadline(std::chrono::seconds(90));
        QAction* extract = form.findChild<QAction*>("ActionExtract");
        ASSERT_EQ(extract->shortcut(), QKeySequence("Ctrl+X"));
        extract->trigger(); // returns when the modal job window has closed
    }
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(prompter.Messages().isEmpty()) << prompter.Messages().join('\n').toStdString();

    const QString first = test.Home.File("out/Intro \"Part\" 1.mp3");
    ASSERT_TRUE(QFile::exists(first));
    ASSERT_TRUE(QFile::exists(test.Home.File("out/Track02.mp3")));
    EXPECT_FALSE(QFile::exists(test.Home.File("out/Track02.wav"))); // not kept
    Tid3tag tag;
    EXPECT_EQ(tag.ReadTag(first), 0);
    EXPECT_EQ(tag.Title, "Intro \"Part\" 1");
    EXPECT_EQ(tag.Artist, "The Testers");
    EXPECT_EQ(tag.Album, "Loopback");
    EXPECT_EQ(tag.Year, "2026");
    EXPECT_EQ(tag.Genre, GenreFromListIndex(17));
    EXPECT_EQ(tag.Track, 1);
    EXPECT_TRUE(
        watch.Any([](const TShown& s) { return s.Caption == "Extracting(01/02): Intro \"Part\" 1"; }));
    EXPECT_TRUE(watch.Any([](const TShown& s) { return s.Caption == "Encoding(02/02): Track02"; }));
}

TEST(JobWindow, StopEndsTheJobAndKeepsWhatWasDone)
{
    TAppTest test;
    test.UseImage("disc.cue", Tracks(3, 20));
    TScriptedPrompter prompter;
    TMainForm form(&prompter);
    AppSettings().OutputFolder = test.Home.File("out");
    AppSettings().OutputFormat = 1; // WAV
    QDir().mkpath(AppSettings().OutputFolder);
    form.show();
    QCoreApplication::processEvents();

    bool stopped = false;
    TModalAnswer answer([&](QWidget* window) {
        if (!WaitFor([&] { return window->windowTitle().startsWith("Extracting(02/03)"); }))
            return;
        window->findChild<QPushButton*>("btStop")->click();
        stopped = true;
    });
    const TDeadline deadline(std::chrono::seconds(90));
    form.findChild<QAction*>("ActionExtract")->trigger();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(QFileInfo(test.Home.File("out/Track01.wav")).size(), 44 + 20 * 75 * 2352);
    EXPECT_FALSE(QFile::exists(test.Home.File("out/Track03.wav")));
}

TEST(JobWindow, AnEncoderThatCannotStartIsReportedAndNoWindowOpens)
{
    TAppTest test;
    const QString wav = WriteCdWav(test.Home.File("a.wav"), 1);
    QDir().mkpath(test.Home.File("empty"));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(test.Home.File("empty")));
    TScriptedPrompter prompter;
    {
        TMainForm form(&prompter);
        AppSettings().OutputFolder = test.Home.File("out");
        QDir().mkpath(AppSettings().OutputFolder);
        prompter.QueueFiles({wav});
        form.findChild<QAction*>("ActionWavToMp3")->trigger();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    qputenv("PATH", path);
    ASSERT_FALSE(prompter.Messages().isEmpty());
    EXPECT_EQ(prompter.Messages().back(),
              QString("Error while creating mp3 encoding process!%1").arg(ENOENT));
    EXPECT_FALSE(QFile::exists(test.Home.File("out/a.mp3")));
}
