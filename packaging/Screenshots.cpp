// Makes the README's pictures: the main window with a capture from the virtual instrument, the
// About box while it is connected, and the capture zoomed. scripts/screenshots.sh runs it under a
// virtual display.
//
//   snaploom-screenshots FOLDER
#include "About.h"
#include "ImageForm.h"
#include "ImageWorkspace.h"
#include "Main.h"
#include "UnsavedImages.h"
#include "Version.h"
#include "VirtualMeterThread.h"
#include "qzMeterCOM.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {

constexpr int Com = 3;

bool save(QWidget &widget, const QString &file)
{
    QTest::qWait(300);   // let the window manager and the splash-free window settle
    if (widget.grab().save(file, "PNG"))
        return true;
    std::fprintf(stderr, "snaploom-screenshots: cannot write %s\n", qPrintable(file));
    return false;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: snaploom-screenshots FOLDER\n");
        return 2;
    }
    // A settings folder of its own, set to the instrument's port, so nothing of the user's shows.
    QTemporaryDir home;
    qputenv("SNAPLOOM_HOME", home.path().toLocal8Bit());
    QDir(home.path()).mkpath(QStringLiteral("ports"));
    QFile settings(home.filePath(QStringLiteral("CorvaneSnaploom.INI")));
    if (!settings.open(QIODevice::WriteOnly) || settings.write(QByteArray("[COM]\nPort=") + QByteArray::number(Com) + '\n') <= 0)
        return 1;
    settings.close();

    QApplication application(argc, argv);
    QApplication::setApplicationName(ProductName());
    const QString folder = QString::fromLocal8Bit(argv[1]);

    VirtualMeterThread meter;
    VirtualMeterOptions options;
    options.comNumber = Com;
    QString error;
    if (!meter.start(options, &error)) {
        std::fprintf(stderr, "snaploom-screenshots: %s\n", qPrintable(error));
        return 1;
    }

    TfrmMain mainWindow;
    if (!mainWindow.created())
        return 1;
    frmUnsavedImages = new TfrmUnsavedImages(&mainWindow);
    frmAbout = new TfrmAbout(mainWindow.link(), &mainWindow);
    mainWindow.setAboutBox(frmAbout);
    mainWindow.resize(900, 640);
    mainWindow.show();
    if (!QTest::qWaitForWindowExposed(&mainWindow))
        return 1;

    // What a user does: Connect, then Capture screen.
    for (const char *name : {"mnuConnect", "mnuCaptureScreen"}) {
        auto *action = mainWindow.findChild<QAction *>(QLatin1String(name));
        if (!action->isEnabled()) {
            std::fprintf(stderr, "snaploom-screenshots: %s is not available\n", qPrintable(action->text()));
            return 1;
        }
        action->trigger();
    }
    if (!save(mainWindow, folder + QStringLiteral("/main-window.png")))
        return 1;

    frmAbout->show();
    if (!QTest::qWaitForWindowExposed(frmAbout) || !save(*frmAbout, folder + QStringLiteral("/about-box.png")))
        return 1;
    frmAbout->hide();

    // The picture at twice its size, filling the client area: View › Zoom In.
    if (TfrmImage *image = mainWindow.workspace().activeImageWindow())
        image->showMaximized();
    mainWindow.findChild<QAction *>(QStringLiteral("mnuZoomIn"))->trigger();
    if (!save(mainWindow, folder + QStringLiteral("/zoomed-picture.png")))
        return 1;
    for (TfrmImage *image : mainWindow.workspace().imageWindows())
        image->setSaved(true);
    mainWindow.link().Disconnect();
    return 0;
}
