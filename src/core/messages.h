#pragma once

#include <QEvent>
#include <QString>

#include <memory>

class QObject;

// The reports workers send to the window that started them. A worker never
// touches a window: it posts one of these events, and the receiving object
// alone decides what happens next.

// One progress or completion report. Percent is 0..100 for progress, or a
// completion code (999, 1000, 2000, 3000, 4000, 5000); Result is the outcome of
// a completion.
struct TProcessInfo {
    int Percent = 0;
    QString ElapsedText;
    QString EstimatedText;
    int Result = 0;
    // For the completion of an external program: whether it exited normally with
    // code 0. A program that was killed or failed has not produced its file,
    // whatever it printed before.
    bool ExitedCleanly = true;
    // For a completion that failed on a file: the errno of the failure, 0 when
    // none is known. The reason's text travels in ElapsedText.
    int ErrorNumber = 0;
};

inline constexpr QEvent::Type WM_RIPERROR = static_cast<QEvent::Type>(QEvent::User + 101);
inline constexpr QEvent::Type WM_PROCESSINFO = static_cast<QEvent::Type>(QEvent::User + 102);
inline constexpr QEvent::Type WM_CDDBSTATE = static_cast<QEvent::Type>(QEvent::User + 104);

// A posted message: two plain parameters, as the reports carry them, and for
// WM_PROCESSINFO the report record, owned by the event (the receiver frees it by
// letting Qt delete the event after delivery).
//
// Threads: made on the posting thread, read and destroyed on the receiver's.
// The hand-off is annotated for ThreadSanitizer, since Qt's own queue is not
// instrumented in the distribution's build.
class TMessageEvent final : public QEvent {
public:
    TMessageEvent(QEvent::Type type, qint64 wParam, qint64 lParam,
                  std::unique_ptr<TProcessInfo> info = nullptr);
    ~TMessageEvent() override;

    qint64 WParam() const;
    qint64 LParam() const;
    // The report of a WM_PROCESSINFO message; null for the other messages.
    const TProcessInfo* Info() const;

private:
    void Acquire() const;

    qint64 WParamValue;
    qint64 LParamValue;
    std::unique_ptr<TProcessInfo> InfoRecord;
};

// Posts a message to receiver from any thread. Returns at once.
void PostMessageEvent(QObject* receiver, QEvent::Type type, qint64 wParam, qint64 lParam);
void PostProcessInfo(QObject* receiver, std::unique_ptr<TProcessInfo> info);
void PostProcessInfo(QObject* receiver, int percent, const QString& elapsedText, const QString& estimatedText,
                     int result = 0);
