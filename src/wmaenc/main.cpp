// velbrook-wmaenc: encodes a WAV file into a Windows Media Audio file for Velbrook,
// which reads the program's output for two markers: a line holding "100%" when
// the file is complete and a line holding "ERROR" when it failed. So nothing
// else ever prints them, and no text of the user (a file name, a title) is ever
// printed at all.
#include "wmaenc/wma_arguments.h"
#include "wmaenc/wma_file_encoder.h"

extern "C" {
#include <libavutil/log.h>
}

#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t OutputPending = 0;
const char* OutputPath = nullptr;

// Stopped or interrupted half-way: the unfinished file goes, then the signal
// does what it would have done.
extern "C" void RemoveUnfinishedOutput(int signalNumber)
{
    if (OutputPending && OutputPath)
        unlink(OutputPath);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void PrintLine(std::FILE* stream, const std::string& line)
{
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char** argv)
{
    // A file-size limit becomes a write error we report, not a silent death.
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader that went away must not stop the encoding before the file is done.
    std::signal(SIGPIPE, SIG_IGN);
    // FFmpeg's own messages may quote names and may hold the markers.
    av_log_set_level(AV_LOG_QUIET);

    const std::vector<std::string_view> words(argv + 1, argv + argc);
    TWmaEncArguments arguments;
    const std::string problem = ParseWmaEncArguments(words, arguments);
    if (!problem.empty()) {
        PrintLine(stderr, "ERROR: bad arguments: " + problem + " (see -help)");
        return 2;
    }
    if (arguments.Help) {
        std::fputs(WmaEncUsage(), stdout);
        return 0;
    }
    if (arguments.Version) {
        PrintLine(stdout, WmaEncVersion());
        return 0;
    }

    OutputPath = arguments.Output.c_str();
    struct sigaction action {};
    action.sa_handler = RemoveUnfinishedOutput;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signalNumber, &action, nullptr);

    TWmaFileEncoder encoder;
    encoder.OnProgress = [](int percent) { PrintLine(stdout, std::to_string(percent) + "%"); };
    encoder.OnOutputPending = [](bool pending) { OutputPending = pending ? 1 : 0; };
    const std::string failure = encoder.Encode(arguments);
    if (!failure.empty()) {
        PrintLine(stderr, "ERROR: " + failure);
        return 1;
    }
    PrintLine(stdout, "100%");
    return 0;
}
