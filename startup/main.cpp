// The desktop program's entry: the splash window, the application title, the main window, the
// unsaved-images dialog and the About box, in this order, then the event loop.

#include "About.h"
#include "Icons.h"
#include "Main.h"
#include "SnaploomApplication.h"
#include "Splash.h"
#include "UnsavedImages.h"
#include "Version.h"

#include "InterruptSignals.h"
#include "SnaploomVersion.h"

#include <QString>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const char Help[] =
    "Usage: corvane-snaploom [--help | --version | ARGUMENT]\n"
    "The desktop program of Corvane Snaploom: connect to a Corvane instrument on a serial port,\n"
    "capture its screen into image windows, copy them or save them as bitmap files.\n"
    "Any ARGUMENT keeps the splash window hidden. For use without a display, the command-line\n"
    "tool snaploom lists ports, identifies the instrument and captures its screen to a file.\n"
    "\n"
    "  -h, --help   show this help\n"
    "  --version    show the program's name and version\n";

// Qt ends the program with a fatal message when it finds no display; this says so in one line
// instead, and names the tool that needs none.
void noDisplayHandler(QtMsgType type, const QMessageLogContext &, const QString &)
{
    if (type != QtFatalMsg)
        return;   // the platform's warnings before the fatal one say the same at length
    static const char Line[] = "corvane-snaploom: cannot open a display; without one, use the command-line tool "
                               "snaploom (see snaploom --help)\n";
    const ssize_t written = ::write(STDERR_FILENO, Line, sizeof Line - 1);
    Q_UNUSED(written);
    ::_exit(1);
}

}  // namespace

int main(int argc, char *argv[])
{
    // Help and version need no display, so they are answered before the application is made.
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(Help, stdout);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("corvane-snaploom %s\n", SNAPLOOM_VERSION_TEXT);
        return 0;
    }

    // Any other non-empty first argument only hides the splash.
    const bool showSplash = argc < 2 || QString::fromLocal8Bit(argv[1]).isEmpty();

    const QtMessageHandler previousHandler = qInstallMessageHandler(noDisplayHandler);
    TSnaploomApplication application(argc, argv);
    qInstallMessageHandler(previousHandler);

    // The splash comes first and is never the main window; it fades and releases itself.
    frmSplash = new TfrmSplash;
    if (showSplash)
        frmSplash->ShowAndPaint();

    // The application title; message boxes carry it too.
    QApplication::setApplicationName(ProductName());
    QApplication::setWindowIcon(Icons::application());

    // The main window is the application's main window: closing it ends the program.
    TfrmMain mainWindow;
    if (!mainWindow.created())
        return 1;   // the reason has been shown in an error box
    frmUnsavedImages = new TfrmUnsavedImages(&mainWindow);

    frmAbout = new TfrmAbout(mainWindow.link(), &mainWindow);
    mainWindow.setAboutBox(frmAbout);

    // SIGINT, SIGTERM and SIGHUP end the program without leaving the instrument halted.
    InterruptSignals interrupts;
    QObject::connect(&interrupts, &InterruptSignals::interrupted, &mainWindow, &TfrmMain::endBySignal);
    interrupts.setAbandonText("\nAbandoned at once. The instrument may still be halted and in command mode; "
                              "to restart it, run: snaploom unfreeze --find\n",
                              130);

    mainWindow.show();
    // Pictures an earlier run could not save are offered back once the window is there.
    QTimer::singleShot(0, &mainWindow, &TfrmMain::offerLeftovers);
    const int result = application.exec();
    frmUnsavedImages = nullptr;   // goes with the main window
    return result;
}
