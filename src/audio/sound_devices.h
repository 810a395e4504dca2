#pragma once

#include <QString>
#include <QStringList>

#include <SDL_audio.h>

// The sound card: SDL's audio subsystem, started once for the whole program,
// and the lists of output and input devices taken when it starts. The
// sound-card sink and the recorder both open their devices here.
//
// Channel 0 is the system's default device (it follows the desktop's choice);
// channel n above 0 is the device SDL lists at position n, the default device
// being listed first.
//
// Threads: any; the state below is guarded by one lock.

// Starts SDL's audio (only its audio) and takes the device lists. Called at
// program start; the queries below start it on first use too. Calling it
// again stops what runs first, so a test can start it with another driver.
void StartSoundSystem();
// Stops SDL's audio; no device may be open.
void StopSoundSystem();

// Devices SDL reported at start (0 when it could not tell or did not start).
int OutputDeviceCount();
int InputDeviceCount();
// The device names, default device first.
QStringList OutputDeviceNames();
QStringList InputDeviceNames();
// Why SDL's audio did not start (SDL's words); empty when it runs.
QString SoundSystemError();

// Opens the output (capture false) or input device of channel for wanted,
// exactly in that format (SDL converts for the hardware), paused. Returns
// SDL's device id, or 0 with SDL's reason in error.
SDL_AudioDeviceID OpenSoundDevice(bool capture, int channel, const SDL_AudioSpec& wanted, QString* error);

// Starts SDL's audio for the lifetime of the object: one in main.
class TSoundSystem final {
public:
    TSoundSystem() { StartSoundSystem(); }
    ~TSoundSystem() { StopSoundSystem(); }
    TSoundSystem(const TSoundSystem&) = delete;
    TSoundSystem& operator=(const TSoundSystem&) = delete;
};
