// velbrook-demodisc: writes the demo disc image, or tells whether this machine
// has a CD drive (./run uses both to show a disc where there is no drive).
#include "cd/cd_drive.h"
#include "cd/image_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() == 1 && arguments[0] == QLatin1String("--has-drive")) {
        const QStringList drives = RealCDDrives();
        for (const QString& drive : drives)
            std::printf("%s\n", qPrintable(drive));
        return drives.isEmpty() ? 1 : 0;
    }
    if (arguments.size() != 1 || arguments[0].startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr,
                     "usage: velbrook-demodisc FILE.cue   write the demo disc image (FILE.cue, FILE.bin)\n"
                     "       velbrook-demodisc --has-drive  list the CD drives; exit 1 when there is none\n");
        return 2;
    }
    const QString path = arguments[0];
    if (QFileInfo(path).suffix().toLower() != QLatin1String("cue")) {
        std::fprintf(stderr, "velbrook-demodisc: %s: the image is written as a CUE sheet; name a .cue file\n",
                     qPrintable(path));
        return 2;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString error = WriteDemoDisc(path);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "velbrook-demodisc: %s: %s\n", qPrintable(path), qPrintable(error));
        return 1;
    }
    return 0;
}
