#include "wave_converter.h"

#include "audio/wave_format.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace {

// The largest data chunk a WAV image can describe.
constexpr qint64 MaxImageData = 0xFFFFFFFFLL - 36;
// Packets for codecs that have no parser and no block size.
constexpr int PlainPacketBytes = 4096;
// More channels than any sound file has: a damaged header.
constexpr int MaxChannels = 64;

struct TCodecContextFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct TParserFree {
    void operator()(AVCodecParserContext* parser) const { av_parser_close(parser); }
};
struct TPacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct TFrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct TSwrFree {
    void operator()(SwrContext* swr) const { swr_free(&swr); }
};
struct TChannelLayout {
    AVChannelLayout Layout{};
    ~TChannelLayout() { av_channel_layout_uninit(&Layout); }
};

// What a format area says, read without passing the bytes the file filled.
struct TFormat {
    int Tag = 0;
    int Channels = 0;
    int SampleRate = 0;
    qint64 BytesPerSecond = 0;
    int BlockAlign = 0;
    int BitsPerSample = 0;
    const quint8* Extra = nullptr;
    int ExtraSize = 0;
};

TFormat ParseFormat(const TWaveConverter::TFormatArea& area, int length)
{
    auto u16 = [&](int at) { return at + 2 <= length ? qFromLittleEndian<quint16>(area.data() + at) : 0; };
    auto u32 = [&](int at) { return at + 4 <= length ? qFromLittleEndian<quint32>(area.data() + at) : 0u; };
    TFormat f;
    f.Tag = u16(0);
    f.Channels = u16(2);
    f.SampleRate = static_cast<int>(std::min<quint32>(u32(4), 0x7FFFFFFF));
    f.BytesPerSecond = u32(8);
    f.BlockAlign = u16(12);
    f.BitsPerSample = u16(14);
    if (length > 18) {
        f.Extra = area.data() + 18;
        f.ExtraSize = std::min(static_cast<int>(u16(16)), length - 18);
    }
    return f;
}

TWaveConverter::TFormatArea PcmFormat(int channels, int sampleRate, int bits)
{
    TWaveConverter::TFormatArea area{};
    const int blockAlign = channels * bits / 8;
    qToLittleEndian<quint16>(WavFormatPcm, area.data());
    qToLittleEndian<quint16>(static_cast<quint16>(channels), area.data() + 2);
    qToLittleEndian<quint32>(static_cast<quint32>(sampleRate), area.data() + 4);
    qToLittleEndian<quint32>(static_cast<quint32>(sampleRate) * static_cast<quint32>(blockAlign),
                             area.data() + 8);
    qToLittleEndian<quint16>(static_cast<quint16>(blockAlign), area.data() + 12);
    qToLittleEndian<quint16>(static_cast<quint16>(bits), area.data() + 14);
    return area;
}

bool ReadExact(QIODevice& stream, char* buffer, qint64 length)
{
    qint64 got = 0;
    while (got < length) {
        const qint64 n = stream.read(buffer + got, length - got);
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

// One decoder over the compressed bytes: splits them into packets (with the
// codec's parser when it has one) and hands each decoded frame to a callback,
// which may stop the run. Every FFmpeg object is released with the decoder.
class TDecoder {
public:
    using TFrameHandler = std::function<bool(const AVFrame&)>;

    // False when FFmpeg has no decoder for the format or cannot open it.
    bool Open(const TFormat& format)
    {
        const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
        const AVCodecID id = av_codec_get_id(tables, static_cast<unsigned int>(format.Tag));
        if (id == AV_CODEC_ID_NONE)
            return false;
        const AVCodec* codec = avcodec_find_decoder(id);
        if (!codec || format.Channels > MaxChannels)
            return false;
        Context.reset(avcodec_alloc_context3(codec));
        Packet.reset(av_packet_alloc());
        Frame.reset(av_frame_alloc());
        if (!Context || !Packet || !Frame)
            return false;
        Context->codec_tag = static_cast<unsigned int>(format.Tag);
        Context->sample_rate = format.SampleRate;
        if (format.Channels > 0)
            av_channel_layout_default(&Context->ch_layout, format.Channels);
        Context->block_align = format.BlockAlign;
        Context->bit_rate = format.BytesPerSecond * 8;
        Context->bits_per_coded_sample = format.BitsPerSample;
        if (format.ExtraSize > 0) {
            Context->extradata = static_cast<uint8_t*>(
                av_mallocz(static_cast<size_t>(format.ExtraSize) + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!Context->extradata)
                return false;
            std::memcpy(Context->extradata, format.Extra, static_cast<size_t>(format.ExtraSize));
            Context->extradata_size = format.ExtraSize;
        }
        if (avcodec_open2(Context.get(), codec, nullptr) < 0)
            return false;
        Parser.reset(av_parser_init(id));
        BlockAlign = format.BlockAlign;
        return true;
    }

    // Decodes size bytes at data, which must be followed by
    // AV_INPUT_BUFFER_PADDING_SIZE readable bytes. False when the handler
    // stopped the run.
    bool Decode(const uint8_t* data, qint64 size, const TFrameHandler& handler)
    {
        qint64 at = 0;
        if (Parser) {
            for (;;) {
                const int chunk = static_cast<int>(std::min<qint64>(size - at, 1 << 20));
                uint8_t* packetData = nullptr;
                int packetSize = 0;
                const int used = av_parser_parse2(Parser.get(), Context.get(), &packetData, &packetSize,
                                                  chunk > 0 ? data + at : nullptr, chunk, AV_NOPTS_VALUE,
                                                  AV_NOPTS_VALUE, 0);
                if (used < 0 || (used == 0 && packetSize == 0 && chunk > 0))
                    break;
                at += used;
                if (packetSize > 0 && !Feed(packetData, packetSize, handler))
                    return false;
                // An empty input flushes the parser; once it has nothing more,
                // the data is done.
                if (chunk == 0 && packetSize == 0)
                    break;
            }
        } else {
            const qint64 step = BlockAlign > 0 ? BlockAlign : PlainPacketBytes;
            while (at < size) {
                const int length = static_cast<int>(std::min(step, size - at));
                if (!Feed(data + at, length, handler))
                    return false;
                at += length;
            }
        }
        return Feed(nullptr, 0, handler);
    }

private:
    // Sends one packet (none: the end of the data) and passes on every frame
    // the decoder has ready. False when the handler stopped the run.
    bool Feed(const uint8_t* data, int size, const TFrameHandler& handler)
    {
        AVPacket* packet = nullptr;
        if (data) {
            av_packet_unref(Packet.get());
            Packet->data = const_cast<uint8_t*>(data);
            Packet->size = size;
            packet = Packet.get();
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            // A damaged packet is refused and skipped, as players do; the
            // next one may decode.
            if (avcodec_send_packet(Context.get(), packet) != AVERROR(EAGAIN))
                break;
            if (!Receive(handler))
                return false;
        }
        Packet->data = nullptr;
        Packet->size = 0;
        return Receive(handler);
    }

    bool Receive(const TFrameHandler& handler)
    {
        while (avcodec_receive_frame(Context.get(), Frame.get()) >= 0) {
            const bool go = handler(*Frame);
            av_frame_unref(Frame.get());
            if (!go)
                return false;
        }
        return true;
    }

    std::unique_ptr<AVCodecContext, TCodecContextFree> Context;
    std::unique_ptr<AVCodecParserContext, TParserFree> Parser;
    std::unique_ptr<AVPacket, TPacketFree> Packet;
    std::unique_ptr<AVFrame, TFrameFree> Frame;
    int BlockAlign = 0;
};

// Turns decoded frames into interleaved PCM of one format, following the
// decoder when its output format changes along the way.
class TPcmWriter {
public:
    TPcmWriter(int channels, int sampleRate, AVSampleFormat format)
        : SampleRate(sampleRate), Format(format), FrameBytes(channels * av_get_bytes_per_sample(format))
    {
        av_channel_layout_default(&OutLayout.Layout, channels);
    }

    // False when the frame cannot be converted or the output would be too
    // large for a WAV image.
    bool Add(const AVFrame& frame)
    {
        if (frame.nb_samples <= 0)
            return true;
        if (!Matches(frame)) {
            if (!Flush() || !Configure(frame))
                return false;
        }
        const uint8_t** input = const_cast<const uint8_t**>(frame.extended_data);
        return Convert(input, frame.nb_samples);
    }

    // Converts what the resampler still holds. False on failure.
    bool Flush()
    {
        if (!Swr)
            return true;
        return Convert(nullptr, 0);
    }

    std::vector<std::unique_ptr<QByteArray>> Pieces;
    qint64 Total = 0;

private:
    bool Matches(const AVFrame& frame) const
    {
        return Swr && frame.format == InFormat && frame.sample_rate == InRate &&
               av_channel_layout_compare(&frame.ch_layout, &InLayout.Layout) == 0;
    }

    bool Configure(const AVFrame& frame)
    {
        Swr.reset();
        av_channel_layout_uninit(&InLayout.Layout);
        const int channels = frame.ch_layout.nb_channels;
        if (channels <= 0 || channels > MaxChannels || frame.sample_rate <= 0)
            return false;
        if (av_channel_layout_copy(&InLayout.Layout, &frame.ch_layout) < 0)
            return false;
        InFormat = frame.format;
        InRate = frame.sample_rate;
        // A layout without channel positions is taken as the usual one for
        // its channel count.
        TChannelLayout source;
        if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&source.Layout, channels);
        else if (av_channel_layout_copy(&source.Layout, &frame.ch_layout) < 0)
            return false;
        SwrContext* swr = nullptr;
        if (swr_alloc_set_opts2(&swr, &OutLayout.Layout, Format, SampleRate, &source.Layout,
                                static_cast<AVSampleFormat>(InFormat), InRate, 0, nullptr) < 0)
            return false;
        Swr.reset(swr);
        if (swr_init(Swr.get()) < 0) {
            Swr.reset();
            return false;
        }
        return true;
    }

    bool Convert(const uint8_t** input, int samples)
    {
        const int room = swr_get_out_samples(Swr.get(), samples);
        if (room < 0)
            return false;
        if (room == 0)
            return true;
        const qint64 bytes = static_cast<qint64>(room) * FrameBytes;
        if (bytes > MaxImageData)
            return false;
        auto piece = std::make_unique<QByteArray>(bytes, Qt::Uninitialized);
        uint8_t* output = reinterpret_cast<uint8_t*>(piece->data());
        const int made = swr_convert(Swr.get(), &output, room, input, samples);
        if (made < 0)
            return false;
        const qint64 madeBytes = static_cast<qint64>(made) * FrameBytes;
        if (Total + madeBytes > MaxImageData)
            return false;
        if (made == 0)
            return true;
        piece->truncate(madeBytes);
        Total += madeBytes;
        Pieces.push_back(std::move(piece));
        return true;
    }

    int SampleRate;
    AVSampleFormat Format;
    int FrameBytes;
    TChannelLayout OutLayout;
    TChannelLayout InLayout;
    int InFormat = -1;
    int InRate = 0;
    std::unique_ptr<SwrContext, TSwrFree> Swr;
};

} // namespace

TWaveConverter::TWaveConverter() = default;

TWaveConverter::~TWaveConverter() = default;

void TWaveConverter::ReadWavData(QIODevice& stream)
{
    qint64 offset = FindFirstWavChunk(stream);
    if (offset < 0)
        return;
    const qint64 streamSize = stream.size();
    bool haveFormat = false;
    for (int count = 0; count < MaxWavChunks; ++count) {
        TWavChunk chunk;
        if (!ReadWavChunk(stream, offset, chunk))
            return;
        const qint64 available = std::clamp<qint64>(streamSize - chunk.Body(), 0, chunk.Size);
        if (!haveFormat && WavIdMatches(chunk.Id, "fmt ")) {
            SourceFormat.fill(0);
            const int length = static_cast<int>(std::min<qint64>(available, FormatAreaSize));
            if (!ReadExact(stream, reinterpret_cast<char*>(SourceFormat.data()), length))
                return;
            SourceFormatLength = length;
            SourceFormatDeclared = chunk.Size;
            haveFormat = true;
        } else if (haveFormat && WavIdMatches(chunk.Id, "data")) {
            // A data chunk may claim up to 4 GB; what is loaded is what the
            // stream really holds.
            QByteArray data;
            try {
                data = QByteArray(available + AV_INPUT_BUFFER_PADDING_SIZE, '\0');
            } catch (const std::bad_alloc&) {
                return;
            }
            if (!ReadExact(stream, data.data(), available))
                return;
            Memory = std::move(data);
            Offset = 0;
            Size = available;
            return;
        }
        offset = NextWavChunk(stream, chunk);
    }
}

bool TWaveConverter::SourceUsable() const
{
    // A format shorter than the common 16 bytes is cut off; one longer than
    // any codec's description is damaged.
    return Size > 0 && SourceFormatDeclared >= 16 && SourceFormatDeclared <= FormatAreaSize &&
           SourceFormatLength == SourceFormatDeclared;
}

int TWaveConverter::FormatSuggest()
{
    if (qFromLittleEndian<quint16>(TargetFormat.data()) != WavFormatPcm || !SourceUsable())
        return ResultNotPossible;
    TDecoder decoder;
    if (!decoder.Open(ParseFormat(SourceFormat, SourceFormatLength)))
        return ResultNotPossible;
    int channels = 0;
    int sampleRate = 0;
    // The first decoded frame tells the decoder's own format; the stream
    // header in the fmt chunk may be wrong.
    decoder.Decode(reinterpret_cast<const uint8_t*>(Data()), Size, [&](const AVFrame& frame) {
        if (frame.nb_samples <= 0)
            return true;
        channels = frame.ch_layout.nb_channels;
        sampleRate = frame.sample_rate;
        return false;
    });
    if (channels <= 0 || channels > MaxChannels || sampleRate <= 0)
        return ResultNotPossible;
    TargetFormat = PcmFormat(channels, sampleRate, 16);
    return ResultOk;
}

int TWaveConverter::ConvertData()
{
    const TFormat target = ParseFormat(TargetFormat, FormatAreaSize);
    if (target.Tag != WavFormatPcm || (target.BitsPerSample != 8 && target.BitsPerSample != 16) ||
        target.Channels < 1 || target.Channels > MaxChannels || target.SampleRate < 1)
        return ResultNotPossible;
    if (!SourceUsable())
        return ResultNotPossible;
    try {
        TDecoder decoder;
        if (!decoder.Open(ParseFormat(SourceFormat, SourceFormatLength)))
            return ResultNotPossible;
        TPcmWriter writer(target.Channels, target.SampleRate,
                          target.BitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16);
        bool failed = false;
        decoder.Decode(reinterpret_cast<const uint8_t*>(Data()), Size, [&](const AVFrame& frame) {
            failed = !writer.Add(frame);
            return !failed;
        });
        if (failed || !writer.Flush() || writer.Total == 0)
            return ResultNotPossible;
        // The decoded pieces go into one buffer with room for the image header
        // in front; each piece is freed once copied, so the peak stays near
        // the decoded size.
        QByteArray decoded(WavPcmHeaderSize + writer.Total, Qt::Uninitialized);
        char* at = decoded.data() + WavPcmHeaderSize;
        for (std::unique_ptr<QByteArray>& piece : writer.Pieces) {
            std::memcpy(at, piece->constData(), static_cast<std::size_t>(piece->size()));
            at += piece->size();
            piece.reset();
        }
        Memory = std::move(decoded);
        Offset = WavPcmHeaderSize;
        Size = writer.Total;
        SourceFormat = PcmFormat(target.Channels, target.SampleRate, target.BitsPerSample);
        SourceFormatLength = 16;
        SourceFormatDeclared = 16;
        return ResultOk;
    } catch (const std::bad_alloc&) {
        return ResultNoMemory;
    }
}

QByteArray TWaveConverter::ImageHeader() const
{
    QByteArray header = PcmWavHeader(1, 8000, 16, static_cast<quint32>(std::min(Size, MaxImageData)));
    std::memcpy(header.data() + 20, SourceFormat.data(), 16);
    return header;
}

int TWaveConverter::WriteWavImage(QIODevice& stream)
{
    const QByteArray header = ImageHeader();
    if (stream.write(header) != header.size())
        return ResultWriteFailed;
    if (Size > 0 && stream.write(Data(), Size) != Size)
        return ResultWriteFailed;
    return ResultOk;
}

QByteArray TWaveConverter::TakeWavImage()
{
    const QByteArray header = ImageHeader();
    QByteArray image;
    if (Offset == WavPcmHeaderSize) {
        image = std::move(Memory);
        image.truncate(WavPcmHeaderSize + Size);
        std::memcpy(image.data(), header.constData(), WavPcmHeaderSize);
    } else {
        image = header + QByteArray(Data(), Size);
    }
    Memory.clear();
    Offset = 0;
    Size = 0;
    return image;
}
