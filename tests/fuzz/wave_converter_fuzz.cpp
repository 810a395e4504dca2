// Arbitrary bytes as a compressed WAV file: finding the samples never takes
// more than the input holds, and a conversion either fails with a code or
// delivers, in whatever pieces it is read, exactly the length it measured, in
// whole sample frames of the format it suggested.
#include "audio/wave_converter.h"

#include <QBuffer>
#include <QtEndian>

#include <cstdint>
#include <cstdlib>
#include <vector>

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
    int frameBytes = 0;
    if (converter.FormatSuggest() == TWaveConverter::ResultOk) {
        const int channels = qFromLittleEndian<quint16>(converter.TargetFormat.data() + 2);
        const quint32 rate = qFromLittleEndian<quint32>(converter.TargetFormat.data() + 4);
        const int bits = qFromLittleEndian<quint16>(converter.TargetFormat.data() + 14);
        if (channels < 1 || rate < 1 || bits != 16)
            std::abort();
        frameBytes = channels * 2;
    }
    // Without a suggestion the target holds no format and must be refused.
    qint64 measured = 0;
    if (converter.MeasureData(&measured) != TWaveConverter::ResultOk)
        return 0;
    if (frameBytes == 0 || measured <= 0 || measured % frameBytes != 0)
        std::abort();
    std::vector<char> piece(4099);
    qint64 delivered = 0;
    for (qint64 n; (n = converter.ReadConverted(piece.data(), static_cast<qint64>(piece.size()))) != 0;) {
        if (n < 0)
            std::abort();
        delivered += n;
    }
    if (delivered != measured)
        std::abort();
    return 0;
}
