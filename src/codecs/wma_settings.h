#pragma once

#include <span>

// The WMA setting list: the positions that WMAOptions/BitRate stores, each with
// the encoder's -a_setting value, the entry the options dialog shows and the size
// ratio the job window's time estimate uses.
struct TWmaSetting {
    const char* Value;    // "64_44_2": kbit/s, kHz code, channels
    const char* ListText; // "44.100 kHz,  64 kbit/s, Stereo"
    int BitRate;          // kbit/s asked
    int SampleRate;       // Hz
    int Channels;
    // Bytes of a CD-quality WAV per byte of WMA, times 1000, at the bit rate asked.
    int AskedSizeRatio;
};

inline constexpr int WmaSettingCount = 33;
inline constexpr int DefaultWmaSetting = 8;
// FFmpeg's WMA encoder accepts no less (kbit/s); the encoder program writes the
// settings that ask for less at this rate.
inline constexpr int WmaLowestBitRate = 24;

std::span<const TWmaSetting> WmaSettings();

bool IsValidWmaSetting(int position);
// A position outside the list becomes the default; the caller's field is mended
// too, so the mended value is what gets saved.
int RepairWmaSetting(int& position);
// The setting at position, the default one outside the list.
const TWmaSetting& WmaSettingAt(int position);

// The bit rate the encoder program writes for the setting, in kbit/s.
int WmaWrittenBitRate(int position);
// The size ratio for the file the encoder program writes: that of the list,
// scaled to the written bit rate where the encoder raises it.
int WmaSizeRatio(int position);
