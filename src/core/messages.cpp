#include "messages.h"

#include <QCoreApplication>

#if defined(__SANITIZE_THREAD__)
#define VELBROOK_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELBROOK_TSAN 1
#endif
#endif

#ifdef VELBROOK_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace {

void ReleaseForReceiver([[maybe_unused]] void* event)
{
#ifdef VELBROOK_TSAN
    __tsan_release(event);
#endif
}

} // namespace

TMessageEvent::TMessageEvent(QEvent::Type type, qint64 wParam, qint64 lParam,
                             std::unique_ptr<TProcessInfo> info)
    : QEvent(type), WParamValue(wParam), LParamValue(lParam), InfoRecord(std::move(info))
{
}

TMessageEvent::~TMessageEvent()
{
    Acquire();
}

void TMessageEvent::Acquire() const
{
#ifdef VELBROOK_TSAN
    __tsan_acquire(const_cast<TMessageEvent*>(this));
#endif
}

qint64 TMessageEvent::WParam() const
{
    Acquire();
    return WParamValue;
}

qint64 TMessageEvent::LParam() const
{
    Acquire();
    return LParamValue;
}

const TProcessInfo* TMessageEvent::Info() const
{
    Acquire();
    return InfoRecord.get();
}

void PostMessageEvent(QObject* receiver, QEvent::Type type, qint64 wParam, qint64 lParam)
{
    auto* event = new TMessageEvent(type, wParam, lParam);
    ReleaseForReceiver(event);
    QCoreApplication::postEvent(receiver, event);
}

void PostProcessInfo(QObject* receiver, std::unique_ptr<TProcessInfo> info)
{
    auto* event = new TMessageEvent(WM_PROCESSINFO, 0, 0, std::move(info));
    ReleaseForReceiver(event);
    QCoreApplication::postEvent(receiver, event);
}

void PostProcessInfo(QObject* receiver, int percent, const QString& elapsedText, const QString& estimatedText,
                     int result)
{
    auto info = std::make_unique<TProcessInfo>();
    info->Percent = percent;
    info->ElapsedText = elapsedText;
    info->EstimatedText = estimatedText;
    info->Result = result;
    PostProcessInfo(receiver, std::move(info));
}
