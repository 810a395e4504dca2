#pragma once

#include "core/safe_files.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <SDL_audio.h>

#include <memory>
#include <mutex>

class TAudioOut;
class TACSInput;

// What the device is doing. Closed: no file is open (every other mode counts
// as open).
enum class TDeviceMode { Closed, NotReady, Stopped, Playing, Recording, Seeking, Paused, Open };

// The recorder's sound device on one PCM WAV file (8 or 16 bits, mono or
// stereo): plays it from a position on the sound card, records into it from
// the sound card's input, and saves what it holds back into the file.
//
// The sound lives in memory from Open on; the file is read once and written
// only by Save, so a recording never touches it before the user saves, and
// closing the device leaves no handle on it. Recording at a position inserts
// the new sound there: what followed comes after it. Times are milliseconds.
//
// Threads. The window thread calls everything. SDL's capture thread runs
// Captured(), which appends to CaptureBuffer under CaptureLock; the playback
// sink's worker reads a copy of the sound made before its run started.
class TWaveDevice final : public QObject {
public:
    explicit TWaveDevice(QObject* parent = nullptr);
    ~TWaveDevice() override;
    TWaveDevice(const TWaveDevice&) = delete;
    TWaveDevice& operator=(const TWaveDevice&) = delete;

    // Opens a PCM WAV file; a device already open is closed first. False with
    // the reason when the file cannot be read or holds no PCM sound.
    bool Open(const QString& path, QString* error = nullptr);
    // Stops what runs and forgets the sound (unsaved recordings are dropped).
    void Close();
    bool IsOpen() const { return Mode() != TDeviceMode::Closed; }
    QString FileName() const { return Path; }
    TDeviceMode Mode() const;

    int SampleRate() const { return Rate; }
    int Channels() const { return ChannelCount; }
    int BitsPerSample() const { return Bits; }

    // The sound's length, a recording in progress included.
    qint64 Length() const;
    // Where playing or recording stands, or stopped.
    qint64 Position() const;

    // Plays from the position (clamped to the sound) to the end. False with
    // SDL's reason when no output device opens.
    bool Play(qint64 from, QString* error = nullptr);
    // Records at from, or where the device stands when from is negative, until
    // Stop. False with SDL's reason when no input device opens.
    bool Record(qint64 from = -1, QString* error = nullptr);
    // Ends playing or recording; a recording is put into the sound.
    void Stop();
    // Stops and stands at the position (clamped to the sound), where the next
    // recording without a position goes.
    void Seek(qint64 position);
    // Writes the sound into the opened file as a 44-byte-header PCM WAV,
    // complete or not at all: a private file beside it replaces it once all is
    // written. A link in its place is replaced, never written through.
    TFileError Save();

    // The sound as it is now (a running recording not yet included).
    QByteArray Sound() const { return SoundBytes; }

private:
    static void CaptureCallback(void* userdata, Uint8* stream, int length);
    void Captured(const Uint8* stream, int length);
    void FinishRecording();
    void EndPlayback() const;
    qint64 BytesToMs(qint64 bytes) const;
    qint64 MsToBytes(qint64 ms) const;
    int FrameBytes() const { return ChannelCount * Bits / 8; }

    QString Path;
    bool Opened = false;
    int Rate = 0;
    int ChannelCount = 0;
    int Bits = 0;
    QByteArray SoundBytes;
    // Where the device stands, in bytes of SoundBytes.
    mutable qint64 StandAt = 0;

    // Playback: a copy of the sound from PlayFrom on, played by Output.
    mutable std::unique_ptr<TAudioOut> Output;
    std::unique_ptr<TACSInput> PlaySource;
    qint64 PlayFrom = 0;

    // Recording: SDL's capture device and where the new sound goes.
    SDL_AudioDeviceID CaptureDevice = 0;
    qint64 InsertAt = 0;
    mutable std::mutex CaptureLock;
    QByteArray CaptureBuffer; // guarded by CaptureLock
};
