#pragma once

#include "core/messages.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

// Carries a worker's reports to their receiver as WM_PROCESSINFO and WM_RIPERROR
// messages, every one, in order. Posting each report on its own makes the
// receiving thread wake up and compete for Qt's event queue once per report; a
// track of 74 minutes has 33300 of them, and the wake-ups would cost more than
// the reading. Here the worker queues its reports and wakes the relay only now
// and then; the relay, on the receiver's thread, hands them over one by one.
//
// Threads: created, deleted (with deleteLater) and run on the receiver's
// thread; the worker only calls Queue and Wake.
class TReportRelay final : public QObject {
public:
    explicit TReportRelay(QObject* receiver);

    void Queue(QEvent::Type type, qint64 lParam, std::unique_ptr<TProcessInfo> info = nullptr);
    // Asks for delivery of everything queued so far.
    void Wake();

protected:
    bool event(QEvent* e) override;

private:
    struct TQueued {
        QEvent::Type Type;
        qint64 LParam;
        std::unique_ptr<TProcessInfo> Info;
    };

    QPointer<QObject> Receiver;
    std::mutex Lock;
    std::deque<TQueued> Items; // guarded by Lock
    std::atomic<bool> WakePending{false};
};
