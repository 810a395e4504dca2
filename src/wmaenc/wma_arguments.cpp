#include "wma_arguments.h"

#include <array>
#include <utility>

namespace {

// The digits of text as a number; false for an empty text, anything but digits,
// or a number too long to be meant.
bool ParseDigits(std::string_view text, int& value)
{
    if (text.empty() || text.size() > 6)
        return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

} // namespace

bool ParseWmaSetting(std::string_view text, int& bitRate, int& sampleRate, int& channels)
{
    const size_t first = text.find('_');
    if (first == std::string_view::npos)
        return false;
    const size_t second = text.find('_', first + 1);
    if (second == std::string_view::npos)
        return false;
    int rateCode = 0;
    int bits = 0;
    int count = 0;
    if (!ParseDigits(text.substr(0, first), bits) ||
        !ParseDigits(text.substr(first + 1, second - first - 1), rateCode) ||
        !ParseDigits(text.substr(second + 1), count))
        return false;
    static constexpr std::array<std::pair<int, int>, 7> rates{
        {{48, 48000}, {44, 44100}, {32, 32000}, {22, 22050}, {16, 16000}, {11, 11025}, {8, 8000}}};
    int rate = 0;
    for (const auto& [code, hertz] : rates) {
        if (code == rateCode)
            rate = hertz;
    }
    if (rate == 0 || bits < 1 || bits > MaxWmaBitRate || (count != 1 && count != 2))
        return false;
    bitRate = bits;
    sampleRate = rate;
    channels = count;
    return true;
}

std::string ParseWmaEncArguments(const std::vector<std::string_view>& argv, TWmaEncArguments& arguments)
{
    arguments = TWmaEncArguments();
    bool haveInput = false;
    bool haveOutput = false;
    bool haveSetting = false;
    bool haveAuthor = false;
    bool haveDescription = false;
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string_view option = argv[i];
        if (option == "-help" || option == "--help" || option == "-h") {
            arguments.Help = true;
            return {};
        }
        if (option == "-version" || option == "--version") {
            arguments.Version = true;
            return {};
        }
        struct TTarget {
            std::string_view Name;
            bool* Seen;
            std::string* Text;
        };
        std::string settingText;
        const std::array<TTarget, 5> targets{{{"-input", &haveInput, &arguments.Input},
                                              {"-output", &haveOutput, &arguments.Output},
                                              {"-a_setting", &haveSetting, &settingText},
                                              {"-author", &haveAuthor, &arguments.Author},
                                              {"-description", &haveDescription, &arguments.Description}}};
        const TTarget* target = nullptr;
        for (const TTarget& t : targets) {
            if (t.Name == option)
                target = &t;
        }
        if (!target)
            return "unknown option at argument " + std::to_string(i + 1);
        if (*target->Seen)
            return std::string(option) + " is given twice";
        if (i + 1 >= argv.size())
            return std::string(option) + " needs a value";
        *target->Seen = true;
        *target->Text = std::string(argv[++i]);
        if (target->Text == &settingText &&
            !ParseWmaSetting(settingText, arguments.BitRate, arguments.SampleRate, arguments.Channels))
            return "-a_setting needs a bit rate of 1 to 320 kbit/s, a sample rate of 48, 44, 32, 22, 16, 11 "
                   "or 8 kHz and 1 or 2 channels, as in 64_44_2";
    }
    if (!haveInput || arguments.Input.empty())
        return "-input needs a file name";
    if (!haveOutput || arguments.Output.empty())
        return "-output needs a file name";
    if (!haveSetting)
        return "-a_setting is missing";
    return {};
}

const char* WmaEncUsage()
{
    return "usage: velbrook-wmaenc -input FILE -output FILE -a_setting BITRATE_RATE_CHANNELS\n"
           "                       [-author TEXT] [-description TEXT]\n"
           "       velbrook-wmaenc -help | -version\n"
           "Encodes a WAV file into a Windows Media Audio 2 file.\n"
           "  BITRATE   kbit/s (1 to 320; rates below what the encoder accepts are raised to it)\n"
           "  RATE      48, 44, 32, 22, 16, 11 or 8 kHz (44.1, 22.05 and 11.025 kHz for 44, 22, 11)\n"
           "  CHANNELS  1 (mono) or 2 (stereo)\n"
           "Prints its progress in percent while it works and a last line when the file is complete;\n"
           "when it fails it prints the reason and exits with code 1 (2 for bad arguments).\n";
}
