#include "rip_child.h"

#include "cd/cd_drive.h"
#include "cd/cd_rip_thread.h"
#include "core/messages.h"
#include "core/settings.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdio>

namespace {

class TCompletions final : public QObject {
public:
    int Count = 0;
    int Failures = 0;
    bool event(QEvent* e) override
    {
        if (e->type() == WM_RIPERROR) {
            ++Count;
            ++Failures;
            return true;
        }
        if (e->type() == WM_PROCESSINFO) {
            const TProcessInfo* info = static_cast<TMessageEvent*>(e)->Info();
            if (info->Percent == 1000) {
                ++Count;
                Failures += info->Result != 0;
            }
            return true;
        }
        return QObject::event(e);
    }
};

} // namespace

int RipEveryTrack(int argc, char** argv, const QString& image, const QString& folder)
{
    QCoreApplication app(argc, argv);
    SetCDImages({image});
    AppSettings().OutputFolder = folder;
    CDDriveList list{};
    list.MaxDrives = CDMaxDrives;
    if (GetCDList(&list) != 1 || list.NumDrives == 0) {
        std::fprintf(stderr, "no drive: %s\n", qPrintable(CheckCDImage(image)));
        return 1;
    }
    CDHandleRequest request{12, 1, list.Drives[0].HostAdapter, list.Drives[0].Target, 0, {}};
    const CDHandle drive = GetCDHandle(&request);
    CDTOC toc{};
    if (drive == 0 || ModifyCDParms(drive, CDP_MSF, 1) == 0 || ReadTOC(drive, &toc) != 1) {
        std::fprintf(stderr, "cannot open the image: %s\n", qPrintable(GetAspiLibErrorText()));
        return 1;
    }
    TCompletions completions;
    for (int track = 1; track <= toc.LastTrack - toc.FirstTrack + 1; ++track) {
        TCDRipThread thread(track, QStringLiteral("track%1").arg(track, 2, 10, QLatin1Char('0')));
        thread.Drive = drive;
        thread.NotifyWindow = &completions;
        QEventLoop loop;
        QObject::connect(&thread, &QThread::finished, &loop, &QEventLoop::quit);
        thread.Resume();
        loop.exec();
        QCoreApplication::sendPostedEvents(&completions);
    }
    CloseCDHandle(drive);
    return completions.Failures == 0 && completions.Count == toc.LastTrack ? 0 : 1;
}
