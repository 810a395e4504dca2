#include "core/safe_files.h"

#include "support/small_disk.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What can stand at a name a writer is about to use.
enum class TEntry {
    None,
    PlainFile,
    ReadOnlyFile,
    DanglingLink,
    LinkToOutside,
    LinkToReadOnly,
    Folder,
    Fifo
};

const char* const Victim = "outside/victim.txt";
const QByteArray VictimText = "the user's own file";
const QByteArray OldText = "what was there before";

// A folder of its own with a file outside it that links may lead to.
class TSafeFilesTest {
public:
    TSafeFilesTest()
    {
        Home.Write(Victim, VictimText);
        Home.Write("protected.txt", VictimText);
        ::chmod(QFile::encodeName(Home.File("protected.txt")).constData(), 0444);
        QDir().mkpath(Home.File("out"));
    }

    QString Out(const QString& name) const { return Home.File("out/" + name); }

    void Make(TEntry entry, const QString& name) const
    {
        const QByteArray path = QFile::encodeName(Out(name));
        switch (entry) {
        case TEntry::None:
            break;
        case TEntry::PlainFile:
            Home.Write("out/" + name, OldText);
            break;
        case TEntry::ReadOnlyFile:
            Home.Write("out/" + name, OldText);
            ASSERT_EQ(::chmod(path.constData(), 0444), 0);
            break;
        case TEntry::DanglingLink:
            ASSERT_EQ(
                ::symlink(QFile::encodeName(Home.File("outside/nothing.txt")).constData(), path.constData()),
                0);
            break;
        case TEntry::LinkToOutside:
            ASSERT_EQ(::symlink(QFile::encodeName(Home.File(Victim)).constData(), path.constData()), 0);
            break;
        case TEntry::LinkToReadOnly:
            ASSERT_EQ(::symlink(QFile::encodeName(Home.File("protected.txt")).constData(), path.constData()),
                      0);
            break;
        case TEntry::Folder:
            ASSERT_TRUE(QDir().mkpath(Out(name)));
            break;
        case TEntry::Fifo:
            ASSERT_EQ(::mkfifo(path.constData(), 0666), 0);
            break;
        }
    }

    // Nothing outside the output folder changed.
    void ExpectOutsideUntouched() const
    {
        EXPECT_EQ(Home.Read(Victim), VictimText);
        EXPECT_EQ(Home.Read("protected.txt"), VictimText);
        EXPECT_FALSE(QFileInfo::exists(Home.File("outside/nothing.txt")));
    }

    TTempHome Home;
};

QByteArray ReadHandle(int handle)
{
    QByteArray bytes(4096, '\0');
    const ssize_t n = ::pread(handle, bytes.data(), bytes.size(), 0);
    bytes.resize(n > 0 ? n : 0);
    return bytes;
}

} // namespace

TEST(SafeFiles, EveryKindOfEntryIsJudgedWithoutFollowingLinks)
{
    struct TCase {
        TEntry Entry;
        bool Exists;
        bool Protected;
        int Replaceable; // errno of CheckReplaceable, 0 when it may be replaced
    };
    const TCase cases[] = {
        {TEntry::None, false, false, 0},           {TEntry::PlainFile, true, false, 0},
        {TEntry::ReadOnlyFile, true, true, EPERM}, {TEntry::DanglingLink, true, false, 0},
        {TEntry::LinkToOutside, true, false, 0},   {TEntry::LinkToReadOnly, true, true, EPERM},
        {TEntry::Folder, true, false, EISDIR},     {TEntry::Fifo, true, false, EEXIST},
    };
    TSafeFilesTest test;
    int n = 0;
    for (const TCase& c : cases) {
        const QString name = QStringLiteral("entry%1").arg(n++);
        test.Make(c.Entry, name);
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(EntryExists(test.Out(name)), c.Exists);
        EXPECT_EQ(IsWriteProtected(test.Out(name)), c.Protected);
        EXPECT_EQ(CheckReplaceable(test.Out(name)).ErrorNumber(), c.Replaceable);
    }
    EXPECT_TRUE(TFileError::WriteProtected().Text().contains("read-only"));
    EXPECT_EQ(TFileError(ENOSPC).Text(), "No space left on device");
}

TEST(SafeFiles, NewAndTemporaryFilesNeverTakeAnExistingEntry)
{
    const TEntry taken[] = {TEntry::PlainFile,     TEntry::ReadOnlyFile, TEntry::DanglingLink,
                            TEntry::LinkToOutside, TEntry::Folder,       TEntry::Fifo};
    TSafeFilesTest test;
    for (const TEntry entry : taken) {
        const QString name = QStringLiteral("Temp%1.wav").arg(int(entry));
        test.Make(entry, name);
        TFileError error;
        EXPECT_FALSE(TCreatedFile::CreateNew(test.Out(name), &error).IsValid()) << int(entry);
        EXPECT_EQ(error.ErrorNumber(), EEXIST);

        // The fixed name is taken: the temporary gets the next free one, which
        // it deletes again, and what had the name stays as it was.
        test.Make(TEntry::DanglingLink, QStringLiteral("Temp%1 (2).wav").arg(int(entry)));
        {
            TCreatedFile temporary = TCreatedFile::CreateTemporary(test.Out(name), &error);
            ASSERT_TRUE(temporary.IsValid()) << qPrintable(error.Text());
            EXPECT_EQ(temporary.Path(), test.Out(QStringLiteral("Temp%1 (3).wav").arg(int(entry))));
            ASSERT_EQ(::write(temporary.Handle(), "RIFF", 4), 4);
        }
        EXPECT_FALSE(QFileInfo::exists(test.Out(QStringLiteral("Temp%1 (3).wav").arg(int(entry)))));
        EXPECT_TRUE(EntryExists(test.Out(name)));
    }
    test.ExpectOutsideUntouched();
    EXPECT_EQ(test.Home.Read("out/Temp1.wav"), OldText);

    // A free fixed name is kept.
    TCreatedFile temporary = TCreatedFile::CreateTemporary(test.Out("MyReTemp.wav"));
    EXPECT_EQ(temporary.Path(), test.Out("MyReTemp.wav"));

    // A taken name near the 255-byte limit: the numbered one is shortened to fit.
    const QString longest = QString(125, QChar(0x00E9)) + QStringLiteral(".nor");
    test.Make(TEntry::PlainFile, longest);
    TFileError error;
    TCreatedFile numbered = TCreatedFile::CreateTemporary(test.Out(longest), &error);
    ASSERT_TRUE(numbered.IsValid()) << qPrintable(error.Text());
    EXPECT_TRUE(numbered.Path().endsWith(QStringLiteral(" (2).nor")));
}

TEST(SafeFiles, RemovalDeletesOnlyTheFileThisObjectCreated)
{
    TSafeFilesTest test;
    TCreatedFile temporary = TCreatedFile::CreateTemporary(test.Out("Track01.nor"));
    ASSERT_TRUE(temporary.StillOurs());
    // Someone else's file now has the name.
    test.Home.Write("elsewhere.txt", VictimText);
    ASSERT_EQ(::rename(QFile::encodeName(test.Home.File("elsewhere.txt")).constData(),
                       QFile::encodeName(test.Out("Track01.nor")).constData()),
              0);
    EXPECT_FALSE(temporary.StillOurs());
    EXPECT_FALSE(temporary.Reset());
    EXPECT_FALSE(temporary.Remove());
    EXPECT_EQ(test.Home.Read("out/Track01.nor"), VictimText);

    // The same for a file made earlier and deleted later.
    test.Home.Write("out/Track02.wav", OldText);
    const TFileIdentity made = TFileIdentity::Of(test.Out("Track02.wav"));
    test.Make(TEntry::PlainFile, "Track03.wav");
    ASSERT_EQ(::rename(QFile::encodeName(test.Out("Track03.wav")).constData(),
                       QFile::encodeName(test.Out("Track02.wav")).constData()),
              0);
    EXPECT_FALSE(RemoveIfSame(test.Out("Track02.wav"), made));
    EXPECT_TRUE(QFileInfo::exists(test.Out("Track02.wav")));
    EXPECT_TRUE(RemoveIfSame(test.Out("Track02.wav"), TFileIdentity::Of(test.Out("Track02.wav"))));
}

TEST(SafeFiles, PendingResultAppearsOnlyWhenCommittedAndAsTheReplaceRuleSays)
{
    struct TCase {
        TEntry AtTarget;
        TPendingFile::TReplace Replace;
        int Error; // 0: the new content is in place
    };
    using R = TPendingFile::TReplace;
    const TCase cases[] = {
        {TEntry::None, R::Never, 0},
        {TEntry::PlainFile, R::Never, EEXIST},
        {TEntry::DanglingLink, R::Never, EEXIST},
        {TEntry::PlainFile, R::Allowed, 0},
        {TEntry::DanglingLink, R::Allowed, 0},
        {TEntry::LinkToOutside, R::Allowed, 0},
        {TEntry::ReadOnlyFile, R::Allowed, EPERM},
        {TEntry::LinkToReadOnly, R::Allowed, EPERM},
        {TEntry::Folder, R::Allowed, EISDIR},
        {TEntry::Fifo, R::Allowed, EEXIST},
    };
    TSafeFilesTest test;
    int n = 0;
    for (const TCase& c : cases) {
        const QString name = QStringLiteral("Track%1.mp3").arg(++n);
        SCOPED_TRACE(name.toStdString());
        TPendingFile pending;
        ASSERT_FALSE(pending.Begin(test.Out(name)));
        test.Make(c.AtTarget, name);
        const QString temporary = pending.PendingPath();
        EXPECT_EQ(QFileInfo(temporary).absolutePath(), test.Home.File("out"));
        EXPECT_TRUE(QFileInfo(temporary).fileName().startsWith('.'));
        EXPECT_TRUE(temporary.endsWith(".mp3"));
        ASSERT_FALSE(WriteFully(pending.Handle(), "new sound", 9));

        EXPECT_EQ(pending.Commit(c.Replace).ErrorNumber(), c.Error);
        if (c.Error == 0) {
            EXPECT_EQ(test.Home.Read("out/" + name), "new sound");
            EXPECT_FALSE(QFileInfo(test.Out(name)).isSymLink());
            EXPECT_FALSE(QFileInfo::exists(temporary));
        } else {
            EXPECT_TRUE(QFileInfo::exists(temporary));
            pending.Discard();
            EXPECT_FALSE(QFileInfo::exists(temporary));
            if (c.AtTarget == TEntry::PlainFile || c.AtTarget == TEntry::ReadOnlyFile) {
                EXPECT_EQ(test.Home.Read("out/" + name), OldText);
            }
        }
    }
    test.ExpectOutsideUntouched();

    // A temporary of a fixed name, as the gain pass makes beside its track.
    {
        test.Make(TEntry::LinkToOutside, "Track01.nor");
        TPendingFile pending;
        ASSERT_FALSE(pending.BeginNamed(test.Out("Track01.wav"), test.Out("Track01.nor")));
        EXPECT_EQ(pending.PendingPath(), test.Out("Track01 (2).nor"));
        ASSERT_FALSE(WriteFully(pending.Handle(), "scaled", 6));
        EXPECT_FALSE(pending.Commit(TPendingFile::TReplace::Allowed));
        EXPECT_EQ(test.Home.Read("out/Track01.wav"), "scaled");
        EXPECT_TRUE(QFileInfo(test.Out("Track01.nor")).isSymLink());
    }
    test.ExpectOutsideUntouched();

    // Given up without a commit, nothing is left of it.
    {
        TPendingFile pending;
        ASSERT_FALSE(pending.Begin(test.Out("stopped.ogg")));
        ASSERT_FALSE(WriteFully(pending.Handle(), "half", 4));
    }
    EXPECT_EQ(QDir(test.Home.File("out")).entryList(QStringList{"*stopped*"}, QDir::Files | QDir::Hidden),
              QStringList());
}

TEST(SafeFiles, PendingNameOfTheLongestTitleStillFits)
{
    TSafeFilesTest test;
    // 250 bytes with its extension, in two-byte characters.
    const QString name = QString(123, QChar(0x00e9)) + ".wav";
    ASSERT_EQ(QFile::encodeName(name).size(), 250);
    TPendingFile pending;
    const TFileError error = pending.Begin(test.Out(name));
    ASSERT_FALSE(error) << qPrintable(error.Text());
    EXPECT_LE(QFile::encodeName(QFileInfo(pending.PendingPath()).fileName()).size(), 255);
    EXPECT_FALSE(pending.Commit(TPendingFile::TReplace::Never));
    EXPECT_TRUE(QFileInfo::exists(test.Out(name)));
}

TEST(SafeFiles, OpeningForWritingRefusesLinksSpecialFilesAndReadOnlyFiles)
{
    const std::pair<TEntry, int> cases[] = {
        {TEntry::DanglingLink, EEXIST}, {TEntry::LinkToOutside, EEXIST}, {TEntry::ReadOnlyFile, EPERM},
        {TEntry::Folder, EISDIR},       {TEntry::Fifo, EEXIST},
    };
    TSafeFilesTest test;
    int n = 0;
    for (const auto& [entry, expected] : cases) {
        const QString name = QStringLiteral("refused%1.wav").arg(n++);
        test.Make(entry, name);
        TFileError error;
        // A FIFO must not block here.
        EXPECT_EQ(OpenFileForWriting(test.Out(name), true, &error), -1) << name.toStdString();
        EXPECT_EQ(error.ErrorNumber(), expected) << name.toStdString();
    }
    test.ExpectOutsideUntouched();

    test.Make(TEntry::PlainFile, "kept.wav");
    for (const bool truncate : {false, true}) {
        TFileError error;
        const int handle = OpenFileForWriting(test.Out("kept.wav"), truncate, &error);
        ASSERT_GE(handle, 0) << qPrintable(error.Text());
        EXPECT_EQ(ReadHandle(handle), truncate ? QByteArray() : OldText);
        ::close(handle);
    }
    const int created = OpenFileForWriting(test.Out("new.wav"), false, nullptr);
    EXPECT_GE(created, 0);
    ::close(created);
}

TEST(SafeFiles, AFullDiskIsReportedWithItsRealReason)
{
    TSafeFilesTest test;
    test.Make(TEntry::PlainFile, "fine.wav");
    EXPECT_EQ(LikelyWriteFailure(test.Out("fine.wav")), 0);
    // A short write sets no errno; the reason must still be the disk's.
    TSmallDisk disk(64);
    if (disk.Mounted()) {
        const int handle = OpenFileForWriting(disk.File("big.wav"), true, nullptr);
        ASSERT_GE(handle, 0);
        const QByteArray block(100 * 1024, 'x');
        EXPECT_EQ(WriteFully(handle, block.constData(), block.size()).ErrorNumber(), ENOSPC);
        ::close(handle);
        EXPECT_EQ(LikelyWriteFailure(disk.File("big.wav")), ENOSPC);
    }

    const QByteArray block(30000, 'x');
    TFileSizeLimit limit(10000);
    const int handle = OpenFileForWriting(test.Out("limited.wav"), true, nullptr);
    ASSERT_GE(handle, 0);
    const TFileError error = WriteFully(handle, block.constData(), block.size());
    EXPECT_EQ(error.ErrorNumber(), EFBIG);
    EXPECT_EQ(error.Text(), "File too large");
    ::close(handle);
    EXPECT_EQ(LikelyWriteFailure(test.Out("limited.wav")), EFBIG);

    QFile file(test.Out("limited2.wav"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    EXPECT_FALSE(WriteFully(file, block.constData(), block.size()));
    EXPECT_EQ(file.errorString(), "File too large");
}
