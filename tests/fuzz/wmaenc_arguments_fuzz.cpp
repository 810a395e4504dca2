// Arbitrary bytes as the WMA encoder program's command line, one argument per
// NUL-separated piece: an accepted command line is complete and in range, and a
// refusal's reason can never pass for one of the two markers the caller reads in
// the program's output, whatever the arguments held.
#include "wmaenc/wma_arguments.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> argv;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\0', start);
        if (end == std::string::npos)
            end = text.size();
        argv.emplace_back(text.data() + start, end - start);
        start = end + 1;
    }
    TWmaEncArguments arguments;
    const std::string problem = ParseWmaEncArguments(argv, arguments);
    if (problem.empty()) {
        if (arguments.Help || arguments.Version)
            return 0;
        if (arguments.Input.empty() || arguments.Output.empty() || arguments.BitRate < 1 ||
            arguments.BitRate > MaxWmaBitRate || (arguments.Channels != 1 && arguments.Channels != 2))
            std::abort();
        bool knownRate = false;
        for (const int rate : {48000, 44100, 32000, 22050, 16000, 11025, 8000})
            knownRate = knownRate || rate == arguments.SampleRate;
        if (!knownRate)
            std::abort();
        return 0;
    }
    if (problem.find("ERROR") != std::string::npos || problem.find('%') != std::string::npos)
        std::abort();
    for (const char c : problem) {
        if (c < ' ' || c > '~')
            std::abort();
    }
    return 0;
}
