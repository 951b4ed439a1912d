#pragma once

// A shown main window, virtual instruments on real pseudo-terminals, and what the user was told.

#include "Dialogs.h"
#include "ImageForm.h"
#include "Main.h"
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
        QObject::connect(mainWindow.get(), &TfrmMain::fileTextChanged, context,
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

    QAction *interfaceItem(int tag) const
    {
        for (QAction *item : mainWindow->mnuInterface->actions())
            if (!item->isSeparator() && item->data().toInt() == tag)
                return item;
        return nullptr;
    }

    TestHome home;
    std::unique_ptr<TfrmMain> mainWindow;
    std::vector<std::unique_ptr<VirtualMeterThread>> meters;
    Messages messages;
    QStringList fileTexts;  // the status bar's file panel, in turn
};
