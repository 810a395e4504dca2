#include "app/app_icons.h"
#include "app/command_line.h"
#include "app/command_line_run.h"
#include "app/display_check.h"
#include "app/main_form.h"
#include "app/terminal_view.h"
#include "audio/sound_devices.h"
#include "cd/cd_drive.h"
#include "codecs/vorbis_library.h"
#include "core/prompter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QScreen>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int TerminateSockets[2] = {-1, -1};

void OnTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(TerminateSockets[1], &byte, 1);
}

// The end of the session or a kill closes the windows the normal way, so the
// titles and the options are saved as when the user quits.
void CloseOnTerminate(QObject* owner)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, TerminateSockets) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
    auto* notifier = new QSocketNotifier(TerminateSockets[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(TerminateSockets[0], &byte, 1);
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });
}

} // namespace

int main(int argc, char* argv[])
{
    // Options are parsed before any window exists, so --help, --version and the
    // command-line jobs work without a display.
    {
        QCoreApplication probe(argc, argv);
        QCoreApplication::setApplicationName(ProductName());
        QCoreApplication::setApplicationVersion(VersionText());
        const TParsedCommandLine parsed = ParseCommandLine(QCoreApplication::arguments());
        if (!parsed.Error.isEmpty()) {
            std::fprintf(stderr, "velbrook: %s\nTry 'velbrook --help' for more.\n", qPrintable(parsed.Error));
            return ExitUsage;
        }
        const TCommandLineOptions& options = parsed.Options;
        if (options.Mode == TCommandLineMode::Help) {
            std::fputs(qPrintable(CommandLineHelp()), stdout);
            return ExitDone;
        }
        if (options.Mode == TCommandLineMode::Version) {
            std::printf("%s %s\n", qPrintable(ProductName()), qPrintable(VersionText()));
            return ExitDone;
        }
        // The drive library lists these images before any real drive, so the
        // first one is the drive that start-up opens.
        SetCDImages(options.CdImages);
        if (options.Mode != TCommandLineMode::Window)
            return RunCommandLine(options, TTerminal::Standard());
        for (const QString& image : CDImages()) {
            const QString problem = CheckCDImage(image);
            if (!problem.isEmpty())
                std::fprintf(stderr, "velbrook: the disc image cannot be used: %s\n",
                             qPrintable(EscapeControls(problem)));
            else if (const QString note = CDImageNote(image); !note.isEmpty())
                std::fprintf(stderr, "velbrook: %s\n", qPrintable(EscapeControls(note)));
        }
    }

    const QString problem = DisplayProblem();
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "velbrook: %s\nStart Velbrook from a desktop session.\n", qPrintable(problem));
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(ProductName());
    QApplication::setApplicationVersion(VersionText());
    QApplication::setWindowIcon(ApplicationIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("org.velbrook.Velbrook"));
    const TVorbisLibraries vorbisLibraries;
    // The sound devices are counted once, before any window can play.
    const TSoundSystem soundSystem;

    TMainForm mainForm;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        mainForm.move(screen->availableGeometry().center() - mainForm.rect().center());
    CloseOnTerminate(&mainForm);
    mainForm.show();
    return QApplication::exec();
}
