#pragma once

#include "audio/acs_output.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <thread>

// Runs a sink to the end of its input and waits for its worker to go idle, as
// a conversion in the program does. Returns false when the run failed. This
// thread sleeps until the end: waking it every 200 us to poll added its
// processor time to ours.
inline bool RunOutputToEnd(TACSOutput& out)
{
    // Shared with the handlers, which may still be returning from the
    // notification when this function has returned.
    struct TEnd {
        std::atomic<int> Ended{0};
        std::atomic<bool> Failed{false};
        void Signal()
        {
            Ended = 1;
            Ended.notify_all();
        }
    };
    const auto end = std::make_shared<TEnd>();
    out.SetOnDone([end](TACSOutput*) { end->Signal(); });
    out.SetOnThreadException([end](TACSOutput*, const std::exception& error) {
        std::fprintf(stderr, "conversion failed: %s\n", error.what());
        end->Failed = true;
        end->Signal();
    });
    out.Run();
    end->Ended.wait(0);
    while (out.Status() != osIdle)
        std::this_thread::yield();
    return !end->Failed.load();
}
