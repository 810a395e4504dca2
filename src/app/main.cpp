#include "app/display_check.h"
#include "app/main_form.h"
#include "core/prompter.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QScreen>

#include <cstdio>
#include <memory>

namespace {

void SetUpParser(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Velbrook extracts audio CDs into WAV, MP3, Ogg Vorbis and WMA files, "
                       "converts, records and plays sound."));
    parser.addHelpOption();
    parser.addVersionOption();
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
