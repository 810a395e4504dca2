#include "core/worker_thread.h"

#include "support/vector_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

namespace {

using TBody = std::function<void()>;
using TStarter = std::function<void(const TBody& body)>;

// Starts a thread from a thread whose upper halves are dirty; true when the
// new thread's body still found them dirty.
bool BodyFoundDirtyRegisters(const TStarter& start)
{
    std::atomic<bool> dirty{false};
    const TBody body = [&dirty] { dirty = UpperHalvesDirty(); };
    DirtyUpperHalves();
    start(body);
    ClearUpperVectorState();
    return dirty;
}

class TProbeThread final : public TWorkerThread {
public:
    explicit TProbeThread(TBody body) : Body(std::move(body)) {}

protected:
    void Work() override { Body(); }

private:
    TBody Body;
};

} // namespace

TEST(WorkerThread, EveryWayOfStartingAThreadBeginsWithCleanVectorRegisters)
{
    if (!HasAvx())
        GTEST_SKIP() << "no AVX on this processor: there is nothing to clear";
    // The control: a thread started plainly inherits its creator's registers.
    if (!BodyFoundDirtyRegisters([](const TBody& body) { std::thread(body).join(); }))
        GTEST_SKIP() << "this system does not pass vector registers on to new threads";

    struct TCase {
        const char* Name;
        TStarter Start;
    };
    const TCase cases[] = {
        {"StartWorkerThread", [](const TBody& body) { StartWorkerThread(body).join(); }},
        {"StartWorkerThread with arguments",
         [](const TBody& body) {
             StartWorkerThread(
                 [](const TBody* call, int times) {
                     for (int i = 0; i < times; ++i)
                         (*call)();
                 },
                 &body, 2)
                 .join();
         }},
        {"TWorkerThread",
         [](const TBody& body) {
             TProbeThread thread(body);
             thread.start();
             thread.wait();
         }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_FALSE(BodyFoundDirtyRegisters(c.Start));
    }
}
