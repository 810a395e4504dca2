#pragma once

#include <QThread>

#include <functional>
#include <thread>
#include <tuple>
#include <utility>

// How every thread of the program starts. A new thread:
//   - std::thread: StartWorkerThread(function, arguments...) instead of
//     std::thread(function, arguments...);
//   - QThread: derive from TWorkerThread and implement Work() instead of run();
//   - anything else that runs our code on a thread it made (a QRunnable, a
//     sound library's callback thread): call ClearUpperVectorState() first
//     thing on that thread.
//
// Why: Linux starts a thread with a copy of its creator's vector registers.
// When the creator last ran AVX code that left the upper halves of ymm/zmm
// registers 0-15 non-zero, every SSE instruction the new thread executes
// (libvorbis, our converters) must merge with those halves and waits for
// them: Ogg encoding ran up to twice as slow on processors with AVX-512.
// Nothing clears them later by itself: the C library's AVX-512 string
// functions never execute vzeroupper, and on some processors they leave the
// state dirty again, so loops that run such code between SSE work (a sink's
// steps) clear it once a step as well.
//
// Zeroes the upper halves of the calling thread's vector registers. Does
// nothing on processors without AVX.
void ClearUpperVectorState() noexcept;

// A std::thread that runs ClearUpperVectorState() before function(arguments...).
template <class TFunction, class... TArguments>
[[nodiscard]] std::thread StartWorkerThread(TFunction&& function, TArguments&&... arguments)
{
    return std::thread([call = std::forward<TFunction>(function),
                        values = std::make_tuple(std::forward<TArguments>(arguments)...)]() mutable {
        ClearUpperVectorState();
        std::apply([&call](auto&... unpacked) { std::invoke(call, unpacked...); }, values);
    });
}

// A QThread whose body, Work(), runs after ClearUpperVectorState().
class TWorkerThread : public QThread {
public:
    using QThread::QThread;

protected:
    virtual void Work() = 0;

private:
    void run() final;
};
