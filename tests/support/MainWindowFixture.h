#pragma once

// A shown main window, virtual instruments on real pseudo-terminals, and what the user was told.

#include "CaptureController.h"
#include "Dialogs.h"
#include "ImageForm.h"
#include "ImageWorkspace.h"
#include "Main.h"
#include "PortMenu.h"
#include "UnsavedImages.h"
#include "VirtualMeterThread.h"
#include "qzMeterCOM.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "TestHome.h"

using Kind = Dialogs::MessageKind;
using Messages = QList<QPair<Kind, QString>>;
const QString NoInstrumentMessage = QStringLiteral("No instrument detected.\r\rPlease check the connection.");

class MainWindowFixture
{
protected:
    static void startProgram()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        frmUnsavedImages = new TfrmUnsavedImages;
    }

    void openMainWindow(QObject *context)
    {
        messages.clear();
        fileTexts.clear();
        Dialogs::setMessageHandler([this](Kind kind, const QString &text, QMessageBox::StandardButtons) {
            messages.append({kind, text});
            return QMessageBox::Ok;
        });
        mainWindow = std::make_unique<TfrmMain>();
        QObject::connect(mainWindow.get(), &TfrmMain::statusMessageChanged, context,
                         [this](const QString &text) { fileTexts << text; });
        mainWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(mainWindow.get()));
    }

    void closeMainWindow()
    {
        mainWindow.reset();
        meters.clear();
        Dialogs::setMessageHandler({});
        TfrmUnsavedImages::setAnswerHandler({});
    }

    VirtualMeterThread *startMeter(VirtualMeterOptions options)
    {
        auto meter = std::make_unique<VirtualMeterThread>();
        QString error;
        if (!meter->start(options, &error))
            qFatal("virtual instrument did not start: %s", qPrintable(error));
        meters.push_back(std::move(meter));
        return meters.back().get();
    }

    // Connects the window to the instrument on port com with the Connect command, letting go of
    // any instrument it was connected to; the status texts so far are forgotten.
    bool connectTo(int com)
    {
        if (mainWindow->link().IsConnected())
            action("mnuConnect")->trigger();
        mainWindow->link().PortNumber = com;
        action("mnuConnect")->trigger();
        fileTexts.clear();
        return mainWindow->link().IsConnected();
    }

    // A part of the main window by its object name; a name that is not there ends the test run.
    template <typename Part>
    Part *part(const char *name) const
    {
        auto *found = mainWindow->findChild<Part *>(QLatin1String(name));
        if (!found)
            qFatal("the main window has no %s", name);
        return found;
    }
    QAction *action(const char *name) const { return part<QAction>(name); }
    QMenu *menu(const char *name) const { return part<QMenu>(name); }
    QToolButton *button(const char *name) const { return part<QToolButton>(name); }
    QLabel *panel(const char *name) const { return part<QLabel>(name); }

    QList<TfrmImage *> imageWindows() const { return mainWindow->workspace().imageWindows(); }
    TfrmImage *activeImageWindow() const { return mainWindow->workspace().activeImageWindow(); }

    QAction *interfaceItem(int tag) const
    {
        for (QAction *item : menu("mnuInterface")->actions())
            if (!item->isSeparator() && item->data().toInt() == tag)
                return item;
        return nullptr;
    }

    TestHome home;
    std::unique_ptr<TfrmMain> mainWindow;
    std::vector<std::unique_ptr<VirtualMeterThread>> meters;
    Messages messages;
    QStringList fileTexts;  // the status bar's first panel, in turn
};
