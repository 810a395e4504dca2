#include "app/job_commands.h"
#include "core/settings.h"

#include "support/scripted_prompter.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

TTrackRow Row(int number, const QString& title, bool ticked = true)
{
    TTrackRow row;
    row.Number = number;
    row.Title = title;
    row.Ticked = ticked;
    return row;
}

constexpr CDHandle SomeDrive = 3;

class JobCommandsTest : public ::testing::Test {
protected:
    JobCommandsTest() { AppSettings().OutputFolder = Home.File(QStringLiteral("Output")); }
    void MakeOutputFolder() { ASSERT_TRUE(QDir().mkpath(AppSettings().OutputFolder)); }

    TTempHome Home;
    TScriptedPrompter Prompter;
    TJobCommands Commands{Prompter};
};

} // namespace

TEST(ExtractionWorkList, NumbersTheTickedRowsAndDropsForbiddenCharacters)
{
    TTempHome home;
    EXPECT_EQ(TJobCommands::ExtractionWorkList({Row(1, "One", false), Row(2, "a/b")}), QStringList{"02ab"});
    EXPECT_EQ(TJobCommands::ExtractionWorkList({Row(3, "Intro: Part 1")}), QStringList{"03Intro Part 1"});
    EXPECT_EQ(TJobCommands::ExtractionWorkList({Row(12, "Say \"Hi\" *now* <x>?|\\")}),
              QStringList{"12Say \"Hi\" now x"});
    EXPECT_EQ(TJobCommands::ExtractionWorkList({Row(1, "x", false)}), QStringList{});
}

TEST(ExtractionWorkList, NoTrackOverwritesAnother)
{
    TTempHome home;
    // An empty title would make a hidden ".wav"; equal titles would make the
    // later track replace the earlier one's files.
    const QStringList items = TJobCommands::ExtractionWorkList(
        {Row(1, ""), Row(2, "  "), Row(3, "Song"), Row(4, "Song"), Row(5, "So:ng"), Row(6, "Song (2)")});
    EXPECT_EQ(items, (QStringList{"01Track01", "02Track02", "03Song", "04Song (2)", "05Song (3)",
                                  "06Song (2) (2)"}));
}

TEST_F(JobCommandsTest, ExtractWithoutADriveOrWithoutTicksStartsNothing)
{
    MakeOutputFolder();
    EXPECT_FALSE(Commands.Extract(0, {Row(1, "A")}));
    EXPECT_FALSE(Commands.Extract(SomeDrive, {Row(1, "A", false), Row(2, "B", false)}));
    EXPECT_FALSE(Commands.Extract(SomeDrive, {}));
    EXPECT_EQ(Prompter.Messages(),
              (QStringList{"Please access CD devices rightly above all!", "Please select a track at least!",
                           "Please select a track at least!"}));
    for (const auto& call : Prompter.Calls())
        EXPECT_EQ(call.Kind, TScriptedPrompter::TKind::Information);
}

TEST_F(JobCommandsTest, ExtractMakesAJobOfTheTickedTracksForTheDrive)
{
    MakeOutputFolder();
    bool playbackStopped = false;
    const std::optional<TJobRequest> job = Commands.Extract(
        SomeDrive, {Row(1, "A"), Row(2, "B", false), Row(3, "C: D")}, [&] { playbackStopped = true; });
    ASSERT_TRUE(job);
    EXPECT_EQ(job->Kind, 1);
    EXPECT_EQ(job->Drive, SomeDrive);
    EXPECT_EQ(job->WorkList, (QStringList{"01A", "03C D"}));
    EXPECT_TRUE(playbackStopped);
    EXPECT_TRUE(Prompter.Calls().empty());
}

TEST_F(JobCommandsTest, AMissingOutputFolderIsCreatedOnlyWhenTheUserAgrees)
{
    const QString folder = AppSettings().OutputFolder + QStringLiteral("/deeper");
    AppSettings().OutputFolder = folder;
    Prompter.QueueAnswer(TPrompter::TAnswer::No);
    EXPECT_FALSE(Commands.Extract(SomeDrive, {Row(1, "A")}));
    EXPECT_FALSE(QFileInfo::exists(folder));
    ASSERT_EQ(Prompter.Calls().size(), 1u);
    EXPECT_EQ(Prompter.Calls()[0].Kind, TScriptedPrompter::TKind::YesNo);
    EXPECT_EQ(Prompter.Calls()[0].Text,
              folder + ",The output directory does not exist.\ncreates a new directory?");
    EXPECT_EQ(Prompter.Calls()[0].Icon, TPrompter::TIcon::Information);

    Prompter.QueueAnswer(TPrompter::TAnswer::Yes);
    const std::optional<TJobRequest> job = Commands.Extract(SomeDrive, {Row(1, "A")});
    ASSERT_TRUE(job);
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(job->WorkList, QStringList{"01A"});
    EXPECT_TRUE(Prompter.ScriptUsedUp());
}

TEST_F(JobCommandsTest, AFolderThatCannotBeMadeEndsTheCommandWithAnError)
{
    Home.Write("Output", "a file where the folder should be");
    Prompter.QueueAnswer(TPrompter::TAnswer::Yes);
    EXPECT_FALSE(Commands.Extract(SomeDrive, {Row(1, "A")}));
    ASSERT_EQ(Prompter.Calls().size(), 2u);
    EXPECT_EQ(Prompter.Calls()[1].Kind, TScriptedPrompter::TKind::Error);
    EXPECT_EQ(Prompter.Calls()[1].Text, "Cannot create " + AppSettings().OutputFolder);
    EXPECT_EQ(Home.Read("Output"), "a file where the folder should be");
}

TEST_F(JobCommandsTest, AnExtractionLengthOfNoSecondsIsRefused)
{
    MakeOutputFolder();
    AppSettings().EnableRipTime = true;
    for (int seconds : {0, -7}) {
        AppSettings().RipTime = seconds;
        EXPECT_FALSE(Commands.Extract(SomeDrive, {Row(1, "A")}));
    }
    EXPECT_EQ(Prompter.Messages(),
              QStringList(2, "You select to extract 0 second, please change it on Options dialog."));
    AppSettings().RipTime = 1;
    EXPECT_TRUE(Commands.Extract(SomeDrive, {Row(1, "A")}));
    AppSettings().EnableRipTime = false;
    AppSettings().RipTime = 0;
    EXPECT_TRUE(Commands.Extract(SomeDrive, {Row(1, "A")}));
}

TEST_F(JobCommandsTest, AnEmptyOutputFolderSettingIsNoFolderToCreate)
{
    AppSettings().OutputFolder.clear();
    EXPECT_FALSE(Commands.Extract(SomeDrive, {Row(1, "A")}));
    EXPECT_EQ(Prompter.Messages(),
              QStringList{"The output directory does not exist.Please check the output directory setting."});
}

TEST_F(JobCommandsTest, ConversionsHandTheChosenFilesOnInOrder)
{
    MakeOutputFolder();
    const QStringList files{"/music/b.wav", "/music/a.wav"};
    Prompter.QueueFiles(files);
    const std::optional<TJobRequest> job = Commands.Convert(TConversion::WavToOgg, "WAV to OGG");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->Kind, 5);
    EXPECT_EQ(job->Drive, 0u);
    EXPECT_EQ(job->WorkList, files);
    ASSERT_EQ(Prompter.Calls().size(), 1u);
    EXPECT_EQ(Prompter.Calls()[0].Kind, TScriptedPrompter::TKind::OpenFiles);
    EXPECT_EQ(Prompter.Calls()[0].Text, "WAV to OGG");

    Prompter.QueueFiles({});
    EXPECT_FALSE(Commands.Convert(TConversion::WavToMp3, "WAV to MP3"));
    EXPECT_TRUE(Prompter.Messages().isEmpty());

    for (TConversion conversion : {TConversion::WavToMp3, TConversion::Mp3ToWav, TConversion::WavToWma}) {
        Prompter.QueueFiles({"/x/y"});
        const std::optional<TJobRequest> other = Commands.Convert(conversion, "x");
        ASSERT_TRUE(other);
        EXPECT_EQ(other->Kind, static_cast<int>(conversion));
    }
}

TEST_F(JobCommandsTest, AConversionWithTheOutputFolderMissingStartsNothingAndCreatesNothing)
{
    Prompter.QueueFiles({"/music/a.wav"});
    EXPECT_FALSE(Commands.Convert(TConversion::WavToMp3, "WAV to MP3"));
    EXPECT_EQ(Prompter.Messages(),
              QStringList{"The output directory does not exist.Please check the output directory setting."});
    EXPECT_FALSE(QFileInfo::exists(AppSettings().OutputFolder));
}

TEST_F(JobCommandsTest, TheFileDialogOpensWhereFilesWereLastChosen)
{
    MakeOutputFolder();
    EXPECT_EQ(Commands.StartFolder(), AppSettings().OutputFolder);
    const QString music = Home.File("Music");
    ASSERT_TRUE(QDir().mkpath(music));
    Prompter.QueueFiles({music + "/a.wav"});
    ASSERT_TRUE(Commands.Convert(TConversion::WavToMp3, "WAV to MP3"));
    EXPECT_EQ(Commands.StartFolder(), music);
}
