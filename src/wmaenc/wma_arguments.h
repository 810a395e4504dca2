#pragma once

#include <string>
#include <string_view>
#include <vector>

// The command line of velbrook-wmaenc:
//   -input FILE -output FILE -a_setting BITRATE_RATE_CHANNELS [-author TEXT] [-description TEXT]
//   -help | -version
// BITRATE is in kbit/s, RATE one of 48 44 32 22 16 11 8 (kHz, 44 and 22 and 11
// meaning 44100, 22050 and 11025 Hz), CHANNELS 1 or 2. Each option takes the next
// argument whole, whatever it holds, so a title that starts with "-" or holds
// blanks or quotes arrives as it is.
struct TWmaEncArguments {
    std::string Input;
    std::string Output;
    std::string Author;
    std::string Description;
    int BitRate = 0; // kbit/s, as asked
    int SampleRate = 0;
    int Channels = 0;
    bool Help = false;
    bool Version = false;
};

// The largest bit rate the program takes, in kbit/s.
inline constexpr int MaxWmaBitRate = 320;

// Reads the arguments after the program name into arguments. Returns an empty
// text when they are complete and valid, otherwise the reason. The reason never
// quotes what the user wrote: the program's output is read by a machine that
// looks for markers in it, and file names and titles may hold anything.
std::string ParseWmaEncArguments(const std::vector<std::string_view>& argv, TWmaEncArguments& arguments);

// Reads "64_44_2"; false when the text is not such a setting.
bool ParseWmaSetting(std::string_view text, int& bitRate, int& sampleRate, int& channels);

// The usage lines shown for -help. They hold neither of the two markers.
const char* WmaEncUsage();
