#include "cd_test_support.h"

#include "cd/cd_rip_thread.h"
#include "core/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

TCdTest::TCdTest()
{
    SetCDImages({});
    qunsetenv("VELBROOK_CD_IMAGES");
    qunsetenv("VELBROOK_UNREADABLE_SECTORS");
    qunsetenv("VELBROOK_FAILING_CD_CALLS");
    AppSettings().OutputFolder = Home.File(QStringLiteral("Output"));
    QDir().mkpath(AppSettings().OutputFolder);
}

TCdTest::~TCdTest()
{
    for (const CDHandle handle : Opened)
        CloseCDHandle(handle);
    SetCDImages({});
    qunsetenv("VELBROOK_UNREADABLE_SECTORS");
    qunsetenv("VELBROOK_FAILING_CD_CALLS");
}

QString TCdTest::UseImage(const QString& name, const TImageSpec& spec)
{
    const QString path = Home.File(name);
    const QString error = WriteDiscImage(path, spec);
    EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
    SetCDImages({path});
    return path;
}

CDHandle TCdTest::Open(int index)
{
    CDDriveList list{};
    list.MaxDrives = CDMaxDrives;
    if (GetCDList(&list) != 1 || index >= list.NumDrives)
        return 0;
    CDHandleRequest request{};
    request.Size = sizeof request;
    request.Version = 1;
    request.HostAdapter = list.Drives[index].HostAdapter;
    request.Target = list.Drives[index].Target;
    request.Lun = list.Drives[index].Lun;
    const CDHandle handle = GetCDHandle(&request);
    if (handle != 0)
        Opened.push_back(handle);
    return handle;
}

void WriteRawCue(const QString& cuePath, const QByteArray& bin, const std::vector<qint64>& starts)
{
    const QFileInfo info(cuePath);
    const QString binName = info.completeBaseName() + QStringLiteral(".bin");
    QFile data(info.path() + QLatin1Char('/') + binName);
    ASSERT_TRUE(data.open(QIODevice::WriteOnly));
    ASSERT_EQ(data.write(bin), bin.size());
    QByteArray text = "FILE \"" + binName.toUtf8() + "\" BINARY\n";
    for (size_t i = 0; i < starts.size(); ++i) {
        text += QStringLiteral("  TRACK %1 AUDIO\n    INDEX 01 %2\n")
                    .arg(i + 1, 2, 10, QLatin1Char('0'))
                    .arg(FramesToMsfText(starts[i]))
                    .toLatin1();
    }
    QFile cue(cuePath);
    ASSERT_TRUE(cue.open(QIODevice::WriteOnly));
    ASSERT_EQ(cue.write(text), text.size());
}

QByteArray DataSlice(const QString& dataPath, qint64 first, qint64 frames)
{
    QFile file(dataPath);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(first * CDFrameBytes))
        return {};
    return file.read(frames * CDFrameBytes);
}

bool TReportCollector::event(QEvent* e)
{
    if (e->type() == WM_RIPERROR || e->type() == WM_PROCESSINFO || e->type() == WM_CDDBSTATE) {
        const auto* message = static_cast<TMessageEvent*>(e);
        Reports.push_back({e->type(), message->LParam(), message->Info() ? *message->Info() : TProcessInfo{},
                           message->WParam()});
        return true;
    }
    return QObject::event(e);
}

std::vector<TReport> Rip(CDHandle drive, int track, const QString& baseName,
                         const std::function<void(TCDRipThread&)>& beforeStart)
{
    TReportCollector receiver;
    {
        TCDRipThread thread(track, baseName);
        thread.Drive = drive;
        thread.NotifyWindow = &receiver;
        if (beforeStart)
            beforeStart(thread);
        thread.Resume();
        thread.wait();
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return receiver.Reports;
}

int CompletionResult(const std::vector<TReport>& reports)
{
    int found = -1;
    int count = 0;
    for (const TReport& report : reports) {
        if (report.Type == WM_PROCESSINFO && report.Info.Percent == 1000) {
            found = report.Info.Result;
            ++count;
        }
    }
    return count == 1 ? found : -100 - count;
}
