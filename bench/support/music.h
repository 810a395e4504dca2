#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// Music-like sound for the benches, so that encoders and converters work as
// hard as on real records: chords of three to four tones that change every
// half second, with a struck envelope and some vibrato, the two channels
// voiced apart, over white noise 30 dB down. The same arguments always give
// the same samples.
class TMusic {
public:
    TMusic(int rate, int channels);
    // The next frames frames, interleaved 16-bit samples in host order.
    void Next(std::int16_t* out, std::int64_t frames);

private:
    struct TVoice {
        std::uint32_t Phase = 0;
        std::uint32_t Step = 0;
        double Level = 0;
    };
    void NextChord();

    int Rate;
    int Channels;
    std::int64_t Frame = 0;
    std::int64_t ChordFrames;
    std::uint32_t Random = 1;
    std::vector<TVoice> Voices; // per channel, four each
};

// A 16-bit PCM WAV file of music; exits with 2 when it cannot be written.
void WriteMusicWav(const QString& path, int rate, int channels, int seconds);

// A CUE sheet with one audio track per entry of trackFrames (in CD frames of
// 1/75 s) and its BIN file of music beside it; exits with 2 when it cannot.
void WriteMusicImage(const QString& cuePath, const std::vector<std::int64_t>& trackFrames);

// Track lengths (CD frames) that fill minutes with count tracks of unequal length, as songs are.
std::vector<std::int64_t> SongLengths(int minutes, int count);
