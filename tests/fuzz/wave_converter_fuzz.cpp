// Arbitrary bytes as a compressed WAV file: loading never takes more than the
// input holds, and a conversion either fails with a code or yields a PCM image
// whose header describes exactly the samples behind it.
#include "audio/wave_converter.h"
#include "audio/wave_format.h"

#include <QBuffer>
#include <QtEndian>

#include <cstdint>
#include <cstdlib>

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Damaged packets are expected here by the thousand.
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)quiet;
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TWaveConverter converter;
    converter.ReadWavData(buffer);
    if (converter.DataSize() < 0 || converter.DataSize() > static_cast<qint64>(size))
        std::abort();
    qToLittleEndian<quint16>(1, converter.TargetFormat.data());
    if (converter.FormatSuggest() == TWaveConverter::ResultOk) {
        const int channels = qFromLittleEndian<quint16>(converter.TargetFormat.data() + 2);
        const quint32 rate = qFromLittleEndian<quint32>(converter.TargetFormat.data() + 4);
        const int bits = qFromLittleEndian<quint16>(converter.TargetFormat.data() + 14);
        if (channels < 1 || rate < 1 || bits != 16)
            std::abort();
    }
    // Without a suggestion the target holds no format and must be refused.
    if (converter.ConvertData() != TWaveConverter::ResultOk)
        return 0;
    QBuffer image;
    image.open(QIODevice::ReadWrite);
    if (converter.WriteWavImage(image) != TWaveConverter::ResultOk)
        std::abort();
    const TWavHeader header = ScanWavHeader(image);
    const qint64 samples = image.size() - WavPcmHeaderSize;
    if (header.WavType != wtPCM || header.DataOffset != WavPcmHeaderSize || header.DataSize != samples ||
        samples <= 0 || header.BlockAlign <= 0 || samples % header.BlockAlign != 0)
        std::abort();
    return 0;
}
