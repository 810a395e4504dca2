#include "wave_converter.h"

#include "audio/wave_format.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace {

// The largest data chunk a WAV file can describe: a decoding never passes it.
constexpr qint64 MaxImageData = 0xFFFFFFFFLL - 36;
// Compressed bytes read and decoded at a time: at the lowest MPEG bit rates a
// few seconds of sound.
constexpr qint64 InputPieceBytes = 16384;
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

// The compressed bytes of a stream, handed out a piece at a time, each piece
// followed by the zeroed padding FFmpeg's parsers may read into.
class TInput {
public:
    TInput(QIODevice* stream, qint64 offset, qint64 length)
        : Stream(stream), Offset(offset), Remaining(length),
          Buffer(static_cast<std::size_t>(InputPieceBytes) + AV_INPUT_BUFFER_PADDING_SIZE, 0)
    {
    }

    // Reads the next piece: its size, 0 at the end (also where a file that
    // shrank ends), -1 when the stream cannot be read.
    qint64 Next()
    {
        if (Remaining <= 0 || !Stream)
            return 0;
        const qint64 want = std::min(InputPieceBytes, Remaining);
        if (!Stream->seek(Offset))
            return -1;
        char* out = reinterpret_cast<char*>(Buffer.data());
        qint64 got = 0;
        while (got < want) {
            const qint64 n = Stream->read(out + got, want - got);
            if (n < 0)
                return -1;
            if (n == 0)
                break;
            got += n;
        }
        std::memset(out + got, 0, AV_INPUT_BUFFER_PADDING_SIZE);
        Offset += got;
        Remaining = got < want ? 0 : Remaining - got;
        return got;
    }

    const uint8_t* Data() const { return Buffer.data(); }

private:
    QIODevice* Stream;
    qint64 Offset;
    qint64 Remaining;
    std::vector<uint8_t> Buffer;
};

// One decoder over the compressed bytes as they come: splits them into
// packets (with the codec's parser when it has one) and hands each decoded
// frame to a callback, which may stop the run. Every FFmpeg object is
// released with the decoder.
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
        BlockBytes = format.BlockAlign > 0 ? format.BlockAlign : PlainPacketBytes;
        return true;
    }

    // Decodes the next size bytes at data, which must be followed by
    // AV_INPUT_BUFFER_PADDING_SIZE readable bytes. False when the handler
    // stopped the run or the parser can go no further (Stuck).
    bool Feed(const uint8_t* data, qint64 size, const TFrameHandler& handler)
    {
        if (!Parser) {
            Carry.insert(Carry.end(), data, data + size);
            std::size_t at = 0;
            const auto step = static_cast<std::size_t>(BlockBytes);
            bool go = true;
            while (go && Carry.size() - at >= step) {
                go = SendCopy(Carry.data() + at, step, handler);
                at += step;
            }
            Carry.erase(Carry.begin(), Carry.begin() + static_cast<std::ptrdiff_t>(at));
            return go;
        }
        qint64 at = 0;
        while (at < size) {
            uint8_t* packetData = nullptr;
            int packetSize = 0;
            const int used =
                av_parser_parse2(Parser.get(), Context.get(), &packetData, &packetSize, data + at,
                                 static_cast<int>(size - at), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0 || (used == 0 && packetSize == 0)) {
                Stuck = true;
                return false;
            }
            at += used;
            if (packetSize > 0 && !Send(packetData, packetSize, handler))
                return false;
        }
        return true;
    }

    // The end of the data: what the parser or the block splitter holds, then
    // what the decoder holds. False when the handler stopped the run.
    bool Finish(const TFrameHandler& handler)
    {
        if (Parser && !Stuck) {
            for (;;) {
                uint8_t* packetData = nullptr;
                int packetSize = 0;
                av_parser_parse2(Parser.get(), Context.get(), &packetData, &packetSize, nullptr, 0,
                                 AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
                if (packetSize <= 0)
                    break;
                if (!Send(packetData, packetSize, handler))
                    return false;
            }
        } else if (!Carry.empty()) {
            const bool go = SendCopy(Carry.data(), Carry.size(), handler);
            Carry.clear();
            if (!go)
                return false;
        }
        return Send(nullptr, 0, handler);
    }

    bool IsStuck() const { return Stuck; }

private:
    // A packet from the block splitter, copied so it has its padding.
    bool SendCopy(const uint8_t* data, std::size_t size, const TFrameHandler& handler)
    {
        PacketCopy.assign(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        std::memcpy(PacketCopy.data(), data, size);
        return Send(PacketCopy.data(), static_cast<int>(size), handler);
    }

    // Sends one packet (none: the end of the data) and passes on every frame
    // the decoder has ready. False when the handler stopped the run.
    bool Send(const uint8_t* data, int size, const TFrameHandler& handler)
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
    qint64 BlockBytes = PlainPacketBytes;
    std::vector<uint8_t> Carry; // the start of a block the next piece completes
    std::vector<uint8_t> PacketCopy;
    bool Stuck = false;
};

// Turns decoded frames into interleaved PCM of one format, appended to Out,
// following the decoder when its output format changes along the way.
class TPcmWriter {
public:
    TPcmWriter(int channels, int sampleRate, AVSampleFormat format)
        : SampleRate(sampleRate), Format(format), FrameBytes(channels * av_get_bytes_per_sample(format))
    {
        av_channel_layout_default(&OutLayout.Layout, channels);
    }

    // False when the frame cannot be converted or the output would pass
    // what a WAV file can hold.
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

    std::vector<char> Out;
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
        const std::size_t before = Out.size();
        Out.resize(before + static_cast<std::size_t>(room) * static_cast<std::size_t>(FrameBytes));
        uint8_t* output = reinterpret_cast<uint8_t*>(Out.data() + before);
        const int made = swr_convert(Swr.get(), &output, room, input, samples);
        const qint64 madeBytes = static_cast<qint64>(std::max(made, 0)) * FrameBytes;
        Out.resize(before + static_cast<std::size_t>(madeBytes));
        if (made < 0 || Total + madeBytes > MaxImageData)
            return false;
        Total += madeBytes;
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

// One pass of decoding: compressed pieces in, PCM out as it is asked for. At
// most the PCM of one input piece waits in memory.
class TWaveConverter::TRun {
public:
    TRun(QIODevice* stream, qint64 offset, qint64 length, int channels, int sampleRate, int bits)
        : Input(stream, offset, length),
          Writer(channels, sampleRate, bits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16)
    {
    }

    bool Open(const TFormat& source) { return Decoder.Open(source); }

    // Bytes copied to buffer, 0 at the end; -1 when the stream could not be
    // read or the decoded sound cannot be converted.
    qint64 Read(char* buffer, qint64 length)
    {
        qint64 done = 0;
        while (done < length) {
            const qint64 waiting = static_cast<qint64>(Writer.Out.size()) - Taken;
            if (waiting > 0) {
                const qint64 n = std::min(waiting, length - done);
                std::memcpy(buffer + done, Writer.Out.data() + Taken, static_cast<std::size_t>(n));
                Taken += n;
                done += n;
                continue;
            }
            Writer.Out.clear();
            Taken = 0;
            if (Ended)
                break;
            DecodeMore();
        }
        return done == 0 && Failed ? -1 : done;
    }

    bool ReadFailed() const { return StreamFailed; }

private:
    void DecodeMore()
    {
        const auto handler = [this](const AVFrame& frame) {
            Failed = !Writer.Add(frame);
            return !Failed;
        };
        const qint64 n = Input.Next();
        if (n < 0) {
            Failed = StreamFailed = true;
            Ended = true;
            return;
        }
        const bool go = n > 0 && Decoder.Feed(Input.Data(), n, handler);
        if (go)
            return;
        // The end of the data, or a parser that can go no further: what the
        // decoder holds is still sound.
        if (!Failed && (n == 0 || Decoder.IsStuck()) && Decoder.Finish(handler))
            Failed = !Writer.Flush();
        Ended = true;
    }

    TInput Input;
    TDecoder Decoder;
    TPcmWriter Writer;
    qint64 Taken = 0; // bytes of Writer.Out already handed out
    bool Ended = false;
    bool Failed = false;
    bool StreamFailed = false;
};

TWaveConverter::TWaveConverter() = default;

TWaveConverter::~TWaveConverter() = default;

void TWaveConverter::ReadWavData(QIODevice& stream)
{
    Run.reset();
    Stream = nullptr;
    DataOffset = 0;
    DataLength = 0;
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
            // A data chunk may claim up to 4 GB; what is read is what the
            // stream really holds.
            Stream = &stream;
            DataOffset = chunk.Body();
            DataLength = available;
            return;
        }
        offset = NextWavChunk(stream, chunk);
    }
}

bool TWaveConverter::SourceUsable() const
{
    // A format shorter than the common 16 bytes is cut off; one longer than
    // any codec's description is damaged.
    return Stream && DataLength > 0 && SourceFormatDeclared >= 16 && SourceFormatDeclared <= FormatAreaSize &&
           SourceFormatLength == SourceFormatDeclared;
}

int TWaveConverter::FormatSuggest()
{
    if (qFromLittleEndian<quint16>(TargetFormat.data()) != WavFormatPcm || !SourceUsable())
        return ResultNotPossible;
    try {
        TDecoder decoder;
        if (!decoder.Open(ParseFormat(SourceFormat, SourceFormatLength)))
            return ResultNotPossible;
        int channels = 0;
        int sampleRate = 0;
        // The first decoded frame tells the decoder's own format; the stream
        // header in the fmt chunk may be wrong.
        const auto handler = [&](const AVFrame& frame) {
            if (frame.nb_samples <= 0)
                return true;
            channels = frame.ch_layout.nb_channels;
            sampleRate = frame.sample_rate;
            return false;
        };
        TInput input(Stream, DataOffset, DataLength);
        for (;;) {
            const qint64 n = input.Next();
            if (n < 0)
                return ResultReadFailed;
            if (n == 0 || !decoder.Feed(input.Data(), n, handler)) {
                if (n == 0 || decoder.IsStuck())
                    decoder.Finish(handler);
                break;
            }
        }
        if (channels <= 0 || channels > MaxChannels || sampleRate <= 0)
            return ResultNotPossible;
        TargetFormat = PcmFormat(channels, sampleRate, 16);
        return ResultOk;
    } catch (const std::bad_alloc&) {
        return ResultNoMemory;
    }
}

int TWaveConverter::ConvertData()
{
    Run.reset();
    const TFormat target = ParseFormat(TargetFormat, FormatAreaSize);
    if (target.Tag != WavFormatPcm || (target.BitsPerSample != 8 && target.BitsPerSample != 16) ||
        target.Channels < 1 || target.Channels > MaxChannels || target.SampleRate < 1)
        return ResultNotPossible;
    if (!SourceUsable())
        return ResultNotPossible;
    try {
        auto run = std::make_unique<TRun>(Stream, DataOffset, DataLength, target.Channels, target.SampleRate,
                                          target.BitsPerSample);
        if (!run->Open(ParseFormat(SourceFormat, SourceFormatLength)))
            return ResultNotPossible;
        Run = std::move(run);
        return ResultOk;
    } catch (const std::bad_alloc&) {
        return ResultNoMemory;
    }
}

qint64 TWaveConverter::ReadConverted(char* buffer, qint64 length)
{
    if (!Run)
        return -1;
    try {
        return Run->Read(buffer, length);
    } catch (const std::bad_alloc&) {
        Run.reset();
        return -1;
    }
}

int TWaveConverter::MeasureData(qint64* bytes)
{
    int result = ConvertData();
    if (result != ResultOk)
        return result;
    std::vector<char> scratch(65536);
    qint64 total = 0;
    for (;;) {
        const qint64 n = ReadConverted(scratch.data(), static_cast<qint64>(scratch.size()));
        if (n < 0) {
            result = Run && Run->ReadFailed() ? ResultReadFailed : ResultNotPossible;
            Run.reset();
            return result;
        }
        if (n == 0)
            break;
        total += n;
    }
    if (total == 0) {
        Run.reset();
        return ResultNotPossible;
    }
    *bytes = total;
    return ConvertData();
}
