#include "sound_devices.h"

#include "core/prompter.h"

#include <SDL.h>

#include <mutex>

namespace {

struct TSoundSystemState {
    std::mutex Lock;
    bool Started = false;
    bool Running = false;
    QString Error;
    QStringList Outputs;
    QStringList Inputs;
};

TSoundSystemState& State()
{
    static TSoundSystemState state;
    return state;
}

QStringList ListDevices(bool capture)
{
    QStringList names;
    const int count = SDL_GetNumAudioDevices(capture ? 1 : 0);
    for (int i = 0; i < count; ++i) {
        const char* name = SDL_GetAudioDeviceName(i, capture ? 1 : 0);
        names.append(name ? QString::fromUtf8(name) : QString());
    }
    // The default device comes first, so that channel 0 (which opens the
    // default) and the first name of the list are the same device.
    char* defaultName = nullptr;
    SDL_AudioSpec spec{};
    if (SDL_GetDefaultAudioInfo(&defaultName, &spec, capture ? 1 : 0) == 0 && defaultName) {
        const qsizetype at = names.indexOf(QString::fromUtf8(defaultName));
        if (at > 0)
            names.move(at, 0);
        SDL_free(defaultName);
    }
    return names;
}

void StopLocked(TSoundSystemState& state)
{
    if (state.Running)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    state.Started = false;
    state.Running = false;
    state.Error.clear();
    state.Outputs.clear();
    state.Inputs.clear();
}

void StartLocked(TSoundSystemState& state)
{
    StopLocked(state);
    state.Started = true;
    // The program has its own signal handling, and the sound server shows the
    // program by its name.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, ProductName().toUtf8().constData());
    SDL_SetMainReady();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        state.Error = QString::fromUtf8(SDL_GetError());
        return;
    }
    state.Running = true;
    state.Outputs = ListDevices(false);
    state.Inputs = ListDevices(true);
}

TSoundSystemState& StartedState()
{
    TSoundSystemState& state = State();
    if (!state.Started)
        StartLocked(state);
    return state;
}

} // namespace

void StartSoundSystem()
{
    std::lock_guard lock(State().Lock);
    StartLocked(State());
}

void StopSoundSystem()
{
    std::lock_guard lock(State().Lock);
    StopLocked(State());
}

int OutputDeviceCount()
{
    std::lock_guard lock(State().Lock);
    return static_cast<int>(StartedState().Outputs.size());
}

int InputDeviceCount()
{
    std::lock_guard lock(State().Lock);
    return static_cast<int>(StartedState().Inputs.size());
}

QStringList OutputDeviceNames()
{
    std::lock_guard lock(State().Lock);
    return StartedState().Outputs;
}

QStringList InputDeviceNames()
{
    std::lock_guard lock(State().Lock);
    return StartedState().Inputs;
}

QString SoundSystemError()
{
    std::lock_guard lock(State().Lock);
    return StartedState().Error;
}

SDL_AudioDeviceID OpenSoundDevice(bool capture, int channel, const SDL_AudioSpec& wanted, QString* error)
{
    std::lock_guard lock(State().Lock);
    TSoundSystemState& state = StartedState();
    auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return SDL_AudioDeviceID{0};
    };
    if (!state.Running)
        return fail(state.Error);
    const QStringList& names = capture ? state.Inputs : state.Outputs;
    QByteArray name;
    if (channel != 0) {
        if (channel < 0 || channel >= names.size())
            return fail(QStringLiteral("Channel %1 is not available").arg(channel));
        name = names.at(channel).toUtf8();
    }
    SDL_AudioSpec obtained{};
    // No change allowed: SDL converts to whatever the hardware takes, so the
    // caller's bytes are the format it asked for.
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(channel == 0 ? nullptr : name.constData(),
                                                         capture ? 1 : 0, &wanted, &obtained, 0);
    if (device == 0)
        return fail(QString::fromUtf8(SDL_GetError()));
    return device;
}
