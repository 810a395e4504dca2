#pragma once

#include "cd/cd_drive.h"
#include "cd/report_relay.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/worker_thread.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

class QObject;

// The 44-byte header of an extracted track: PCM, 2 channels, 44100 Hz, 16 bits.
QByteArray CDWavHeader(qint64 dataLength);

// Turns one track of the disc in Drive into <output folder>/<BaseName>.wav and
// reports to NotifyWindow: WM_RIPERROR 1 or 2 when the drive cannot be set up,
// otherwise progress (WM_PROCESSINFO 0..100, 999 when the gain pass begins) and
// one completion (1000 with Result 0 finished, 3 a read or write failed, 5 the
// file could not be created). A stopped track ends without a completion.
// Reports reach NotifyWindow in order through a TReportRelay on its thread.
//
// Threads: created, resumed and freed on the owner's thread, which afterwards
// only sets StopRequested; everything else runs on the thread itself. Freeing
// waits for the thread to end.
class TCDRipThread final : public TWorkerThread {
public:
    TCDRipThread(int trackIndex, const QString& baseName);
    ~TCDRipThread() override;
    TCDRipThread(const TCDRipThread&) = delete;
    TCDRipThread& operator=(const TCDRipThread&) = delete;

    // Starts the thread once Drive and NotifyWindow are set (the only way to
    // start it; a second call does nothing).
    void Resume();

    QFile OutputStream;
    const int TrackIndex;   // the track number, as the table of contents numbers it
    const QString BaseName; // file name without folder and extension
    CDHandle Drive = 0;
    QObject* NotifyWindow = nullptr;
    std::atomic<bool> StopRequested{false};

protected:
    void Work() override;

private:
    enum class TChunkResult { Done, ReadFailed, WriteFailed };

    void ReadTrack(const QString& path, qint64 start, qint64 count);
    TChunkResult ReadChunk(qint64 lba, int frames);
    bool ApplyGain(const QString& path, int normalizePercent);
    char* WriteArea();
    bool FlushOutput(bool everything);
    void PostProgress(qint64 percent, TClock::time_point start);
    void Report(QEvent::Type type, qint64 lParam, std::unique_ptr<TProcessInfo> info = nullptr);
    void PostCompletion(int result);

    // What is not yet written to OutputStream, behind room for the header of
    // the library's read buffer (see ReadChunk).
    std::vector<std::uint32_t> WriteStorage;
    qsizetype WriteFill = 0;
    TReportRelay* Relay = nullptr; // made by Resume, on the owner's thread
    TClock::time_point LastWake;
    std::pair<qint64, QString> ShownElapsed;
    std::pair<qint64, QString> ShownEstimated;
};
