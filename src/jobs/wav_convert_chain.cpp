#include "wav_convert_chain.h"

#include "audio/acs_exception.h"
#include "core/messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// The sink's done report carries the code of a finished resampling; Result 0
// is a complete run, 1 a failed one with the error in ElapsedText.
constexpr int DoneCode = 4000;
constexpr int RunFailed = 1;

} // namespace

TWavConvertChain::TWavConvertChain(QObject* parent) : QObject(parent)
{
    MSConverter1.SetMode(msmMonoToBoth);
    RateConverter1.SetFilterWindow(fwBlackman);
    RateConverter1.SetKernelWidth(30);
    RateConverter1.SetOutSampleRate(22050);
    WaveOut1.SetSuspendWhenIdle(true);
    WaveOut1.SetFileMode(foRewrite);
    WaveOut1.SetWavType(wtPCM);
    WaveOut1.SetBlockSize(512);
    // The handlers run on the sink's worker: they only post.
    WaveOut1.SetOnProgress([this](TACSOutput* sender) { PostProcessInfo(this, sender->Progress(), {}, {}); });
    WaveOut1.SetOnDone([this](TACSOutput*) { PostProcessInfo(this, DoneCode, {}, {}, 0); });
    WaveOut1.SetOnThreadException([this](TACSOutput*, const std::exception& error) {
        const auto* acs = dynamic_cast<const EACSException*>(&error);
        PostProcessInfo(this, DoneCode, acs ? acs->Message() : QString::fromLocal8Bit(error.what()), {},
                        RunFailed);
    });
}

TWavConvertChain::~TWavConvertChain()
{
    Stop();
}

QString TWavConvertChain::CheckFormat(const TOutputFormat& format)
{
    if (format.Channels != 1 && format.Channels != 2)
        return QStringLiteral("The output can have 1 or 2 channels, not %1.").arg(format.Channels);
    if (format.BitsPerSample != 8 && format.BitsPerSample != 16)
        return QStringLiteral("The output can have 8 or 16 bits per sample, not %1.")
            .arg(format.BitsPerSample);
    if (format.SampleRate <= 0)
        return QStringLiteral("The sample rate must be above 0, not %1.").arg(format.SampleRate);
    if (format.WavType != wtPCM && format.WavType != wtDVIADPCM)
        return QStringLiteral("The output can be plain PCM or IMA ADPCM only.");
    // The sink says the same when it starts; saying it first writes nothing.
    if (format.WavType == wtDVIADPCM && format.BitsPerSample == 8)
        return QStringLiteral("Cannot encode 8 bit sound into ADPCM.");
    return {};
}

std::vector<QObject*> TWavConvertChain::Build(const TOutputFormat& format)
{
    for (TACSConverter* converter : std::initializer_list<TACSConverter*>{&SampleConverter1, &MSConverter1,
                                                                          &RateConverter1, &SampleConverter2})
        converter->AssignInput(nullptr);

    std::vector<QObject*> chain{&WaveIn1};
    TACSInput* current = &WaveIn1;
    const auto append = [&](TACSConverter& converter) {
        converter.AssignInput(current);
        current = &converter;
        chain.push_back(&converter);
    };
    if (WaveIn1.GetBitsPerSample() == 8)
        append(SampleConverter1);
    if (format.Channels != WaveIn1.GetChannels())
        append(MSConverter1);
    if (format.SampleRate != WaveIn1.GetSampleRate()) {
        RateConverter1.SetOutSampleRate(format.SampleRate);
        append(RateConverter1);
    }
    if (format.BitsPerSample == 8)
        append(SampleConverter2);
    WaveOut1.AssignInput(current);
    WaveOut1.SetWavType(format.WavType);
    chain.push_back(&WaveOut1);
    return chain;
}

QString TWavConvertChain::Convert(const QString& input, const QString& output, const TOutputFormat& format)
{
    if (IsRunning)
        return QStringLiteral("A conversion is running already.");
    const QString formatProblem = CheckFormat(format);
    if (!formatProblem.isEmpty())
        return formatProblem;
    // Writing the output would empty the input before it is read.
    if (SameFile(input, output) ||
        QFileInfo(input).absoluteFilePath() == QFileInfo(output).absoluteFilePath())
        return QStringLiteral("The output file %1 is the input file; choose another output folder or name.")
            .arg(QDir::toNativeSeparators(output));
    if (!QFileInfo(input).isFile())
        return QStringLiteral("%1: no such file.").arg(QDir::toNativeSeparators(input));
    WaveIn1.SetFileName(input);
    if (!WaveIn1.IsValid())
        return QStringLiteral(
                   "%1 is not a WAV file that can be read (PCM, IMA ADPCM, Microsoft ADPCM or MPEG "
                   "audio; 8 or 16 bits; 1 or 2 channels).")
            .arg(QDir::toNativeSeparators(input));
    if (QFileInfo(output).isDir())
        return QStringLiteral("%1 is a folder.").arg(QDir::toNativeSeparators(output));
    // Said now rather than after a conversion that cannot be put in place.
    if (const TFileError refused = CheckReplaceable(output))
        return QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(output), refused.Text());

    if (const TFileError error = Pending.Begin(output))
        return QStringLiteral("Cannot write into %1: %2")
            .arg(QDir::toNativeSeparators(QFileInfo(output).absolutePath()), error.Text());

    Build(format);
    WaveOut1.SetFileName(Pending.PendingPath());
    Output = output;
    IsRunning = true;
    try {
        // A sink that cannot start reports it through its thread-exception
        // event, which arrives here as a failed run.
        WaveOut1.Run();
    } catch (const EACSException& error) {
        IsRunning = false;
        Pending.Discard();
        return error.Message();
    }
    return {};
}

void TWavConvertChain::Stop()
{
    if (!IsRunning)
        return;
    IsRunning = false;
    try {
        WaveOut1.FinishOutput();
    } catch (const std::exception&) {
        // The file goes anyway; what kept it from finishing does not matter.
    }
    // Reports of the run still on their way are of no use any more.
    QCoreApplication::removePostedEvents(this, WM_PROCESSINFO);
    Pending.Discard();
}

bool TWavConvertChain::SameFile(const QString& first, const QString& second)
{
    struct stat a {};
    struct stat b {};
    if (::stat(QFile::encodeName(first).constData(), &a) != 0 ||
        ::stat(QFile::encodeName(second).constData(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool TWavConvertChain::event(QEvent* e)
{
    if (e->type() != WM_PROCESSINFO)
        return QObject::event(e);
    const TProcessInfo* info = static_cast<TMessageEvent*>(e)->Info();
    if (!IsRunning || !info)
        return true;
    if (info->Percent != DoneCode) {
        emit Progress(info->Percent);
        return true;
    }
    if (info->Result == RunFailed) {
        EndRun(false, InOutputsName(info->ElapsedText));
        return true;
    }
    // The run has closed its file; it takes the output's place in one step.
    if (const TFileError error = Pending.Commit(TPendingFile::TReplace::Allowed)) {
        EndRun(false,
               QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(Output), error.Text()));
        return true;
    }
    EndRun(true, {});
    return true;
}

void TWavConvertChain::EndRun(bool complete, const QString& error)
{
    IsRunning = false;
    Pending.Discard();
    emit Finished(complete, error);
}

QString TWavConvertChain::InOutputsName(const QString& error) const
{
    const QString temporary = Pending.PendingPath();
    if (temporary.isEmpty())
        return error;
    QString text = error;
    return text.replace(temporary, Output);
}
