#include "vorbis_out.h"

#include "audio/acs_exception.h"
#include "codecs/ogg_chain.h"
#include "core/helpers.h"
#include "core/settings.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Input taken per step: 16384 stereo frames of 16 bits.
constexpr int BlockBytes = 65536;
// Frames handed to the encoder at a time.
constexpr int EncodeFrames = 1024;

constexpr int BitsPerSecondTable[] = {-1,     45000,  48000,  56000,  64000,  80000,  96000,  112000,
                                      128000, 144000, 160000, 192000, 224000, 256000, 320000, 499000};

bool IsBitRate(TVorbisBitRate rate)
{
    return rate >= brAutoSelect && rate <= br499;
}

QString ChannelsText(int channels)
{
    return channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo");
}

QString KbitText(int bitsPerSecond)
{
    return QString::number(bitsPerSecond / 1000.0, 'g', 6);
}

} // namespace

int VorbisBitsPerSecond(TVorbisBitRate rate)
{
    return IsBitRate(rate) ? BitsPerSecondTable[rate] : -1;
}

TVorbisBitRate VorbisBitRateAt(int position)
{
    const auto rate = static_cast<TVorbisBitRate>(position);
    return IsBitRate(rate) ? rate : brAutoSelect;
}

// The libraries' encoder state for one run, cleared in the order the
// libraries expect.
struct TVorbisOut::TEncoder {
    ogg_stream_state Stream{};
    ogg_page Page{};
    ogg_packet Packet{};
    vorbis_info Info{};
    vorbis_comment Comment{};
    vorbis_dsp_state Dsp{};
    vorbis_block Block{};
    bool StreamReady = false;
    bool InfoReady = false;
    bool CommentReady = false;
    bool DspReady = false;
    bool BlockReady = false;

    TEncoder() = default;
    TEncoder(const TEncoder&) = delete;
    TEncoder& operator=(const TEncoder&) = delete;
    ~TEncoder()
    {
        const TVorbisApi& api = VorbisApi();
        if (StreamReady)
            api.ogg_stream_clear(&Stream);
        if (BlockReady)
            api.vorbis_block_clear(&Block);
        if (DspReady)
            api.vorbis_dsp_clear(&Dsp);
        if (CommentReady)
            api.vorbis_comment_clear(&Comment);
        if (InfoReady)
            api.vorbis_info_clear(&Info);
    }
};

TVorbisOut::TVorbisOut(QObject* parent) : TACSFileOut(parent)
{
    CheckVorbisLibraries();
}

TVorbisOut::~TVorbisOut()
{
    ShutdownWorker();
}

void TVorbisOut::SetCompression(float quality)
{
    if (std::isnan(quality))
        return;
    CompressionValue = std::clamp(quality, 0.0f, 1.0f);
}

QStringList TVorbisOut::Comments() const
{
    std::lock_guard lock(CommentsLock);
    return CommentsValue;
}

void TVorbisOut::SetComments(const QStringList& comments)
{
    std::lock_guard lock(CommentsLock);
    CommentsValue = comments;
}

void TVorbisOut::SetDesiredMaximumBitrate(TVorbisBitRate rate)
{
    if (!IsBitRate(rate) || NominalValue == brAutoSelect)
        return;
    if (rate == brAutoSelect || rate >= NominalValue)
        MaximumValue = rate;
}

void TVorbisOut::SetDesiredNominalBitrate(TVorbisBitRate rate)
{
    if (!IsBitRate(rate))
        return;
    NominalValue = rate;
    if (rate < MinimumValue)
        MinimumValue = rate;
    if (MaximumValue < rate)
        MaximumValue = rate;
    if (rate == brAutoSelect)
        MaximumValue = brAutoSelect;
}

void TVorbisOut::SetMinimumBitrate(TVorbisBitRate rate)
{
    if (IsBitRate(rate) && rate <= NominalValue)
        MinimumValue = rate;
}

void TVorbisOut::SetFileMode(TFileOutputMode mode)
{
    FileModeValue = mode;
}

void TVorbisOut::PrepareOutput()
{
    EndOfStream = false;
    WriteFailed = false;
    Appending = false;
    AppendStart = 0;
    Carried = 0;
    Pending.clear();
    if (!ExternalStream() && FileName().isEmpty())
        throw EACSException(QStringLiteral("File name is not assigned."));
    // The input and the encoder are checked before the file is touched, so a
    // run that cannot start leaves an existing file as it was.
    BeginInputRead();
    try {
        CheckInputFormat();
        SetUpEncoder();
        OpenDestination();
        WriteHeaders();
        Block.resize(BlockBytes);
        Pending.reserve(2 * BlockBytes);
    } catch (...) {
        if (Appending && StreamDevice && StreamDevice->size() > AppendStart) {
            // Take back what was appended; the old streams stay as they were.
            if (auto* file = qobject_cast<QFileDevice*>(StreamDevice))
                file->resize(AppendStart);
        }
        CloseOutputFile();
        RemoveCreatedFile();
        StreamDevice = nullptr;
        Encoder.reset();
        throw;
    }
}

void TVorbisOut::CheckInputFormat()
{
    TACSInput* input = Input();
    Channels = input->GetChannels();
    SampleRate = input->GetSampleRate();
    BitsPerSample = input->GetBitsPerSample();
    if (Channels < 1 || Channels > 2 || SampleRate < 1 || (BitsPerSample != 8 && BitsPerSample != 16))
        throw EACSException(QStringLiteral("The input's sound format cannot be encoded to Ogg Vorbis."));
}

void TVorbisOut::SetUpEncoder()
{
    const TVorbisApi& api = VorbisApi();
    Encoder = std::make_unique<TEncoder>();
    TEncoder& e = *Encoder;
    api.vorbis_info_init(&e.Info);
    e.InfoReady = true;
    // The encoder refuses modes it has no tuning for (a mono stream at 320
    // kbit/s, say); going on would crash in the next call.
    if (NominalValue == brAutoSelect) {
        if (api.vorbis_encode_init_vbr(&e.Info, Channels, SampleRate, CompressionValue) != 0)
            throw EACSException(
                QStringLiteral("The Vorbis encoder does not support quality %1 for %2 at %3 Hz.")
                    .arg(QString::number(CompressionValue, 'f', 2), ChannelsText(Channels))
                    .arg(SampleRate));
    } else {
        const int nominal = VorbisBitsPerSecond(NominalValue);
        const int maximum = std::max(VorbisBitsPerSecond(MaximumValue), nominal);
        const int minimum = MinimumValue == brAutoSelect ? nominal : VorbisBitsPerSecond(MinimumValue);
        if (api.vorbis_encode_init(&e.Info, Channels, SampleRate, maximum, nominal, minimum) != 0)
            throw EACSException(
                QStringLiteral("The Vorbis encoder does not support a nominal bit rate of %1 "
                               "kbit/s (maximum %2, minimum %3 kbit/s) for %4 at %5 Hz.")
                    .arg(KbitText(nominal), KbitText(maximum), KbitText(minimum), ChannelsText(Channels))
                    .arg(SampleRate));
    }
    api.vorbis_comment_init(&e.Comment);
    e.CommentReady = true;
    for (const QString& line : Comments()) {
        const qsizetype equals = line.indexOf(u'=');
        // A field needs a name; a line without one has nothing to say.
        if (equals <= 0)
            continue;
        const QByteArray tag = line.left(equals).toUtf8();
        const QByteArray value = line.mid(equals + 1).toUtf8();
        api.vorbis_comment_add_tag(&e.Comment, tag.constData(), value.constData());
    }
    if (api.vorbis_analysis_init(&e.Dsp, &e.Info) != 0)
        throw EACSException(QStringLiteral("The Vorbis encoder could not be started."));
    e.DspReady = true;
    api.vorbis_block_init(&e.Dsp, &e.Block);
    e.BlockReady = true;
}

void TVorbisOut::OpenDestination()
{
    if (ExternalStream()) {
        StreamDevice = ExternalStreamDevice;
        Appending = FileModeValue == foAppend && StreamDevice->size() > 0;
    } else {
        const QString name = FileName();
        Appending = FileModeValue == foAppend && FileSizeOf(name) > 0;
        OpenOutputFile(Appending);
    }
    if (Appending) {
        AppendStart = StreamDevice->size();
        ContinueExistingFile();
    } else {
        RunSerial = static_cast<quint32>(SerialValue);
    }
    WrittenEnd = StreamDevice->pos();
}

void TVorbisOut::ContinueExistingFile()
{
    const TOggChain chain = ScanOggChain(*StreamDevice);
    if (!chain.WholePages || !chain.AllVorbis)
        throw EACSException(QStringLiteral("Cannot append data to this .ogg file."));
    if (!chain.SameFormat || chain.Channels != Channels || chain.SampleRate != SampleRate)
        throw EACSException(QStringLiteral("Cannot append data in different audio format."));
    // Two streams of one file with the same serial number are one stream to a
    // reader, which then sees only part of the file.
    RunSerial = NextOggSerial(chain);
    if (!StreamDevice->seek(AppendStart))
        throw EACSException(WriteErrorText(StreamDevice->errorString()));
}

void TVorbisOut::WriteHeaders()
{
    const TVorbisApi& api = VorbisApi();
    TEncoder& e = *Encoder;
    api.ogg_stream_init(&e.Stream, static_cast<int>(RunSerial));
    e.StreamReady = true;
    ogg_packet identification;
    ogg_packet comment;
    ogg_packet codebooks;
    if (api.vorbis_analysis_headerout(&e.Dsp, &e.Comment, &identification, &comment, &codebooks) != 0)
        throw EACSException(QStringLiteral("The Vorbis encoder could not be started."));
    api.ogg_stream_packetin(&e.Stream, &identification);
    api.ogg_stream_packetin(&e.Stream, &comment);
    api.ogg_stream_packetin(&e.Stream, &codebooks);
    // Flushing puts the identification header on a page of its own and the
    // other two on the next; audio starts on a fresh page.
    while (api.ogg_stream_flush(&e.Stream, &e.Page) != 0)
        QueuePage(e.Page);
    WritePending();
}

bool TVorbisOut::OutputStep(bool abort)
{
    if (!OutputEnabled())
        return true;
    ReportProgress();
    if (abort || !OutputEnabled() || EndOfStream)
        return false;
    const int count = FetchFromInput(Block.data() + Carried, BlockBytes - Carried);
    if (count > 0) {
        const int frameBytes = Channels * (BitsPerSample / 8);
        const int bytes = Carried + count;
        const int frames = bytes / frameBytes;
        if (frames > 0)
            Encode(Block.data(), frames);
        // A read may end inside a frame; its start waits for the rest.
        Carried = bytes - frames * frameBytes;
        if (Carried > 0)
            std::memmove(Block.data(), Block.data() + frames * frameBytes, static_cast<std::size_t>(Carried));
    } else {
        EndStream();
    }
    WritePending();
    return true;
}

void TVorbisOut::Encode(const char* bytes, int frames)
{
    const TVorbisApi& api = VorbisApi();
    TEncoder& e = *Encoder;
    if (frames == 0) {
        api.vorbis_analysis_wrote(&e.Dsp, 0);
        Drain();
        return;
    }
    // The encoder moves what it holds down after every block it takes out, so
    // it is fed in small pieces: a whole step's input at once costs about 7%
    // more time.
    const int frameBytes = Channels * (BitsPerSample / 8);
    for (int done = 0; done < frames; done += EncodeFrames) {
        const int count = std::min(EncodeFrames, frames - done);
        float** buffer = api.vorbis_analysis_buffer(&e.Dsp, count);
        Convert(reinterpret_cast<const uchar*>(bytes) + static_cast<std::ptrdiff_t>(done) * frameBytes, count,
                buffer);
        api.vorbis_analysis_wrote(&e.Dsp, count);
        Drain();
    }
}

void TVorbisOut::Convert(const uchar* in, int frames, float** buffer) const
{
    if (BitsPerSample == 16) {
        constexpr float scale = 1.0f / 32768.0f;
        if (Channels == 2) {
            float* left = buffer[0];
            float* right = buffer[1];
            for (int i = 0; i < frames; ++i) {
                left[i] = static_cast<float>(qFromLittleEndian<qint16>(in + 4 * i)) * scale;
                right[i] = static_cast<float>(qFromLittleEndian<qint16>(in + 4 * i + 2)) * scale;
            }
        } else {
            float* mono = buffer[0];
            for (int i = 0; i < frames; ++i)
                mono[i] = static_cast<float>(qFromLittleEndian<qint16>(in + 2 * i)) * scale;
        }
    } else {
        constexpr float scale = 1.0f / 128.0f;
        for (int i = 0; i < frames; ++i) {
            for (int c = 0; c < Channels; ++c)
                buffer[c][i] = static_cast<float>(static_cast<int>(in[i * Channels + c]) - 128) * scale;
        }
    }
}

void TVorbisOut::Drain()
{
    const TVorbisApi& api = VorbisApi();
    TEncoder& e = *Encoder;
    while (api.vorbis_analysis_blockout(&e.Dsp, &e.Block) == 1) {
        api.vorbis_analysis(&e.Block, nullptr);
        api.vorbis_bitrate_addblock(&e.Block);
        while (api.vorbis_bitrate_flushpacket(&e.Dsp, &e.Packet) == 1) {
            if (api.ogg_stream_packetin(&e.Stream, &e.Packet) != 0)
                throw EACSException(QStringLiteral("The Vorbis encoder failed."));
            while (!EndOfStream && api.ogg_stream_pageout(&e.Stream, &e.Page) != 0) {
                QueuePage(e.Page);
                if (api.ogg_page_eos(&e.Page))
                    EndOfStream = true;
            }
        }
    }
}

// Ends the stream: the samples still inside the encoder come out, and the last
// page carries the end-of-stream mark.
void TVorbisOut::EndStream()
{
    if (!Encoder || EndOfStream)
        return;
    Encode(nullptr, 0);
    const TVorbisApi& api = VorbisApi();
    while (!EndOfStream && api.ogg_stream_flush(&Encoder->Stream, &Encoder->Page) != 0) {
        QueuePage(Encoder->Page);
        if (api.ogg_page_eos(&Encoder->Page))
            EndOfStream = true;
    }
    EndOfStream = true;
}

void TVorbisOut::QueuePage(const ogg_page& page)
{
    Pending.insert(Pending.end(), page.header, page.header + page.header_len);
    Pending.insert(Pending.end(), page.body, page.body + page.body_len);
}

// Pages go out whole, one write per step.
void TVorbisOut::WritePending()
{
    if (Pending.empty())
        return;
    const auto length = static_cast<qint64>(Pending.size());
    // Goes on after a short write, so that a full disk is named as such.
    if (!WriteFully(*StreamDevice, Pending.data(), length)) {
        WriteFailed = true;
        throw EACSException(WriteErrorText(StreamDevice->errorString()));
    }
    Pending.clear();
    WrittenEnd += length;
}

void TVorbisOut::DoFinishOutput()
{
    std::exception_ptr failure;
    try {
        // Not after a failed write: the device is full or gone.
        if (!WriteFailed) {
            EndStream();
            WritePending();
        }
    } catch (...) {
        failure = std::current_exception();
    }
    // A failed write may have left part of a page behind.
    if (WriteFailed && OwnedFile && OwnedFile->size() > WrittenEnd)
        OwnedFile->resize(WrittenEnd);
    QString closeError;
    if (OwnedFile) {
        const QString reason = OwnedFile->errorString();
        if (!CloseOutputFile())
            closeError = reason;
    }
    StreamDevice = nullptr;
    {
        std::lock_guard lock(CommentsLock);
        CommentsValue.clear();
    }
    Encoder.reset();
    Pending.clear();
    Carried = 0;
    if (failure)
        std::rethrow_exception(failure);
    if (!closeError.isEmpty())
        throw EACSException(WriteErrorText(closeError));
}

void ConfigureVorbis(TVorbisOut& out, const TAppSettings& settings)
{
    if (settings.OggUseQuality) {
        out.SetCompression(static_cast<float>(settings.OggQuality - 10) / 100.0f);
        out.SetDesiredMaximumBitrate(brAutoSelect);
        out.SetDesiredNominalBitrate(brAutoSelect);
        out.SetMinimumBitrate(brAutoSelect);
    } else {
        // From a clean start, the nominal rate first: the maximum is only
        // accepted beside a nominal rate, so in the other order a job's first
        // file would lose the chosen maximum and its later files keep it.
        out.SetDesiredNominalBitrate(brAutoSelect);
        out.SetDesiredNominalBitrate(VorbisBitRateAt(settings.OggNominalBitRate));
        out.SetDesiredMaximumBitrate(VorbisBitRateAt(settings.OggMaxBitRate));
        out.SetMinimumBitrate(VorbisBitRateAt(settings.OggMinBitRate));
        out.SetCompression(0.2f);
    }
}
