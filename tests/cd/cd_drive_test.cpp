#include "cd/cd_drive.h"
#include "cd/image_writer.h"
#include "cd_test_support.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cddb/cddb.h>
#include <cdio/logging.h>

#include <QtEndian>

#include <array>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

struct TMsf {
    int Minute, Second, Frame;
    bool operator==(const TMsf&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TMsf& msf)
{
    return out << msf.Minute << ":" << msf.Second << ":" << msf.Frame;
}

TMsf MsfOf(const CDTOCEntry& entry)
{
    return {entry.Address[1], entry.Address[2], entry.Address[3]};
}

CDTOC ReadMsfToc(CDHandle handle)
{
    CDTOC toc{};
    EXPECT_NE(ModifyCDParms(handle, CDP_MSF, 1), 0);
    EXPECT_EQ(ReadTOC(handle, &toc), 1) << qPrintable(GetAspiLibErrorText());
    return toc;
}

std::vector<std::uint8_t> ReadSectors(CDHandle handle, std::uint32_t start, std::uint32_t frames, int* result)
{
    std::vector<std::uint8_t> storage(sizeof(CDTrackBuffer) + size_t(frames) * CDFrameBytes);
    auto* buffer = reinterpret_cast<CDTrackBuffer*>(storage.data());
    buffer->StartFrame = start;
    buffer->NumFrames = frames;
    buffer->MaxLength = frames * CDFrameBytes;
    *result = ReadCDAudioLBA(handle, buffer);
    const std::uint8_t* data = CDTrackBufferData(buffer) + buffer->StartOffset;
    return std::vector<std::uint8_t>(data, data + buffer->Length);
}

QByteArray AsBytes(const std::vector<std::uint8_t>& data)
{
    return QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
}

TImageSpec Tracks(std::initializer_list<qint64> frames)
{
    TImageSpec spec;
    int voice = 0;
    for (const qint64 n : frames)
        spec.Tracks.push_back({n, 0, false, 1, voice++});
    return spec;
}

// The id libcddb computes for the same layout: an independent reckoning.
std::uint32_t LibcddbDiscId(const std::vector<std::uint32_t>& starts, std::uint32_t leadOut)
{
    cddb_disc_t* disc = cddb_disc_new();
    for (const std::uint32_t start : starts) {
        cddb_track_t* track = cddb_track_new();
        cddb_track_set_frame_offset(track, int(start + 150));
        cddb_disc_add_track(disc, track);
    }
    cddb_disc_set_length(disc, (leadOut + 150) / 75);
    cddb_disc_calc_discid(disc);
    const std::uint32_t id = cddb_disc_get_discid(disc);
    cddb_disc_destroy(disc);
    return id;
}

} // namespace

TEST(CdDriveList, ListsTheImagesInOrderAndSkipsMissingOnes)
{
    TCdTest test;
    const QString first = test.Home.File("first.cue");
    const QString second = test.Home.File("a-very-long-image-name.cue");
    ASSERT_TRUE(WriteDiscImage(first, Tracks({100})).isEmpty());
    ASSERT_TRUE(WriteDiscImage(second, Tracks({100})).isEmpty());
    SetCDImages({test.Home.File("missing.cue"), first});
    qputenv("VELBROOK_CD_IMAGES", QFile::encodeName(second + ":" + first));

    EXPECT_EQ(CDImages(), QStringList({test.Home.File("missing.cue"), first, second}));
    CDDriveList list{};
    list.MaxDrives = 8;
    ASSERT_EQ(GetCDList(&list), 1);
    ASSERT_EQ(list.NumDrives, 2 + RealCDDrives().size());
    EXPECT_EQ(DriveDisplayName(list.Drives[0]), "Image   first.cue");
    // The product field holds 16 characters.
    EXPECT_EQ(DriveDisplayName(list.Drives[1]), "Image   a-very-long-imag");
    EXPECT_NE(list.Drives[0].HostAdapter << 8 | list.Drives[0].Target,
              list.Drives[1].HostAdapter << 8 | list.Drives[1].Target);

    CDDriveList small{};
    small.MaxDrives = 1;
    ASSERT_EQ(GetCDList(&small), 1);
    EXPECT_EQ(small.NumDrives, 1);
    CDDriveList none{};
    EXPECT_EQ(GetCDList(&none), 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_BAD_ARGUMENT);
    qunsetenv("VELBROOK_CD_IMAGES");
}

TEST(CdDriveList, DisplayNameIsVendorThenProductCutTo26)
{
    CDDriveInfo drive{};
    std::memcpy(drive.Vendor, "HL-DT-ST", 9);
    std::memcpy(drive.Product, "DVDRAM GH24NSD1", 16);
    EXPECT_EQ(DriveDisplayName(drive), "HL-DT-STDVDRAM GH24NSD1");
    std::memset(drive.Vendor, 'V', sizeof drive.Vendor); // no terminator: the field's size ends it
    std::memset(drive.Product, 'P', sizeof drive.Product);
    EXPECT_EQ(DriveDisplayName(drive), QString(9, 'V') + QString(17, 'P'));
}

TEST(CdDriveToc, GivesDriveAddressesWithTheLeadOutAfterTheLastTrack)
{
    TCdTest test;
    test.UseImage("demo.cue", DemoDiscSpec());
    const CDHandle handle = test.Open();
    ASSERT_NE(handle, 0u) << qPrintable(GetAspiLibErrorText());

    // Before ModifyCDParms the addresses are sector numbers, big-endian.
    CDTOC lba{};
    ASSERT_EQ(ReadTOC(handle, &lba), 1);
    EXPECT_EQ(lba.Entries[1].Address[2] << 8 | lba.Entries[1].Address[3], 1050);

    const CDTOC toc = ReadMsfToc(handle);
    EXPECT_EQ(toc.FirstTrack, 1);
    EXPECT_EQ(toc.LastTrack, 4);
    const std::array<TMsf, 5> expected = {{{0, 2, 0}, {0, 16, 0}, {0, 25, 30}, {0, 26, 0}, {0, 47, 12}}};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(MsfOf(toc.Entries[i]), expected[size_t(i)]) << "entry " << i;
    EXPECT_EQ(toc.Entries[0].TrackNumber, 1);
    EXPECT_EQ(toc.Entries[4].TrackNumber, CDLeadOutTrack);
    EXPECT_EQ(toc.Entries[0].AdrControl & 0x04, 0);

    EXPECT_EQ(ModifyCDParms(handle, 99, 1), 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_BAD_ARGUMENT);
}

TEST(CdDriveToc, PregapBeforeTrackOneMovesTheFirstAddress)
{
    TCdTest test;
    TImageSpec spec = Tracks({300, 200});
    spec.Tracks[0].PregapFrames = 150;
    test.UseImage("hidden.cue", spec);
    const CDHandle handle = test.Open();
    ASSERT_NE(handle, 0u) << qPrintable(GetAspiLibErrorText());
    const CDTOC toc = ReadMsfToc(handle);
    EXPECT_EQ(MsfOf(toc.Entries[0]), (TMsf{0, 4, 0}));
    EXPECT_EQ(MsfOf(toc.Entries[1]), (TMsf{0, 8, 0}));
    EXPECT_EQ(MsfOf(toc.Entries[2]), (TMsf{0, 10, 50}));
}

TEST(CdDriveToc, EnhancedCdEndsItsLastAudioTrackWithTheFirstSession)
{
    TCdTest test;
    TImageSpec spec = Tracks({300, 200, 400});
    spec.Tracks[2].Data = true;
    spec.Tracks[2].Session = 2;
    test.UseImage("enhanced.cue", spec);
    const CDHandle handle = test.Open();
    ASSERT_NE(handle, 0u) << qPrintable(GetAspiLibErrorText());
    const CDTOC toc = ReadMsfToc(handle);
    EXPECT_EQ(toc.LastTrack, 2);
    EXPECT_EQ(toc.Entries[2].TrackNumber, CDLeadOutTrack);
    EXPECT_EQ(MsfOf(toc.Entries[2]), (TMsf{0, 8, 50})); // sector 500, where the data session starts
    EXPECT_TRUE(HasAudioDisc());

    // A data track in the same session is an ordinary track of a mixed disc.
    spec.Tracks[2].Session = 1;
    test.UseImage("mixed.cue", spec);
    const CDHandle mixed = test.Open();
    ASSERT_NE(mixed, 0u);
    const CDTOC mixedToc = ReadMsfToc(mixed);
    EXPECT_EQ(mixedToc.LastTrack, 3);
    EXPECT_EQ(mixedToc.Entries[2].AdrControl & 0x04, 0x04);
}

TEST(CdDriveToc, SingleFileTocImageReadsLikeItsCueTwin)
{
    TCdTest test;
    TImageSpec spec = Tracks({300, 45, 500});
    spec.Tracks[1].PregapFrames = 30;
    spec.Format = TImageFormat::Toc;
    const QString toc = test.UseImage("disc.toc", spec);
    const CDHandle handle = test.Open();
    ASSERT_NE(handle, 0u) << qPrintable(GetAspiLibErrorText());
    const CDTOC read = ReadMsfToc(handle);
    EXPECT_EQ(read.LastTrack, 3);
    EXPECT_EQ(MsfOf(read.Entries[1]), (TMsf{0, 6, 30}));  // 150 + 300 + 30
    EXPECT_EQ(MsfOf(read.Entries[3]), (TMsf{0, 13, 50})); // 150 + 875

    int result = 0;
    const QByteArray last = AsBytes(ReadSectors(handle, 375, 500, &result));
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(last == DataSlice(test.Home.File("disc.bin"), 375, 500));
}

TEST(CdDriveToc, NinetyNineTracksFitAndOneMoreIsRefused)
{
    TCdTest test;
    TImageSpec spec;
    for (int i = 0; i < 99; ++i)
        spec.Tracks.push_back({10, 0, false, 1, i});
    spec.Format = TImageFormat::Toc;
    test.UseImage("many.toc", spec);
    const CDHandle handle = test.Open();
    ASSERT_NE(handle, 0u) << qPrintable(GetAspiLibErrorText());
    const CDTOC toc = ReadMsfToc(handle);
    EXPECT_EQ(toc.LastTrack, 99);
    EXPECT_EQ(toc.Entries[99].TrackNumber, CDLeadOutTrack);
    EXPECT_EQ(MsfOf(toc.Entries[99]), (TMsf{0, 15, 15})); // 150 + 990

    spec.Tracks.push_back({10, 0, false, 1, 99});
    const QString tooMany = test.Home.File("toomany.toc");
    ASSERT_TRUE(WriteDiscImage(tooMany, spec).isEmpty());
    EXPECT_TRUE(CheckCDImage(tooMany).contains("at most 99")) << qPrintable(CheckCDImage(tooMany));
}

TEST(CdDriveRead, ReadsTheBinBytesAndChecksTheRealExtent)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({300, 200}));
    const QString bin = test.Home.File("disc.bin");
    const CDHandle handle = test.Open();
    ASSERT_NE(handle, 0u);

    int result = 0;
    const auto sectors = ReadSectors(handle, 295, 10, &result);
    ASSERT_EQ(result, 1);
    EXPECT_TRUE(AsBytes(sectors) == DataSlice(bin, 295, 10));

    ReadSectors(handle, 495, 10, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_OUT_OF_RANGE);

    // The data file shrinks under the open drive: the lost sectors fail to read
    // instead of coming back as stale bytes.
    ASSERT_EQ(::truncate(QFile::encodeName(bin).constData(), 250 * CDFrameBytes + 100), 0);
    ReadSectors(handle, 245, 10, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_READ);
    EXPECT_TRUE(GetAspiLibErrorText().contains("ends before them")) << qPrintable(GetAspiLibErrorText());
    ReadSectors(handle, 240, 10, &result);
    EXPECT_EQ(result, 1);
    // Written anew to its full length, the file reads as it is now: nothing of
    // what was read past its end before comes back.
    {
        QFile file(bin);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.resize(500 * CDFrameBytes));
        ASSERT_TRUE(file.seek(250 * CDFrameBytes));
        file.write(QByteArray(250 * CDFrameBytes, '\x5A'));
    }
    EXPECT_TRUE(AsBytes(ReadSectors(handle, 260, 10, &result)) == QByteArray(10 * CDFrameBytes, '\x5A'));
    EXPECT_EQ(result, 1);

    std::vector<std::uint8_t> storage(sizeof(CDTrackBuffer) + 10);
    auto* tooSmall = reinterpret_cast<CDTrackBuffer*>(storage.data());
    tooSmall->NumFrames = 1;
    tooSmall->MaxLength = 10;
    EXPECT_EQ(ReadCDAudioLBA(handle, tooSmall), 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_BAD_ARGUMENT);
}

TEST(CdDriveRead, RefusesTheSectorsNamedUnreadable)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({300}));
    qputenv("VELBROOK_UNREADABLE_SECTORS", "100-120, 200,bad");
    const CDHandle handle = test.Open();
    ASSERT_NE(handle, 0u);
    int result = 0;
    ReadSectors(handle, 95, 10, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_READ);
    ReadSectors(handle, 121, 10, &result);
    EXPECT_EQ(result, 1);
    ReadSectors(handle, 200, 1, &result);
    EXPECT_EQ(result, 0);
    ReadSectors(handle, 201, 10, &result);
    EXPECT_EQ(result, 1);
}

TEST(CdDriveRead, ThreadsShareOneHandle)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({400}));
    const QByteArray bin = DataSlice(test.Home.File("disc.bin"), 0, 400);
    const CDHandle handle = test.Open();
    ASSERT_NE(handle, 0u);
    std::atomic<int> mismatches{0};
    auto reader = [&](std::uint32_t offset) {
        for (std::uint32_t start = offset; start + 10 <= 400; start += 20) {
            int result = 0;
            const QByteArray data = AsBytes(ReadSectors(handle, start, 10, &result));
            if (result != 1 || data != bin.mid(qsizetype(start) * CDFrameBytes, 10 * CDFrameBytes))
                ++mismatches;
        }
    };
    std::thread first(reader, 0);
    std::thread second(reader, 10);
    first.join();
    second.join();
    EXPECT_EQ(mismatches, 0);
}

TEST(CdDriveHandles, OnlyHandlesThisLibraryOpenedCanBeClosed)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({100}));
    EXPECT_EQ(CloseCDHandle(1), 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_BAD_HANDLE);
    EXPECT_EQ(CloseCDHandle(0), 0);
    EXPECT_EQ(CloseCDHandle(11), 0);

    std::vector<CDHandle> handles;
    for (int i = 0; i < 10; ++i) {
        handles.push_back(test.Open());
        ASSERT_NE(handles.back(), 0u);
    }
    EXPECT_EQ(test.Open(), 0u);
    EXPECT_EQ(GetAspiLibError(), CDERR_TOO_MANY_HANDLES);
    // The retry of a refused open: the first handle that closes makes room.
    ASSERT_NE(CloseCDHandle(handles[3]), 0);
    EXPECT_EQ(CloseCDHandle(handles[3]), 0);
    EXPECT_EQ(test.Open(), handles[3]);

    CDHandleRequest request{};
    request.Size = 12;
    request.Version = 2;
    EXPECT_EQ(GetCDHandle(&request), 0u);
    EXPECT_EQ(GetAspiLibError(), CDERR_BAD_ARGUMENT);
    request.Version = 1;
    request.HostAdapter = 200;
    EXPECT_EQ(GetCDHandle(&request), 0u);
    EXPECT_EQ(GetAspiLibError(), CDERR_NO_SUCH_DRIVE);
}

TEST(CdDriveHandles, FailuresCanBeOrderedForTests)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({100}));
    qputenv("VELBROOK_FAILING_CD_CALLS", "ModifyCDParms,ReadTOC");
    const CDHandle handle = test.Open();
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(ModifyCDParms(handle, CDP_MSF, 1), 0);
    CDTOC toc{};
    EXPECT_EQ(ReadTOC(handle, &toc), 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_TOC);
}

TEST(CdDriveHandles, ImagesHaveNoTray)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({100}));
    const CDHandle handle = test.Open();
    ASSERT_NE(handle, 0u);
    EXPECT_FALSE(CanEjectCD(handle));
    EXPECT_FALSE(CanCloseCDTray(handle));
    EXPECT_EQ(EjectCD(handle), 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_UNSUPPORTED);
    EXPECT_EQ(CloseCDTray(handle), 0);
    EXPECT_EQ(EjectCD(77), 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_BAD_HANDLE);
}

TEST(CdDriveBadImages, AreNoDriveAndSayWhy)
{
    TCdTest test;
    struct TCase {
        const char* Name;
        QByteArray Text;
        const char* Why;
    };
    test.Home.Write("data.bin", QByteArray(10 * CDFrameBytes, '\1'));
    const std::vector<TCase> cases = {
        {"nobin.cue", "FILE \"nothere.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", "does not exist"},
        {"garbage.cue", "FILE \"data.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nhello world\n",
         "unknown keyword hello"},
        {"wave.cue", "FILE \"data.bin\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", "as a sound file"},
        {"twofiles.toc",
         "CD_DA\nTRACK AUDIO\nFILE \"data.bin\" 0 00:00:05\nTRACK AUDIO\nFILE \"other.bin\" 0\n",
         "more than one data file"},
        {"late.cue", "FILE \"data.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:20\n", "after the end"},
        {"binary.cue", QByteArray("FILE \"data.bin\" BINARY\n\x01\x02\x00", 26), "not a text file"},
        {"image.iso", "whatever", "name the .cue or .toc"},
    };
    for (const TCase& c : cases) {
        test.Home.Write(c.Name, c.Text);
        const QString path = test.Home.File(c.Name);
        const QString problem = CheckCDImage(path);
        EXPECT_TRUE(problem.contains(c.Why)) << c.Name << ": " << qPrintable(problem);
        EXPECT_TRUE(problem.contains(QFileInfo(path).fileName())) << qPrintable(problem);
        SetCDImages({path});
        CDDriveList list{};
        list.MaxDrives = 8;
        ASSERT_EQ(GetCDList(&list), 1);
        EXPECT_EQ(list.NumDrives, RealCDDrives().size()) << c.Name;
    }
    EXPECT_TRUE(CheckCDImage(test.Home.File("missing.cue")).contains("no such file"));
}

TEST(CdDriveBadImages, ZeroLengthTrackIsAnEmptyTrack)
{
    TCdTest test;
    test.Home.Write("data.bin", QByteArray(100 * CDFrameBytes, '\1'));
    test.Home.Write("zero.cue",
                    "FILE \"data.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n TRACK 02 AUDIO\n"
                    "  INDEX 01 00:00:50\n TRACK 03 AUDIO\n  INDEX 01 00:00:50\n");
    SetCDImages({test.Home.File("zero.cue")});
    const CDHandle handle = test.Open();
    ASSERT_NE(handle, 0u) << qPrintable(GetAspiLibErrorText());
    const CDTOC toc = ReadMsfToc(handle);
    EXPECT_EQ(toc.LastTrack, 3);
    EXPECT_EQ(MsfOf(toc.Entries[1]), MsfOf(toc.Entries[2]));
}

TEST(CdDriveDisc, DiscIdIsTheCddbIdOfTheFirstDrive)
{
    TCdTest test;
    EXPECT_EQ(GetDiscId(), ""); // no drive on this machine; an image must be named
    EXPECT_FALSE(HasAudioDisc());

    test.UseImage("demo.cue", DemoDiscSpec());
    const std::uint32_t expected = LibcddbDiscId({0, 1050, 1755, 1800}, 3387);
    EXPECT_EQ(GetDiscId(), QString::number(static_cast<std::int32_t>(expected)));
    EXPECT_TRUE(HasAudioDisc());

    // Many tracks push the checksum byte past 127: the text is negative.
    TImageSpec many;
    std::vector<std::uint32_t> starts;
    for (int i = 0; i < 99; ++i) {
        many.Tracks.push_back({75, 0, false, 1, i});
        starts.push_back(std::uint32_t(i) * 75);
    }
    test.UseImage("many.cue", many);
    const std::uint32_t manyId = LibcddbDiscId(starts, 99 * 75);
    ASSERT_GE(manyId, 0x80000000u);
    EXPECT_EQ(GetDiscId(), QString::number(static_cast<std::int32_t>(manyId)));
    EXPECT_TRUE(GetDiscId().startsWith('-'));

    TImageSpec data = Tracks({100});
    data.Tracks[0].Data = true;
    test.UseImage("data.cue", data);
    EXPECT_FALSE(HasAudioDisc());
    EXPECT_EQ(GetDiscId(), "");
}

TEST(CdDriveDisc, AHandleAnswersForItsOwnDriveAsItIsNow)
{
    TCdTest test;
    const QString demo = test.UseImage("demo.cue", DemoDiscSpec());
    const QString other = test.UseImage("other.cue", Tracks({300, 450}));
    SetCDImages({demo, other});
    const CDHandle second = test.Open(1);
    ASSERT_NE(second, 0u);
    EXPECT_EQ(GetDiscId(second), QString::number(static_cast<std::int32_t>(LibcddbDiscId({0, 300}, 750))));
    EXPECT_NE(GetDiscId(second), GetDiscId());
    EXPECT_TRUE(HasAudioDisc(second));
    // The image's files gone: the drive behind the handle has no disc any more.
    ASSERT_TRUE(QFile::remove(test.Home.File("other.bin")));
    EXPECT_FALSE(HasAudioDisc(second));
    EXPECT_EQ(GetDiscId(second), "");
    EXPECT_FALSE(HasAudioDisc(0));
}

TEST(CdDriveLog, LibcdioMessagesStayOffTheTerminal)
{
    TCdTest test;
    CDDriveList list{};
    list.MaxDrives = 8;
    GetCDList(&list); // installs the handler
    fflush(stderr);
    const int saved = dup(2);
    FILE* capture = tmpfile();
    ASSERT_NE(capture, nullptr);
    dup2(fileno(capture), 2);
    cdio_warn("a warning no user should see");
    cdio_error("an error no user should see");
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    EXPECT_EQ(ftell(capture), 0);
    fclose(capture);
}

TEST(DemoDisc, FourTracksOfDifferentLengthsWithDistinctChannels)
{
    const TImageSpec demo = DemoDiscSpec();
    ASSERT_EQ(demo.Tracks.size(), 4u);
    std::set<qint64> lengths;
    for (const TImageTrackSpec& track : demo.Tracks)
        lengths.insert(track.Frames);
    EXPECT_EQ(lengths.size(), 4u);
    EXPECT_LT(*lengths.begin(), CDFramesPerSecond);

    for (int voice = 0; voice < 4; ++voice) {
        QByteArray audio(75 * CDFrameBytes, '\0');
        SynthesizeFrames(voice, 0, 75, audio.data());
        int differing = 0;
        int silent = 0;
        for (qsizetype i = 0; i < audio.size(); i += 4) {
            const auto left = qFromLittleEndian<qint16>(audio.constData() + i);
            const auto right = qFromLittleEndian<qint16>(audio.constData() + i + 2);
            differing += left != right;
            silent += left == 0 && right == 0;
        }
        EXPECT_GT(differing, 75 * 588 * 9 / 10) << voice;
        EXPECT_LT(silent, 75 * 588 / 100) << voice;
        QByteArray again(75 * CDFrameBytes, '\0');
        SynthesizeFrames(voice, 0, 75, again.data());
        EXPECT_EQ(audio, again);
    }
}
