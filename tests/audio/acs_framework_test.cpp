#include "audio/acs_exception.h"
#include "audio/acs_output.h"
#include "audio_test_support.h"
#include "core/worker_thread.h"
#include "support/vector_state.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

QByteArray ToneBytes(qint64 firstFrame, qint64 frames, int channels = 2)
{
    std::vector<qint16> samples;
    for (qint64 f = firstFrame; f < firstFrame + frames; ++f) {
        for (int c = 0; c < channels; ++c)
            samples.push_back(TToneSource::SampleAt(f, c));
    }
    return Bytes(samples);
}

QString ErrorText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EACSException& error) {
        return error.Message();
    }
    return QStringLiteral("(nothing raised)");
}

} // namespace

TEST(AcsOutput, RunRefusesWithoutInputAndWhileBusy)
{
    TMemorySink sink;
    EXPECT_EQ(ErrorText([&] { sink.Run(); }), "Input is not assigned");
    EXPECT_EQ(sink.Status(), osIdle);

    TToneSource source(1000000);
    source.ReadDelayMs = 2;
    sink.AssignInput(&source);
    TSinkEvents events(sink);
    sink.Run();
    EXPECT_EQ(ErrorText([&] { sink.Run(); }), "Component is buisy");
    sink.Stop();
    ASSERT_TRUE(events.WaitForEnd());
    EXPECT_EQ(events.Done(), 1);
    EXPECT_EQ(source.BeginCount, 1);
}

TEST(AcsOutput, DeliversTheWholeInputAndFiresDoneOnce)
{
    TToneSource source(30000);
    TMemorySink sink;
    sink.AssignInput(&source);
    TSinkEvents events(sink);
    sink.Run();
    ASSERT_TRUE(events.WaitForEnd());
    ASSERT_TRUE(events.WaitFor([&] { return sink.Status() == osIdle; }));
    EXPECT_EQ(events.Done(), 1);
    EXPECT_EQ(events.Errors(), 0);
    EXPECT_EQ(sink.Data(), ToneBytes(0, 30000));
    EXPECT_EQ(sink.FinishCount, 1);
    EXPECT_EQ(source.EndCount, 1);
    EXPECT_FALSE(source.Busy());
    const std::vector<int> progress = events.ProgressValues();
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(sink.LastProgress(), 100);

    // A second run on the same objects starts from the beginning again.
    sink.Run();
    ASSERT_TRUE(events.WaitFor([&] { return events.Done() == 2; }));
    EXPECT_EQ(sink.Data(), ToneBytes(0, 30000));
    EXPECT_EQ(source.BeginCount, 2);
    EXPECT_EQ(source.EndCount, 2);
}

TEST(AcsOutput, FailingPrepareFiresNeitherProgressNorDone)
{
    TToneSource source(1000);
    TMemorySink sink;
    sink.AssignInput(&source);
    TSinkEvents events(sink);
    sink.FailPrepare = true;
    EXPECT_NO_THROW(sink.Run());
    // The error is reported on the calling thread, before Run returns.
    EXPECT_EQ(events.Errors(), 1);
    EXPECT_EQ(events.LastError(), "Prepare failed");
    EXPECT_EQ(sink.Status(), osIdle);
    EXPECT_FALSE(sink.Busy());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(events.Done(), 0);
    EXPECT_EQ(events.Progress(), 0);
    EXPECT_EQ(sink.FinishCount, 0);

    // Nothing is left half-started: the next run works.
    sink.FailPrepare = false;
    sink.Run();
    ASSERT_TRUE(events.WaitFor([&] { return events.Done() == 1; }));
    EXPECT_EQ(sink.Data(), ToneBytes(0, 1000));
}

TEST(AcsOutput, StopEndsTheRunThroughDoneExactlyOnce)
{
    TToneSource source(10000000);
    source.ReadDelayMs = 1;
    TMemorySink sink;
    sink.AssignInput(&source);
    TSinkEvents events(sink);
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return sink.Steps.load() > 3; }));
    sink.Stop();
    ASSERT_TRUE(events.WaitForEnd());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(events.Done(), 1);
    EXPECT_EQ(events.Errors(), 0);
    EXPECT_EQ(sink.FinishCount, 1);
    EXPECT_EQ(source.EndCount, 1);
    EXPECT_EQ(sink.Status(), osIdle);
    const QByteArray data = sink.Data();
    EXPECT_GT(data.size(), 0);
    EXPECT_LT(data.size(), source.TotalBytes());
    EXPECT_EQ(data, ToneBytes(0, data.size() / 4));
}

TEST(AcsOutput, ProgressFollowsTheDirectInput)
{
    TMemorySink sink;
    EXPECT_EQ(sink.Progress(), 0); // no input

    // Halves round to the even neighbour: 4 of 800 bytes is 0.5 %, 12 is 1.5 %.
    TToneSource source(200);
    sink.AssignInput(&source);
    source.BeginRead();
    char buffer[16];
    source.FetchData(buffer, 4);
    EXPECT_EQ(sink.Progress(), 0);
    source.FetchData(buffer, 8);
    EXPECT_EQ(sink.Progress(), 2);
    source.EndRead();

    // Unknown size: -1, reported once; size 0: 0.
    TSinkEvents events(sink);
    source.AnnouncedSize = -1;
    sink.Run();
    ASSERT_TRUE(events.WaitForEnd());
    EXPECT_EQ(events.ProgressValues(), std::vector<int>{-1});
    source.AnnouncedSize = 0;
    sink.Run();
    ASSERT_TRUE(events.WaitFor([&] { return events.Done() == 2; }));
    EXPECT_EQ(events.ProgressValues(), (std::vector<int>{-1, 0}));
    EXPECT_EQ(sink.Data(), ToneBytes(0, 200)); // the data flows all the same
}

TEST(AcsOutput, StepDelayAcceptsUpToOneHundredMilliseconds)
{
    TMemorySink sink;
    EXPECT_EQ(sink.StepDelay(), 0);
    sink.SetStepDelay(6);
    EXPECT_EQ(sink.StepDelay(), 6);
    sink.SetStepDelay(101);
    EXPECT_EQ(sink.StepDelay(), 6);
    sink.SetStepDelay(-1);
    EXPECT_EQ(sink.StepDelay(), 6);
    sink.SetStepDelay(100);
    EXPECT_EQ(sink.StepDelay(), 100);
    EXPECT_TRUE(sink.SuspendWhenIdle());
}

TEST(AcsOutput, PauseParksTheWorkerUntilResume)
{
    TToneSource source(100000);
    source.ReadDelayMs = 1;
    TMemorySink sink;
    sink.ReadSize = 1024;
    sink.AssignInput(&source);
    TSinkEvents events(sink);
    sink.Run();
    ASSERT_TRUE(events.WaitFor([&] { return events.Progress() > 0; }));
    sink.Pause();
    EXPECT_EQ(sink.Status(), osPaused);
    // Pause has returned, so the worker is parked: no step happens any more.
    const int steps = sink.Steps;
    EXPECT_EQ(source.ReadsInProgress, 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sink.Steps, steps);
    sink.Pause(); // twice is harmless
    sink.Resume();
    EXPECT_EQ(sink.Status(), osRunning);
    ASSERT_TRUE(events.WaitForEnd());
    EXPECT_EQ(events.Done(), 1);
    EXPECT_EQ(sink.Data(), ToneBytes(0, 100000));
}

TEST(AcsOutput, PauseThenFinishOutputEndsTheRunWithoutDone)
{
    TToneSource source(10000000);
    source.ReadDelayMs = 1;
    TMemorySink sink;
    sink.AssignInput(&source);
    TSinkEvents events(sink);
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return sink.Steps.load() > 2; }));
    sink.Pause();
    sink.FinishOutput();
    EXPECT_EQ(sink.FinishCount, 1);
    EXPECT_EQ(source.EndCount, 1);
    EXPECT_EQ(sink.Status(), osIdle);
    sink.FinishOutput(); // safe a second time
    sink.Resume();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sink.FinishCount, 1);
    EXPECT_EQ(source.EndCount, 1);
    EXPECT_EQ(events.Done(), 0);
    EXPECT_EQ(events.Errors(), 0);

    // FinishOutput while the worker is running waits for its step.
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return sink.Steps.load() > 10; }));
    sink.FinishOutput();
    EXPECT_EQ(sink.FinishCount, 2);
    EXPECT_EQ(source.EndCount, 2);
    EXPECT_FALSE(source.EndedDuringRead);
    EXPECT_EQ(sink.Status(), osIdle);
}

TEST(AcsOutput, HandlersOnTheWorkerMayPauseAndRestart)
{
    TToneSource source(50000);
    TMemorySink sink;
    sink.AssignInput(&source);
    std::atomic<int> done{0};
    std::atomic<bool> pausedFromHandler{false};
    sink.SetOnProgress([&](TACSOutput* sender) {
        if (sender->LastProgress() >= 50 && !pausedFromHandler.exchange(true))
            sender->Pause(); // on the worker: returns at once
    });
    sink.SetOnDone([&](TACSOutput* sender) {
        // The job engine starts the next file from here.
        if (done.fetch_add(1) == 0)
            sender->Run();
    });
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return sink.Status() == osPaused; }));
    EXPECT_EQ(done, 0);
    sink.Resume();
    ASSERT_TRUE(WaitUntil([&] { return done.load() == 2 && sink.Status() == osIdle; }));
    EXPECT_EQ(source.BeginCount, 2);
    EXPECT_EQ(sink.Data(), ToneBytes(0, 50000));
}

TEST(AcsOutput, ErrorInAStepEndsTheRunThroughThreadException)
{
    TToneSource source(100000);
    source.FailAfterBytes = 40000;
    TMemorySink sink;
    sink.AssignInput(&source);
    TSinkEvents events(sink);
    sink.Run();
    ASSERT_TRUE(events.WaitForEnd());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(events.Errors(), 1);
    EXPECT_EQ(events.LastError(), "Read failed");
    EXPECT_EQ(events.Done(), 0);
    EXPECT_EQ(sink.FinishCount, 1);
    EXPECT_EQ(source.EndCount, 1);
    EXPECT_EQ(sink.Status(), osIdle);
}

TEST(AcsOutput, InputSwapDuringARunNeverOverlapsARead)
{
    TToneSource first(10000000);
    first.ReadDelayMs = 1;
    TToneSource second(20000, 2);
    TMemorySink sink;
    sink.AssignInput(&first);
    TSinkEvents events(sink);
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return sink.Steps.load() > 3; }));
    sink.AssignInput(&second);
    EXPECT_EQ(sink.Input(), &second);
    EXPECT_EQ(first.EndCount, 1);
    EXPECT_FALSE(first.EndedDuringRead);
    EXPECT_EQ(second.BeginCount, 1);
    ASSERT_TRUE(events.WaitForEnd());
    EXPECT_EQ(events.Done(), 1);
    EXPECT_EQ(second.EndCount, 1);
    // What came before the swap is the first source's start, then all of the second.
    const QByteArray data = sink.Data();
    const QByteArray tail = ToneBytes(0, 20000);
    ASSERT_GT(data.size(), tail.size());
    EXPECT_TRUE(data.endsWith(tail));
    const qsizetype head = data.size() - tail.size();
    EXPECT_EQ(data.left(head), ToneBytes(0, head / 4));
}

TEST(AcsConverter, SwapsItsInputDuringARun)
{
    TToneSource first(10000000);
    first.ReadDelayMs = 1;
    TToneSource second(5000);
    TPassConverter converter;
    converter.AssignInput(&converter); // ignored
    EXPECT_EQ(converter.Input(), nullptr);
    EXPECT_EQ(ErrorText([&] { converter.BeginRead(); }), "Input not assigned");
    converter.AssignInput(&first);
    TMemorySink sink;
    sink.AssignInput(&converter);
    TSinkEvents events(sink);
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return sink.Steps.load() > 3; }));
    converter.AssignInput(&second);
    EXPECT_FALSE(first.EndedDuringRead);
    EXPECT_EQ(first.EndCount, 1);
    ASSERT_TRUE(events.WaitForEnd());
    EXPECT_EQ(events.Done(), 1);
    EXPECT_EQ(second.EndCount, 1);
    EXPECT_TRUE(sink.Data().endsWith(ToneBytes(0, 5000)));
}

TEST(AcsOutput, DestroyingARunningSinkFinishesItQuietly)
{
    TToneSource source(10000000);
    source.ReadDelayMs = 1;
    auto sink = std::make_unique<TMemorySink>();
    sink->AssignInput(&source);
    TSinkEvents events(*sink);
    sink->Run();
    ASSERT_TRUE(WaitUntil([&] { return sink->Steps.load() > 3; }));
    TMemorySink* raw = sink.get();
    std::atomic<int>* finishes = &raw->FinishCount;
    const int before = finishes->load();
    EXPECT_EQ(before, 0);
    sink.reset();
    // The input was closed and no event went out from a sink being destroyed.
    EXPECT_EQ(source.EndCount, 1);
    EXPECT_FALSE(source.Busy());
    EXPECT_EQ(events.Done(), 0);
    EXPECT_EQ(events.Errors(), 0);

    // A paused sink is woken and finished as well.
    auto paused = std::make_unique<TMemorySink>();
    paused->AssignInput(&source);
    paused->Run();
    paused->Pause();
    paused.reset();
    EXPECT_EQ(source.EndCount, 2);
}

TEST(AcsOutput, DestroyingTheInputOfARunningChainStopsTheSink)
{
    auto source = std::make_unique<TToneSource>(10000000);
    source->ReadDelayMs = 1;
    auto converter = std::make_unique<TPassConverter>();
    converter->AssignInput(source.get());
    TMemorySink sink;
    sink.AssignInput(converter.get());
    TSinkEvents events(sink);
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return sink.Steps.load() > 3; }));
    // A window destroys its components in the order it made them.
    source.reset();
    EXPECT_EQ(sink.Status(), osIdle);
    EXPECT_EQ(sink.FinishCount, 1);
    EXPECT_EQ(converter->Input(), nullptr);
    EXPECT_FALSE(converter->Busy());
    converter.reset();
    EXPECT_EQ(sink.Input(), nullptr);
    EXPECT_EQ(events.Done(), 0);
    EXPECT_EQ(events.Errors(), 0);
    EXPECT_EQ(ErrorText([&] { sink.Run(); }), "Input is not assigned");
}

TEST(AcsOutput, TheWorkerStartsWithCleanVectorRegisters)
{
    if (!HasAvx())
        GTEST_SKIP() << "no AVX on this processor: there is nothing to clear";
    TToneSource source(1000);
    TMemorySink sink;
    sink.AssignInput(&source);
    std::atomic<int> workerDirty{-1};
    sink.SetOnDone([&](TACSOutput*) { workerDirty = UpperHalvesDirty() ? 1 : 0; });
    DirtyUpperHalves();
    sink.Run(); // makes the worker
    const bool creatorDirty = UpperHalvesDirty();
    ClearUpperVectorState();
    ASSERT_TRUE(WaitUntil([&] { return workerDirty.load() >= 0; }));
    if (!creatorDirty)
        GTEST_SKIP() << "Run cleared the registers before the worker was made";
    EXPECT_EQ(workerDirty.load(), 0);
}

// A step may run code that leaves the upper halves dirty (a library's AVX
// code, which the C library's AVX-512 copies do not clean up after); the next
// step must not start with them so.
TEST(AcsOutput, EveryStepStartsWithCleanVectorRegisters)
{
    if (!HasAvx())
        GTEST_SKIP() << "no AVX on this processor: there is nothing to clear";
    class TDirtyingSink final : public TACSOutput {
    public:
        ~TDirtyingSink() override { ShutdownWorker(); }
        std::atomic<int> Steps{0};
        std::atomic<int> DirtyAtStart{0};

    protected:
        void PrepareOutput() override { BeginInputRead(); }
        bool OutputStep(bool) override
        {
            if (UpperHalvesDirty())
                DirtyAtStart.fetch_add(1);
            DirtyUpperHalves();
            return Steps.fetch_add(1) + 1 < 20;
        }
        void DoFinishOutput() override {}
    };
    TToneSource source(1000);
    TDirtyingSink sink;
    sink.AssignInput(&source);
    std::atomic<bool> done{false};
    sink.SetOnDone([&](TACSOutput*) { done = true; });
    sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    EXPECT_EQ(sink.Steps.load(), 20);
    EXPECT_EQ(sink.DirtyAtStart.load(), 0);
}
