#include "app/about_form.h"
#include "app/edit_track_name.h"
#include "app/main_form.h"
#include "app/no_device_hint.h"
#include "app/option_set_form.h"
#include "app/query_cddb_form.h"
#include "app/stop_query_form.h"
#include "codecs/vorbis_library.h"
#include "jobs/job_engine.h"
#include "jobs/rip_form.h"
#include "tools/id3_edit.h"
#include "tools/new_record_file.h"
#include "tools/ogg_player.h"
#include "tools/record_form.h"
#include "tools/resample_form.h"

#include "app_test_support.h"
#include "support/scripted_prompter.h"
#include "support/window_fit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// What windows are made with: a program folder in the language under test, and
// the main window that owns every other window, as in the program.
struct TWindowContext {
    TAppTest& Test;
    TMainForm& Main;
    TScriptedPrompter& Prompter;
};

struct TWindowMaker {
    const char* Name;
    std::function<std::unique_ptr<QWidget>(TWindowContext&)> Make;
};

// Every window of the program, made as its command makes it. A new window
// joins the check with one line here.
const std::vector<TWindowMaker>& Windows()
{
    static const std::vector<TWindowMaker> windows{
        {"MainForm", [](TWindowContext&) { return std::unique_ptr<QWidget>(); }}, // the main window itself
        {"RipForm",
         [](TWindowContext& c) -> std::unique_ptr<QWidget> {
             // Long enough that the job still runs when the window has been looked at.
             const QString wav = WriteCdWav(c.Test.Home.File("tune.wav"), 60);
             return std::make_unique<TRipForm>(&c.Main, c.Prompter, c.Main.Mp3Encoder(), c.Main.WmaEncoder(),
                                               TJobEngine::WavToOgg, 0, QStringList{wav});
         }},
        {"frmEditTrackName",
         [](TWindowContext& c) {
             auto editor = std::make_unique<TfrmEditTrackName>(&c.Main);
             editor->SetTitle("Intro");
             return std::unique_ptr<QWidget>(std::move(editor));
         }},
        {"frmNoDeviceHint", [](TWindowContext& c) { return std::make_unique<TfrmNoDeviceHint>(&c.Main); }},
        {"frmID3Edit", [](TWindowContext& c) { return std::make_unique<TfrmID3Edit>(c.Prompter, &c.Main); }},
        {"frmAbout",
         [](TWindowContext& c) {
             // The program finds its WMA encoder beside itself, and About names it.
             const QByteArray path = qgetenv("PATH");
             qputenv("PATH", QFileInfo(VELBROOK_WMAENC).absolutePath().toUtf8() + ":" + path);
             auto about = std::make_unique<TfrmAbout>(&c.Main);
             qputenv("PATH", path);
             return about;
         }},
        {"OptionSetForm",
         [](TWindowContext& c) { return std::make_unique<TOptionSetForm>(c.Prompter, -1, &c.Main); }},
        {"frmQueryCDDB", [](TWindowContext& c) { return std::make_unique<TfrmQueryCDDB>(&c.Main, 1, 1, 0); }},
        {"frmStopQuery",
         [](TWindowContext& c) {
             // A server that takes the connection and never answers keeps the lookup, and
             // so the window, open while it is looked at.
             static QTcpServer silent;
             if (!silent.isListening())
                 silent.listen(QHostAddress::LocalHost);
             TCddbOptions options;
             options.Server = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
             return std::make_unique<TfrmStopQuery>(&c.Main, 1, 1, c.Main.DriveHandle(), options, "Close");
         }},
        {"frmOggPlayer",
         [](TWindowContext& c) { return std::make_unique<TfrmOggPlayer>(&c.Main, c.Prompter); }},
        {"frmResample",
         [](TWindowContext& c) { return std::make_unique<TfrmResample>(&c.Main, c.Prompter); }},
        {"frmRecord",
         [](TWindowContext& c) {
             return std::make_unique<TfrmRecord>(&c.Main, c.Prompter, c.Main.Mp3Encoder(),
                                                 c.Main.WmaEncoder());
         }},
        {"frmNewRecordFile", [](TWindowContext& c) { return std::make_unique<TfrmNewRecordFile>(&c.Main); }},
    };
    return windows;
}

// Every language that has a file in the data folder.
std::vector<std::string> Languages()
{
    std::vector<std::string> languages;
    for (const QString& file : QDir(VELBROOK_SOURCE_DIR "/data").entryList({"CLan_*.ini"}, QDir::Files))
        languages.push_back(file.mid(5, file.size() - 9).toStdString());
    return languages;
}

class WindowFit : public testing::TestWithParam<std::string> {};

} // namespace

TEST_P(WindowFit, EveryWindowFitsItsTexts)
{
    const QString language = QString::fromStdString(GetParam());
    TAppTest test;
    const TVorbisLibraries vorbis;
    test.UseDemoDisc();
    test.Home.CopyDataFile("CLan_" + language + ".ini");
    QDir().mkpath(test.Home.File("out"));
    test.Home.Write("options.ini", "[Options]\nLan=" + language.toUtf8() +
                                       "\n[CommonOptions]\nOutputFolder=" + test.Home.File("out").toUtf8() +
                                       "\n");
    TScriptedPrompter prompter;
    TMainForm main(&prompter);
    TWindowContext context{test, main, prompter};

    for (const TWindowMaker& maker : Windows()) {
        SCOPED_TRACE(maker.Name);
        std::unique_ptr<QWidget> made = maker.Make(context);
        QWidget* window = made ? made.get() : &main;
        ASSERT_EQ(window->objectName(), maker.Name);
        ShowAsTheProgramDoes(window);
        const QStringList problems = TextFitProblems(window);
        EXPECT_TRUE(problems.isEmpty()) << language.toStdString() << ":\n"
                                        << problems.join('\n').toStdString();
        // A window that closed itself while it was looked at was not looked at.
        EXPECT_TRUE(window->isVisible());
        if (auto* job = qobject_cast<TRipForm*>(window)) {
            job->Engine().Stop();
            while (!job->Engine().Finished())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        if (window != &main)
            window->close();
    }
    main.close();
}

INSTANTIATE_TEST_SUITE_P(Languages, WindowFit, testing::ValuesIn(Languages()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

// The check itself: a fault it cannot see would let every window pass.
TEST(TextFitProblems, FindsClippedSplitAndOverlappingTexts)
{
    QWidget window;
    window.setObjectName("Probe");
    window.resize(400, 300);
    const auto place = [&window](QWidget* widget, const char* name, QRect geometry) {
        widget->setParent(&window);
        widget->setObjectName(name);
        widget->setGeometry(geometry);
    };
    place(new QLabel("Fits in its room"), "Roomy", {0, 0, 300, 30});
    place(new QLabel("A text far too long for its label"), "Clipped", {0, 40, 60, 30});
    auto* wrapped = new QLabel("--cd-image");
    wrapped->setWordWrap(true);
    // Wider than "--cd-" and narrower than the option: it breaks at the hyphen.
    const int split = wrapped->fontMetrics().horizontalAdvance("--cd-") + 2;
    place(wrapped, "Option", {0, 80, split, 200});
    place(new QPushButton("One"), "First", {200, 80, 100, 40});
    place(new QPushButton("Two"), "Second", {250, 100, 100, 40});
    ShowAsTheProgramDoes(&window);

    const QString problems = TextFitProblems(&window).join('\n');
    EXPECT_FALSE(problems.contains("Probe/Roomy")) << problems.toStdString();
    EXPECT_TRUE(problems.contains("Probe/Clipped: \"A text far too long")) << problems.toStdString();
    EXPECT_TRUE(problems.contains("Probe/Option: the option --cd-image is split")) << problems.toStdString();
    EXPECT_TRUE(problems.contains("Probe/First and Probe/Second overlap")) << problems.toStdString();
}
