#include "codec_fixtures.h"
#include "core/settings.h"
#include "support/form_texts.h"
#include "support/scripted_prompter.h"
#include "support/temp_home.h"
#include "tools/id3_edit.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace {

const QByteArray Comment30 = "123456789012345678901234567890";

// The editor on a folder of its own, with a real MP3 made by lame to tag. Public,
// as the table rows work the window through it.
class Id3Edit : public testing::Test {
public:
    static void SetUpTestSuite()
    {
        const TTempHome home;
        WriteToneWav(home.File("tone.wav"), 22050);
        const TRunResult run =
            RunProgram("lame", {"--quiet", "-b", "32", home.File("tone.wav"), home.File("tone.mp3")});
        ASSERT_EQ(run.ExitCode, 0) << run.Output.toStdString();
        Audio = home.Read("tone.mp3");
        ASSERT_FALSE(Audio.right(128).startsWith("TAG"));
    }

    QString Put(const QString& name, const QByteArray& bytes) const
    {
        Home.Write(name, bytes);
        return Home.File(name);
    }
    QLineEdit* Field(const char* name) const { return Window.findChild<QLineEdit*>(name); }
    QComboBox* Genre() const { return Window.findChild<QComboBox*>("ID3genre"); }
    void Click(const char* button) { Window.findChild<QPushButton*>(button)->click(); }
    void Load(const QString& path)
    {
        Prompter.QueuePath(path);
        Click("bLoadTag");
    }
    void Remove()
    {
        Prompter.QueueAnswer(TPrompter::TAnswer::Yes);
        Click("bRemoveTag");
    }
    QString Caption(const QString& path) const
    {
        return path.isEmpty() ? "ID3 Tag Edit" : "ID3 Tag Edit: " + path;
    }

    static inline QByteArray Audio;
    TTempHome Home;
    TScriptedPrompter Prompter;
    TfrmID3Edit Window{Prompter};
};

// What a path holds, to tell whether anything changed it.
QByteArray Snapshot(const QString& path)
{
    struct stat st {};
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        return "missing";
    if (S_ISDIR(st.st_mode))
        return "folder: " + QDir(path).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).join(',').toUtf8();
    if (!S_ISREG(st.st_mode))
        return "special";
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "unreadable";
}

} // namespace

TEST_F(Id3Edit, SaveAndRemoveAreEnabledOnlyOnceTheCaptionNamesAFile)
{
    ExpectEnglishFileCoversForm(&Window);
    EXPECT_EQ(Window.windowTitle(), Caption({}));
    ASSERT_EQ(Genre()->count(), 149);
    EXPECT_EQ(Genre()->itemText(0), "");
    EXPECT_EQ(Genre()->itemText(18), "Blues");
    EXPECT_EQ(Genre()->currentIndex(), -1);
    for (const char* button : {"bSaveTag", "bRemoveTag"})
        EXPECT_FALSE(Window.findChild<QPushButton*>(button)->isEnabled()) << button;

    // Digits only, typed or pasted, at most two.
    QLineEdit* track = Field("ID3track");
    for (const char* typed : {"1a", "4", "x", "2", "9"})
        track->insert(typed);
    EXPECT_EQ(track->text(), "42");

    Load({}); // cancelled
    EXPECT_EQ(Window.windowTitle(), Caption({}));
    const QString song = Put("song.mp3", Audio);
    Load(song);
    EXPECT_EQ(Window.windowTitle(), Caption(song));
    for (const char* button : {"bSaveTag", "bRemoveTag"})
        EXPECT_TRUE(Window.findChild<QPushButton*>(button)->isEnabled()) << button;
    EXPECT_TRUE(Prompter.Messages().isEmpty());
}

// Each case is also read back by id3v2, which reads the track variant as we do.
TEST_F(Id3Edit, SavesTheFieldsAsTheTagCanHoldThem)
{
    QByteArray track5 = QByteArray("Old note").leftJustified(30, '\0');
    track5[29] = 5;
    struct TCase {
        const char* Name;
        QByteArray Start; // the tag the file has, if any
        std::function<void(Id3Edit&)> Edit;
        QByteArray Written;
        QStringList Listed; // in id3v2's listing; "-" before a text: not in it
    };
    const std::vector<TCase> cases{
        {"track 7 leaves 28 characters of comment",
         {},
         [](Id3Edit& t) {
             t.Field("ID3title")->setText("Song");
             t.Field("ID3comment")->setText(Comment30);
             t.Field("ID3track")->setText("7");
         },
         Id3Block("Song", Comment30.left(28) + '\0' + '\x07', 255),
         {"Title  : Song ", "Comment: 1234567890123456789012345678 ", "Track: 7", "Genre: Unknown (255)"}},
        {"track 0 keeps the 30-character comment",
         Id3Block("Old", track5, 17),
         [](Id3Edit& t) {
             t.Field("ID3comment")->setText(Comment30);
             t.Field("ID3track")->setText("0");
         },
         Id3Block("Old", Comment30, 17),
         {"Comment: " + Comment30 + "\n", "-Track:", "Genre: Rock (17)"}},
        {"an emptied track field keeps the track read",
         Id3Block("Old", track5, 17),
         [](Id3Edit& t) { t.Field("ID3track")->clear(); },
         Id3Block("Old", track5, 17),
         {"Comment: Old note ", "Track: 5"}},
        {"a file without a tag takes no track from the file before",
         {},
         [&](Id3Edit& t) {
             t.Load(t.Put("before.mp3", Audio + Id3Block("Before", track5, 17)));
             t.Load(t.Home.File("case.mp3"));
             t.Field("ID3track")->clear();
         },
         Id3Block("", "", 255),
         {"-Track: 5", "-Before"}},
        {"an unknown genre shows the empty entry and saves none",
         Id3Block("Odd", "", 200, "Band"),
         [](Id3Edit& t) { EXPECT_EQ(t.Genre()->currentIndex(), 0); },
         Id3Block("Odd", "", 255, "Band"),
         {"Artist: Band ", "Genre: Unknown (255)"}},
        {"a chosen genre is saved by its number",
         {},
         [](Id3Edit& t) {
             t.Field("ID3year")->setText("1999");
             t.Genre()->setCurrentIndex(18);
         },
         Id3Block("", "", 0, {}, {}, "1999"),
         {"Year: 1999, Genre: Blues (0)"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = Put("case.mp3", Audio + c.Start);
        Load(path);
        c.Edit(*this);
        Click("bSaveTag");
        EXPECT_TRUE(Prompter.Messages().isEmpty()) << Prompter.Messages().join('\n').toStdString();
        EXPECT_EQ(Home.Read("case.mp3"), Audio + c.Written);
        const TRunResult listing = RunProgram("id3v2", {"-l", path});
        const QString text = QString::fromLatin1(listing.Output);
        for (const QString& listed : c.Listed) {
            if (listed.startsWith('-'))
                EXPECT_FALSE(text.contains(listed.mid(1))) << text.toStdString();
            else
                EXPECT_TRUE(text.contains(listed)) << listed.toStdString() << " in\n" << text.toStdString();
        }
    }
}

TEST_F(Id3Edit, RemoveAsksFirstAndClearsTheFieldsAlsoWithoutATag)
{
    const QString path = Put("song.mp3", Audio + Id3Block("Title", "Note", 17));
    Load(path);
    Prompter.QueueAnswer(TPrompter::TAnswer::No);
    Click("bRemoveTag");
    ASSERT_EQ(Prompter.Calls().back().Kind, TScriptedPrompter::TKind::YesNo);
    EXPECT_EQ(Prompter.Calls().back().Text, "Do you want to remove these tags?");
    EXPECT_EQ(Prompter.Calls().back().DefaultAnswer, TPrompter::TAnswer::No);
    EXPECT_EQ(Field("ID3title")->text(), "Title");
    EXPECT_EQ(Home.Read("song.mp3"), Audio + Id3Block("Title", "Note", 17));

    for (int pass = 0; pass < 2; ++pass) { // with a tag, then without one
        Remove();
        EXPECT_EQ(Home.Read("song.mp3"), Audio);
        EXPECT_EQ(Field("ID3title")->text(), "");
        EXPECT_EQ(Field("ID3comment")->text(), "");
        EXPECT_EQ(Genre()->currentIndex(), -1);
        EXPECT_EQ(Field("ID3track")->text(), "0");
        Field("ID3title")->setText("typed");
    }
    EXPECT_TRUE(Prompter.Messages().isEmpty());
    EXPECT_TRUE(Prompter.ScriptUsedUp());
}

TEST_F(Id3Edit, SaveAsTagsAnotherFileWhichLaterSavesGoTo)
{
    const QString first = Put("first.mp3", Audio + Id3Block("First", "", 13));
    const QString second = Put("second.mp3", Audio);
    Load(first);
    Field("ID3title")->setText("Copied");

    // A file that is not there is refused; the window stays on the first file.
    const QString missing = Home.File("missing.mp3");
    Prompter.QueuePath(missing);
    Click("bSaveAS");
    ASSERT_EQ(Prompter.Messages().size(), 1);
    EXPECT_TRUE(Prompter.Messages()[0].startsWith("Could not save Tag!\n" + missing + "\n"))
        << Prompter.Messages()[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_EQ(Window.windowTitle(), Caption(first));

    Prompter.QueuePath(second);
    Click("bSaveAS");
    EXPECT_EQ(Window.windowTitle(), Caption(second));
    EXPECT_EQ(Home.Read("second.mp3"), Audio + Id3Block("Copied", "", 13));
    Field("ID3artist")->setText("Band");
    Click("bSaveTag");
    EXPECT_EQ(Home.Read("second.mp3"), Audio + Id3Block("Copied", "", 13, "Band"));
    EXPECT_EQ(Home.Read("first.mp3"), Audio + Id3Block("First", "", 13));
    EXPECT_EQ(Prompter.Messages().size(), 1);
}

// Save Tag and Remove Tag on a file that is no longer an MP3 we can change:
// both say so, and nothing on the disk changes.
TEST_F(Id3Edit, RefusesFilesItCannotChangeAndLeavesThemAsTheyWere)
{
    struct TCase {
        const char* Name;
        std::function<QString(Id3Edit&)> Prepare; // returns the path the window is on
    };
    const auto loaded = [](Id3Edit& t, const QString& name) {
        const QString path = t.Put(name, Audio + Id3Block("Kept", "", 5));
        t.Load(path);
        return path;
    };
    const std::vector<TCase> cases{{"read-only",
                                    [&](Id3Edit& t) {
                                        const QString path = loaded(t, "ro.mp3");
                                        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup);
                                        return path;
                                    }},
                                   {"vanished",
                                    [&](Id3Edit& t) {
                                        const QString path = loaded(t, "gone.mp3");
                                        QFile::remove(path);
                                        return path;
                                    }},
                                   {"replaced by a folder",
                                    [&](Id3Edit& t) {
                                        const QString path = loaded(t, "swapped.mp3");
                                        QFile::remove(path);
                                        QDir().mkdir(path);
                                        return path;
                                    }},
                                   {"a folder loaded after a file",
                                    [&](Id3Edit& t) {
                                        loaded(t, "earlier.mp3");
                                        const QString folder = t.Home.File("folder.mp3");
                                        QDir().mkdir(folder);
                                        t.Load(folder);
                                        return folder;
                                    }},
                                   {"a FIFO", [&](Id3Edit& t) {
                                        const QString fifo = t.Home.File("pipe.mp3");
                                        mkfifo(QFile::encodeName(fifo).constData(), 0644);
                                        t.Load(fifo);
                                        return fifo;
                                    }}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = c.Prepare(*this);
        const QByteArray before = Snapshot(path);
        const QByteArray earlier = Snapshot(Home.File("earlier.mp3"));
        const qsizetype shown = Prompter.Messages().size();
        Field("ID3title")->setText("Changed");
        Click("bSaveTag");
        Remove();
        EXPECT_EQ(Snapshot(path), before);
        EXPECT_EQ(Snapshot(Home.File("earlier.mp3")), earlier);
        const QStringList messages = Prompter.Messages().mid(shown);
        ASSERT_EQ(messages.size(), 2) << messages.join('\n').toStdString();
        for (const QString& message : messages)
            EXPECT_TRUE(message.startsWith("Could not save Tag!\n" + path + "\n")) << message.toStdString();
        // The fields still show what the user typed.
        EXPECT_EQ(Field("ID3title")->text(), "Changed");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }
}

// Another program changed the file between Load and Save or Remove: the tag is
// looked for again, so no audio is cut and no second tag is added.
TEST_F(Id3Edit, FindsTheTagAnewWhenTheFileChangedSinceItWasLoaded)
{
    const QByteArray ours = Id3Block("Mine", "", 255);
    const QByteArray theirs = Id3Block("Theirs", "", 7);
    struct TCase {
        const char* Name;
        QByteArray Loaded;
        QByteArray Changed;
        bool Save; // else Remove
        QByteArray Expected;
    };
    const std::vector<TCase> cases{
        {"tag stripped, then saved", Audio + theirs, Audio, true, Audio + ours},
        {"tag stripped, then removed", Audio + theirs, Audio, false, Audio},
        {"cut short, then saved", Audio + theirs, Audio.left(50), true, Audio.left(50) + ours},
        {"cut short, then removed", Audio + theirs, Audio.left(50), false, Audio.left(50)},
        {"tagged meanwhile, then saved", Audio, Audio + theirs, true, Audio + ours},
        {"audio appended, then removed", Audio + theirs, Audio + theirs + Audio, false,
         Audio + theirs + Audio},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = Put("changing.mp3", c.Loaded);
        Load(path);
        Put("changing.mp3", c.Changed);
        Field("ID3title")->setText("Mine");
        Field("ID3track")->setText("0");
        Genre()->setCurrentIndex(0);
        if (c.Save)
            Click("bSaveTag");
        else
            Remove();
        EXPECT_EQ(Home.Read("changing.mp3"), c.Expected);
    }
    EXPECT_TRUE(Prompter.Messages().isEmpty());
}

TEST_F(Id3Edit, KeepsTextsBeyondLatin1AndShowsWhatTheTagHolds)
{
    const QString path = Put("song.mp3", Audio);
    Load(path);
    // 17 Cyrillic letters take 33 bytes in UTF-8; the tag keeps the whole ones.
    Field("ID3title")->setText(QString::fromUtf8("Дождь над городом"));
    Field("ID3artist")->setText(QString::fromUtf8("日本語のアーティスト"));
    Click("bSaveTag");
    ASSERT_TRUE(Prompter.Messages().isEmpty());
    EXPECT_EQ(Field("ID3title")->text(), QString::fromUtf8("Дождь над городо"));
    EXPECT_EQ(Field("ID3artist")->text(), QString::fromUtf8("日本語のアーティスト"));
    // mutagen reads ID3v1 as Latin-1: its characters are our UTF-8 bytes.
    const QJsonObject fields = MutagenFields(path);
    EXPECT_EQ(fields["TIT2"].toString().toLatin1(), QString::fromUtf8("Дождь над городо").toUtf8());
    EXPECT_EQ(fields["TPE1"].toString().toLatin1(), QString::fromUtf8("日本語のアーティスト").toUtf8());
    EXPECT_EQ(Home.Read("song.mp3").left(Audio.size()), Audio);

    TfrmID3Edit again(Prompter);
    Prompter.QueuePath(path);
    again.findChild<QPushButton*>("bLoadTag")->click();
    EXPECT_EQ(again.findChild<QLineEdit*>("ID3title")->text(), QString::fromUtf8("Дождь над городо"));
    EXPECT_EQ(again.findChild<QLineEdit*>("ID3artist")->text(), QString::fromUtf8("日本語のアーティスト"));
}

TEST_F(Id3Edit, ShowsItselfInTheChosenLanguage)
{
    Home.CopyDataFile("CLan_French.ini");
    AppSettings().Language = "French";
    TfrmID3Edit window(Prompter);
    window.show();
    EXPECT_EQ(window.windowTitle(), "Modifier le tag ID3");
    EXPECT_FALSE(window.findChild<QPushButton*>("bSaveTag")->isEnabled());
    const QString path = Put("song.mp3", Audio);
    Prompter.QueuePath(path);
    window.findChild<QPushButton*>("bLoadTag")->click();
    EXPECT_EQ(window.windowTitle(), "Modifier le tag ID3: " + path);
    EXPECT_TRUE(window.findChild<QPushButton*>("bSaveTag")->isEnabled());
    EXPECT_EQ(window.findChild<QPushButton*>("bClose")->text(), "&Fermer");
    QFile::remove(path);
    window.findChild<QPushButton*>("bSaveTag")->click();
    ASSERT_EQ(Prompter.Messages().size(), 1);
    EXPECT_TRUE(Prompter.Messages()[0].startsWith("Impossible de sauvegarder le tag\u202F!\n"))
        << Prompter.Messages()[0].toStdString();
    window.close();
}
