#include "wma_file_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class EEncodeFailure final : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string ErrorText(int averror)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

[[noreturn]] void Fail(const std::string& reason)
{
    throw EEncodeFailure(reason);
}

// One end of the file traffic: a POSIX file descriptor behind an AVIOContext, so
// that FFmpeg opens no file by name itself (a name is never taken for a protocol
// or an option) and the first system error is kept for the message.
struct TFileChannel {
    int Fd = -1;
    int64_t Position = 0;
    int64_t Size = -1;
    int Error = 0;

    ~TFileChannel()
    {
        if (Fd >= 0)
            close(Fd);
    }
};

int ReadFromFile(void* opaque, uint8_t* buffer, int size)
{
    auto* file = static_cast<TFileChannel*>(opaque);
    for (;;) {
        const ssize_t got = read(file->Fd, buffer, static_cast<size_t>(size));
        if (got > 0) {
            file->Position += got;
            return static_cast<int>(got);
        }
        if (got == 0)
            return AVERROR_EOF;
        if (errno != EINTR) {
            file->Error = errno;
            return AVERROR(errno);
        }
    }
}

int WriteToFile(void* opaque, uint8_t* buffer, int size)
{
    auto* file = static_cast<TFileChannel*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t put = write(file->Fd, buffer + done, static_cast<size_t>(size - done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            if (file->Error == 0)
                file->Error = errno;
            return AVERROR(file->Error);
        }
        done += static_cast<int>(put);
    }
    return size;
}

int64_t SeekInFile(void* opaque, int64_t offset, int whence)
{
    auto* file = static_cast<TFileChannel*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat facts {};
        if (fstat(file->Fd, &facts) != 0)
            return AVERROR(errno);
        return facts.st_size;
    }
    const off_t at = lseek(file->Fd, offset, whence & ~AVSEEK_FORCE);
    if (at < 0)
        return AVERROR(errno);
    file->Position = at;
    return at;
}

struct TIoDeleter {
    void operator()(AVIOContext* io) const
    {
        if (io)
            av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
using TIo = std::unique_ptr<AVIOContext, TIoDeleter>;

TIo MakeIo(TFileChannel& file, bool writing, bool seekable)
{
    constexpr int bufferSize = 64 * 1024;
    auto* buffer = static_cast<unsigned char*>(av_malloc(bufferSize));
    if (!buffer)
        throw std::bad_alloc();
    AVIOContext* io =
        avio_alloc_context(buffer, bufferSize, writing ? 1 : 0, &file, writing ? nullptr : ReadFromFile,
                           writing ? WriteToFile : nullptr, seekable ? SeekInFile : nullptr);
    if (!io) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    return TIo(io);
}

struct TInputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct TOutputDeleter {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};
struct TCodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct TResamplerDeleter {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
struct TFifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
struct TFrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct TPacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct TSamplesDeleter {
    void operator()(uint8_t** planes) const
    {
        if (planes)
            av_freep(&planes[0]);
        av_freep(&planes);
    }
};

struct TChannelLayout {
    AVChannelLayout Layout{};
    ~TChannelLayout() { av_channel_layout_uninit(&Layout); }
};

template <typename T> T* Checked(T* pointer)
{
    if (!pointer)
        throw std::bad_alloc();
    return pointer;
}

// Everything one run holds; released in reverse order of creation.
struct TSession {
    TFileChannel InputFile;
    TFileChannel OutputFile;
    bool OutputCreated = false;
    TIo InputIo;
    std::unique_ptr<AVFormatContext, TInputDeleter> Input;
    int StreamIndex = -1;
    std::unique_ptr<AVCodecContext, TCodecDeleter> Decoder;
    std::unique_ptr<AVCodecContext, TCodecDeleter> Encoder;
    std::unique_ptr<SwrContext, TResamplerDeleter> Resampler;
    std::unique_ptr<AVAudioFifo, TFifoDeleter> Fifo;
    std::unique_ptr<uint8_t*, TSamplesDeleter> Scratch;
    int ScratchSamples = 0;
    TIo OutputIo;
    std::unique_ptr<AVFormatContext, TOutputDeleter> Output;
    std::unique_ptr<AVFrame, TFrameDeleter> Decoded;
    std::unique_ptr<AVFrame, TFrameDeleter> ToEncode;
    std::unique_ptr<AVPacket, TPacketDeleter> Packet;
    int64_t SamplesSent = 0;
    int LastPercent = -1;
    AVSampleFormat DecodedFormat = AV_SAMPLE_FMT_NONE;
    int DecodedRate = 0;
    int DecodedChannels = 0;
};

class TRun {
public:
    TRun(TSession& session, const TWmaEncArguments& arguments, const std::function<void(int)>& onProgress,
         const std::function<void(bool)>& onOutputPending)
        : S(session), Arguments(arguments), OnProgress(onProgress), OnOutputPending(onOutputPending)
    {
    }

    int Execute()
    {
        OpenInput();
        OpenDecoder();
        const int bitRate = OpenEncoder();
        OpenResampler();
        CreateOutput();
        Transcode();
        FinishOutput();
        return bitRate;
    }

private:
    void OpenInput()
    {
        S.InputFile.Fd = open(Arguments.Input.c_str(), O_RDONLY | O_CLOEXEC);
        if (S.InputFile.Fd < 0)
            Fail("cannot open the input file: " + std::string(std::strerror(errno)));
        struct stat facts {};
        if (fstat(S.InputFile.Fd, &facts) != 0)
            Fail("cannot open the input file: " + std::string(std::strerror(errno)));
        if (S_ISDIR(facts.st_mode))
            Fail("cannot open the input file: " + std::string(std::strerror(EISDIR)));
        const bool regular = S_ISREG(facts.st_mode);
        if (regular)
            S.InputFile.Size = facts.st_size;
        InputDevice = facts.st_dev;
        InputInode = facts.st_ino;

        S.InputIo = MakeIo(S.InputFile, false, regular);
        AVFormatContext* context = Checked(avformat_alloc_context());
        context->pb = S.InputIo.get();
        context->flags |= AVFMT_FLAG_CUSTOM_IO;
        // Only a WAV file is taken: nothing else is probed for.
        const AVInputFormat* wav = av_find_input_format("wav");
        int result = avformat_open_input(&context, nullptr, wav, nullptr);
        if (result < 0) {
            // avformat_open_input frees the context on failure.
            ReadFailure("the input is not a valid WAV file", result);
        }
        S.Input.reset(context);
        result = avformat_find_stream_info(context, nullptr);
        if (result < 0)
            ReadFailure("the input is not a valid WAV file", result);
        S.StreamIndex = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (S.StreamIndex < 0)
            Fail("the input holds no sound");
    }

    // A read error names the system's reason; anything else is bad data.
    [[noreturn]] void ReadFailure(const std::string& badData, int result)
    {
        if (S.InputFile.Error != 0)
            Fail("cannot read the input file: " + std::string(std::strerror(S.InputFile.Error)));
        if (result == AVERROR(ENOMEM))
            throw std::bad_alloc();
        Fail(badData);
    }

    void OpenDecoder()
    {
        const AVCodecParameters* parameters = S.Input->streams[S.StreamIndex]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
        if (!codec)
            Fail("the input's sound encoding is not supported");
        S.Decoder.reset(Checked(avcodec_alloc_context3(codec)));
        if (avcodec_parameters_to_context(S.Decoder.get(), parameters) < 0)
            Fail("the input's sound encoding is not supported");
        const int result = avcodec_open2(S.Decoder.get(), codec, nullptr);
        if (result < 0)
            ReadFailure("the input's sound format is not valid", result);
        if (S.Decoder->sample_rate <= 0 || S.Decoder->ch_layout.nb_channels <= 0)
            Fail("the input's sound format is not valid");
    }

    // The asked rate, or the lowest the encoder accepts above it: it refuses the
    // lowest rates of the setting list.
    int OpenEncoder()
    {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
        if (!codec || !codec->sample_fmts)
            Fail("this system's FFmpeg has no Windows Media Audio 2 encoder");
        int result = 0;
        for (int bitRate = Arguments.BitRate * 1000;; bitRate += 1000) {
            S.Encoder.reset(Checked(avcodec_alloc_context3(codec)));
            AVCodecContext* encoder = S.Encoder.get();
            encoder->sample_fmt = codec->sample_fmts[0];
            encoder->sample_rate = Arguments.SampleRate;
            av_channel_layout_default(&encoder->ch_layout, Arguments.Channels);
            encoder->bit_rate = bitRate;
            encoder->time_base = AVRational{1, Arguments.SampleRate};
            result = avcodec_open2(encoder, codec, nullptr);
            if (result >= 0)
                return bitRate;
            if (result != AVERROR(EINVAL) || bitRate >= MaxWmaBitRate * 1000)
                break;
        }
        if (result == AVERROR(ENOMEM))
            throw std::bad_alloc();
        Fail("the encoder refuses this setting: " + ErrorText(result));
    }

    void OpenResampler()
    {
        const AVCodecContext* decoder = S.Decoder.get();
        // FFmpeg 5.1 takes the layouts as non-const; it does not change them.
        AVCodecContext* encoder = S.Encoder.get();
        TChannelLayout inLayout;
        if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&inLayout.Layout, decoder->ch_layout.nb_channels);
        else if (av_channel_layout_copy(&inLayout.Layout, &decoder->ch_layout) < 0)
            throw std::bad_alloc();
        SwrContext* resampler = nullptr;
        int result =
            swr_alloc_set_opts2(&resampler, &encoder->ch_layout, encoder->sample_fmt, encoder->sample_rate,
                                &inLayout.Layout, decoder->sample_fmt, decoder->sample_rate, 0, nullptr);
        S.Resampler.reset(resampler);
        if (result < 0)
            Fail("the input's sound format cannot be converted: " + ErrorText(result));
        // Mono becomes the same sound on both sides, stereo becomes the average of
        // both: the level stays as it was (the default mix lowers mono by 3 dB).
        const int inChannels = inLayout.Layout.nb_channels;
        const int outChannels = encoder->ch_layout.nb_channels;
        if (inChannels == 1 && outChannels == 2) {
            const double matrix[2] = {1.0, 1.0};
            result = swr_set_matrix(resampler, matrix, 1);
        } else if (inChannels == 2 && outChannels == 1) {
            const double matrix[2] = {0.5, 0.5};
            result = swr_set_matrix(resampler, matrix, 2);
        }
        if (result >= 0)
            result = swr_init(resampler);
        if (result < 0)
            Fail("the input's sound format cannot be converted: " + ErrorText(result));
        S.Fifo.reset(Checked(av_audio_fifo_alloc(encoder->sample_fmt, outChannels, encoder->frame_size)));
        S.DecodedFormat = decoder->sample_fmt;
        S.DecodedRate = decoder->sample_rate;
        S.DecodedChannels = inChannels;
    }

    void CreateOutput()
    {
        const char* path = Arguments.Output.c_str();
        struct stat facts {};
        if (stat(path, &facts) == 0) {
            if (facts.st_dev == InputDevice && facts.st_ino == InputInode)
                Fail("the input and the output are the same file");
            // Never truncate, and later remove, a device or anything else that is
            // not a plain file.
            if (!S_ISREG(facts.st_mode))
                Fail("the output is not a plain file");
        }
        // What a link leads to may lie anywhere: never written through, also
        // when it leads nowhere.
        struct stat entry {};
        if (lstat(path, &entry) == 0 && S_ISLNK(entry.st_mode))
            Fail("the output is a link");

        AVFormatContext* output = nullptr;
        const AVOutputFormat* asf = av_guess_format("asf", nullptr, nullptr);
        if (!asf || avformat_alloc_output_context2(&output, asf, nullptr, nullptr) < 0 || !output)
            Fail("this system's FFmpeg cannot write ASF files");
        S.Output.reset(output);
        AVStream* stream = Checked(avformat_new_stream(output, nullptr));
        int result = avcodec_parameters_from_context(stream->codecpar, S.Encoder.get());
        if (result < 0)
            throw std::bad_alloc();
        stream->time_base = S.Encoder->time_base;
        if (!Arguments.Author.empty())
            av_dict_set(&output->metadata, "author", Arguments.Author.c_str(), 0);
        if (!Arguments.Description.empty())
            av_dict_set(&output->metadata, "comment", Arguments.Description.c_str(), 0);
        av_opt_set_int(output->priv_data, "packet_size", PacketSize(S.Encoder->block_align), 0);

        // O_NOFOLLOW also refuses a link that took the name since the check.
        S.OutputFile.Fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (S.OutputFile.Fd < 0)
            Fail("cannot create the output file: " + std::string(std::strerror(errno)));
        S.OutputCreated = true;
        if (OnOutputPending)
            OnOutputPending(true);
        S.OutputIo = MakeIo(S.OutputFile, true, true);
        output->pb = S.OutputIo.get();
        output->flags |= AVFMT_FLAG_CUSTOM_IO;
        result = avformat_write_header(output, nullptr);
        if (result < 0)
            WriteFailure(result);
    }

    // The muxer starts a new packet when the next frame does not fit whole, and
    // pads the rest; its default packet size wastes up to a third of the file at
    // some rates. A packet holds 11 bytes of header, one byte of payload flags
    // and 17 bytes of header per frame, so this size fits whole frames exactly.
    static int PacketSize(int blockAlign)
    {
        constexpr int packetHeader = 12;
        constexpr int frameHeader = 17;
        constexpr int usualSize = 3200;
        const int perFrame = blockAlign + frameHeader;
        const int frames = std::clamp((usualSize - packetHeader) / perFrame, 2, 63);
        return std::clamp(frames * perFrame + packetHeader, 100, 65536);
    }

    [[noreturn]] void WriteFailure(int result)
    {
        if (S.OutputFile.Error != 0)
            Fail("cannot write the output file: " + std::string(std::strerror(S.OutputFile.Error)));
        if (result == AVERROR(ENOMEM))
            throw std::bad_alloc();
        Fail("cannot write the output file: " + ErrorText(result));
    }

    void Transcode()
    {
        S.Decoded.reset(Checked(av_frame_alloc()));
        S.ToEncode.reset(Checked(av_frame_alloc()));
        S.Packet.reset(Checked(av_packet_alloc()));
        AVPacket* packet = S.Packet.get();
        ReportProgress();
        int result = 0;
        while ((result = av_read_frame(S.Input.get(), packet)) >= 0) {
            if (packet->stream_index == S.StreamIndex)
                Decode(packet);
            av_packet_unref(packet);
            ReportProgress();
        }
        if (result != AVERROR_EOF)
            ReadFailure("the input's sound data is damaged", result);
        Decode(nullptr);
        Resample(nullptr, 0);
        EncodeBuffered(true);
        Encode(nullptr);
    }

    void ReportProgress()
    {
        if (S.InputFile.Size <= 0 || !OnProgress)
            return;
        const int percent =
            static_cast<int>(std::min<int64_t>(99, S.InputFile.Position * 100 / S.InputFile.Size));
        if (percent != S.LastPercent) {
            S.LastPercent = percent;
            OnProgress(percent);
        }
    }

    void Decode(const AVPacket* packet)
    {
        int result = avcodec_send_packet(S.Decoder.get(), packet);
        if (result < 0 && result != AVERROR_EOF)
            ReadFailure("the input's sound data is damaged", result);
        AVFrame* frame = S.Decoded.get();
        while ((result = avcodec_receive_frame(S.Decoder.get(), frame)) >= 0) {
            if (frame->format != S.DecodedFormat || frame->sample_rate != S.DecodedRate ||
                frame->ch_layout.nb_channels != S.DecodedChannels)
                Fail("the input changes its sound format");
            Resample(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
            av_frame_unref(frame);
        }
        if (result != AVERROR(EAGAIN) && result != AVERROR_EOF)
            ReadFailure("the input's sound data is damaged", result);
    }

    // Converts samples into the queue of the encoder's frames; null drains what
    // the resampler still holds.
    void Resample(const uint8_t** planes, int samples)
    {
        const int room = swr_get_out_samples(S.Resampler.get(), samples);
        if (room < 0)
            Fail("the sound cannot be converted: " + ErrorText(room));
        if (room == 0)
            return;
        if (room > S.ScratchSamples) {
            uint8_t** scratch = nullptr;
            S.Scratch.reset();
            if (av_samples_alloc_array_and_samples(&scratch, nullptr, S.Encoder->ch_layout.nb_channels, room,
                                                   S.Encoder->sample_fmt, 0) < 0)
                throw std::bad_alloc();
            S.Scratch.reset(scratch);
            S.ScratchSamples = room;
        }
        const int converted = swr_convert(S.Resampler.get(), S.Scratch.get(), room, planes, samples);
        if (converted < 0)
            Fail("the sound cannot be converted: " + ErrorText(converted));
        if (converted > 0 && av_audio_fifo_write(S.Fifo.get(), reinterpret_cast<void**>(S.Scratch.get()),
                                                 converted) < converted)
            throw std::bad_alloc();
        EncodeBuffered(false);
    }

    // Whole frames go to the encoder; at the end also the last, shorter one,
    // which the encoder pads with silence.
    void EncodeBuffered(bool last)
    {
        AVAudioFifo* fifo = S.Fifo.get();
        const int frameSize = S.Encoder->frame_size;
        while (av_audio_fifo_size(fifo) >= frameSize || (last && av_audio_fifo_size(fifo) > 0)) {
            const int samples = std::min(av_audio_fifo_size(fifo), frameSize);
            AVFrame* frame = S.ToEncode.get();
            av_frame_unref(frame);
            frame->nb_samples = samples;
            frame->format = S.Encoder->sample_fmt;
            frame->sample_rate = S.Encoder->sample_rate;
            if (av_channel_layout_copy(&frame->ch_layout, &S.Encoder->ch_layout) < 0 ||
                av_frame_get_buffer(frame, 0) < 0)
                throw std::bad_alloc();
            if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), samples) < samples)
                Fail("the sound cannot be converted");
            frame->pts = S.SamplesSent;
            S.SamplesSent += samples;
            Encode(frame);
        }
    }

    void Encode(const AVFrame* frame)
    {
        int result = avcodec_send_frame(S.Encoder.get(), frame);
        if (result < 0)
            Fail("the encoder failed: " + ErrorText(result));
        AVPacket* packet = S.Packet.get();
        AVStream* stream = S.Output->streams[0];
        while ((result = avcodec_receive_packet(S.Encoder.get(), packet)) >= 0) {
            av_packet_rescale_ts(packet, S.Encoder->time_base, stream->time_base);
            packet->stream_index = 0;
            result = av_write_frame(S.Output.get(), packet);
            av_packet_unref(packet);
            if (result < 0)
                WriteFailure(result);
        }
        if (result != AVERROR(EAGAIN) && result != AVERROR_EOF)
            Fail("the encoder failed: " + ErrorText(result));
    }

    void FinishOutput()
    {
        int result = av_write_trailer(S.Output.get());
        if (result < 0)
            WriteFailure(result);
        avio_flush(S.OutputIo.get());
        if (S.OutputIo->error < 0)
            WriteFailure(S.OutputIo->error);
        // A file the job may keep in place of its source must be on the disk; a
        // network or quota error may also only show here.
        if (fsync(S.OutputFile.Fd) != 0 && errno != EINVAL)
            Fail("cannot write the output file: " + std::string(std::strerror(errno)));
        const int fd = S.OutputFile.Fd;
        S.OutputFile.Fd = -1;
        if (close(fd) != 0 && errno != EINTR)
            Fail("cannot write the output file: " + std::string(std::strerror(errno)));
    }

    TSession& S;
    const TWmaEncArguments& Arguments;
    const std::function<void(int)>& OnProgress;
    const std::function<void(bool)>& OnOutputPending;
    dev_t InputDevice = 0;
    ino_t InputInode = 0;
};

} // namespace

std::string TWmaFileEncoder::Encode(const TWmaEncArguments& arguments)
{
    UsedBitRate = 0;
    std::string failure;
    bool outputCreated = false;
    {
        TSession session;
        try {
            UsedBitRate = TRun(session, arguments, OnProgress, OnOutputPending).Execute();
        } catch (const EEncodeFailure& error) {
            failure = error.what();
        } catch (const std::bad_alloc&) {
            failure = "out of memory";
        }
        outputCreated = session.OutputCreated;
    }
    if (outputCreated) {
        // An unfinished file must not stand where a complete one is expected.
        if (!failure.empty())
            unlink(arguments.Output.c_str());
        if (OnOutputPending)
            OnOutputPending(false);
    }
    return failure;
}

int TWmaFileEncoder::BitRateUsed() const
{
    return UsedBitRate;
}

std::string WmaEncVersion()
{
    const unsigned codec = avcodec_version();
    return std::string("velbrook-wmaenc ") + VELBROOK_VERSION + " (FFmpeg " + av_version_info() +
           ", libavcodec " + std::to_string(AV_VERSION_MAJOR(codec)) + "." +
           std::to_string(AV_VERSION_MINOR(codec)) + "." + std::to_string(AV_VERSION_MICRO(codec)) + ")";
}
