#include "job_engine.h"

#include "audio/acs_exception.h"
#include "audio/rate_converter.h"
#include "audio/sample_converter.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "cd/cd_rip_thread.h"
#include "codecs/encoder_process.h"
#include "codecs/genre_list.h"
#include "codecs/id3_tag.h"
#include "codecs/mp3_encode_process.h"
#include "codecs/vorbis_out.h"
#include "codecs/wma_encode_process.h"
#include "codecs/wma_settings.h"
#include "core/disc_info.h"
#include "core/language.h"
#include "core/messages.h"
#include "core/prompter.h"
#include "core/settings.h"
#include "jobs/job_view.h"
#include "jobs/track_items.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <stdexcept>
#include <sys/stat.h>

namespace {

constexpr int GainBeginsCode = 999;
constexpr int ExtractDoneCode = 1000;
constexpr int Mp3DoneCode = 2000;
constexpr int OggDoneCode = 3000;
constexpr int ResampleDoneCode = 4000;
constexpr int WmaDoneCode = 5000;
// The engine's own reports to itself. A step that was refused or failed to
// start: Result is the completion it stands for, ElapsedText the message.
constexpr int StepFailedCode = 6000;
// A pipeline that failed while it ran: Result as above, ElapsedText the error.
constexpr int PipelineFailedCode = 6001;

constexpr int SkippedResult = 4;
constexpr int WmaErrorResult = TWMAEncodeProcess::ErrorResult;
constexpr int ResampleTarget = 44100;
// Below this size the WMA estimate is a flat two seconds.
constexpr qint64 SmallWmaSource = 2000000;
// The Ogg file is given this long to settle after its encoder has finished.
constexpr int OggSettleMs = 300;

// Whether writing output would overwrite input: the same path, or the same file
// reached through a link.
bool SameFile(const QString& input, const QString& output)
{
    const QString a = QDir::cleanPath(QFileInfo(input).absoluteFilePath());
    const QString b = QDir::cleanPath(QFileInfo(output).absoluteFilePath());
    if (a == b)
        return true;
    struct stat first {};
    struct stat second {};
    if (stat(QFile::encodeName(a).constData(), &first) != 0 ||
        stat(QFile::encodeName(b).constData(), &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace

TJobEngine::TJobEngine(TJobView& view, TPrompter& prompter, TMp3EncodeProcess& mp3, TWMAEncodeProcess& wma,
                       QObject* parent)
    : QObject(parent), View(view), Prompter(prompter), Mp3(mp3), Wma(wma),
      OwnerThread(std::this_thread::get_id()), Clock([] { return Now(); }), FileSize(&FileSizeOf),
      WaveIn1(std::make_unique<TWaveIn>()), SampleConverter1(std::make_unique<TSampleConverter>()),
      RateConverter1(std::make_unique<TRateConverter>()), WaveOut1(std::make_unique<TWaveOut>())
{
    WaveIn1->SetStartSample(0);
    WaveIn1->SetEndSample(-1);
    WaveIn1->SetLoop(false);
    SampleConverter1->AssignInput(WaveIn1.get());

    RateConverter1->AssignInput(WaveIn1.get());
    RateConverter1->SetFilterWindow(fwBlackman);
    RateConverter1->SetKernelWidth(30);
    RateConverter1->SetOutSampleRate(ResampleTarget);

    WaveOut1->AssignInput(RateConverter1.get());
    WaveOut1->SetSuspendWhenIdle(true);
    WaveOut1->SetFileMode(foRewrite);
    WaveOut1->SetWavType(wtPCM);
    WaveOut1->SetBlockSize(512);
    // Posted, never sent: a worker waiting for this thread while this thread
    // stops and joins it would never return.
    WaveOut1->SetOnDone(
        [this](TACSOutput*) { PostProcessInfo(this, ResampleDoneCode, QString(), QString()); });
    WaveOut1->SetOnProgress([this](TACSOutput* sink) { PostPipelineProgress(*sink); });
    WaveOut1->SetOnThreadException([this](TACSOutput*, const std::exception& error) {
        PostPipelineFailure(JobKind == WavToOgg ? OggDoneCode : Mp3DoneCode, error);
    });

    Timer1.setInterval(1000);
    connect(&Timer1, &QTimer::timeout, this, &TJobEngine::WmaTimerTick);
}

TJobEngine::~TJobEngine()
{
    FinishJob();
    Timer1.stop();
    // The sinks first: destroying one joins its worker, after which nothing
    // posts to this object any more.
    VorbisOut1.reset();
    WaveOut1.reset();
    RateConverter1.reset();
    SampleConverter1.reset();
    WaveIn1.reset();
    if (Mp3.NotifyWindow == this)
        Mp3.NotifyWindow = nullptr;
    if (Wma.NotifyWindow == this)
        Wma.NotifyWindow = nullptr;
}

void TJobEngine::SetClock(TClockSource clock)
{
    Clock = std::move(clock);
}

void TJobEngine::SetFileSizeSource(TFileSizeSource fileSize)
{
    FileSize = std::move(fileSize);
}

bool TJobEngine::Finished() const
{
    return Started && !WorkList;
}

int TJobEngine::ItemCount() const
{
    return static_cast<int>(JobItems.size());
}

bool TJobEngine::WmaTimerActive() const
{
    return Timer1.isActive();
}

int TJobEngine::FinalCode() const
{
    switch (JobKind) {
    case Extract:
        switch (OutputFormat) {
        case 0:
            return Mp3DoneCode;
        case 2:
            return OggDoneCode;
        case 3:
            return WmaDoneCode;
        default:
            return ExtractDoneCode;
        }
    case WavToOgg:
        return OggDoneCode;
    case WavToWma:
        return WmaDoneCode;
    default:
        return Mp3DoneCode;
    }
}

QString TJobEngine::Caption(const QString& word, int number, const QString& subject) const
{
    return word + QLatin1Char('(') + FormatTwoDigits(number) + QLatin1Char('/') +
           FormatTwoDigits(ItemCount()) + QStringLiteral("): ") + subject;
}

QString TJobEngine::NameWithExtension(const QString& path, const QString& extension) const
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return (dot > 0 ? name.left(dot) : name) + extension;
}

QString TJobEngine::TrackFile(int index, const QString& extension) const
{
    return OutputFolder + ItemTitle(JobItems[index]) + extension;
}

QString TJobEngine::ResultFile(int index) const
{
    if (index < 0 || index >= ItemCount())
        return QString();
    const QString& item = JobItems[index];
    switch (JobKind) {
    case Extract: {
        static const char* const extensions[] = {".mp3", ".wav", ".ogg", ".wma"};
        const int format = OutputFormat >= 0 && OutputFormat <= 3 ? OutputFormat : 1;
        return TrackFile(index, QLatin1String(extensions[format]));
    }
    case WavToMp3:
        return OutputFolder + NameWithExtension(item, QStringLiteral(".mp3"));
    case Mp3ToWav:
        return OutputFolder + NameWithExtension(item, QStringLiteral(".wav"));
    case RecorderToMp3: {
        const QFileInfo info(item);
        return QDir(info.path()).filePath(NameWithExtension(item, QStringLiteral(".mp3")));
    }
    case WavToOgg:
        return OutputFolder + NameWithExtension(item, QStringLiteral(".ogg"));
    case WavToWma:
        return OutputFolder + NameWithExtension(item, QStringLiteral(".wma"));
    default:
        return QString();
    }
}

void TJobEngine::Start(int kind, CDHandle drive, const QStringList& workList)
{
    Q_ASSERT(std::this_thread::get_id() == OwnerThread);
    if (Started)
        throw std::logic_error("a job engine runs one job");
    if (kind < Extract || kind > WavToWma)
        throw std::invalid_argument("unknown job kind");
    Started = true;
    JobKind = kind;
    Drive = drive;
    const TAppSettings& settings = AppSettings();
    OutputFolder = WithTrailingBackslash(settings.OutputFolder);
    // A format the options cannot name (a hand-edited file) extracts WAV files
    // and keeps them, rather than leaving the job standing after a track.
    OutputFormat = settings.OutputFormat >= 0 && settings.OutputFormat <= 3 ? settings.OutputFormat : 1;
    JobItems = kind == Extract ? SafeTrackItems(workList) : workList;
    WorkList = JobItems;
    ExtractIndex = 0;
    EncodeIndex = 0;
    OggIndex = 0;
    ProgressSeen = false;
    Outcomes.assign(JobItems.size(), std::nullopt);
    SkipOutcomes.assign(JobItems.size(), std::nullopt);
    ExtractedWavs.assign(JobItems.size(), TFileIdentity{});
    if (JobItems.isEmpty()) {
        EndJob();
        return;
    }
    try {
        FirstStep();
    } catch (...) {
        FinishJob();
        throw;
    }
    View.SetElapsedText(QString());
    View.SetEstimatedText(QString());
    View.SetGaugeTextVisible(false);
}

void TJobEngine::FirstStep()
{
    const QString& path = JobItems.front();
    switch (JobKind) {
    case Extract:
        View.SetGroupTitle(Translate(RES_Extracting));
        View.SetCaption(Caption(QStringLiteral("Extracting"), 1, ItemTitle(path)));
        View.ShowInitializing(Translate(RES_Initing));
        StartTrack(0);
        break;
    case WavToMp3:
        WaveIn1->SetFileName(path);
        if (WaveIn1->GetSampleRate() >= ResampleTarget) {
            View.SetGroupTitle(Translate(RES_WAV_TO_MP3));
            View.SetCaption(Caption(QStringLiteral("Encoding"), 1, path));
            StartMp3(path, ResultFile(0), true);
        } else {
            View.SetGroupTitle(Translate(RES_WAV_RESAMPLE));
            View.SetCaption(Caption(QStringLiteral("Resampling"), 1, path));
            StartResample(QLatin1String(Mp3TempName));
        }
        break;
    case Mp3ToWav:
        View.SetGroupTitle(Translate(RES_MP3_TO_WAV));
        View.SetCaption(Caption(QStringLiteral("Decoding"), 1, path));
        StartMp3(path, ResultFile(0), false);
        break;
    case RecorderToMp3:
        View.SetGroupTitle(Translate(RES_WAV_TO_MP3));
        View.SetCaption(Caption(QStringLiteral("Encoding"), 1, path));
        StartMp3(path, ResultFile(0), true);
        break;
    case WavToOgg:
        WaveIn1->SetFileName(path);
        if (WaveIn1->GetSampleRate() >= ResampleTarget) {
            View.SetGroupTitle(Translate(RES_WAV_TO_OGG));
            View.SetCaption(Caption(QStringLiteral("Encoding"), 1, path));
            StartOgg(path, ResultFile(0));
        } else {
            View.SetGroupTitle(Translate(RES_WAV_RESAMPLE));
            View.SetCaption(Caption(QStringLiteral("Resampling"), 1, path));
            StartResample(QLatin1String(OggTempName));
        }
        break;
    case WavToWma:
        View.SetGroupTitle(Translate(RES_WAV_TO_WMA));
        View.SetCaption(Caption(QStringLiteral("Encoding"), 1, path));
        StartWma(path, ResultFile(0));
        break;
    default:
        break;
    }
}

void TJobEngine::StartTrack(int index)
{
    RipThread.reset();
    const QString& item = JobItems[index];
    auto thread = std::make_unique<TCDRipThread>(ItemTrack(item), ItemTitle(item));
    thread->Drive = Drive;
    thread->NotifyWindow = this;
    thread->ReplaceExisting = ReplaceExisting;
    thread->Resume();
    RipThread = std::move(thread);
}

void TJobEngine::StartNextTrack()
{
    View.SetCaption(
        Caption(QStringLiteral("Extracting"), ExtractIndex + 1, ItemTitle(JobItems[ExtractIndex])));
    View.ShowInitializing(Translate(RES_Initing));
    View.SetGroupTitle(Translate(RES_Extracting));
    RipThread.reset();
    StartTrack(ExtractIndex);
}

void TJobEngine::EncodeAfterExtraction(int index)
{
    // The extraction's progress says nothing about the encoder's.
    ProgressSeen = false;
    View.SetCaption(Caption(QStringLiteral("Encoding"), ExtractIndex, ItemTitle(JobItems[index])));
    View.SetGroupTitle(Translate(RES_Encoding));
    const QString wav = TrackFile(index, QStringLiteral(".wav"));
    switch (OutputFormat) {
    case 0:
        StartMp3(wav, TrackFile(index, QStringLiteral(".mp3")), true);
        break;
    case 2:
        StartOgg(wav, TrackFile(index, QStringLiteral(".ogg")));
        break;
    case 3:
        StartWma(wav, TrackFile(index, QStringLiteral(".wma")));
        break;
    default:
        break;
    }
}

bool TJobEngine::RefuseSamePath(const QString& input, const QString& output, int finalCode)
{
    if (!SameFile(input, output))
        return false;
    PostStepFailure(finalCode, input + QLatin1Char('\n') + Translate(RES_Check_Output));
    return true;
}

void TJobEngine::PostStepFailure(int finalCode, const QString& message)
{
    // Handled from the event loop like any other end of a step, so a refused
    // first item does not show its message inside Start.
    auto info = std::make_unique<TProcessInfo>();
    info->Percent = StepFailedCode;
    info->Result = finalCode;
    info->ElapsedText = message;
    PostProcessInfo(this, std::move(info));
}

TPendingFile::TReplace TJobEngine::ReplaceRule() const
{
    return ReplaceExisting ? TPendingFile::TReplace::Allowed : TPendingFile::TReplace::Never;
}

void TJobEngine::StartMp3(const QString& input, const QString& output, bool encode)
{
    if (RefuseSamePath(input, output, Mp3DoneCode))
        return;
    Mp3.Running = true;
    Mp3.InputFile = input;
    Mp3.OutputFile = output;
    Mp3.NotifyWindow = this;
    Mp3.Encode = encode;
    Mp3.JobKind = JobKind;
    Mp3.ReplaceExisting = ReplaceExisting;
    Mp3.Start();
}

void TJobEngine::StartWma(const QString& input, const QString& output)
{
    if (RefuseSamePath(input, output, WmaDoneCode))
        return;
    Wma.Running = true;
    Wma.InputFile = input;
    Wma.OutputFile = output;
    Wma.NotifyWindow = this;
    Wma.Encode = true;
    Wma.JobKind = JobKind;
    Wma.ReplaceExisting = ReplaceExisting;
    Wma.Start();
    WmaStart = Clock();
    View.SetGauge(0);
    // The previous step's estimate means nothing for this file.
    View.SetEstimatedText(QString());
    WmaSourceSize = FileSize(input);
    // A file that did not start (overwrite declined, program missing) has its
    // completion on the way; there is nothing to estimate.
    if (Wma.ProcessActive())
        Timer1.start();
}

TVorbisOut& TJobEngine::Vorbis()
{
    if (!VorbisOut1) {
        auto out = std::make_unique<TVorbisOut>();
        out->SetSuspendWhenIdle(true);
        out->SetFileMode(foRewrite);
        out->SetCompression(0.2f);
        out->SetDesiredMaximumBitrate(brAutoSelect);
        out->SetDesiredNominalBitrate(brAutoSelect);
        out->SetMinimumBitrate(brAutoSelect);
        out->SetSerial(0);
        out->SetOnDone([this](TACSOutput*) { PostProcessInfo(this, OggDoneCode, QString(), QString()); });
        out->SetOnProgress([this](TACSOutput* sink) { PostPipelineProgress(*sink); });
        out->SetOnThreadException(
            [this](TACSOutput*, const std::exception& error) { PostPipelineFailure(OggDoneCode, error); });
        VorbisOut1 = std::move(out);
    }
    return *VorbisOut1;
}

TACSInput* TJobEngine::SixteenBitSource()
{
    // The rate converter takes 16-bit samples only, and 8-bit samples read as
    // 16-bit ones would be noise.
    if (WaveIn1->GetBitsPerSample() == 8)
        return SampleConverter1.get();
    return WaveIn1.get();
}

void TJobEngine::StartOgg(const QString& input, const QString& output)
{
    if (RefuseSamePath(input, output, OggDoneCode))
        return;
    // The Ogg file is written beside its name and takes it once complete; what
    // could not take it is found out before anything is encoded.
    TFileError refused = CheckReplaceable(output);
    if (!refused && !ReplaceExisting && EntryExists(output))
        refused = TFileError(EEXIST);
    if (!refused)
        refused = OggResult.Begin(output);
    if (refused) {
        PostStepFailure(OggDoneCode, FileErrorMessage(Translate(RES_Save_Error), output, refused.Text()));
        return;
    }
    TVorbisOut& out = Vorbis();
    WaveIn1->SetFileName(input);
    out.AssignInput(SixteenBitSource());
    out.SetFileName(OggResult.PendingPath());
    ConfigureVorbis(out, AppSettings());
    PipelineOutput = output;
    // Set before the run: its progress handler reads it on the worker.
    PipelineStart = Clock().time_since_epoch().count();
    out.Run();
}

void TJobEngine::StartResample(const QString& tempName)
{
    // Made by the job itself, so it can never be one of the job's files or
    // anyone else's; a later item empties and reuses it.
    if (!ResampleTemp.Reset()) {
        TFileError error;
        ResampleTemp = TCreatedFile::CreateTemporary(OutputFolder + tempName, &error);
        if (!ResampleTemp.IsValid()) {
            PostStepFailure(FinalCode(), FileErrorMessage(Translate(RES_CreateFileError),
                                                          OutputFolder + tempName, error.Text()));
            return;
        }
    }
    RateConverter1->AssignInput(SixteenBitSource());
    WaveOut1->SetFileName(ResampleTemp.Path());
    PipelineStart = Clock().time_since_epoch().count();
    WaveOut1->Run();
}

void TJobEngine::StartConversionItem(int index)
{
    const QString& item = JobItems[index];
    switch (JobKind) {
    case WavToMp3:
        View.SetCaption(Caption(QStringLiteral("Encoding"), index + 1, item));
        WaveIn1->SetFileName(item);
        if (WaveIn1->GetSampleRate() >= ResampleTarget) {
            View.SetGroupTitle(Translate(RES_Encoding));
            StartMp3(item, ResultFile(index), true);
        } else {
            View.SetGroupTitle(Translate(RES_WAV_RESAMPLE));
            StartResample(QLatin1String(Mp3TempName));
        }
        break;
    case Mp3ToWav:
        View.SetCaption(Caption(QStringLiteral("Decoding"), index + 1, item));
        View.SetGroupTitle(Translate(RES_Decoding));
        StartMp3(item, ResultFile(index), false);
        break;
    case RecorderToMp3:
        View.SetCaption(Caption(QStringLiteral("Encoding"), index + 1, item));
        View.SetGroupTitle(Translate(RES_Encoding));
        StartMp3(item, ResultFile(index), true);
        break;
    case WavToOgg:
        WaveIn1->SetFileName(item);
        if (WaveIn1->GetSampleRate() >= ResampleTarget) {
            View.SetCaption(Caption(QStringLiteral("Encoding"), index + 1, item));
            View.SetGroupTitle(Translate(RES_Encoding));
            StartOgg(item, ResultFile(index));
        } else {
            View.SetCaption(Caption(QStringLiteral("Resampling"), index + 1, item));
            View.SetGroupTitle(Translate(RES_WAV_RESAMPLE));
            StartResample(QLatin1String(OggTempName));
        }
        break;
    case WavToWma:
        View.SetCaption(Caption(QStringLiteral("Encoding"), index + 1, item));
        View.SetGroupTitle(Translate(RES_Encoding));
        StartWma(item, ResultFile(index));
        break;
    default:
        break;
    }
}

bool TJobEngine::event(QEvent* e)
{
    if (e->type() == WM_RIPERROR) {
        const auto* message = static_cast<TMessageEvent*>(e);
        if (Started && !Finished())
            HandleRipError(message->LParam());
        return true;
    }
    if (e->type() == WM_PROCESSINFO) {
        const auto* message = static_cast<TMessageEvent*>(e);
        // Reports that were on their way when the job ended have nothing left
        // to act on.
        if (Started && !Finished() && message->Info())
            HandleProcessInfo(*message->Info());
        return true;
    }
    return QObject::event(e);
}

void TJobEngine::HandleRipError(qint64 reason)
{
    Stand(reason == 2 ? Translate(RES_ReadTocError) : Translate(RES_ModifyCDParmsError));
}

void TJobEngine::HandleProcessInfo(const TProcessInfo& info)
{
    // A later step that cannot start leaves the job standing until Stop; its
    // reason goes to the user through the prompter.
    try {
        switch (info.Percent) {
        case GainBeginsCode:
            GainBegins();
            break;
        case ExtractDoneCode:
            ExtractionDone(info);
            break;
        case Mp3DoneCode:
            Mp3Done(info);
            break;
        case OggDoneCode:
            OggDone(info);
            break;
        case ResampleDoneCode:
            ResampleDone();
            break;
        case WmaDoneCode:
            WmaDone(info);
            break;
        case StepFailedCode:
            StepFailed(info);
            break;
        case PipelineFailedCode:
            PipelineFailed(info);
            break;
        default:
            ShowProgress(info);
            break;
        }
    } catch (const EEncoderError& error) {
        Stand(error.Text());
    } catch (const EACSException& error) {
        Stand(error.Message());
    } catch (const std::exception& error) {
        Stand(QString::fromUtf8(error.what()));
    }
}

void TJobEngine::ShowProgress(const TProcessInfo& info)
{
    Timer1.stop();
    ProgressSeen = true;
    View.SetElapsedText(info.ElapsedText);
    View.SetEstimatedText(info.EstimatedText);
    if (info.Percent > 0) {
        View.HideInitializing();
        View.SetGaugeTextVisible(true);
        View.SetGauge(std::min(info.Percent, 100));
    }
}

void TJobEngine::GainBegins()
{
    if (JobKind != Extract || ExtractIndex >= ItemCount())
        return;
    View.SetCaption(
        Caption(QStringLiteral("Normalizing"), ExtractIndex + 1, ItemTitle(JobItems[ExtractIndex])));
}

void TJobEngine::ExtractionDone(const TProcessInfo& info)
{
    if (JobKind != Extract || ExtractIndex >= ItemCount())
        return;
    const int index = ExtractIndex;
    const QString wav = TrackFile(index, QStringLiteral(".wav"));
    switch (info.Result) {
    case 0:
        ExtractedWavs[index] = TFileIdentity::Of(wav);
        break;
    case 5:
        // Only a name the system refuses calls for another title.
        if (info.ErrorNumber == ENAMETOOLONG || info.ErrorNumber == EINVAL || info.ErrorNumber == EILSEQ ||
            info.ElapsedText.isEmpty())
            ShowError(wav + Translate(RES_CreateWavFileError) +
                      (info.ElapsedText.isEmpty() ? QString() : QLatin1Char('\n') + info.ElapsedText));
        else
            ShowError(FileErrorMessage(Translate(RES_CreateFileError), wav, info.ElapsedText));
        break;
    case 6:
        ShowError(FileErrorMessage(Translate(RES_Save_Error), wav, info.ElapsedText));
        break;
    default:
        ShowError(Translate(RES_ReadCDAudioError));
        break;
    }
    ++ExtractIndex;
    if (FinalCode() == ExtractDoneCode) {
        if (!EndItem(index, info.Result == 0 ? TItemOutcome::Produced : TItemOutcome::Failed))
            return;
        if (ExtractIndex == ItemCount()) {
            EndJob();
            return;
        }
        StartNextTrack();
        return;
    }
    // Encoding follows; the last track too is still to be encoded.
    if (OutputFormat == 3)
        RipThread.reset();
    if (info.Result != 0) {
        SkipStep(index, TItemOutcome::Skipped, FinalCode());
        return;
    }
    EncodeAfterExtraction(index);
}

void TJobEngine::SkipStep(int index, TItemOutcome outcome, int finalCode)
{
    SkipOutcomes[index] = outcome;
    auto info = std::make_unique<TProcessInfo>();
    info->Percent = finalCode;
    info->Result = SkippedResult;
    PostProcessInfo(this, std::move(info));
    ProgressSeen = true;
}

void TJobEngine::Mp3Done(const TProcessInfo& info)
{
    if (EncodeIndex >= ItemCount())
        return;
    const int index = EncodeIndex;
    TItemOutcome outcome = TItemOutcome::Failed;
    switch (info.Result) {
    case SkippedResult:
        outcome = SkipOutcomes[index].value_or(TItemOutcome::Skipped);
        break;
    case 0: // the user kept the existing file
        outcome = TItemOutcome::Skipped;
        break;
    case 1:
        if (!ProgressSeen)
            ShowError(Mp3.OutputFile + Translate(RES_Operate_Fail));
        break;
    case TEncoderProcess::FailedResult:
        ShowError(info.ElapsedText);
        break;
    default:
        // A program that died or failed has not made its file, whatever it
        // printed on the way; neither has one whose output is not there.
        if (info.ExitedCleanly && FileSize(Mp3.OutputFile) > 0) {
            outcome = TItemOutcome::Produced;
        } else {
            ShowError(Translate(RES_Check_Mp3Options));
        }
        break;
    }
    if (outcome == TItemOutcome::Produced && JobKind == Extract && AppSettings().UseId3)
        WriteTrackTag(index);
    EncodingEnded(EncodeIndex, index, outcome);
}

// The end of an item's encoding step: the step's counter moves on, and the
// next item starts unless the item's end finished the job.
void TJobEngine::EncodingEnded(int& counter, int index, TItemOutcome outcome)
{
    ProgressSeen = false;
    ++counter;
    if (!EndItem(index, outcome))
        return;
    if (counter == ItemCount()) {
        EndJob();
        return;
    }
    if (JobKind == Extract)
        StartNextTrack();
    else
        StartConversionItem(counter);
}

void TJobEngine::WriteTrackTag(int index)
{
    const QString& item = JobItems[index];
    const TDiscInfo& disc = DiscInfo();
    Tid3tag tag;
    tag.SetTitle(ItemTitle(item).left(255));
    tag.SetArtist(disc.Artist.left(255));
    tag.SetAlbum(disc.Album.left(255));
    tag.SetYear(disc.Year.left(255));
    // The genre is a list position; taken as a byte, "none" (-1) is 255.
    tag.Genre = GenreFromListIndex(static_cast<uint8_t>(disc.Genre));
    tag.SetComment(disc.Comment.left(255));
    tag.SetTrack(static_cast<uint8_t>(ItemTrack(item)));
    const uint16_t result = tag.WriteTag(TrackFile(index, QStringLiteral(".mp3")));
    if (result > 255)
        ShowError(QStringLiteral("Error #%1! ").arg(result) + Translate(RES_SaveTag_Error));
}

void TJobEngine::OggDone(const TProcessInfo& info)
{
    if (OggIndex >= ItemCount())
        return;
    const int index = OggIndex;
    TItemOutcome outcome = TItemOutcome::Failed;
    if (info.Result == SkippedResult) {
        outcome = SkipOutcomes[index].value_or(TItemOutcome::Skipped);
    } else {
        WaitMilliseconds(OggSettleMs);
        const TFileError placed = OggResult.Commit(ReplaceRule());
        if (placed)
            ShowError(FileErrorMessage(Translate(RES_Save_Error), PipelineOutput, placed.Text()));
        else if (FileSize(PipelineOutput) > 0)
            outcome = TItemOutcome::Produced;
        else
            ShowError(PipelineOutput + QLatin1Char('\n') + Translate(RES_Save_Error));
    }
    // An Ogg file that failed or was skipped never takes its name.
    OggResult.Discard();
    EncodingEnded(OggIndex, index, outcome);
}

void TJobEngine::ResampleDone()
{
    const QString temp = ResampleTemp.Path();
    if (JobKind == WavToMp3 && EncodeIndex < ItemCount()) {
        View.SetCaption(Caption(QStringLiteral("Encoding"), EncodeIndex + 1, JobItems[EncodeIndex]));
        View.SetGroupTitle(Translate(RES_Encoding));
        StartMp3(temp, ResultFile(EncodeIndex), true);
    } else if (JobKind == WavToOgg && OggIndex < ItemCount()) {
        View.SetCaption(Caption(QStringLiteral("Encoding"), OggIndex + 1, JobItems[OggIndex]));
        View.SetGroupTitle(Translate(RES_Encoding));
        StartOgg(temp, ResultFile(OggIndex));
    }
}

void TJobEngine::WmaDone(const TProcessInfo& info)
{
    Timer1.stop();
    if (EncodeIndex >= ItemCount())
        return;
    const int index = EncodeIndex;
    TItemOutcome outcome = TItemOutcome::Failed;
    switch (info.Result) {
    case SkippedResult:
        outcome = SkipOutcomes[index].value_or(TItemOutcome::Skipped);
        break;
    case 0: // kept the existing file, or the encoder is missing (the user was told)
        outcome = TItemOutcome::Skipped;
        break;
    case 1:
        if (!ProgressSeen)
            ShowError(Wma.OutputFile + Translate(RES_Operate_Fail));
        break;
    case WmaErrorResult:
        ShowError(info.ElapsedText);
        break;
    default:
        if (info.ExitedCleanly && FileSize(Wma.OutputFile) > 0)
            outcome = TItemOutcome::Produced;
        else
            ShowError(Wma.OutputFile + QLatin1Char('\n') + Translate(RES_Save_Error));
        break;
    }
    EncodingEnded(EncodeIndex, index, outcome);
}

void TJobEngine::StepFailed(const TProcessInfo& info)
{
    const int code = info.Result;
    const int index = code == OggDoneCode ? OggIndex : EncodeIndex;
    if (index >= ItemCount())
        return;
    ShowError(info.ElapsedText);
    if (Finished())
        return;
    SkipOutcomes[index] = TItemOutcome::Failed;
    TProcessInfo skipped;
    skipped.Percent = code;
    skipped.Result = SkippedResult;
    switch (code) {
    case OggDoneCode:
        OggDone(skipped);
        break;
    case WmaDoneCode:
        WmaDone(skipped);
        break;
    default:
        Mp3Done(skipped);
        break;
    }
}

void TJobEngine::PipelineFailed(const TProcessInfo& info)
{
    // Named by the file the item was to become (a failed resampling names its
    // temporary file only in the reason).
    const int index = info.Result == OggDoneCode ? OggIndex : EncodeIndex;
    TProcessInfo failed = info;
    failed.Percent = StepFailedCode;
    failed.ElapsedText = Translate(RES_Save_Error) + QLatin1Char('\n') + ResultFile(index) +
                         QLatin1Char('\n') + info.ElapsedText;
    StepFailed(failed);
}

bool TJobEngine::EndItem(int index, TItemOutcome outcome)
{
    Outcomes[index] = outcome;
    emit ItemEnded(index, outcome);
    return !Finished();
}

void TJobEngine::EndJob()
{
    FinishJob();
    // From the event loop: the caller may free the engine when its view
    // closes, and this may be running inside the engine's own handler.
    QMetaObject::invokeMethod(this, &TJobEngine::CloseViewOnce, Qt::QueuedConnection);
}

void TJobEngine::Stand(const QString& reason)
{
    Timer1.stop();
    ShowError(reason);
    if (!Finished())
        emit Standing(reason);
}

void TJobEngine::ShowError(const QString& text)
{
    Prompter.Error(text);
}

void TJobEngine::CloseViewOnce()
{
    if (ViewClosed)
        return;
    ViewClosed = true;
    View.CloseView();
}

void TJobEngine::Stop()
{
    Q_ASSERT(std::this_thread::get_id() == OwnerThread);
    if (!Started)
        return;
    if (!Finished()) {
        const bool oggStep = JobKind == WavToOgg || (JobKind == Extract && OutputFormat == 2);
        if (oggStep && VorbisOut1 && VorbisOut1->Busy()) {
            // Closes the Ogg file with what was encoded so far.
            VorbisOut1->Pause();
            VorbisOut1->FinishOutput();
            WaitMilliseconds(OggSettleMs);
        }
        FinishJob();
    }
    CloseViewOnce();
}

void TJobEngine::FinishPipelines()
{
    // Ends a run without its done report; the file is closed as far as it got.
    if (VorbisOut1 && VorbisOut1->Busy()) {
        VorbisOut1->Pause();
        VorbisOut1->FinishOutput();
    }
    if (WaveOut1->Busy()) {
        WaveOut1->Pause();
        WaveOut1->FinishOutput();
    }
}

void TJobEngine::FinishJob()
{
    if (!WorkList)
        return;
    Timer1.stop();
    if (RipThread) {
        RipThread->StopRequested = true;
        RipThread.reset();
    }
    // The temporary file must be closed before it can be deleted.
    FinishPipelines();
    const int count = ItemCount();
    const TAppSettings& settings = AppSettings();
    if (ExtractIndex == count && JobKind == Extract && OutputFormat != 1 && !settings.KeepWav) {
        // Only a track whose encoded file was made loses its WAV file: for any
        // other the WAV is the only good copy of that audio.
        for (int i = 0; i < count; ++i) {
            if (Outcomes[i] != TItemOutcome::Produced)
                continue;
            // Only the file the job extracted: one that took its name since
            // is someone else's.
            const QString wav = TrackFile(i, QStringLiteral(".wav"));
            if (ExtractedWavs[i].Matches(wav) && !IsFileInUse(wav))
                RemoveIfSame(wav, ExtractedWavs[i]);
        }
    }
    WorkList.reset();
    // Stopping an encoder removes what it wrote; an unfinished Ogg file goes
    // too, once its sink has closed it.
    if (Mp3.Running)
        Mp3.Stop();
    if (Wma.Running)
        Wma.Stop();
    OggResult.Discard();
    // Only the temporary file this job made, and only once nothing reads it.
    ResampleTemp.Remove();
}

void TJobEngine::WmaTimerTick()
{
    if (!Started || Finished()) {
        Timer1.stop();
        return;
    }
    const qint64 elapsed = ElapsedSeconds(WmaStart, Clock());
    View.SetElapsedText(TimeText(elapsed));
    if (!Wma.Running)
        return;
    View.HideInitializing();
    // The program writes beside the output until it has finished.
    const qint64 current = FileSize(Wma.ProgramOutputFile());
    qint64 estimate = 2;
    if (WmaSourceSize >= SmallWmaSource) {
        // A setting outside the list is mended in the settings, so the options
        // dialog and the next start see the same value.
        const int position = RepairWmaSetting(AppSettings().WmaSetting);
        qint64 expected = RoundHalfEven(static_cast<double>(WmaSourceSize) * 1000.0 /
                                        static_cast<double>(WmaSizeRatio(position)));
        if (current > expected)
            expected = current;
        // Nothing written yet (or no file): no rate to go by.
        if (current <= 0)
            return;
        estimate = expected * elapsed / current;
    }
    if (elapsed >= estimate)
        estimate = elapsed + 1;
    View.SetEstimatedText(TimeText(estimate));
    View.SetGaugeTextVisible(true);
    const int percent =
        static_cast<int>(RoundHalfEven(static_cast<double>(elapsed) * 100.0 / static_cast<double>(estimate)));
    // The bar never moves back during a WMA step.
    if (View.Gauge() < percent)
        View.SetGauge(percent);
}

void TJobEngine::PostPipelineProgress(const TACSOutput& sink)
{
    const int percent = sink.LastProgress();
    auto info = std::make_unique<TProcessInfo>();
    info->Percent = percent;
    if (percent != 0) {
        const TClock::time_point start{TClock::duration(PipelineStart.load())};
        const qint64 elapsed = ElapsedSeconds(start, Clock());
        info->ElapsedText = TimeText(elapsed);
        // A source of unknown size (-1) gives no estimate.
        if (percent > 0)
            info->EstimatedText =
                TimeText(RoundHalfEven(static_cast<double>(elapsed) * 100.0 / static_cast<double>(percent)));
    }
    PostProcessInfo(this, std::move(info));
}

void TJobEngine::PostPipelineFailure(int finalCode, const std::exception& error)
{
    auto info = std::make_unique<TProcessInfo>();
    info->Percent = PipelineFailedCode;
    info->Result = finalCode;
    info->ElapsedText = QString::fromUtf8(error.what());
    PostProcessInfo(this, std::move(info));
}
