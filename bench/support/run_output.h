#pragma once

#include "audio/acs_output.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

// Runs a sink to the end of its input and waits for its worker to go idle, as
// a conversion in the program does. Returns false when the run failed.
inline bool RunOutputToEnd(TACSOutput& out)
{
    std::atomic<int> ended{0};
    std::atomic<bool> failed{false};
    out.SetOnDone([&](TACSOutput*) { ended = 1; });
    out.SetOnThreadException([&](TACSOutput*, const std::exception& error) {
        std::fprintf(stderr, "conversion failed: %s\n", error.what());
        failed = true;
        ended = 1;
    });
    out.Run();
    while (!ended.load())
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    while (out.Status() != osIdle)
        std::this_thread::yield();
    return !failed.load();
}
