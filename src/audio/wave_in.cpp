#include "wave_in.h"

#include "audio/acs_exception.h"
#include "core/helpers.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

constexpr int OutBufferBytes = 16384;

} // namespace

TWaveIn::TWaveIn(QObject* parent) : TACSFileIn(parent)
{
}

TWaveIn::~TWaveIn()
{
    DetachUsers();
    std::lock_guard lock(SourceLock);
    while (OpenCount > 0)
        CloseSource();
}

TWavType TWaveIn::GetWavType()
{
    std::lock_guard lock(SourceLock);
    OpenSource();
    const TWavType type = WavTypeValue;
    CloseSource();
    return type;
}

void TWaveIn::OpenSource()
{
    if (OpenCount == 0)
        ReadHeader();
    ++OpenCount;
}

void TWaveIn::BeginRead()
{
    std::lock_guard lock(SourceLock);
    OpeningForRead = true;
    try {
        TACSFileIn::BeginRead();
    } catch (...) {
        OpeningForRead = false;
        throw;
    }
    OpeningForRead = false;
}

void TWaveIn::CloseSource()
{
    if (OpenCount == 1) {
        ReleaseCompressed();
        OwnedStream.reset();
        StreamDevice = nullptr;
    }
    if (OpenCount > 0)
        --OpenCount;
}

void TWaveIn::ReadHeader()
{
    Valid = false;
    InvalidReason.clear();
    WavTypeValue = wtUnsupported;
    Header = TWavHeader();
    StoredBitsPerSample = 0;
    StoredSampleRate = 0;
    StoredChannels = 0;
    TotalSamples = 0;
    SizeValue = 0;
    FrameBytes = 0;
    BlockFrames = 0;
    SkipFrames = 0;
    const QString name = FileName();
    if (ExternalStream()) {
        StreamDevice = ExternalStreamDevice;
        if (!StreamDevice->isReadable()) {
            InvalidReason = QStringLiteral("The stream is not open for reading.");
            return;
        }
    } else {
        auto file = std::make_unique<QFile>(name);
        if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            InvalidReason = QStringLiteral("Cannot open the file \"%1\": %2").arg(name, file->errorString());
            return;
        }
        OwnedStream = std::move(file);
        StreamDevice = OwnedStream.get();
    }
    Header = ScanWavHeader(*StreamDevice);
    WavTypeValue = Header.WavType;
    if (WavTypeValue == wtACM) {
        OpenCompressed();
        return;
    }
    if (!CheckFormat(Header)) {
        InvalidReason =
            QStringLiteral("The file \"%1\" is not a WAV file in a format that can be read.").arg(name);
        TotalSamples = 0;
        SizeValue = 0;
        return;
    }
    StoredChannels = Header.Channels;
    StoredSampleRate = Header.SampleRate;
    ReadOffset = DataStart;
    if (!StreamDevice->seek(DataStart)) {
        InvalidReason =
            QStringLiteral("Cannot read the file \"%1\": %2").arg(name, StreamDevice->errorString());
        return;
    }
    Valid = true;
}

void TWaveIn::OpenCompressed()
{
    const QString name = FileName();
    const QString reason =
        QStringLiteral("The compressed sound in the file \"%1\" cannot be decoded.").arg(name);
    TDecodedFormat file;
    if (!ExternalStream()) {
        const QFileInfo info(name);
        file.FileName = name;
        file.FileSize = info.size();
        file.Modified = info.lastModified();
    }
    const bool known = !ExternalStream() && Remembered.FileName == file.FileName &&
                       Remembered.FileSize == file.FileSize && Remembered.Modified == file.Modified;
    if (known && !OpeningForRead) {
        // A query needs the format only, which the last decoding found.
        if (!Remembered.Valid) {
            InvalidReason = reason;
            return;
        }
        Header = Remembered.Header;
        StoredChannels = Header.Channels;
        StoredSampleRate = Header.SampleRate;
        StoredBitsPerSample = Remembered.BitsPerSample;
        TotalSamples = Remembered.TotalSamples;
        SizeValue = Remembered.Size;
        Valid = true;
        return;
    }
    // A file measured before needs only its start checked for a read; any
    // other is decoded once to learn its length.
    const bool measured = known && Remembered.Valid;
    const qint64 measuredSize = Remembered.Size;
    Remembered = file;
    auto converter = std::make_unique<TWaveConverter>();
    int result = StreamDevice->seek(0) ? TWaveConverter::ResultOk : TWaveConverter::ResultNotPossible;
    if (result == TWaveConverter::ResultOk) {
        converter->ReadWavData(*StreamDevice);
        qToLittleEndian<quint16>(WavFormatPcm, converter->TargetFormat.data());
        result = converter->FormatSuggest();
    }
    qint64 bytes = measuredSize;
    if (result == TWaveConverter::ResultOk)
        result = measured ? converter->ConvertData() : converter->MeasureData(&bytes);
    const int channels = qFromLittleEndian<quint16>(converter->TargetFormat.data() + 2);
    const auto sampleRate = static_cast<int>(qFromLittleEndian<quint32>(converter->TargetFormat.data() + 4));
    if (result != TWaveConverter::ResultOk || channels < 1 || channels > 2 || sampleRate < 1) {
        InvalidReason = reason;
        return;
    }
    FrameBytes = 2 * channels;
    TWavHeader header;
    header.WavType = wtACM;
    header.FormatTag = WavFormatPcm;
    header.Channels = channels;
    header.SampleRate = sampleRate;
    header.BlockAlign = FrameBytes;
    header.BitsPerSample = 16;
    header.DataOffset = 0;
    header.DataSize = static_cast<quint32>(std::min<qint64>(bytes, 0xFFFFFFFFLL));
    Header = header;
    StoredChannels = channels;
    StoredSampleRate = sampleRate;
    StoredBitsPerSample = 16;
    TotalSamples = bytes / FrameBytes;
    SizeValue = TotalSamples * FrameBytes;
    DataStart = 0;
    DataEnd = SizeValue;
    ReadOffset = 0;
    OutBuffer.resize(OutBufferBytes / 2 + 1);
    Converter = std::move(converter);
    WavTypeValue = wtACM;
    Valid = true;
    Remembered.Valid = true;
    Remembered.Header = Header;
    Remembered.BitsPerSample = StoredBitsPerSample;
    Remembered.TotalSamples = TotalSamples;
    Remembered.Size = Size();
}

void TWaveIn::ReleaseCompressed()
{
    Converter.reset();
}

int TWaveIn::FillDecoded(char* destination, qint64 wanted)
{
    const qint64 length = std::min(wanted, DataEnd - ReadOffset);
    if (length <= 0 || !Converter)
        return 0;
    const qint64 got = Converter->ReadConverted(destination, length);
    if (got < 0)
        throw EACSException(
            QStringLiteral("The compressed sound in the file \"%1\" cannot be decoded.").arg(FileName()));
    ReadOffset += got;
    return static_cast<int>(got);
}

bool TWaveIn::SeekDecoded(qint64 offset)
{
    if (!Converter)
        return false;
    // The decoder only goes forward: going back starts it over.
    if (offset < ReadOffset) {
        if (Converter->ConvertData() != TWaveConverter::ResultOk)
            return false;
        ReadOffset = 0;
    }
    char* scratch = reinterpret_cast<char*>(OutBuffer.data());
    while (ReadOffset < offset) {
        const qint64 got =
            Converter->ReadConverted(scratch, std::min<qint64>(OutBufferBytes, offset - ReadOffset));
        if (got <= 0)
            return false;
        ReadOffset += got;
    }
    return true;
}

// Sets the stored format, TotalSamples, Size and the buffers for a header the
// reader can deliver; false for anything else.
bool TWaveIn::CheckFormat(const TWavHeader& h)
{
    if (h.WavType == wtUnsupported || h.DataOffset < 0)
        return false;
    if (h.Channels < 1 || h.Channels > 2 || h.SampleRate < 1)
        return false;
    const qint64 streamSize = StreamDevice->size();
    DataStart = h.DataOffset;
    // A data chunk claiming more than the file holds (a cut-off file, or a
    // writer that streamed) ends where the file ends.
    const qint64 dataBytes = std::clamp<qint64>(streamSize - DataStart, 0, h.DataSize);
    DataEnd = DataStart + dataBytes;
    const int channels = h.Channels;
    std::size_t outBytes = OutBufferBytes;
    switch (h.WavType) {
    case wtPCM: {
        if (h.BitsPerSample != 8 && h.BitsPerSample != 16)
            return false;
        StoredBitsPerSample = h.BitsPerSample;
        FrameBytes = h.BitsPerSample / 8 * channels;
        TotalSamples = dataBytes / FrameBytes;
        DataEnd = DataStart + TotalSamples * FrameBytes;
        break;
    }
    case wtDVIADPCM:
    case wtMSADPCM: {
        const bool ima = h.WavType == wtDVIADPCM;
        if (ima && h.BitsPerSample != 4)
            return false;
        if (!ima && (h.CoefficientCount < 1 || !h.CoefficientsComplete || h.SamplesPerBlock < 2))
            return false;
        const int blockAlign = h.BlockAlign;
        auto framesIn = [&](qint64 length) {
            return ima ? ImaFramesInBlock(static_cast<int>(length), channels)
                       : MsFramesInBlock(static_cast<int>(length), channels, h.SamplesPerBlock);
        };
        BlockFrames = framesIn(blockAlign);
        if (BlockFrames < 1)
            return false;
        const qint64 framesInData = dataBytes / blockAlign * BlockFrames + framesIn(dataBytes % blockAlign);
        TotalSamples = h.HasFact ? std::min<qint64>(h.FactFrames, framesInData) : framesInData;
        // The first block tells whether the header's tables fit the data at all.
        if (dataBytes > 0) {
            quint8 first[14] = {};
            const int headerBytes = (ima ? 4 : 7) * channels;
            if (!StreamDevice->seek(DataStart) ||
                StreamDevice->read(reinterpret_cast<char*>(first), headerBytes) != headerBytes)
                return false;
            for (int c = 0; c < channels; ++c) {
                if (ima ? first[4 * c + 2] >= ImaStepCount : first[c] >= h.CoefficientCount)
                    return false;
            }
        }
        StoredBitsPerSample = 16;
        FrameBytes = 2 * channels;
        BlockBuffer.resize(static_cast<std::size_t>(blockAlign));
        outBytes = std::max<std::size_t>(outBytes, static_cast<std::size_t>(BlockFrames) * FrameBytes);
        break;
    }
    default:
        // Compressed data arrives here only as its decoded PCM image.
        return false;
    }
    OutBuffer.resize(outBytes / 2 + 1);
    SizeValue = TotalSamples * FrameBytes;
    return true;
}

int TWaveIn::FetchData(void* buffer, int bufferSize)
{
    if (!Busy())
        throw EACSException(QStringLiteral("The Stream is not opened"));
    if (bufferSize <= 0)
        return 0;
    std::lock_guard lock(SourceLock);
    if (BufStart > BufEnd) {
        // A caller that takes a whole refill at once gets PCM read straight
        // into its buffer, saving a copy of every byte.
        char* direct = bufferSize >= OutBufferBytes && !IsAdpcm() ? static_cast<char*>(buffer) : nullptr;
        const int produced = Refill(direct, direct ? bufferSize : OutBufferBytes);
        if (produced <= 0)
            return 0;
        if (direct) {
            PositionValue += produced;
            return produced;
        }
        BufStart = 1;
        BufEnd = produced;
    }
    const int count = std::min(bufferSize, BufEnd - BufStart + 1);
    std::memcpy(buffer, reinterpret_cast<const char*>(OutBuffer.data()) + BufStart - 1,
                static_cast<std::size_t>(count));
    BufStart += count;
    PositionValue += count;
    return count;
}

bool TWaveIn::IsAdpcm() const
{
    return WavTypeValue == wtDVIADPCM || WavTypeValue == wtMSADPCM;
}

bool TWaveIn::SeekSample(qint64 frame)
{
    std::lock_guard lock(SourceLock);
    if (OpenCount == 0 || !Valid)
        return false;
    frame = std::clamp<qint64>(frame, 0, TotalSamples);
    if (WavTypeValue == wtACM) {
        BufStart = 1;
        BufEnd = 0;
        SkipFrames = 0;
        return SeekDecoded(frame * FrameBytes);
    }
    if (IsAdpcm()) {
        const qint64 block = frame / BlockFrames;
        ReadOffset = DataStart + block * Header.BlockAlign;
        SkipFrames = frame - block * BlockFrames;
    } else {
        ReadOffset = DataStart + frame * FrameBytes;
        SkipFrames = 0;
    }
    BufStart = 1;
    BufEnd = 0;
    return StreamDevice->seek(ReadOffset);
}

void TWaveIn::TakePendingJump()
{
    const int jump = PendingJumpValue.exchange(0);
    const qint64 size = Size();
    if (jump == 0 || size <= 0 || FrameBytes == 0)
        return;
    qint64 target = Position() + RoundHalfEven(static_cast<double>(jump) / 100.0 * static_cast<double>(size));
    target = std::clamp<qint64>(target, 0, size);
    target -= target % FrameBytes;
    SeekSample(std::clamp<qint64>(StartSample(), 0, TotalSamples) + target / FrameBytes);
    PositionValue = target;
}

int TWaveIn::Refill(char* direct, int capacity)
{
    TakePendingJump();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const qint64 wanted = Size() - Position();
        int produced = 0;
        char* destination = direct ? direct : reinterpret_cast<char*>(OutBuffer.data());
        if (wanted > 0)
            produced = IsAdpcm()               ? FillAdpcm(wanted)
                       : WavTypeValue == wtACM ? FillDecoded(destination, std::min<qint64>(capacity, wanted))
                                               : FillPcm(destination, std::min<qint64>(capacity, wanted));
        if (produced > 0 || !Loop())
            return produced;
        SeekSample(std::clamp<qint64>(StartSample(), 0, TotalSamples));
        PositionValue = 0;
    }
    return 0;
}

int TWaveIn::FillPcm(char* destination, qint64 wanted)
{
    qint64 length = std::min(wanted, DataEnd - ReadOffset);
    if (length <= 0)
        return 0;
    // Reads that end on a page boundary of the file cost the system less; the
    // first one is shortened (to whole frames) so that the others line up.
    if (length > 4096) {
        qint64 aligned = ((ReadOffset + length) & ~qint64(4095)) - ReadOffset;
        aligned -= aligned % FrameBytes;
        if (aligned > 0)
            length = aligned;
    }
    return static_cast<int>(ReadData(destination, length));
}

int TWaveIn::FillAdpcm(qint64 wanted)
{
    qint16* out = OutBuffer.data();
    for (;;) {
        const qint64 length = std::min<qint64>(Header.BlockAlign, DataEnd - ReadOffset);
        if (length <= 0)
            return 0;
        const int got = static_cast<int>(ReadData(BlockBuffer.data(), length));
        const int channels = Header.Channels;
        int frames = WavTypeValue == wtDVIADPCM
                         ? ImaDecodeBlock(BlockBuffer.data(), got, channels, out)
                         : MsDecodeBlock(BlockBuffer.data(), got, channels, Header.SamplesPerBlock,
                                         Header.Coefficients, Header.CoefficientCount, out);
        if (frames < 0) {
            frames = WavTypeValue == wtDVIADPCM ? ImaFramesInBlock(got, channels)
                                                : MsFramesInBlock(got, channels, Header.SamplesPerBlock);
            std::fill(out, out + static_cast<std::ptrdiff_t>(frames) * channels, qint16(0));
        }
        if (frames <= 0)
            return 0;
        const qint64 skip = std::min<qint64>(SkipFrames, frames);
        SkipFrames -= skip;
        if (skip == frames)
            continue;
        const qint64 bytes = (frames - skip) * FrameBytes;
        if (skip > 0)
            std::memmove(out, out + skip * channels, static_cast<std::size_t>(bytes));
        return static_cast<int>(std::min(bytes, wanted));
    }
}

qint64 TWaveIn::ReadData(void* buffer, qint64 length)
{
    char* out = static_cast<char*>(buffer);
    qint64 got = 0;
    while (got < length) {
        const qint64 n = StreamDevice->read(out + got, length - got);
        if (n < 0)
            throw EACSException(QStringLiteral("Cannot read the file \"%1\": %2")
                                    .arg(FileName(), StreamDevice->errorString()));
        if (n == 0)
            break;
        got += n;
    }
    ReadOffset += got;
    return got;
}
