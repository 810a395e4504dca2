#include "mp3_encode_process.h"

#include "audio/wave_format.h"
#include "core/language.h"
#include "core/settings.h"

#include <QFile>

TMp3EncodeProcess::TMp3EncodeProcess(QObject* notifyWindow, TPrompter& prompter)
    : TEncoderProcess(notifyWindow, prompter)
{
}

QStringList TMp3EncodeProcess::EncodeArguments(const TAppSettings& settings, const QString& inputFile,
                                               const QString& outputFile)
{
    QStringList arguments{QStringLiteral("-b"), QString::number(settings.Mp3BitRate)};
    static const char* const stereoModes[] = {"s", "j", "f", "d", "m"};
    if (settings.Mp3StereoMode >= 0 && settings.Mp3StereoMode <= 4)
        arguments << QStringLiteral("-m") << QLatin1String(stereoModes[settings.Mp3StereoMode]);
    if (settings.Mp3Quality == 1)
        arguments << QStringLiteral("-f");
    else if (settings.Mp3Quality == 2)
        arguments << QStringLiteral("-h");
    if (settings.Mp3Vbr) {
        arguments << QStringLiteral("-V") << QString::number(settings.Mp3VbrQuality) << QStringLiteral("-B")
                  << QString::number(settings.Mp3MaxBitRate);
        if (settings.Mp3NoVbrTag)
            arguments << QStringLiteral("-t");
    }
    arguments << AbsoluteFileArgument(inputFile) << AbsoluteFileArgument(outputFile);
    return arguments;
}

QStringList TMp3EncodeProcess::DecodeArguments(const QString& inputFile, const QString& outputFile)
{
    return {QStringLiteral("--decode"), AbsoluteFileArgument(inputFile), AbsoluteFileArgument(outputFile)};
}

int TMp3EncodeProcess::ProgressColumn() const
{
    return Parser.ProgressColumn;
}

QString TMp3EncodeProcess::ProgramName() const
{
    return QStringLiteral("lame");
}

bool TMp3EncodeProcess::AsksBeforeOverwrite() const
{
    // Kinds 1 and 4 write files the job has just named itself: an extracted track
    // and a recording saved as MP3.
    return JobKind != 1 && JobKind != 4;
}

QStringList TMp3EncodeProcess::Arguments()
{
    return Encode ? EncodeArguments(AppSettings(), InputFile, ProgramOutputFile())
                  : DecodeArguments(InputFile, ProgramOutputFile());
}

void TMp3EncodeProcess::Started()
{
    Parser.Reset(StartTime, {AbsoluteFileArgument(InputFile), AbsoluteFileArgument(ProgramOutputFile())});
}

void TMp3EncodeProcess::ParseOutput(const QStringList& lines)
{
    const std::vector<TProcessInfo> reports =
        Encode ? Parser.ParseEncodeOutput(lines) : Parser.ParseDecodeOutput(lines);
    for (const TProcessInfo& info : reports)
        PostProgress(info);
}

int TMp3EncodeProcess::CompletionCode() const
{
    return CompletionPercent;
}

QString TMp3EncodeProcess::CheckOutput(const QString& path) const
{
    if (Encode)
        return TEncoderProcess::CheckOutput(path);
    // lame exits with 0 after decoding nothing from a file that is no MP3, and
    // also when it could not write all it decoded.
    QFile file(path);
    const TWavHeader header = file.open(QIODevice::ReadOnly) ? ScanWavHeader(file) : TWavHeader{};
    const qint64 size = file.size();
    if (header.WavType != wtPCM || header.DataOffset < 0)
        return QStringLiteral("lame wrote no WAV file");
    if (header.DataSize == 0 || Parser.DecodedFrames == 0)
        return QStringLiteral("lame found no MP3 audio in %1").arg(InputFile);
    const qint64 end = header.DataOffset + qint64(header.DataSize);
    if (size != end && size != end + 1)
        return QStringLiteral("the decoded WAV file holds %1 bytes of sound, not the %2 its header announces")
            .arg(size - header.DataOffset)
            .arg(header.DataSize);
    return QString();
}

QString TMp3EncodeProcess::FailureHeadline() const
{
    return Translate(Encode ? RES_Check_Mp3Options : RES_Save_Error);
}

QString TMp3EncodeProcess::ProgramError() const
{
    return Parser.LastError;
}
