#pragma once

#include "audio/acs_output.h"
#include "codecs/vorbis_library.h"

#include <QStringList>

#include <memory>
#include <mutex>
#include <vector>

struct TAppSettings;

// The bit-rate choices of the Ogg options; the settings store their positions.
enum TVorbisBitRate {
    brAutoSelect = 0,
    br45,
    br48,
    br56,
    br64,
    br80,
    br96,
    br112,
    br128,
    br144,
    br160,
    br192,
    br224,
    br256,
    br320,
    br499
};

// Bits per second passed to the encoder; -1 (automatic) for brAutoSelect.
int VorbisBitsPerSecond(TVorbisBitRate rate);
// The choice at a stored position; brAutoSelect for a position outside the list.
TVorbisBitRate VorbisBitRateAt(int position);

// The Ogg Vorbis file sink: encodes 16-bit (or 8-bit) mono or stereo PCM from
// its input into an Ogg Vorbis file, by quality (Compression) or, when a
// nominal bit rate is chosen, by the bit-rate manager.
//
// The three header packets stand on pages of their own before the first audio
// page. Input is taken 64 KiB at a time, so a stop is seen at least that often.
// However the run ends (end of input, Stop, FinishOutput, an error after the
// start) the stream gets its end-of-stream page when it can still be written,
// so the file is always complete up to where encoding stopped. A mode the
// encoder refuses, or an input it cannot take, fails the run before the file is
// touched.
//
// With foAppend an existing Ogg Vorbis file of the same channels and sample
// rate gets a further logical stream after its last page, with a serial number
// no stream in the file uses yet (the file's last serial + 1, or further on).
//
// Threads: as TACSOutput. The setters are for the window thread while idle.
class TVorbisOut final : public TACSFileOut {
public:
    // Raises EACSException when one of the Ogg or Vorbis libraries is missing.
    explicit TVorbisOut(QObject* parent = nullptr);
    ~TVorbisOut() override;

    // Encoder quality, 0..1 (values outside are clamped).
    float Compression() const { return CompressionValue; }
    void SetCompression(float quality);
    // Lines name=value written as comment fields. Emptied when a run ends.
    QStringList Comments() const;
    void SetComments(const QStringList& comments);
    TVorbisBitRate DesiredMaximumBitrate() const { return MaximumValue; }
    // Accepted only when a nominal rate is chosen and rate is brAutoSelect or
    // not below it.
    void SetDesiredMaximumBitrate(TVorbisBitRate rate);
    TVorbisBitRate DesiredNominalBitrate() const { return NominalValue; }
    // Pulls the minimum down and the maximum up to the new nominal rate;
    // brAutoSelect (quality mode) also resets the maximum.
    void SetDesiredNominalBitrate(TVorbisBitRate rate);
    TVorbisBitRate MinimumBitrate() const { return MinimumValue; }
    // Accepted only when rate is not above the nominal rate.
    void SetMinimumBitrate(TVorbisBitRate rate);
    // The serial number of a new file's stream.
    qint32 Serial() const { return SerialValue; }
    void SetSerial(qint32 serial) { SerialValue = serial; }
    void SetFileMode(TFileOutputMode mode) override;

protected:
    void PrepareOutput() override;
    bool OutputStep(bool abort) override;
    void DoFinishOutput() override;

private:
    struct TEncoder;

    void CheckInputFormat();
    void SetUpEncoder();
    void OpenDestination();
    void ContinueExistingFile();
    void WriteHeaders();
    // Feeds frames of the input (or the end of the stream, frames 0) to the
    // encoder and queues the pages it completes.
    void Encode(const char* bytes, int frames);
    void Convert(const uchar* in, int frames, float** buffer) const;
    void Drain();
    void QueuePage(const ogg_page& page);
    void WritePending();
    void EndStream();

    float CompressionValue = 0.2f;
    TVorbisBitRate MaximumValue = brAutoSelect;
    TVorbisBitRate NominalValue = brAutoSelect;
    TVorbisBitRate MinimumValue = brAutoSelect;
    qint32 SerialValue = 0;
    // Cleared on the worker when a run ends, read on the window thread.
    mutable std::mutex CommentsLock;
    QStringList CommentsValue;

    // The run (worker thread once it is going).
    std::unique_ptr<TEncoder> Encoder;
    int Channels = 0;
    int BitsPerSample = 0;
    int SampleRate = 0;
    bool EndOfStream = false;
    bool WriteFailed = false;
    bool Appending = false;
    qint64 AppendStart = 0; // length of the file before this run appended to it
    quint32 RunSerial = 0;
    std::vector<char> Block; // input bytes, a partial frame carried to the next step
    int Carried = 0;
    std::vector<char> Pending; // pages not yet written
    qint64 WrittenEnd = 0;     // stream offset after the last complete write
};

// Sets the encoder from the Ogg options: quality (CompressPosition - 10) / 100
// with automatic bit rates, or the three stored bit rates with quality 0.2.
void ConfigureVorbis(TVorbisOut& out, const TAppSettings& settings);
