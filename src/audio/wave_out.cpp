#include "wave_out.h"

#include "audio/acs_exception.h"
#include "core/helpers.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

constexpr int PcmStepBytes = 16384;
// Encoded blocks are collected up to this many bytes before they are written.
constexpr std::size_t BlockStagingBytes = 32768;

EACSException CannotAppend()
{
    return EACSException(QStringLiteral("Cannot append data to this .wav file."));
}

EACSException DifferentFormat()
{
    return EACSException(QStringLiteral("Cannot append data in different audio format."));
}

EACSException EightBitAdpcm()
{
    return EACSException(QStringLiteral("Cannot encode 8 bit sound into ADPCM."));
}

} // namespace

TWaveOut::TWaveOut(QObject* parent) : TACSFileOut(parent)
{
}

TWaveOut::~TWaveOut()
{
    ShutdownWorker();
}

void TWaveOut::SetWavType(TWavType type)
{
    if (!Busy() && (type == wtPCM || type == wtDVIADPCM))
        WavTypeValue = type;
}

void TWaveOut::SetBlockSize(quint16 size)
{
    if (!Busy() && size != 0 && size % 4 == 0)
        BlockSizeValue = size;
}

void TWaveOut::SetFileMode(TFileOutputMode mode)
{
    FileModeValue = mode;
}

void TWaveOut::PrepareOutput()
{
    EndOfInput = false;
    Appending = false;
    DataBytes = 0;
    Frames = 0;
    BlocksUsed = 0;
    StagedFrames = 0;
    if (!ExternalStream() && FileName().isEmpty())
        throw EACSException(QStringLiteral("File name is not assigned."));
    // The input is opened and checked before the file is touched, so a run
    // that cannot start leaves an existing file as it was.
    BeginInputRead();
    TACSInput* input = Input();
    Channels = input->GetChannels();
    SampleRate = input->GetSampleRate();
    BitsPerSample = input->GetBitsPerSample();
    if (Channels < 1 || Channels > 2 || SampleRate < 1 || (BitsPerSample != 8 && BitsPerSample != 16))
        throw EACSException(QStringLiteral("The input's sound format cannot be written to a WAV file."));
    if (WavTypeValue == wtDVIADPCM && FileModeValue == foRewrite)
        CheckImaInput(BlockSizeValue);
    OpenDestination();
    try {
        if (Appending)
            ContinueExistingFile();
        else
            StartNewFile();
        // Buffers are sized here, so the steps allocate nothing.
        if (RunType == wtPCM) {
            Transfer.resize(PcmStepBytes / 2);
        } else {
            Transfer.resize(static_cast<std::size_t>(ImaSamplesPerBlock(Channels, RunBlockSize)) * Channels);
            Blocks.resize(std::max<std::size_t>(BlockStagingBytes / RunBlockSize, 1) * RunBlockSize);
        }
    } catch (...) {
        CloseOutputFile();
        RemoveCreatedFile();
        StreamDevice = nullptr;
        throw;
    }
}

void TWaveOut::CheckImaInput(int blockSize) const
{
    if (BitsPerSample != 16)
        throw EightBitAdpcm();
    if (!ImaBlockSizeFits(Channels, blockSize))
        throw EACSException(QStringLiteral("Cannot encode ADPCM blocks of %1 bytes with %2 channels.")
                                .arg(blockSize)
                                .arg(Channels));
}

void TWaveOut::OpenDestination()
{
    if (ExternalStream()) {
        StreamDevice = ExternalStreamDevice;
        Appending = FileModeValue == foAppend && StreamDevice->size() > 0;
        return;
    }
    const QString name = FileName();
    Appending = FileModeValue == foAppend && FileSizeOf(name) > 0;
    OpenOutputFile(Appending);
}

void TWaveOut::StartNewFile()
{
    RunType = WavTypeValue;
    RunBlockSize = BlockSizeValue;
    HeaderStart = StreamDevice->pos();
    const qint64 size = Input()->Size();
    QByteArray header;
    if (RunType == wtPCM) {
        const quint32 announced = static_cast<quint32>(std::clamp<qint64>(size, 0, 0xFFFFFFFFLL - 36));
        header = PcmWavHeader(Channels, SampleRate, BitsPerSample, announced);
        DataSizeOffset = HeaderStart + 40;
        FactValueOffset = -1;
    } else {
        CheckImaInput(RunBlockSize);
        const qint64 frames = std::max<qint64>(size, 0) / (BitsPerSample / 8) / Channels;
        const int samplesPerBlock = ImaSamplesPerBlock(Channels, RunBlockSize);
        const qint64 dataSize =
            RoundHalfEven(static_cast<double>(frames) / samplesPerBlock) * static_cast<qint64>(RunBlockSize);
        header = ImaWavHeader(Channels, SampleRate, RunBlockSize,
                              static_cast<quint32>(std::min<qint64>(frames, 0xFFFFFFFFLL)),
                              static_cast<quint32>(std::clamp<qint64>(dataSize, 0, 0xFFFFFFFFLL - 52)));
        DataSizeOffset = HeaderStart + 56;
        FactValueOffset = HeaderStart + 48;
        Ima[0] = TImaState();
        Ima[1] = TImaState();
    }
    WriteRaw(header.constData(), header.size());
    DataStart = HeaderStart + header.size();
}

void TWaveOut::ContinueExistingFile()
{
    const TWavHeader h = ScanWavHeader(*StreamDevice);
    if (h.WavType != wtPCM && h.WavType != wtDVIADPCM)
        throw CannotAppend();
    const qint64 fileSize = StreamDevice->size();
    const qint64 dataEnd = std::min<qint64>(h.DataOffset + h.DataSize, fileSize);
    // Anything after the data chunk (but its pad byte) would end up inside it.
    if (fileSize > dataEnd + (h.DataSize & 1))
        throw CannotAppend();
    if (h.SampleRate != SampleRate || h.Channels != Channels)
        throw DifferentFormat();
    RunType = h.WavType;
    DataBytes = dataEnd - h.DataOffset;
    if (RunType == wtPCM) {
        if (h.BitsPerSample != BitsPerSample)
            throw DifferentFormat();
        const int frameBytes = BitsPerSample / 8 * Channels;
        DataBytes -= DataBytes % frameBytes;
        FactValueOffset = -1;
    } else {
        if (BitsPerSample != 16)
            throw EightBitAdpcm();
        RunBlockSize = h.BlockAlign;
        const int samplesPerBlock = ImaSamplesPerBlock(Channels, RunBlockSize);
        if (h.BitsPerSample != 4 || !ImaBlockSizeFits(Channels, RunBlockSize) ||
            h.SamplesPerBlock != samplesPerBlock || DataBytes % RunBlockSize != 0)
            throw CannotAppend();
        // Every old block plays in full now that more follows it.
        Frames = DataBytes / RunBlockSize * samplesPerBlock;
        FactValueOffset = h.HasFact ? h.FactValueOffset : -1;
        Ima[0] = TImaState();
        Ima[1] = TImaState();
    }
    HeaderStart = h.RiffOffset;
    DataSizeOffset = h.DataSizeOffset;
    DataStart = h.DataOffset;
    if (!StreamDevice->seek(DataStart + DataBytes))
        throw EACSException(WriteErrorText(StreamDevice->errorString()));
}

bool TWaveOut::OutputStep(bool abort)
{
    if (!OutputEnabled())
        return true;
    ReportProgress();
    if (abort || !OutputEnabled() || EndOfInput)
        return false;
    return RunType == wtPCM ? StepPcm() : StepIma();
}

bool TWaveOut::StepPcm()
{
    char* buffer = reinterpret_cast<char*>(Transfer.data());
    const int count = FetchFromInput(buffer, PcmStepBytes);
    if (count <= 0)
        return false;
    const qint64 room = DataRoom();
    if (count > room) {
        const int frameBytes = BitsPerSample / 8 * Channels;
        WriteData(buffer, room - room % frameBytes);
        RaiseSizeLimit();
    }
    WriteData(buffer, count);
    return true;
}

bool TWaveOut::StepIma()
{
    const int samplesPerBlock = ImaSamplesPerBlock(Channels, RunBlockSize);
    const int need = samplesPerBlock * Channels * 2;
    std::fill(Transfer.begin(), Transfer.end(), qint16(0));
    char* buffer = reinterpret_cast<char*>(Transfer.data());
    int got = 0;
    while (got < need) {
        const int count = FetchFromInput(buffer + got, need - got);
        if (count <= 0) {
            EndOfInput = true;
            break;
        }
        got += count;
    }
    if (BlocksUsed + static_cast<std::size_t>(RunBlockSize) > static_cast<std::size_t>(DataRoom())) {
        FlushBlocks();
        RaiseSizeLimit();
    }
    ImaEncodeBlock(Transfer.data(), Channels, RunBlockSize, Ima, Blocks.data() + BlocksUsed);
    BlocksUsed += static_cast<std::size_t>(RunBlockSize);
    StagedFrames += got / (2 * Channels);
    if (BlocksUsed == Blocks.size())
        FlushBlocks();
    // A short last block is padded with silence; an input ending on a block
    // boundary still gets one block of silence, and the fact chunk says where
    // the sound ends.
    return true;
}

void TWaveOut::FlushBlocks()
{
    if (BlocksUsed == 0)
        return;
    const std::size_t used = BlocksUsed;
    BlocksUsed = 0;
    const qint64 frames = StagedFrames;
    StagedFrames = 0;
    WriteData(Blocks.data(), static_cast<qint64>(used));
    Frames += frames;
}

void TWaveOut::DoFinishOutput()
{
    std::exception_ptr failure;
    qint64 padding = 0;
    try {
        FlushBlocks();
        if (RunType == wtPCM && DataBytes % 2 == 1) {
            const char pad = 0;
            WriteRaw(&pad, 1);
            padding = 1;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    const qint64 end = DataStart + DataBytes + padding;
    try {
        // Cut what a failed write may have left beyond the data accounted for,
        // or the old pad byte of a continued file.
        if (OwnedFile && OwnedFile->size() > end && !OwnedFile->resize(end))
            throw EACSException(WriteErrorText(OwnedFile->errorString()));
        WriteAt(DataSizeOffset, static_cast<quint32>(DataBytes));
        if (FactValueOffset >= 0)
            WriteAt(FactValueOffset, static_cast<quint32>(std::min<qint64>(Frames, 0xFFFFFFFFLL)));
        WriteAt(HeaderStart + 4, static_cast<quint32>(end - HeaderStart - 8));
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    QString closeError;
    if (OwnedFile) {
        const QString reason = OwnedFile->errorString();
        if (!CloseOutputFile())
            closeError = reason;
    }
    StreamDevice = nullptr;
    if (failure)
        std::rethrow_exception(failure);
    if (!closeError.isEmpty())
        throw EACSException(WriteErrorText(closeError));
}

void TWaveOut::WriteRaw(const void* data, qint64 length)
{
    if (length <= 0)
        return;
    // Goes on after a short write, so that a full disk is named as such.
    if (!WriteFully(*StreamDevice, static_cast<const char*>(data), length))
        throw EACSException(WriteErrorText(StreamDevice->errorString()));
}

void TWaveOut::WriteData(const void* data, qint64 length)
{
    WriteRaw(data, length);
    DataBytes += length;
}

void TWaveOut::WriteAt(qint64 offset, quint32 value)
{
    char bytes[4];
    qToLittleEndian<quint32>(value, bytes);
    if (!StreamDevice->seek(offset) || !WriteFully(*StreamDevice, bytes, 4))
        throw EACSException(WriteErrorText(StreamDevice->errorString()));
}

// Data bytes that may still be written: the RIFF size (everything after its
// own field) must fit in 32 bits, a pad byte included.
qint64 TWaveOut::DataRoom() const
{
    const qint64 chunksBeforeData = DataStart - HeaderStart - 8;
    return std::max<qint64>(0xFFFFFFFFLL - chunksBeforeData - 1 - DataBytes, 0);
}

void TWaveOut::RaiseSizeLimit() const
{
    throw EACSException(
        QStringLiteral("The file \"%1\" has reached 4 GB, the most a WAV file can hold.").arg(RunFileName));
}
