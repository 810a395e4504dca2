#include "app/display_check.h"
#include "app/main_form.h"
#include "cd/cd_drive.h"
#include "core/prompter.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QScreen>

#include <cstdio>
#include <memory>

namespace {

const QCommandLineOption& CdImageOption()
{
    static const QCommandLineOption option(
        QStringLiteral("cd-image"),
        QStringLiteral(
            "Use the disc image FILE (a CUE sheet or cdrdao TOC file) as a CD drive; may be repeated."),
        QStringLiteral("FILE"));
    return option;
}

void SetUpParser(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Velbrook extracts audio CDs into WAV, MP3, Ogg Vorbis and WMA files, "
                       "converts, records and plays sound."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(CdImageOption());
}

} // namespace

int main(int argc, char* argv[])
{
    // Options are parsed before any window exists, so --help and --version work
    // without a display.
    {
        QCoreApplication probe(argc, argv);
        QCoreApplication::setApplicationName(ProductName());
        QCoreApplication::setApplicationVersion(VersionText());
        QCommandLineParser parser;
        SetUpParser(parser);
        parser.process(probe);
        // The drive library lists these images before any real drive, so the
        // first one is the drive that start-up opens.
        SetCDImages(parser.values(CdImageOption()));
        for (const QString& image : CDImages()) {
            const QString problem = CheckCDImage(image);
            if (!problem.isEmpty())
                std::fprintf(stderr, "velbrook: the disc image cannot be used: %s\n", qPrintable(problem));
        }
    }

    const QString problem = DisplayProblem();
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "velbrook: %s\nStart Velbrook from a desktop session.\n", qPrintable(problem));
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(ProductName());
    QApplication::setApplicationDisplayName(ProductName());
    QApplication::setApplicationVersion(VersionText());

    TMainForm mainForm;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        mainForm.move(screen->availableGeometry().center() - mainForm.rect().center());
    mainForm.show();
    return QApplication::exec();
}
