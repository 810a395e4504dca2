#include "wma_settings.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<TWmaSetting, WmaSettingCount> Settings{{
    {"192_48_2", "48.000 kHz, 192 kbit/s, Stereo", 192, 48000, 2, 7315},
    {"160_48_2", "48.000 kHz, 160 kbit/s, Stereo", 160, 48000, 2, 8770},
    {"128_48_2", "48.000 kHz, 128 kbit/s, Stereo", 128, 48000, 2, 10949},
    {"192_44_2", "44.100 kHz, 192 kbit/s, Stereo", 192, 44100, 2, 7316},
    {"160_44_2", "44.100 kHz, 160 kbit/s, Stereo", 160, 44100, 2, 8772},
    {"128_44_2", "44.100 kHz, 128 kbit/s, Stereo", 128, 44100, 2, 10954},
    {"96_44_2", "44.100 kHz,  96 kbit/s, Stereo", 96, 44100, 2, 14581},
    {"80_44_2", "44.100 kHz,  80 kbit/s, Stereo", 80, 44100, 2, 17471},
    {"64_44_2", "44.100 kHz,  64 kbit/s, Stereo", 64, 44100, 2, 21790},
    {"48_44_2", "44.100 kHz,  48 kbit/s, Stereo", 48, 44100, 2, 28963},
    {"32_44_2", "44.100 kHz,  32 kbit/s, Stereo", 32, 44100, 2, 43174},
    {"48_44_1", "44.100 kHz,  48 kbit/s, Mono", 48, 44100, 1, 28963},
    {"32_44_1", "44.100 kHz,  32 kbit/s, Mono", 32, 44100, 1, 43134},
    {"48_32_2", "32.000 kHz,  48 kbit/s, Stereo", 48, 32000, 2, 28999},
    {"40_32_2", "32.000 kHz,  40 kbit/s, Stereo", 40, 32000, 2, 34720},
    {"32_32_2", "32.000 kHz,  32 kbit/s, Stereo", 32, 32000, 2, 43214},
    {"20_32_1", "32.000 kHz,  20 kbit/s, Mono", 20, 32000, 1, 68873},
    {"32_22_2", "22.050 kHz,  32 kbit/s, Stereo", 32, 22050, 2, 43134},
    {"22_22_2", "22.050 kHz,  22 kbit/s, Stereo", 22, 22050, 2, 62208},
    {"20_22_2", "22.050 kHz,  20 kbit/s, Stereo", 20, 22050, 2, 68264},
    {"20_22_1", "22.050 kHz,  20 kbit/s, Mono", 20, 22050, 1, 68264},
    {"16_22_1", "22.050 kHz,  16 kbit/s, Mono", 16, 22050, 1, 84458},
    {"20_16_2", "16.000 kHz,  20 kbit/s, Stereo", 20, 16000, 2, 67963},
    {"16_16_2", "16.000 kHz,  16 kbit/s, Stereo", 16, 16000, 2, 84150},
    {"16_16_1", "16.000 kHz,  16 kbit/s, Mono", 16, 16000, 1, 84150},
    {"12_16_1", "16.000 kHz,  12 kbit/s, Mono", 12, 16000, 1, 110460},
    {"10_16_1", "16.000 kHz,  10 kbit/s, Mono", 10, 16000, 1, 131113},
    {"10_11_1", "11.025 kHz,  10 kbit/s, Mono", 10, 11025, 1, 133765},
    {"8_11_1", "11.025 kHz,   8 kbit/s, Mono", 8, 11025, 1, 165296},
    {"12_8_2", " 8.000 kHz,  12 kbit/s, Stereo", 12, 8000, 2, 113717},
    {"8_8_1", " 8.000 kHz,   8 kbit/s, Mono", 8, 8000, 1, 167692},
    {"6_8_1", " 8.000 kHz,   6 kbit/s, Mono", 6, 8000, 1, 220395},
    {"5_8_1", " 8.000 kHz,   5 kbit/s, Mono", 5, 8000, 1, 261485},
}};

} // namespace

std::span<const TWmaSetting> WmaSettings()
{
    return Settings;
}

bool IsValidWmaSetting(int position)
{
    return position >= 0 && position < WmaSettingCount;
}

int RepairWmaSetting(int& position)
{
    if (!IsValidWmaSetting(position))
        position = DefaultWmaSetting;
    return position;
}

const TWmaSetting& WmaSettingAt(int position)
{
    return Settings[static_cast<size_t>(IsValidWmaSetting(position) ? position : DefaultWmaSetting)];
}

int WmaWrittenBitRate(int position)
{
    return std::max(WmaSettingAt(position).BitRate, WmaLowestBitRate);
}

int WmaSizeRatio(int position)
{
    const TWmaSetting& setting = WmaSettingAt(position);
    // The file grows with the bit rate written, so the ratio shrinks by as much;
    // rounded to the nearest.
    const int written = WmaWrittenBitRate(position);
    return (setting.AskedSizeRatio * setting.BitRate + written / 2) / written;
}
