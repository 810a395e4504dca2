#include "core/messages.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Collects the messages it receives on the main thread.
class TReceiver final : public QObject {
public:
    struct TSeen {
        QEvent::Type Type;
        qint64 WParam;
        qint64 LParam;
        TProcessInfo Info;
        bool HasInfo;
    };
    std::vector<TSeen> Seen;

    bool event(QEvent* e) override
    {
        if (e->type() == WM_RIPERROR || e->type() == WM_PROCESSINFO || e->type() == WM_CDDBSTATE) {
            auto* m = static_cast<TMessageEvent*>(e);
            Seen.push_back({e->type(), m->WParam(), m->LParam(), m->Info() ? *m->Info() : TProcessInfo{},
                            m->Info() != nullptr});
            return true;
        }
        return QObject::event(e);
    }
};

void PumpUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

TEST(Messages, TypesHaveTheirFixedNumbers)
{
    EXPECT_EQ(WM_RIPERROR, QEvent::User + 101);
    EXPECT_EQ(WM_PROCESSINFO, QEvent::User + 102);
    EXPECT_EQ(WM_CDDBSTATE, QEvent::User + 104);
}

TEST(Messages, ReportsPostedByWorkersArriveOnTheMainThreadInOrder)
{
    TReceiver receiver;
    constexpr int perWorker = 200;
    std::thread first([&] {
        for (int i = 0; i <= 100; ++i)
            PostProcessInfo(&receiver, i, QString("00:%1").arg(i), "01:00");
        PostProcessInfo(&receiver, 1000, "00:10", "00:00", 7);
    });
    std::thread second([&] {
        for (int i = 0; i < perWorker; ++i)
            PostMessageEvent(&receiver, WM_CDDBSTATE, i, -i);
    });
    first.join();
    second.join();
    PostMessageEvent(&receiver, WM_RIPERROR, 2, 0);
    PumpUntil([&] { return receiver.Seen.size() == 101 + 1 + perWorker + 1; });
    ASSERT_EQ(receiver.Seen.size(), 101u + 1 + perWorker + 1);

    int expectedPercent = 0;
    int expectedState = 0;
    for (const TReceiver::TSeen& seen : receiver.Seen) {
        if (seen.Type == WM_PROCESSINFO) {
            ASSERT_TRUE(seen.HasInfo);
            if (expectedPercent <= 100) {
                EXPECT_EQ(seen.Info.Percent, expectedPercent);
                EXPECT_EQ(seen.Info.ElapsedText, QString("00:%1").arg(expectedPercent));
                ++expectedPercent;
            } else {
                EXPECT_EQ(seen.Info.Percent, 1000);
                EXPECT_EQ(seen.Info.Result, 7);
                EXPECT_TRUE(seen.Info.ExitedCleanly);
            }
        } else if (seen.Type == WM_CDDBSTATE) {
            EXPECT_FALSE(seen.HasInfo);
            EXPECT_EQ(seen.WParam, expectedState);
            EXPECT_EQ(seen.LParam, -expectedState);
            ++expectedState;
        }
    }
    EXPECT_EQ(receiver.Seen.back().Type, WM_RIPERROR);
    EXPECT_EQ(receiver.Seen.back().WParam, 2);
}
