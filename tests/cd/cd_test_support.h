#pragma once

#include "cd/cd_drive.h"
#include "cd/image_writer.h"
#include "core/messages.h"
#include "support/temp_home.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <ostream>
#include <vector>

// A program folder of its own, no image or failure switches left from another
// test, and every handle the test opened closed at its end.
class TCdTest {
public:
    TCdTest();
    ~TCdTest();
    TCdTest(const TCdTest&) = delete;
    TCdTest& operator=(const TCdTest&) = delete;

    TTempHome Home;

    // Writes an image in the program folder and makes it the only drive.
    QString UseImage(const QString& name, const TImageSpec& spec);
    // Lists the drives and opens the one at position index; 0 on failure.
    CDHandle Open(int index = 0);

private:
    std::vector<CDHandle> Opened;
};

// Writes a CUE sheet naming a BIN of the given bytes (one AUDIO track per start).
void WriteRawCue(const QString& cuePath, const QByteArray& bin, const std::vector<qint64>& starts);

// frames sectors of the data file from sector first.
QByteArray DataSlice(const QString& dataPath, qint64 first, qint64 frames);

struct TReport {
    QEvent::Type Type;
    qint64 LParam;
    TProcessInfo Info;
    qint64 WParam = 0;
};

// Collects the reports posted to it (WM_RIPERROR, WM_PROCESSINFO, WM_CDDBSTATE).
class TReportCollector final : public QObject {
public:
    std::vector<TReport> Reports;
    bool event(QEvent* e) override;
};

// Texts in test failures as text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

class TCDRipThread;

// Runs one track to its end and delivers its reports.
std::vector<TReport> Rip(CDHandle drive, int track, const QString& baseName,
                         const std::function<void(TCDRipThread&)>& beforeStart = {});

// The Result of the one completion report, or -100 - the number of
// completions when there is not exactly one.
int CompletionResult(const std::vector<TReport>& reports);
