#include "report_relay.h"

#include <QCoreApplication>

namespace {

QEvent::Type WakeEvent()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

} // namespace

TReportRelay::TReportRelay(QObject* receiver) : Receiver(receiver)
{
    if (receiver)
        moveToThread(receiver->thread());
}

void TReportRelay::Queue(QEvent::Type type, qint64 lParam, std::unique_ptr<TProcessInfo> info)
{
    std::lock_guard guard(Lock);
    Items.push_back({type, lParam, std::move(info)});
}

void TReportRelay::Wake()
{
    // One wake-up in flight is enough: it delivers whatever is queued by then.
    if (!WakePending.exchange(true))
        PostMessageEvent(this, WakeEvent(), 0, 0);
}

bool TReportRelay::event(QEvent* e)
{
    if (e->type() != WakeEvent())
        return QObject::event(e);
    WakePending = false;
    // One at a time from the queue, so a receiver that opens a nested event
    // loop while handling a report still gets the rest in order.
    for (;;) {
        TQueued item;
        {
            std::lock_guard guard(Lock);
            if (Items.empty())
                break;
            item = std::move(Items.front());
            Items.pop_front();
        }
        if (!Receiver)
            continue; // nobody is listening any more
        TMessageEvent message(item.Type, 0, item.LParam, std::move(item.Info));
        QCoreApplication::sendEvent(Receiver, &message);
    }
    return true;
}
