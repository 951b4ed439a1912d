// The desktop program's entry: the splash window, the application title, the main window, the
// unsaved-images dialog and the About box, in this order, then the event loop.

#include "About.h"
#include "Icons.h"
#include "Main.h"
#include "SnaploomApplication.h"
#include "Splash.h"
#include "UnsavedImages.h"

#include "InterruptSignals.h"

#include <QString>

int main(int argc, char *argv[])
{
    // The only argument the program looks at: any non-empty first argument hides the splash.
    const bool showSplash = argc < 2 || QString::fromLocal8Bit(argv[1]).isEmpty();

    TSnaploomApplication application(argc, argv);

    // The splash comes first and is never the main window; it fades and releases itself.
    frmSplash = new TfrmSplash;
    if (showSplash)
        frmSplash->ShowAndPaint();

    // The application title; message boxes carry it too.
    QApplication::setApplicationName(QStringLiteral("Corvane Snaploom"));
    QApplication::setWindowIcon(Icons::application());

    // The main window is the application's main window: closing it ends the program.
    TfrmMain mainWindow;
    if (!mainWindow.created())
        return 1;   // the reason has been shown in an error box
    frmMain = &mainWindow;
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
    const int result = application.exec();
    frmUnsavedImages = nullptr;   // goes with the main window
    frmMain = nullptr;
    return result;
}
