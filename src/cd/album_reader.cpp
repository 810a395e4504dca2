#include "album_reader.h"

#include "core/helpers.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QtEndian>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

// FFmpeg's own messages are details for a developer; the reader reports what
// went wrong in its own words. QT_LOGGING_RULES="velbrook.ffmpeg.debug=true"
// shows them.
Q_LOGGING_CATEGORY(lcFfmpeg, "velbrook.ffmpeg", QtInfoMsg)

namespace {

constexpr int CDSampleRate = 44100;
constexpr AVRational CDSampleTime{1, CDSampleRate};
// A read further ahead than this is reached by seeking, not by decoding all
// that lies before it.
constexpr qint64 SeekAheadSamples = 10 * CDSampleRate;
// Damaged stretches remembered per file; past this many they are merged.
constexpr size_t MaxBadRanges = 4096;
// Probes remembered, so a process that opens many albums does not keep them all.
constexpr size_t MaxProbes = 512;

void LogFfmpeg(void* object, int level, const char* format, va_list arguments)
{
    if (level > AV_LOG_WARNING || !lcFfmpeg().isDebugEnabled())
        return;
    char line[1024];
    int prefix = 1;
    av_log_format_line2(object, level, format, arguments, line, sizeof line, &prefix);
    qCDebug(lcFfmpeg).noquote() << QString::fromUtf8(line).trimmed();
}

void EnsureFfmpegLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(LogFfmpeg); });
}

struct TFormatClose {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct TCodecFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct TPacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct TFrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

// A sound file opened for decoding its audio stream.
struct TMedia {
    std::unique_ptr<AVFormatContext, TFormatClose> Format;
    std::unique_ptr<AVCodecContext, TCodecFree> Codec;
    int Stream = -1;
    AVRational TimeBase{1, CDSampleRate};
    qint64 StartTime = 0; // in TimeBase
    QString Problem;

    // Samples from the start of the stream of a time stamp.
    qint64 SampleOf(std::int64_t timestamp) const
    {
        return av_rescale_q(timestamp - StartTime, TimeBase, CDSampleTime);
    }
};

bool IsCdSampleFormat(int format)
{
    return format == AV_SAMPLE_FMT_S16 || format == AV_SAMPLE_FMT_S16P;
}

QString FormatText(const AVCodecParameters& parameters, int sampleFormat)
{
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(parameters.codec_id);
    const QString codec =
        descriptor ? QString::fromUtf8(descriptor->long_name ? descriptor->long_name : descriptor->name)
                   : QStringLiteral("unknown audio");
    const auto format = static_cast<AVSampleFormat>(sampleFormat);
    const bool floating = format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP ||
                          format == AV_SAMPLE_FMT_DBL || format == AV_SAMPLE_FMT_DBLP;
    int bits = parameters.bits_per_raw_sample;
    if (bits <= 0)
        bits = sampleFormat >= 0 ? av_get_bytes_per_sample(format) * 8 : 0;
    if (bits <= 0)
        bits = parameters.bits_per_coded_sample;
    // Lossy formats decode to floating point: say so rather than a bit count
    // the file does not have.
    return QStringLiteral("%1, %2 Hz, %3, %4 channels")
        .arg(codec)
        .arg(parameters.sample_rate)
        .arg(floating ? QStringLiteral("floating-point samples") : QStringLiteral("%1 bits").arg(bits))
        .arg(parameters.ch_layout.nb_channels);
}

// Opens the file and its decoder; Problem says why when it cannot serve as CD
// audio.
TMedia OpenMedia(const QString& path)
{
    EnsureFfmpegLog();
    TMedia media;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr) < 0) {
        media.Problem = QStringLiteral("FFmpeg cannot read it as a sound file");
        return media;
    }
    media.Format.reset(format);
    if (avformat_find_stream_info(format, nullptr) < 0) {
        media.Problem = QStringLiteral("FFmpeg cannot read it as a sound file");
        return media;
    }
    media.Stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (media.Stream < 0) {
        media.Problem = QStringLiteral("it holds no sound");
        return media;
    }
    const AVStream* stream = format->streams[media.Stream];
    const AVCodecParameters& parameters = *stream->codecpar;
    media.TimeBase = stream->time_base;
    media.StartTime = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
    if (!codec) {
        media.Problem = QStringLiteral("FFmpeg has no decoder for its format (%1)")
                            .arg(FormatText(parameters, parameters.format));
        return media;
    }
    media.Codec.reset(avcodec_alloc_context3(codec));
    if (!media.Codec || avcodec_parameters_to_context(media.Codec.get(), &parameters) < 0) {
        media.Problem = QStringLiteral("out of memory");
        return media;
    }
    // One thread keeps memory small; lossless decoders are fast enough on it.
    media.Codec->thread_count = 1;
    // Damaged frames must fail, not come out as noise: the checksums of the
    // lossless formats are checked.
    media.Codec->err_recognition = AV_EF_CRCCHECK | AV_EF_EXPLODE;
    if (avcodec_open2(media.Codec.get(), codec, nullptr) < 0) {
        media.Problem = QStringLiteral("FFmpeg cannot decode its format (%1)")
                            .arg(FormatText(parameters, parameters.format));
        return media;
    }
    const int sampleFormat =
        media.Codec->sample_fmt != AV_SAMPLE_FMT_NONE ? media.Codec->sample_fmt : parameters.format;
    if (parameters.sample_rate != CDSampleRate || parameters.ch_layout.nb_channels != 2 ||
        !IsCdSampleFormat(sampleFormat) || (parameters.bits_per_raw_sample > 16)) {
        media.Problem = QStringLiteral("%1; only CD audio (44100 Hz, 16 bits, 2 channels) can be read")
                            .arg(FormatText(parameters, sampleFormat));
        return media;
    }
    return media;
}

// Samples of a file whose length its header does not state: decoded to the end.
qint64 CountSamples(TMedia& media)
{
    std::unique_ptr<AVPacket, TPacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, TFrameFree> frame(av_frame_alloc());
    if (!packet || !frame)
        return 0;
    qint64 end = 0;
    auto drain = [&] {
        while (avcodec_receive_frame(media.Codec.get(), frame.get()) == 0) {
            const std::int64_t ts = frame->best_effort_timestamp;
            const qint64 at = ts != AV_NOPTS_VALUE ? media.SampleOf(ts) : end;
            end = std::max(end, at + frame->nb_samples);
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(media.Format.get(), packet.get()) >= 0) {
        if (packet->stream_index == media.Stream)
            avcodec_send_packet(media.Codec.get(), packet.get());
        av_packet_unref(packet.get());
        drain();
    }
    avcodec_send_packet(media.Codec.get(), nullptr);
    drain();
    return end;
}

// The length a WAV file's data chunk declares, in stereo samples of 16 bits;
// -1 when it declares none. FFmpeg goes by the bytes the file holds, but a
// file cut short must read as one with sectors missing, not as a shorter disc.
qint64 WavDeclaredSamples(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray riff = file.read(12);
    if (riff.size() != 12 || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WAVE")
        return -1;
    for (int chunks = 0; chunks < 1000; ++chunks) {
        const QByteArray header = file.read(8);
        if (header.size() != 8)
            return -1;
        const quint32 size = qFromLittleEndian<quint32>(header.constData() + 4);
        if (header.startsWith("data"))
            return size == 0 || size == 0xFFFFFFFF ? -1 : qint64(size) / 4;
        if (!file.seek(file.pos() + size + (size & 1)))
            return -1;
    }
    return -1;
}

TAudioFileInfo Probe(const QString& path)
{
    TAudioFileInfo info;
    TMedia media = OpenMedia(path);
    if (!media.Problem.isEmpty()) {
        info.Problem = media.Problem;
        return info;
    }
    const AVStream* stream = media.Format->streams[media.Stream];
    // Only a length the file states is exact; one estimated from the bit rate
    // is not.
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0 &&
        media.Format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM)
        info.Samples = av_rescale_q(stream->duration, stream->time_base, CDSampleTime);
    else
        info.Samples = CountSamples(media);
    if (std::strcmp(media.Format->iformat->name, "wav") == 0)
        info.Samples = std::max(info.Samples, WavDeclaredSamples(path));
    if (info.Samples <= 0)
        info.Problem = QStringLiteral("it holds no sound");
    return info;
}

struct TProbe {
    qint64 Size = -1;
    qint64 Modified = 0;
    TAudioFileInfo Info;
};

std::mutex ProbeLock;
std::map<QString, TProbe> Probes;

QString SampleTimeText(qint64 sample)
{
    return TimeText(sample / CDSampleRate);
}

} // namespace

TAudioFileInfo ProbeAudioFile(const QString& path)
{
    const QFileInfo file(path);
    const qint64 size = file.size();
    const qint64 modified = file.lastModified().toMSecsSinceEpoch();
    {
        std::lock_guard guard(ProbeLock);
        const auto known = Probes.find(path);
        if (known != Probes.end() && known->second.Size == size && known->second.Modified == modified)
            return known->second.Info;
    }
    const TAudioFileInfo info = Probe(path);
    std::lock_guard guard(ProbeLock);
    if (Probes.size() >= MaxProbes)
        Probes.clear();
    Probes[path] = {size, modified, info};
    return info;
}

// One sound file decoded forward into a window of samples: the samples of the
// last read and what the last decoded frame brought beyond them.
class TAlbumReader::TDecoder {
public:
    TDecoder(QString path, qint64 samples) : Path(std::move(path)), Samples(samples) {}

    // Reads count samples from first (within the declared length) as 16-bit
    // little-endian stereo into out. False, with the reason, when any of them
    // cannot be decoded.
    bool Read(qint64 first, qint64 count, std::uint8_t* out, QString* why)
    {
        const qint64 end = first + count;
        if (!Media.Format && !Open()) {
            *why = Failure;
            return false;
        }
        if (!Positioned || first < PendingStart || first > PendingEnd() + SeekAheadSamples) {
            if (!Seek(first)) {
                *why = Failure;
                return false;
            }
        }
        while ((!Positioned || PendingEnd() < end) && !Ended)
            DecodeMore(first);
        if (Ended && PendingEnd() < Samples)
            MarkBad(PendingEnd(), Samples);
        const qint64 bad = FirstBad(first, end);
        if (bad >= 0 || PendingStart > first || PendingEnd() < end) {
            *why = QStringLiteral("the audio of %1 cannot be decoded at %2")
                       .arg(QFileInfo(Path).fileName(), SampleTimeText(bad >= 0 ? bad : first));
            return false;
        }
        qToLittleEndian<qint16>(Pending.data() + (first - PendingStart) * 2, count * 2, out);
        return true;
    }

private:
    qint64 PendingEnd() const { return PendingStart + static_cast<qint64>(Pending.size() / 2); }

    // Opens the file afresh, positioned at its start.
    bool Open()
    {
        Media = OpenMedia(Path);
        // The frame may be in use by the caller when a seek is undone.
        if (!Packet)
            Packet.reset(av_packet_alloc());
        if (!Frame)
            Frame.reset(av_frame_alloc());
        Pending.clear();
        PendingStart = 0;
        Positioned = true;
        Ended = false;
        Draining = false;
        if (!Media.Problem.isEmpty() || !Packet || !Frame) {
            Failure = QStringLiteral("%1: %2").arg(QFileInfo(Path).fileName(),
                                                   Media.Problem.isEmpty() ? QStringLiteral("out of memory")
                                                                           : Media.Problem);
            Media = TMedia{};
            return false;
        }
        return true;
    }

    // Moves to a frame at or before target; the first frame decoded says where.
    bool Seek(qint64 target)
    {
        if (target < SeekAheadSamples)
            return Open();
        const std::int64_t timestamp = Media.StartTime + av_rescale_q(target, CDSampleTime, Media.TimeBase);
        if (av_seek_frame(Media.Format.get(), Media.Stream, timestamp, AVSEEK_FLAG_BACKWARD) < 0)
            return Open();
        avcodec_flush_buffers(Media.Codec.get());
        Pending.clear();
        Positioned = false;
        SeekTarget = target;
        Ended = false;
        Draining = false;
        return true;
    }

    // Decodes the next frame into the window, keeping nothing before keepFrom.
    // Damaged packets are left out: the next good frame's time stamp shows
    // the gap they leave.
    void DecodeMore(qint64 keepFrom)
    {
        if (!Media.Codec) {
            Ended = true; // the file could not be opened again
            return;
        }
        for (int errors = 0;;) {
            const int received = avcodec_receive_frame(Media.Codec.get(), Frame.get());
            if (received == 0) {
                Take(*Frame, keepFrom);
                av_frame_unref(Frame.get());
                return;
            }
            if (received == AVERROR_EOF || (received != AVERROR(EAGAIN) && ++errors > 1000)) {
                Ended = true;
                return;
            }
            if (received != AVERROR(EAGAIN))
                continue;
            if (Draining) {
                Ended = true;
                return;
            }
            if (av_read_frame(Media.Format.get(), Packet.get()) < 0) {
                // The end of the file, or a read error: either way nothing more comes.
                avcodec_send_packet(Media.Codec.get(), nullptr);
                Draining = true;
                continue;
            }
            if (Packet->stream_index == Media.Stream)
                avcodec_send_packet(Media.Codec.get(), Packet.get());
            av_packet_unref(Packet.get());
        }
    }

    void Take(const AVFrame& frame, qint64 keepFrom)
    {
        const std::int64_t timestamp = frame.best_effort_timestamp;
        if (!Positioned) {
            // After a seek only a time stamp says where we are; a seek that
            // went past its target is undone by starting over.
            if (timestamp == AV_NOPTS_VALUE || Media.SampleOf(timestamp) > SeekTarget) {
                if (!Open())
                    Ended = true;
                return;
            }
            PendingStart = Media.SampleOf(timestamp);
            Positioned = true;
        }
        if (frame.sample_rate != CDSampleRate || frame.ch_layout.nb_channels != 2 ||
            !IsCdSampleFormat(frame.format))
            return; // not CD audio: left out, so it reads as a gap
        qint64 at = timestamp != AV_NOPTS_VALUE ? Media.SampleOf(timestamp) : PendingEnd();
        qint64 skip = 0;
        if (at > PendingEnd()) {
            MarkBad(PendingEnd(), at);
            Pending.clear();
            PendingStart = at;
        } else if (at < PendingEnd()) {
            skip = PendingEnd() - at;
            if (skip >= frame.nb_samples)
                return;
            at = PendingEnd();
        }
        const qint64 n = frame.nb_samples - skip;
        const size_t old = Pending.size();
        Pending.resize(old + static_cast<size_t>(n) * 2);
        std::int16_t* to = Pending.data() + old;
        if (frame.format == AV_SAMPLE_FMT_S16) {
            std::memcpy(to, reinterpret_cast<const std::int16_t*>(frame.data[0]) + skip * 2,
                        static_cast<size_t>(n) * 4);
        } else {
            const auto* left = reinterpret_cast<const std::int16_t*>(frame.data[0]) + skip;
            const auto* right = reinterpret_cast<const std::int16_t*>(frame.data[1]) + skip;
            for (qint64 i = 0; i < n; ++i) {
                to[2 * i] = left[i];
                to[2 * i + 1] = right[i];
            }
        }
        if (PendingStart < keepFrom) {
            const qint64 drop = std::min<qint64>(keepFrom - PendingStart, PendingEnd() - PendingStart);
            Pending.erase(Pending.begin(), Pending.begin() + drop * 2);
            PendingStart += drop;
        }
    }

    void MarkBad(qint64 from, qint64 to)
    {
        if (to <= from)
            return;
        if (!Bad.empty() && (from <= Bad.back().second || Bad.size() >= MaxBadRanges) &&
            to >= Bad.back().first) {
            Bad.back().first = std::min(Bad.back().first, from);
            Bad.back().second = std::max(Bad.back().second, to);
            return;
        }
        Bad.emplace_back(from, to);
    }

    // The first sample of [from, to) known to be damaged, -1 when none is.
    qint64 FirstBad(qint64 from, qint64 to) const
    {
        qint64 first = -1;
        for (const auto& [badFrom, badTo] : Bad) {
            if (badFrom < to && badTo > from) {
                const qint64 at = std::max(badFrom, from);
                first = first < 0 ? at : std::min(first, at);
            }
        }
        return first;
    }

    QString Path;
    qint64 Samples = 0;
    TMedia Media;
    std::unique_ptr<AVPacket, TPacketFree> Packet;
    std::unique_ptr<AVFrame, TFrameFree> Frame;
    std::vector<std::int16_t> Pending; // interleaved stereo from PendingStart
    qint64 PendingStart = 0;
    bool Positioned = false; // whether PendingStart is known (not right after a seek)
    qint64 SeekTarget = 0;
    bool Draining = false;
    bool Ended = false;
    std::vector<std::pair<qint64, qint64>> Bad; // sample ranges that did not decode
    QString Failure;
};

TAlbumReader::TAlbumReader(const TDiscImage& image) : Image(image)
{
}

TAlbumReader::~TAlbumReader()
{
    if (RawHandle >= 0)
        ::close(RawHandle);
}

bool TAlbumReader::Read(qint64 start, qint64 count, std::uint8_t* data, QString* error)
{
    const qint64 end = start + count;
    auto piece = std::upper_bound(Image.Pieces.begin(), Image.Pieces.end(), start,
                                  [](qint64 sector, const TImagePiece& p) { return sector < p.DiscStart; });
    if (piece == Image.Pieces.begin() || end > Image.LeadOut) {
        *error = QStringLiteral("Sectors %1 to %2 lie beyond the end of the disc (%3)")
                     .arg(start)
                     .arg(end - 1)
                     .arg(Image.LeadOut);
        return false;
    }
    --piece;
    for (qint64 at = start; at < end; ++piece) {
        const qint64 n = std::min(end, piece->DiscStart + piece->Frames) - at;
        std::uint8_t* to = data + (at - start) * CDFrameBytes;
        if (n <= 0)
            continue;
        QString why;
        bool read = true;
        if (piece->File < 0) {
            std::memset(to, 0, static_cast<size_t>(n) * CDFrameBytes);
        } else {
            const qint64 inFile = piece->FileStart + (at - piece->DiscStart);
            read = Image.Files[size_t(piece->File)].Kind == TImageFileKind::Audio
                       ? ReadAudio(piece->File, inFile, n, to, &why)
                       : ReadRaw(piece->File, inFile, n, to, &why);
        }
        if (!read) {
            *error = QStringLiteral("Sectors %1 to %2 cannot be read: %3").arg(start).arg(end - 1).arg(why);
            return false;
        }
        at += n;
    }
    return true;
}

bool TAlbumReader::ReadRaw(int file, qint64 first, qint64 count, std::uint8_t* data, QString* error)
{
    const TImageFile& raw = Image.Files[size_t(file)];
    if (RawFile != file) {
        if (RawHandle >= 0)
            ::close(RawHandle);
        RawHandle = ::open(QFile::encodeName(raw.Path).constData(), O_RDONLY | O_CLOEXEC);
        RawFile = RawHandle >= 0 ? file : -1;
        if (RawHandle < 0) {
            *error = QStringLiteral("%1 cannot be opened: %2")
                         .arg(raw.Path, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
    }
    // The file may have shrunk since the sheet was read: it must hold every
    // sector asked for now.
    struct stat status {};
    const qint64 bytes = count * CDFrameBytes;
    if (::fstat(RawHandle, &status) != 0 || status.st_size < (first + count) * CDFrameBytes) {
        *error = QStringLiteral("the image's data file %1 ends before them").arg(raw.Path);
        return false;
    }
    for (qint64 done = 0; done < bytes;) {
        const ssize_t got = ::pread(RawHandle, data + done, static_cast<size_t>(bytes - done),
                                    static_cast<off_t>(first * CDFrameBytes + done));
        if (got <= 0) {
            *error = QStringLiteral("the image's data file %1 ends before them").arg(raw.Path);
            return false;
        }
        done += got;
    }
    if (raw.Kind == TImageFileKind::Motorola) {
        for (qint64 i = 0; i + 1 < bytes; i += 2)
            std::swap(data[i], data[i + 1]);
    }
    return true;
}

bool TAlbumReader::ReadAudio(int file, qint64 first, qint64 count, std::uint8_t* data, QString* error)
{
    const TImageFile& audio = Image.Files[size_t(file)];
    if (first + count > audio.Frames) {
        *error = QStringLiteral("the file %1 ends before them").arg(audio.Path);
        return false;
    }
    if (DecoderFile != file) {
        Decoder = std::make_unique<TDecoder>(audio.Path, audio.Samples);
        DecoderFile = file;
    }
    const qint64 firstSample = first * CDSamplesPerFrame;
    const qint64 wanted = count * CDSamplesPerFrame;
    const qint64 held = std::clamp<qint64>(audio.Samples - firstSample, 0, wanted);
    if (held > 0 && !Decoder->Read(firstSample, held, data, error))
        return false;
    // The file's last sector is filled up with silence, as a burner pads it.
    std::memset(data + held * 4, 0, static_cast<size_t>(wanted - held) * 4);
    return true;
}
