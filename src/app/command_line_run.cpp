#include "command_line_run.h"

#include "app/drive_session.h"
#include "app/job_commands.h"
#include "app/terminal_view.h"
#include "audio/acs_exception.h"
#include "cd/cd_drive.h"
#include "cd/query_cddb.h"
#include "codecs/encoder_process.h"
#include "codecs/genre_list.h"
#include "codecs/mp3_encode_process.h"
#include "codecs/vorbis_library.h"
#include "codecs/wma_encode_process.h"
#include "core/disc_info.h"
#include "core/helpers.h"
#include "core/language.h"
#include "core/messages.h"
#include "core/safe_files.h"
#include "core/settings.h"
#include "jobs/job_engine.h"
#include "jobs/track_items.h"
#include "jobs/wav_convert_chain.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const FormatExtensions[] = {".mp3", ".wav", ".ogg", ".wma"};

// The name with its extension replaced; a name whose only dot is its first
// character (a hidden file) has no extension to replace.
QString WithExtension(const QString& name, const QString& extension)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return (dot > 0 ? name.left(dot) : name) + extension;
}

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

void Say(TTerminal& terminal, const QString& text)
{
    terminal.PrintMessage(ProductName().toLower() + QStringLiteral(": ") + text);
}

// Ctrl+C (and SIGTERM, SIGHUP) reach the event loop through a socket pair, so
// the job is stopped from the thread that owns it. A second signal while the
// job is being stopped ends the program at once.
class TInterruptWatch final {
public:
    explicit TInterruptWatch(std::function<void()> onInterrupt) : OnInterrupt(std::move(onInterrupt))
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Sockets) != 0)
            return;
        WriteSocket = Sockets[1];
        Owner = ::getpid();
        struct sigaction action {};
        action.sa_handler = &TInterruptWatch::Handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            ::sigaction(signal, &action, &Previous[signal]);
        Notifier = std::make_unique<QSocketNotifier>(Sockets[0], QSocketNotifier::Read);
        QObject::connect(Notifier.get(), &QSocketNotifier::activated, [this] {
            char byte = 0;
            [[maybe_unused]] const ssize_t read = ::read(Sockets[0], &byte, 1);
            if (OnInterrupt)
                OnInterrupt();
        });
    }

    ~TInterruptWatch()
    {
        if (!Notifier)
            return;
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            ::sigaction(signal, &Previous[signal], nullptr);
        Notifier.reset();
        WriteSocket = -1;
        ::close(Sockets[0]);
        ::close(Sockets[1]);
    }

    TInterruptWatch(const TInterruptWatch&) = delete;
    TInterruptWatch& operator=(const TInterruptWatch&) = delete;

    // Whether a signal came, also one whose turn in the event loop has not.
    bool Received() const { return Signals.load() > 0; }

private:
    static void Handle(int)
    {
        // An encoder being started shares this memory until it runs (Qt
        // starts programs with a vfork-like clone) and gets Ctrl+C too: its
        // signal is not ours to count, or ours would count as the second.
        if (::getpid() != Owner.load())
            return;
        if (Signals.fetch_add(1) > 0)
            ::_exit(ExitInterrupted);
        const char byte = 1;
        const int socket = WriteSocket;
        if (socket >= 0) {
            [[maybe_unused]] const ssize_t written = ::write(socket, &byte, 1);
        }
    }

    static inline std::atomic<int> Signals{0};
    static inline std::atomic<pid_t> Owner{0};
    static inline std::atomic<int> WriteSocket{-1};
    std::function<void()> OnInterrupt;
    int Sockets[2] = {-1, -1};
    struct sigaction Previous[NSIG] {};
    std::unique_ptr<QSocketNotifier> Notifier;
};

// What a file looked like before the job, to tell afterwards whether the job
// wrote it.
struct TFileState {
    bool Existed = false;
    qint64 Size = -1;
    QDateTime Modified;

    static TFileState Of(const QString& path)
    {
        const QFileInfo info(path);
        return {info.exists(), info.exists() ? info.size() : -1,
                info.exists() ? info.lastModified() : QDateTime()};
    }
};

bool WrittenSince(const QString& path, const TFileState& before)
{
    const TFileState now = TFileState::Of(path);
    return now.Existed && (!before.Existed || now.Size != before.Size || now.Modified != before.Modified);
}

// One work item and the files it writes.
struct TPlannedItem {
    QString Item;             // the work list's text
    QString Name;             // what the screen calls it
    QString Result;           // the file it turns into
    QString Intermediate;     // an extraction's WAV file when the result is another format
    qint64 WholeWavSize = -1; // an extraction's WAV file when the whole track is in it
};

// Items whose files exist stay out of the job unless --overwrite is given; a
// link counts as a file (it would be replaced, never written through). Files
// whose write permissions are all cleared are kept even then.
QList<TPlannedItem> KeepExisting(const QList<TPlannedItem>& items, bool overwrite, TTerminal& terminal,
                                 int* keptCount)
{
    QList<TPlannedItem> remaining;
    for (const TPlannedItem& item : items) {
        QStringList existing;
        QStringList readOnly;
        for (const QString& file : {item.Result, item.Intermediate}) {
            if (file.isEmpty() || !EntryExists(file))
                continue;
            existing.append(Native(file));
            if (IsWriteProtected(file))
                readOnly.append(Native(file));
        }
        if (existing.isEmpty() || (overwrite && readOnly.isEmpty())) {
            remaining.append(item);
            continue;
        }
        ++*keptCount;
        if (!readOnly.isEmpty())
            Say(terminal,
                QStringLiteral("%1 is read-only (its write permissions are all cleared) and is kept; "
                               "%2 is skipped")
                    .arg(readOnly.join(QStringLiteral(" and ")), item.Name));
        else
            Say(terminal,
                QStringLiteral("%1 exists already and is kept; %2 is skipped (--overwrite replaces it)")
                    .arg(existing.join(QStringLiteral(" and ")), item.Name));
    }
    return remaining;
}

// The output folder as an absolute path; false when none is set.
bool ResolveOutputFolder(TTerminal& terminal)
{
    QString& folder = AppSettings().OutputFolder;
    if (folder.trimmed().isEmpty()) {
        Say(terminal, QStringLiteral("no output folder is set in %1; name one with --output")
                          .arg(Native(SettingsFilePath())));
        return false;
    }
    folder = QFileInfo(folder).absoluteFilePath();
    return true;
}

// Made just before the job runs, once the command has been found sound.
bool EnsureOutputFolder(TTerminal& terminal)
{
    const QString& folder = AppSettings().OutputFolder;
    if (QFileInfo(folder).isDir())
        return true;
    if (QFileInfo::exists(folder)) {
        Say(terminal, QStringLiteral("the output folder %1 is not a folder").arg(Native(folder)));
        return false;
    }
    if (!QDir().mkpath(folder)) {
        Say(terminal, QStringLiteral("cannot create the output folder %1").arg(Native(folder)));
        return false;
    }
    Say(terminal, QStringLiteral("created the output folder %1").arg(Native(folder)));
    return true;
}

QString Plural(int count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

int Summary(TTerminal& terminal, int produced, int total, int kept, bool interrupted, bool stood)
{
    terminal.PrintLine(QStringLiteral("%1 of %2 written to %3")
                           .arg(Plural(produced, "file", "files"))
                           .arg(total)
                           .arg(Native(AppSettings().OutputFolder)));
    if (interrupted) {
        Say(terminal, QStringLiteral("stopped"));
        return ExitInterrupted;
    }
    if (stood)
        return ExitFailed;
    return produced == total && kept == 0 ? ExitDone : ExitFailed;
}

// Runs one job of the engine over planned items and reports each item.
class TEngineRun final {
public:
    TEngineRun(TTerminal& terminal, bool overwrite, int kind, CDHandle drive, QList<TPlannedItem> items)
        : Terminal(terminal), Prompter(terminal, overwrite), Overwrite(overwrite), Kind(kind), Drive(drive),
          Items(std::move(items))
    {
    }

    // The exit code; kept counts the items left out because their files exist.
    int Run(int kept)
    {
        QStringList names;
        QStringList workList;
        for (const TPlannedItem& item : Items) {
            names.append(item.Name);
            workList.append(item.Item);
            Before[item.Result] = TFileState::Of(item.Result);
            if (!item.Intermediate.isEmpty())
                Before[item.Intermediate] = TFileState::Of(item.Intermediate);
        }
        if (Items.isEmpty())
            return Summary(Terminal, 0, kept, kept, false, false);

        TTerminalJobView view(Terminal, names);
        TMp3EncodeProcess mp3(nullptr, Prompter);
        TWMAEncodeProcess wma(nullptr, Prompter);
        TJobEngine engine(view, Prompter, mp3, wma);
        // A file that appeared since the plan is kept unless --overwrite.
        engine.SetReplaceExisting(Overwrite);
        QEventLoop loop;
        view.OnClose = [&loop] { QTimer::singleShot(0, &loop, &QEventLoop::quit); };
        QObject::connect(
            &engine, &TJobEngine::ItemEnded, &engine,
            [&](int index, TJobEngine::TItemOutcome outcome) { ItemEnded(view, engine, index, outcome); });
        QObject::connect(&engine, &TJobEngine::Standing, &engine, [&](const QString& reason) {
            if (Stood)
                return;
            Stood = true;
            // The prompter has shown the reason; say what becomes of the job.
            Q_UNUSED(reason);
            Say(Terminal, QStringLiteral("the job cannot go on after this error; it is stopped"));
            // Not inside the engine's own signal: it stops once the report is handled.
            QTimer::singleShot(0, &engine, [&engine] { engine.Stop(); });
        });
        // A signal after the job has ended stops nothing.
        bool interrupted = false;
        TInterruptWatch interrupt([&] {
            if (engine.Finished())
                return;
            interrupted = true;
            engine.Stop();
        });

        try {
            engine.Start(Kind, Drive, workList);
        } catch (const EEncoderError& error) {
            Say(Terminal, error.Text());
            return Summary(Terminal, 0, int(Items.size()) + kept, kept, false, true);
        } catch (const EACSException& error) {
            Say(Terminal, error.Message());
            return Summary(Terminal, 0, int(Items.size()) + kept, kept, false, true);
        }
        if (!view.Closed() && !engine.Finished())
            loop.exec();
        engine.FinishJob();
        // Ctrl+C reaches the encoder too: its end may have ended the job just
        // before the signal's turn came.
        interrupted = interrupted || interrupt.Received();

        if (interrupted || Stood)
            NoteKeptWav();
        int produced = 0;
        for (int i = 0; i < Items.size(); ++i) {
            if (Outcomes.value(i) == TJobEngine::TItemOutcome::Produced && FileSizeOf(Results.value(i)) > 0)
                ++produced;
        }
        return Summary(Terminal, produced, int(Items.size()) + kept, kept, interrupted,
                       Stood || produced < Items.size());
    }

private:
    void ItemEnded(TTerminalJobView& view, const TJobEngine& engine, int index,
                   TJobEngine::TItemOutcome outcome)
    {
        if (index < 0 || index >= Items.size())
            return;
        Outcomes[index] = outcome;
        const QString result =
            engine.ResultFile(index).isEmpty() ? Items[index].Result : engine.ResultFile(index);
        Results[index] = result;
        // A step skipped after an error (a track that could not be read) has
        // failed; one skipped without a word (an output kept) has not.
        const bool errors = Prompter.MessageCount() > MessagesBefore;
        MessagesBefore = Prompter.MessageCount();
        if (outcome == TJobEngine::TItemOutcome::Produced) {
            view.FinishItem(index, QStringLiteral("-> ") + Native(result));
            return;
        }
        QString text = outcome == TJobEngine::TItemOutcome::Failed || errors ? QStringLiteral("FAILED")
                                                                             : QStringLiteral("skipped");
        const QString& wav = Items[index].Intermediate;
        if (!wav.isEmpty() && WrittenSince(wav, Before[wav]))
            text += QStringLiteral(" (its WAV file is kept: %1)").arg(Native(wav));
        view.FinishItem(index, text);
    }

    // An extracted WAV file whose encoding was stopped is whole and stays,
    // which is worth a word. A track stopped while it was read leaves what was
    // read where its name was free; a command line stopped by Ctrl+C promises
    // no half-written file, so that one goes (only when this run made it).
    void NoteKeptWav()
    {
        for (int i = 0; i < Items.size(); ++i) {
            if (Outcomes.contains(i))
                continue;
            const TPlannedItem& item = Items[i];
            const QString& wav =
                item.Intermediate.isEmpty() && Kind == TJobEngine::Extract ? item.Result : item.Intermediate;
            const TFileState& before = Before[wav];
            if (!wav.isEmpty() && WrittenSince(wav, before)) {
                if (FileSizeOf(wav) == item.WholeWavSize)
                    Say(Terminal, QStringLiteral("kept %1: it was extracted completely").arg(Native(wav)));
                else if (!before.Existed)
                    QFile::remove(wav);
            }
            // Later items have not started.
            break;
        }
    }

    TTerminal& Terminal;
    TTerminalPrompter Prompter;
    const bool Overwrite;
    const int Kind;
    const CDHandle Drive;
    const QList<TPlannedItem> Items;
    std::map<QString, TFileState> Before;
    QHash<int, TJobEngine::TItemOutcome> Outcomes;
    QHash<int, QString> Results;
    int MessagesBefore = 0;
    bool Stood = false;
};

// The size of a track's extracted WAV file (read from a table of contents
// with minute/second/frame addresses), as far as the extraction length lets it
// go; -1 for a track the table does not hold.
qint64 WholeTrackSize(const CDTOC& toc, int track)
{
    constexpr qint64 HeaderBytes = 44;
    constexpr qint64 FrameBytes = 2352;
    constexpr qint64 FramesPerSecond = 75;
    const int entry = track - toc.FirstTrack;
    if (entry < 0 || entry + 1 >= CDTOCEntries || track > toc.LastTrack)
        return -1;
    const auto frameOf = [](const CDTOCEntry& e) {
        return (qint64(e.Address[1]) * 60 + e.Address[2]) * FramesPerSecond + e.Address[3];
    };
    qint64 frames = std::max<qint64>(0, frameOf(toc.Entries[entry + 1]) - frameOf(toc.Entries[entry]));
    const TAppSettings& settings = AppSettings();
    if (settings.EnableRipTime && settings.RipTime >= 0)
        frames = std::min(frames, qint64(settings.RipTime) * FramesPerSecond);
    return HeaderBytes + frames * FrameBytes;
}

std::optional<int> CheckedImages(TTerminal& terminal)
{
    for (const QString& image : CDImages()) {
        const QString problem = CheckCDImage(image);
        if (!problem.isEmpty()) {
            Say(terminal, QStringLiteral("the disc image cannot be used: %1").arg(problem));
            return ExitUsage;
        }
        if (const QString note = CDImageNote(image); !note.isEmpty())
            Say(terminal, note);
    }
    return std::nullopt;
}

// Opens the first drive of the list (as at start-up: a --cd-image is it) and
// reads its disc into rows, its titles from the disc cache; an exit code when
// there is no disc to read.
std::optional<int> ReadFirstDisc(TDriveSession& drive, std::vector<TTrackRow>* rows, CDTOC* toc,
                                 TTerminal& terminal)
{
    if (const std::optional<int> exit = CheckedImages(terminal))
        return *exit;
    TStatusText status;
    drive.DriveHandle = drive.OpenDrive(0, &status);
    if (drive.DriveHandle == 0) {
        Say(terminal,
            status.Text() + QStringLiteral(" (no CD drive can be opened; --cd-image FILE reads a disc "
                                           "image)"));
        return ExitNoDisc;
    }
    if (!drive.HasAudioDisc()) {
        Say(terminal, QStringLiteral("%1: %2").arg(drive.DriveName, Translate(RES_Check_CDRom)));
        return ExitNoDisc;
    }
    if (!drive.ReadDisc(rows, &status)) {
        Say(terminal, QStringLiteral("%1: %2").arg(drive.DriveName, status.Text()));
        return ExitNoDisc;
    }
    if (ReadTOC(drive.DriveHandle, toc) != 1) {
        Say(terminal, QStringLiteral("%1: %2").arg(drive.DriveName, Translate(RES_ReadTocError)));
        return ExitNoDisc;
    }
    return std::nullopt;
}

// Receives the lookup's last message.
class TLookupEnd final : public QObject {
public:
    std::function<void()> OnEnd;

    bool event(QEvent* event) override
    {
        if (event->type() != WM_CDDBSTATE)
            return QObject::event(event);
        if (OnEnd)
            OnEnd();
        return true;
    }
};

// Looks the disc up with the CDDB settings of options.ini and keeps what it
// found in rows and the disc cache, as the window's lookup does. Ctrl+C stops
// it (interrupted is set, nothing is kept).
TCddbLookupResult LookUpDisc(TDriveSession& drive, const CDTOC& toc, std::vector<TTrackRow>* rows,
                             TTerminal& terminal, bool* interrupted)
{
    const TCddbOptions options = CddbOptionsOfSettings();
    Say(terminal, QStringLiteral("looking the disc up on %1%2")
                      .arg(options.Server.trimmed(),
                           options.UseProxy ? QStringLiteral(" through a proxy") : QString()));
    TLookupEnd end;
    TQueryCDDB lookup(&end, toc.FirstTrack, toc.LastTrack, drive.DriveHandle, options);
    QEventLoop loop;
    end.OnEnd = [&loop] { loop.quit(); };
    TInterruptWatch interrupt([&] {
        *interrupted = true;
        lookup.Stop();
        loop.quit();
    });
    QTimer::singleShot(0, &lookup, &TQueryCDDB::Start);
    loop.exec();
    if (*interrupted)
        return lookup.Result();
    if (!drive.ApplyLookup(lookup.Result(), toc.FirstTrack, rows))
        Say(terminal, QStringLiteral("the titles could not be kept in %1").arg(Native(DiscInfoFilePath())));
    return lookup.Result();
}

QString LookupFailure(const TCddbLookupResult& result)
{
    switch (result.Outcome) {
    case TCddbLookupResult::TOutcome::NoMatch:
        return QStringLiteral("no match: ") + result.Problem;
    case TCddbLookupResult::TOutcome::NoTitles:
        return QStringLiteral("no track titles: ") + result.Problem;
    default:
        return QStringLiteral("the lookup failed: ") + result.Problem;
    }
}

int RunLookup(TTerminal& terminal)
{
    TDriveSession drive;
    std::vector<TTrackRow> rows;
    CDTOC toc{};
    if (const std::optional<int> exit = ReadFirstDisc(drive, &rows, &toc, terminal))
        return *exit;
    bool interrupted = false;
    const TCddbLookupResult result = LookUpDisc(drive, toc, &rows, terminal, &interrupted);
    if (interrupted) {
        Say(terminal, QStringLiteral("stopped"));
        return ExitInterrupted;
    }
    if (result.Outcome != TCddbLookupResult::TOutcome::Found) {
        Say(terminal, LookupFailure(result));
        if (result.Outcome == TCddbLookupResult::TOutcome::NoTitles)
            Say(terminal,
                QStringLiteral("the album data found is kept in %1").arg(Native(DiscInfoFilePath())));
        return ExitFailed;
    }
    const TDiscInfo& info = DiscInfo();
    const QString genre = info.Genre > 0 ? GenreNames().value(info.Genre) : QString();
    terminal.PrintLine(QStringLiteral("Artist: ") + info.Artist);
    terminal.PrintLine(QStringLiteral("Album:  ") + info.Album);
    terminal.PrintLine(QStringLiteral("Year:   ") + info.Year);
    terminal.PrintLine(QStringLiteral("Genre:  ") + genre);
    for (const TTrackRow& row : rows)
        terminal.PrintLine(FormatTwoDigits(row.Number) + QStringLiteral("  ") + row.Title);
    Say(terminal, QStringLiteral("found as %1; kept in %2").arg(result.Source, Native(DiscInfoFilePath())));
    return ExitDone;
}

int RunExtract(const TCommandLineOptions& options, TTerminal& terminal)
{
    const int format = AppSettings().OutputFormat;
    if (format < 0 || format > 3) {
        Say(terminal, QStringLiteral("%1 sets output format %2, which is none of mp3, wav, ogg, wma; "
                                     "give --format")
                          .arg(Native(SettingsFilePath()))
                          .arg(format));
        return ExitUsage;
    }

    TDriveSession drive;
    std::vector<TTrackRow> rows;
    CDTOC toc{};
    if (const std::optional<int> exit = ReadFirstDisc(drive, &rows, &toc, terminal))
        return *exit;
    if (options.Lookup) {
        bool interrupted = false;
        const TCddbLookupResult result = LookUpDisc(drive, toc, &rows, terminal, &interrupted);
        if (interrupted) {
            Say(terminal, QStringLiteral("stopped"));
            return ExitInterrupted;
        }
        if (result.Outcome == TCddbLookupResult::TOutcome::Found)
            Say(terminal, QStringLiteral("the tracks are named by the CDDB entry %1").arg(result.Source));
        else
            Say(terminal, LookupFailure(result) +
                              QStringLiteral("; the tracks are named by the titles kept for the disc"));
    }
    const auto isData = [&toc](int track) {
        const int entry = track - toc.FirstTrack;
        return entry >= 0 && entry < CDTOCEntries && (toc.Entries[entry].AdrControl & 0x04) != 0;
    };

    QList<int> audioTracks;
    for (TTrackRow& row : rows) {
        row.Ticked = !isData(row.Number);
        if (row.Ticked)
            audioTracks.append(row.Number);
    }
    if (audioTracks.isEmpty()) {
        Say(terminal, QStringLiteral("%1: the disc has no audio tracks").arg(drive.DriveName));
        return ExitNoDisc;
    }
    if (options.Tracks) {
        const QString onDisc = QStringLiteral("%1-%2").arg(rows.front().Number).arg(rows.back().Number);
        for (int track : *options.Tracks) {
            const auto row = std::find_if(rows.begin(), rows.end(),
                                          [track](const TTrackRow& r) { return r.Number == track; });
            if (row == rows.end()) {
                Say(terminal, QStringLiteral("--tracks: the disc has no track %1 (its tracks are %2)")
                                  .arg(track)
                                  .arg(onDisc));
                return ExitUsage;
            }
            if (isData(track)) {
                Say(terminal, QStringLiteral("--tracks: track %1 is a data track, not audio").arg(track));
                return ExitUsage;
            }
        }
        for (TTrackRow& row : rows)
            row.Ticked = std::find(options.Tracks->begin(), options.Tracks->end(), row.Number) !=
                         options.Tracks->end();
    }

    if (!EnsureOutputFolder(terminal))
        return ExitFailed;
    TTerminalPrompter prompter(terminal, options.Overwrite);
    TJobCommands commands(prompter);
    const std::optional<TJobRequest> request = commands.Extract(drive.DriveHandle, rows);
    if (!request)
        return ExitFailed;

    QList<TPlannedItem> items;
    for (const QString& item : request->WorkList) {
        TPlannedItem planned;
        planned.Item = item;
        planned.Name = ItemTitle(item);
        planned.Result = JobResultFile(TJobEngine::Extract, item, AppSettings().OutputFolder, format);
        if (format != 1)
            planned.Intermediate = JobResultFile(TJobEngine::Extract, item, AppSettings().OutputFolder, 1);
        planned.WholeWavSize = WholeTrackSize(toc, ItemTrack(item));
        items.append(planned);
    }
    int kept = 0;
    const QList<TPlannedItem> remaining = KeepExisting(items, options.Overwrite, terminal, &kept);
    TEngineRun run(terminal, options.Overwrite, TJobEngine::Extract, request->Drive, remaining);
    return run.Run(kept);
}

// The inputs as absolute paths, or an exit code when one is missing or two
// would write the same file or a result would be written over its input.
std::optional<int> CheckInputs(const QStringList& inputs, const QStringList& results, TTerminal& terminal)
{
    for (const QString& input : inputs) {
        const QFileInfo info(input);
        if (!info.exists()) {
            Say(terminal, QStringLiteral("%1: no such file").arg(Native(input)));
            return ExitUsage;
        }
        if (!info.isFile()) {
            Say(terminal, QStringLiteral("%1 is not a file").arg(Native(input)));
            return ExitUsage;
        }
    }
    QHash<QString, QString> takenBy;
    for (int i = 0; i < inputs.size(); ++i) {
        if (TWavConvertChain::SameFile(inputs[i], results[i]) || inputs[i] == results[i]) {
            Say(terminal,
                QStringLiteral("%1 would be written over its own input; choose another output folder "
                               "with --output")
                    .arg(Native(results[i])));
            return ExitUsage;
        }
        if (takenBy.contains(results[i])) {
            Say(terminal,
                QStringLiteral("%1 and %2 would both become %3; convert them into different folders")
                    .arg(Native(takenBy[results[i]]), Native(inputs[i]), Native(results[i])));
            return ExitUsage;
        }
        takenBy[results[i]] = inputs[i];
    }
    return std::nullopt;
}

int RunConvert(const TCommandLineOptions& options, TTerminal& terminal)
{
    QStringList inputs;
    for (const QString& file : options.Files)
        inputs.append(QFileInfo(file).absoluteFilePath());
    static const std::map<TConversionKind, TConversion> conversions{
        {TConversionKind::WavToMp3, TConversion::WavToMp3},
        {TConversionKind::Mp3ToWav, TConversion::Mp3ToWav},
        {TConversionKind::WavToOgg, TConversion::WavToOgg},
        {TConversionKind::WavToWma, TConversion::WavToWma},
    };
    const TConversion conversion = conversions.at(options.Conversion);
    const int kind = static_cast<int>(conversion);
    QStringList results;
    for (const QString& input : inputs)
        results.append(JobResultFile(kind, input, AppSettings().OutputFolder, 0));
    if (const std::optional<int> exit = CheckInputs(inputs, results, terminal))
        return *exit;

    if (!EnsureOutputFolder(terminal))
        return ExitFailed;
    TTerminalPrompter prompter(terminal, options.Overwrite);
    prompter.Files = inputs;
    TJobCommands commands(prompter);
    const std::optional<TJobRequest> request = commands.Convert(conversion, QStringLiteral("Convert"));
    if (!request)
        return ExitFailed;

    QList<TPlannedItem> items;
    for (int i = 0; i < request->WorkList.size(); ++i)
        items.append({request->WorkList[i], Native(request->WorkList[i]), results[i], {}});
    int kept = 0;
    const QList<TPlannedItem> remaining = KeepExisting(items, options.Overwrite, terminal, &kept);
    TEngineRun run(terminal, options.Overwrite, request->Kind, 0, remaining);
    return run.Run(kept);
}

int RunWavToWav(const TCommandLineOptions& options, TTerminal& terminal)
{
    QStringList inputs;
    QStringList results;
    for (const QString& file : options.Files) {
        inputs.append(QFileInfo(file).absoluteFilePath());
        results.append(WavToWavResultFile(inputs.back(), AppSettings().OutputFolder));
    }
    if (const std::optional<int> exit = CheckInputs(inputs, results, terminal))
        return *exit;
    if (!EnsureOutputFolder(terminal))
        return ExitFailed;
    QList<TPlannedItem> items;
    for (int i = 0; i < inputs.size(); ++i)
        items.append({inputs[i], Native(inputs[i]), results[i], {}});
    int kept = 0;
    const QList<TPlannedItem> remaining = KeepExisting(items, options.Overwrite, terminal, &kept);
    if (remaining.isEmpty())
        return Summary(terminal, 0, kept, kept, false, false);

    QStringList names;
    for (const TPlannedItem& item : remaining)
        names.append(item.Name);
    TTerminalJobView view(terminal, names);
    TWavConvertChain chain;
    // An output that appeared since the plan is kept unless --overwrite.
    chain.SetReplaceExisting(options.Overwrite);
    QEventLoop loop;
    int index = -1;
    int produced = 0;
    TClock::time_point start;

    std::function<void()> next;
    next = [&] {
        ++index;
        if (index >= remaining.size()) {
            view.CloseView();
            loop.quit();
            return;
        }
        const TPlannedItem& item = remaining[index];
        view.SetCaption(QStringLiteral("Converting(%1/%2): %3")
                            .arg(FormatTwoDigits(index + 1), FormatTwoDigits(remaining.size()), item.Item));
        view.SetGauge(0);
        view.SetGaugeTextVisible(true);
        view.SetElapsedText({});
        view.SetEstimatedText({});
        chain.WaveIn1.SetFileName(item.Item);
        const bool valid = chain.WaveIn1.IsValid();
        const TWavConvertChain::TOutputFormat format =
            valid ? WavOutputFormat(options, chain.WaveIn1.GetSampleRate(), chain.WaveIn1.GetChannels(),
                                    chain.WaveIn1.GetBitsPerSample())
                  : TWavConvertChain::TOutputFormat{};
        start = Now();
        const QString problem = chain.Convert(item.Item, item.Result, format);
        if (!problem.isEmpty()) {
            Say(terminal, problem);
            view.FinishItem(index, QStringLiteral("FAILED"));
            QTimer::singleShot(0, &loop, next);
        }
    };
    QObject::connect(&chain, &TWavConvertChain::Progress, &chain, [&](int percent) {
        if (percent <= 0)
            return;
        const qint64 elapsed = ElapsedSeconds(start);
        view.SetElapsedText(TimeText(elapsed));
        view.SetEstimatedText(TimeText(RoundHalfEven(double(elapsed) * 100.0 / percent)));
        view.SetGauge(percent);
    });
    QObject::connect(&chain, &TWavConvertChain::Finished, &chain, [&](bool complete, const QString& error) {
        if (complete) {
            ++produced;
            view.FinishItem(index, QStringLiteral("-> ") + Native(remaining[index].Result));
        } else {
            Say(terminal, error);
            view.FinishItem(index, QStringLiteral("FAILED"));
        }
        QTimer::singleShot(0, &loop, next);
    });
    bool interrupted = false;
    TInterruptWatch interrupt([&] {
        if (view.Closed())
            return;
        interrupted = true;
        chain.Stop();
        view.CloseView();
        loop.quit();
    });
    QTimer::singleShot(0, &loop, next);
    loop.exec();
    interrupted = interrupted || interrupt.Received();
    return Summary(terminal, produced, int(inputs.size()), kept, interrupted, false);
}

} // namespace

QString JobResultFile(int kind, const QString& item, const QString& outputFolder, int outputFormat)
{
    const QString folder = WithTrailingBackslash(outputFolder);
    if (kind == TJobEngine::Extract)
        return folder + ItemTitle(item) + QLatin1String(FormatExtensions[std::clamp(outputFormat, 0, 3)]);
    const QString extension = kind == TJobEngine::Mp3ToWav   ? QStringLiteral(".wav")
                              : kind == TJobEngine::WavToOgg ? QStringLiteral(".ogg")
                              : kind == TJobEngine::WavToWma ? QStringLiteral(".wma")
                                                             : QStringLiteral(".mp3");
    const QString name = WithExtension(QFileInfo(item).fileName(), extension);
    if (kind == TJobEngine::RecorderToMp3)
        return QDir(QFileInfo(item).path()).filePath(name);
    return folder + name;
}

QString WavToWavResultFile(const QString& input, const QString& outputFolder)
{
    return WithTrailingBackslash(outputFolder) +
           WithExtension(QFileInfo(input).fileName(), QStringLiteral(".wav"));
}

int RunCommandLine(const TCommandLineOptions& options, TTerminal& terminal)
{
    // A closed pipe on standard output must not end the job half way.
    std::signal(SIGPIPE, SIG_IGN);
    LoadSettings();
    for (const QString& problem : SettingsFileProblems())
        Say(terminal, problem);
    // A first run leaves the defaults in options.ini, the file --help names as
    // the place of the settings, so there is one to edit. The job does not need
    // it: a folder that cannot be written to only leaves the user without it.
    if (!QFileInfo::exists(SettingsFilePath()))
        SaveSettings();
    if (!options.OutputFolder.isEmpty())
        AppSettings().OutputFolder = options.OutputFolder;
    if (options.OutputFormat)
        AppSettings().OutputFormat = *options.OutputFormat;
    if (options.Mode == TCommandLineMode::Lookup)
        return RunLookup(terminal);
    if (!ResolveOutputFolder(terminal))
        return ExitUsage;
    const TVorbisLibraries vorbisLibraries;

    if (options.Mode == TCommandLineMode::Extract)
        return RunExtract(options, terminal);
    if (options.Conversion == TConversionKind::WavToWav)
        return RunWavToWav(options, terminal);
    return RunConvert(options, terminal);
}
