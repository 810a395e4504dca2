#pragma once

#include "audio/acs_input.h"
#include "audio/acs_output.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TWaveIn;

// A source of generated 16-bit (or 8-bit) PCM: frame n of channel c holds
// SampleAt(n, c). It can announce a Size other than what it delivers, slow down
// each read, or fail a read, which the framework tests need.
class TToneSource final : public TACSInput {
public:
    TToneSource(qint64 frames, int channels = 2, int bits = 16, int rate = 44100);
    ~TToneSource() override;

    static qint16 SampleAt(qint64 frame, int channel);

    int GetBitsPerSample() override { return Bits; }
    int GetChannels() override { return Channels; }
    int GetSampleRate() override { return Rate; }
    int FetchData(void* buffer, int bufferSize) override;
    void BeginRead() override;
    void EndRead() override;

    // Size reported from BeginRead on: the real byte count unless set.
    std::atomic<qint64> AnnouncedSize{-2};
    // Sleep this long in each FetchData.
    std::atomic<int> ReadDelayMs{0};
    // The read after this many bytes raises an error (-1: never).
    std::atomic<qint64> FailAfterBytes{-1};
    std::atomic<int> BeginCount{0};
    std::atomic<int> EndCount{0};
    // FetchData calls in progress, to catch a read overlapping a swap.
    std::atomic<int> ReadsInProgress{0};
    // Set when EndRead came while a read was still going on.
    std::atomic<bool> EndedDuringRead{false};

    qint64 TotalBytes() const { return Frames * Channels * (Bits / 8); }

private:
    qint64 Frames;
    int Channels;
    int Bits;
    int Rate;
    qint64 Delivered = 0;
};

// A source of given bytes in a given format. Each read can be capped, to
// deliver in odd pieces as some sources do.
class TBytesSource final : public TACSInput {
public:
    TBytesSource(QByteArray bytes, int channels, int bits, int rate);
    ~TBytesSource() override;

    int GetBitsPerSample() override { return Bits; }
    int GetChannels() override { return Channels; }
    int GetSampleRate() override { return Rate; }
    int FetchData(void* buffer, int bufferSize) override;
    void BeginRead() override;
    void EndRead() override;

    // Largest read, in bytes (0: no cap).
    std::atomic<int> MaxRead{0};
    // Size reported from BeginRead on (-2: the real byte count).
    std::atomic<qint64> AnnouncedSize{-2};
    // What each read of the last run delivered, in order.
    std::vector<int> Reads() const;

private:
    mutable std::mutex ReadLock;
    std::vector<int> ReadCounts;
    QByteArray Data;
    int Channels;
    int Bits;
    int Rate;
    qint64 Delivered = 0;
};

// Passes its input through unchanged: the smallest real converter.
class TPassConverter final : public TACSConverter {
public:
    using TACSConverter::TACSConverter;
    ~TPassConverter() override;

    int GetBitsPerSample() override { return RequireInput()->GetBitsPerSample(); }
    int GetChannels() override { return RequireInput()->GetChannels(); }
    int GetSampleRate() override { return RequireInput()->GetSampleRate(); }
    int FetchData(void* buffer, int bufferSize) override;
    void BeginRead() override;
    void EndRead() override;
};

// A sink that keeps every byte it pulls in memory. PrepareOutput can be made
// to fail, and each finish is counted.
class TMemorySink final : public TACSOutput {
public:
    using TACSOutput::TACSOutput;
    ~TMemorySink() override;

    QByteArray Data() const;
    std::atomic<bool> FailPrepare{false};
    std::atomic<int> FinishCount{0};
    std::atomic<int> Steps{0};
    // Bytes asked for in each read.
    std::atomic<int> ReadSize{4096};

protected:
    void PrepareOutput() override;
    bool OutputStep(bool abort) override;
    void DoFinishOutput() override;

private:
    mutable std::mutex DataLock;
    QByteArray Received;
    std::vector<char> Buffer;
};

// Collects a sink's events, which arrive on its worker thread, and lets the
// test wait for them.
class TSinkEvents {
public:
    explicit TSinkEvents(TACSOutput& sink);

    int Done() const;
    int Progress() const;
    int Errors() const;
    QString LastError() const;
    std::vector<int> ProgressValues() const;
    // Waits until the predicate holds; false on timeout.
    bool WaitFor(const std::function<bool()>& predicate,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30));
    bool WaitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    // Shared with the handlers, so a late event never reaches a dead object.
    struct TState {
        std::mutex Lock;
        int DoneCount = 0;
        int ProgressCount = 0;
        int ErrorCount = 0;
        QString Error;
        std::vector<int> Values;
    };
    std::shared_ptr<TState> State = std::make_shared<TState>();
};

// Polls until the predicate holds; false on timeout.
bool WaitUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Runs a program and returns its standard output; fails the test when it does
// not exit with 0.
QByteArray RunProgram(const QString& program, const QStringList& arguments);

// Decodes any file sox reads into 16-bit samples (interleaved).
std::vector<qint16> SoxDecode(const QString& path);

// What the sound card played, as SDL's disk driver wrote it, without the
// silence the driver plays from the device's opening until the first bytes
// come and after the last (whole frames of the silence byte).
QByteArray Heard(const QByteArray& played, int frameBytes = 4, char silence = '\0');

// Reads a source to its end without a sink (the test thread pulls).
QByteArray ReadAll(TACSInput& source, int chunk = 5000);
std::vector<qint16> Samples(const QByteArray& bytes);
QByteArray Bytes(const std::vector<qint16>& samples);

// WAV files built by hand, independently of the code under test. Chunk pads an
// odd body when asked; FmtBody is the 16 common bytes followed by extra.
QByteArray Chunk(const char* id, const QByteArray& body, bool pad = true);
QByteArray FmtBody(int tag, int channels, int rate, int blockAlign, int bits, const QByteArray& extra = {});
QByteArray Riff(const QByteArray& chunks);
QByteArray MakePcmWav(int channels, int rate, int bits, const QByteArray& data);

// Samples of a test signal: a sweep with some noise, loud but not clipping.
std::vector<qint16> TestSignal(qint64 frames, int channels, int rate = 44100);

void WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);
quint32 U32At(const QByteArray& bytes, int offset);
quint16 U16At(const QByteArray& bytes, int offset);
