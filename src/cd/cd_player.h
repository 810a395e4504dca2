#pragma once

#include "audio/acs_input.h"
#include "cd/cd_drive.h"

#include <QEvent>
#include <QObject>
#include <QPointer>

#include <memory>
#include <mutex>
#include <vector>

class TAudioOut;

// The notice a play with a notify target ends with: delivered to the target on
// the window thread, as a TMessageEvent (core/messages.h) of this type whose
// WParam is the TPlayResult.
inline constexpr QEvent::Type MM_MCINOTIFY = static_cast<QEvent::Type>(QEvent::User + 117);

enum class TPlayResult {
    Successful = 1, // the range has been played to its end
    Superseded = 2, // another play replaced it
    Aborted = 4,    // Stop or Close ended it
    Failure = 8,    // the drive could not read the range, or the sound device failed
};

enum class TPlayerMode { Closed, Stopped, Playing, Paused };

// Sectors [First, End) of a drive as CD audio (44100 Hz, 16 bits, stereo).
// A sector the drive cannot read ends the read with an EACSException, so the
// sink's run ends in its OnThreadException instead of playing garbage.
//
// Threads: the window thread sets the range and calls BeginRead; the sink's
// worker calls FetchData and EndRead. The drive library serialises the reads
// on its handle, so the rip thread and the track list may use the same drive.
class TCDSectorSource final : public TACSInput {
public:
    // Sectors read from the drive at once: about a tenth of a second.
    static constexpr int ReadFrames = 8;

    explicit TCDSectorSource(QObject* parent = nullptr);
    ~TCDSectorSource() override;

    // Set while not busy.
    void SetRange(CDHandle drive, qint64 first, qint64 end);

    int GetBitsPerSample() override { return 16; }
    int GetChannels() override { return 2; }
    int GetSampleRate() override { return 44100; }
    int GetTotalTime() override;
    int FetchData(void* buffer, int bufferSize) override;
    void BeginRead() override;
    void EndRead() override;

private:
    bool Refill();

    CDHandle Drive = 0;
    qint64 First = 0;
    qint64 End = 0;
    // Worker only during a read.
    qint64 Next = 0;
    std::vector<std::uint8_t> Block; // a CDTrackBuffer and its data area
    int BlockUsed = 0;
    int BlockLength = 0;
};

// Plays ranges of an audio disc through the sound card: what a media control
// device of type CD audio does, on the drive library and TAudioOut. Positions
// are sector numbers of the disc.
//
// Open takes a drive handle the caller keeps (the window's own, shared with
// the rip thread and the track list). Play reads the range on the sink's
// worker thread; Stop, a new Play and Close end a run at once and wait for a
// read in progress, and Close joins the worker, so no read reaches a handle
// the caller closes afterwards.
//
// Threads: every operation on the window thread. The sink's worker only posts
// run ends to this object (a TMessageEvent), which hands the notice to the
// target on the window thread; a notice of a run that has since been replaced
// is not delivered as Successful or Failure.
class TCDPlayer final : public QObject {
public:
    explicit TCDPlayer(QObject* parent = nullptr);
    ~TCDPlayer() override;

    // Reads the disc's table of contents; false (and closed) when the drive
    // has none. An open player is closed first.
    bool Open(CDHandle drive);
    // Stops a play (its target gets Aborted) and releases the sound device and
    // the worker. Nothing happens when closed.
    void Close();
    TPlayerMode Mode() const;
    CDHandle Drive() const { return DriveValue; }

    // The start sector of track n; -1 when the disc has no such track or the
    // player is closed.
    qint64 TrackPosition(int track) const;
    // Where the disc's audio ends: the lead-out, or the end of the audio
    // session of a disc that also holds data.
    qint64 EndOfDisc() const;

    // Plays from start to end (-1: to the end of the disc). A play still
    // running is ended first (its target gets Superseded). notify, when given,
    // gets the MM_MCINOTIFY of this play. False, with nothing playing, when
    // closed or the range is empty or off the disc.
    bool Play(qint64 start, qint64 end, QObject* notify);
    // False when nothing is playing.
    bool Pause();
    // Continues a paused play; false when none is paused.
    bool Resume();
    // Ends the play at once (its target gets Aborted); false when nothing is
    // playing or paused.
    bool Stop();

protected:
    bool event(QEvent* event) override;

private:
    void EndRun(TPlayResult result);
    void Notify(QObject* target, TPlayResult result);

    CDHandle DriveValue = 0;
    std::vector<qint64> Starts; // track n at Starts[n - FirstTrack]
    int FirstTrack = 1;
    qint64 AudioEnd = 0;
    std::unique_ptr<TCDSectorSource> Source;
    std::unique_ptr<TAudioOut> Sink;
    TPlayerMode ModeValue = TPlayerMode::Closed;
    QPointer<QObject> Target;
    // Counts runs; a run's end carries its number, so a late notice of a run
    // that was stopped or replaced meanwhile is recognised. The handlers on
    // the worker get their number by value.
    qint64 Run = 0;
};
