// Capturing from the main window: the status texts and message boxes a user sees, and the image
// windows that result.

#include "MainWindowTest.h"
#include "ConnectionController.h"
#include "ImageView.h"

#include <QListWidget>
#include <QMdiArea>
#include <QProgressBar>
#include <QPushButton>

#include "CaptureProgress.h"
#include "InterruptSignals.h"
#include "Version.h"

#include <QRegularExpression>
#include <csignal>

namespace {
const QString LoadError = QStringLiteral("An error occoured while loading image.\r\rPlease try again.");
const QString Loaded = QStringLiteral("The image has been loaded correctly.");
constexpr int MeterCom = 81;
}

class TestMainWindowCapture : public MainWindowTest
{
    Q_OBJECT

private slots:
    void capture_data();
    void capture();
    void captionsCountSuccessesOnly();
    void orientationZeroIsTurnedUpright();
    void closeDuringCaptureWaitsForIt();
    void keysDuringPauseWaitForTheCapture_data();
    void keysDuringPauseWaitForTheCapture();
    void lineLostDuringCapture_data();
    void lineLostDuringCapture();
    void noBoxHoldsTheInstrument_data();
    void noBoxHoldsTheInstrument();
    void signalDuringFrozenCapture();
    void lineLostWhileIdle();
    void pacedCaptureTellsWhatGoesOn_data();
    void pacedCaptureTellsWhatGoesOn();

private:
    // A small stored screen keeps each read short.
    VirtualMeterThread *connectToMeter(QList<MeterFault> faults = {}, quint16 dspStatus = 0,
                                       int com = MeterCom, QSize stored = QSize(32, 48))
    {
        VirtualMeterOptions options;
        options.comNumber = com;
        options.storedSize = stored;
        options.faults = QSet<MeterFault>(faults.begin(), faults.end());
        options.dspStatus = dspStatus;
        VirtualMeterThread *meter = startMeter(options);
        reconnect(com);
        return meter;
    }
    void reconnect(int com) { QVERIFY(connectTo(com)); }
};

void TestMainWindowCapture::capture_data()
{
    QTest::addColumn<QList<MeterFault>>("faults");
    QTest::addColumn<int>("dspStatus");
    QTest::addColumn<bool>("freeze");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<Messages>("expectedMessages");
    QTest::addColumn<bool>("windowOpened");

    using F = QList<MeterFault>;
    QTest::newRow("freeze off") << F{} << 0 << false << QStringList{"Reading screen image...", Loaded}
                                << Messages{} << true;
    QTest::newRow("freeze on") << F{} << 0 << true
                               << QStringList{"Stopping DSP...", "Reading screen image...", "Restarting DSP...", Loaded}
                               << Messages{} << true;
    QTest::newRow("status 17") << F{} << 17 << true << QStringList{}
                               << Messages{{Kind::Information, "Sorry. The Picture Preview can not be uploaded."}}
                               << false;
    // A halt that was sent is followed by a restart, acknowledged or not.
    QTest::newRow("halt refused") << F{MeterFault::HaltRefused} << 0 << true
                                  << QStringList{"Stopping DSP...", "Restarting DSP..."}
                                  << Messages{{Kind::Error, "Could not halt DSP and freeze image."},
                                              {Kind::Error, LoadError}}
                                  << false;
    QTest::newRow("restart refused")
        << F{MeterFault::RestartRefused} << 0 << true
        << QStringList{"Stopping DSP...", "Reading screen image...", "Restarting DSP...", Loaded}
        << Messages{{Kind::Error, "Could not restart DSP and unfreeze image."}} << true;
    QTest::newRow("load failed") << F{MeterFault::SwappedImageTrailer} << 0 << false
                                 << QStringList{"Reading screen image...", ""} << Messages{{Kind::Error, LoadError}}
                                 << false;
}

void TestMainWindowCapture::capture()
{
    QFETCH(QList<MeterFault>, faults);
    QFETCH(int, dspStatus);
    QFETCH(bool, freeze);
    QFETCH(QStringList, texts);
    QFETCH(Messages, expectedMessages);
    QFETCH(bool, windowOpened);

    VirtualMeterThread *meter = connectToMeter(faults, quint16(dspStatus));
    mainWindow->capture().setPauses(20, 20);
    action("mnuFreezeImage")->setChecked(freeze);

    action("mnuCaptureScreen")->trigger();

    QCOMPARE(messages, expectedMessages);
    QCOMPARE(fileTexts, texts);  // what the file panel said, in order
    QCOMPARE(imageWindows().size(), windowOpened ? 1 : 0);
    if (windowOpened) {
        TfrmImage *window = activeImageWindow();
        QCOMPARE(window->windowTitle(), QStringLiteral("New image 1"));
        QCOMPARE(window->picture(), meter->expectedCapture().convertToFormat(window->picture().format()));
    }
    // Whatever happened, the commands are back and the client area redraws.
    QVERIFY(action("mnuCaptureScreen")->isEnabled());
    QVERIFY(action("mnuConnect")->isEnabled());
    QVERIFY(!part<QProgressBar>("pbMain")->isVisible());
    QVERIFY(part<QMdiArea>("ClientArea")->updatesEnabled());
}

void TestMainWindowCapture::captionsCountSuccessesOnly()
{
    connectToMeter({}, VirtualMeterOptions::RefusingStatusWord, MeterCom + 1);
    connectToMeter();
    action("mnuCaptureScreen")->trigger();
    reconnect(MeterCom + 1);
    action("mnuCaptureScreen")->trigger();  // refused: uses no number
    reconnect(MeterCom);
    action("mnuCaptureScreen")->trigger();
    QStringList titles;
    for (TfrmImage *window : imageWindows())
        titles << window->windowTitle();
    QCOMPARE(titles, (QStringList{"New image 1", "New image 2"}));

    // Closing windows never gives a number back.
    for (TfrmImage *window : imageWindows()) {
        window->setSaved(true);
        window->close();
    }
    QTRY_VERIFY(imageWindows().isEmpty());
    button("btnGrab")->click();
    QCOMPARE(activeImageWindow()->windowTitle(), QStringLiteral("New image 3"));
}

void TestMainWindowCapture::orientationZeroIsTurnedUpright()
{
    // The instrument's full 272 x 480 store, turned as it is shown.
    VirtualMeterThread *meter = connectToMeter({}, 0, MeterCom, QSize(272, 480));
    mainWindow->resize(1200, 900);
    action("mnuCaptureScreen")->trigger();

    TfrmImage *window = activeImageWindow();
    QVERIFY(window);
    QCOMPARE(window->imageView()->size(), QSize(480, 272));
    QCOMPARE(window->picture(), meter->expectedCapture().convertToFormat(window->picture().format()));
}

void TestMainWindowCapture::closeDuringCaptureWaitsForIt()
{
    connectToMeter();
    bool visibleAfterRequest = false;
    connect(mainWindow.get(), &TfrmMain::statusMessageChanged, this, [&](const QString &text) {
        if (text == QStringLiteral("Reading screen image...")) {
            mainWindow->close();
            visibleAfterRequest = mainWindow->isVisible();
        }
    });
    QStringList offered;
    TfrmUnsavedImages::setAnswerHandler([&offered](TfrmUnsavedImages &dialog) {
        const QListWidget *list = dialog.findChild<QListWidget *>(QStringLiteral("chkUnsavedImages"));
        for (int row = 0; row < list->count(); ++row)
            offered << list->item(row)->text();
        dialog.findChild<QPushButton *>(QStringLiteral("Button2"))->click();  // close without saving
    });

    action("mnuCaptureScreen")->trigger();
    QVERIFY(visibleAfterRequest);
    QTRY_VERIFY(!mainWindow->isVisible());
    QCOMPARE(offered, QStringList{"New image 1"});  // the picture taken meanwhile was offered
}

void TestMainWindowCapture::keysDuringPauseWaitForTheCapture_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Ctrl+N: a second capture") << int(Qt::Key_N);
    QTest::newRow("Ctrl+Enter: disconnect") << int(Qt::Key_Return);
}

// The pause after the halt lets events through; the commands that must not start meanwhile
// stay out of reach, and the capture ends as if no key had been pressed.
void TestMainWindowCapture::keysDuringPauseWaitForTheCapture()
{
    QFETCH(int, key);
    connectToMeter();
    mainWindow->capture().setPauses(400, 20);
    action("mnuFreezeImage")->setChecked(true);
    mainWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mainWindow.get()));
    bool pressed = false;
    connect(mainWindow.get(), &TfrmMain::statusMessageChanged, this, [&](const QString &text) {
        if (text == QStringLiteral("Stopping DSP..."))
            QTimer::singleShot(100, mainWindow.get(), [&] {
                QTest::keyClick(mainWindow.get(), Qt::Key(key), Qt::ControlModifier);
                pressed = true;
            });
    });

    action("mnuCaptureScreen")->trigger();

    QVERIFY(pressed);
    QVERIFY(messages.isEmpty());
    QCOMPARE(imageWindows().size(), 1);
    QVERIFY(mainWindow->link().IsConnected());
    QCOMPARE(fileTexts.last(), Loaded);
}

void TestMainWindowCapture::lineLostDuringCapture_data()
{
    QTest::addColumn<MeterFault>("fault");
    QTest::addColumn<bool>("pictureKept");
    QTest::newRow("hang-up in the image read") << MeterFault::HangUpInImage << false;
    QTest::newRow("unplugged at the halt") << MeterFault::UnplugInHalt << false;
    QTest::newRow("unplugged at the restart") << MeterFault::UnplugInRestart << true;
}

// The error names the port and the cause; the window is back in its not-connected state. A
// picture that was in whole before the line went is shown all the same.
void TestMainWindowCapture::lineLostDuringCapture()
{
    QFETCH(MeterFault, fault);
    QFETCH(bool, pictureKept);
    connectToMeter({fault});
    action("mnuFreezeImage")->setChecked(true);
    action("mnuCaptureScreen")->trigger();

    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().first, Kind::Error);
    QVERIFY2(messages.first().second.startsWith(QStringLiteral("The connection to COM%1 was lost (").arg(MeterCom)),
             qPrintable(messages.first().second));
    QVERIFY(!mainWindow->link().IsConnected());
    QCOMPARE(panel("pnlConnected")->text(), QStringLiteral("Disconnected."));
    QVERIFY(!action("mnuCaptureScreen")->isEnabled());
    QCOMPARE(action("mnuConnect")->text(), QStringLiteral("C&onnect"));
    QVERIFY(action("mnuConnect")->isEnabled());
    QVERIFY(menu("mnuInterface")->menuAction()->isEnabled());
    QCOMPARE(imageWindows().size(), pictureKept ? 1 : 0);
}

// Whatever ends a frozen capture in an error, each message comes with the instrument running
// again and out of command mode: a box left open for hours holds nothing.
void TestMainWindowCapture::noBoxHoldsTheInstrument_data()
{
    QTest::addColumn<QList<MeterFault>>("faults");
    QTest::addColumn<Messages>("expectedMessages");
    const Messages haltFailed{{Kind::Error, "Could not halt DSP and freeze image."}, {Kind::Error, LoadError}};
    QTest::newRow("halt acknowledged late") << QList<MeterFault>{MeterFault::LateHaltAck} << haltFailed;
    QTest::newRow("halt refused") << QList<MeterFault>{MeterFault::HaltRefused} << haltFailed;
    QTest::newRow("image without its trailer") << QList<MeterFault>{MeterFault::SwappedImageTrailer}
                                               << Messages{{Kind::Error, LoadError}};
}

void TestMainWindowCapture::noBoxHoldsTheInstrument()
{
    QFETCH(QList<MeterFault>, faults);
    QFETCH(Messages, expectedMessages);
    VirtualMeterThread *meter = connectToMeter(faults);
    mainWindow->capture().setPauses(20, 20);
    action("mnuFreezeImage")->setChecked(true);
    QStringList heldBy;  // what held the instrument while a box was open
    Dialogs::setMessageHandler([&](Kind kind, const QString &text, QMessageBox::StandardButtons) {
        messages.append({kind, text});
        if (meter->halted())
            heldBy << "halted behind " + text;
        if (meter->commandMode())
            heldBy << "in command mode behind " + text;
        return QMessageBox::Ok;
    });

    action("mnuCaptureScreen")->trigger();

    QCOMPARE(messages, expectedMessages);
    QCOMPARE(heldBy, QStringList{});
    QVERIFY(mainWindow->link().IsConnected());  // the next capture enters command mode again
}

// SIGTERM while a frozen image is read over a paced line: the read drains, the instrument runs
// again, command mode is left and the port closed; no window opens.
void TestMainWindowCapture::signalDuringFrozenCapture()
{
    VirtualMeterOptions options;
    options.comNumber = MeterCom;
    options.storedSize = QSize(16, 40);
    options.pace = true;
    options.latencyMs = 5;
    VirtualMeterThread *meter = startMeter(options);
    reconnect(MeterCom);
    mainWindow->connection().setEndBySignalLimit(60000);  // the whole drain, in this process
    InterruptSignals interrupts;
    connect(&interrupts, &InterruptSignals::interrupted, mainWindow.get(), &TfrmMain::endBySignal);
    connect(mainWindow.get(), &TfrmMain::statusMessageChanged, this, [](const QString &text) {
        if (text == QStringLiteral("Reading screen image..."))
            QTimer::singleShot(300, [] { ::raise(SIGTERM); });
    });
    action("mnuFreezeImage")->setChecked(true);
    action("mnuCaptureScreen")->trigger();

    QTRY_VERIFY(!mainWindow->link().IsConnected());
    QCOMPARE(meter->halts(), 1);
    QVERIFY(!meter->halted());
    QVERIFY(!meter->commandMode());
    QVERIFY(imageWindows().isEmpty());
    QVERIFY(messages.isEmpty());
}

// An instrument unplugged while nothing runs: the window notices by itself.
void TestMainWindowCapture::lineLostWhileIdle()
{
    VirtualMeterThread *meter = connectToMeter();
    meter->stop();
    QTRY_COMPARE(panel("pnlConnected")->text(), QStringLiteral("Disconnected."));
    QVERIFY(!mainWindow->link().IsConnected());
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages.first().second.startsWith(QStringLiteral("The connection to COM%1 was lost (").arg(MeterCom)),
             qPrintable(messages.first().second));
    QVERIFY(!action("mnuCaptureScreen")->isEnabled());
}

void TestMainWindowCapture::pacedCaptureTellsWhatGoesOn_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("exitMeanwhile");
    QTest::newRow("read to the end") << false << false;
    QTest::newRow("cancelled") << true << false;
    QTest::newRow("cancelled, then Exit") << true << true;
}

// Over a line at its real pace: the title carries the percentage, the toolbar agrees with the
// menus all along, and a cancelled read counts down the rest of the reply it still takes in.
void TestMainWindowCapture::pacedCaptureTellsWhatGoesOn()
{
    QFETCH(bool, cancel);
    QFETCH(bool, exitMeanwhile);
    VirtualMeterOptions options;
    options.comNumber = MeterCom;
    options.storedSize = QSize(64, 96);  // the picture itself about 13 s at line speed
    options.pace = true;
    startMeter(options);
    reconnect(MeterCom);
    TfrmUnsavedImages::setAnswerHandler([](TfrmUnsavedImages &dialog) {
        dialog.findChild<QPushButton *>(QStringLiteral("Button2"))->click();  // close without saving
    });

    const QRegularExpression progressTitle(QStringLiteral("^(\\d+) % \u2013 ") + QRegularExpression::escape(ApplicationTitle()) + "$");
    const QList<QPair<const char *, const char *>> pairs{
        {"btnConnect", "mnuConnect"}, {"btnGrab", "mnuCaptureScreen"}, {"btnCopy", "mnuCopy"}, {"btnSaveAs", "mnuSaveImage"}};
    QStringList disagreements;
    QList<int> percents;
    bool cancelled = false;
    auto *bar = part<QProgressBar>("pbMain");
    QTimer watch;
    watch.setInterval(50);
    connect(&watch, &QTimer::timeout, this, [&] {
        for (const auto &[buttonName, itemName] : pairs)
            if (button(buttonName)->isEnabled() != action(itemName)->isEnabled())
                disagreements << QString::fromLatin1(buttonName);
        const auto match = progressTitle.match(mainWindow->windowTitle());
        if (match.hasMatch())
            percents << match.captured(1).toInt();
        if (cancel && !cancelled && bar->isVisible() && bar->value() >= bar->maximum() / 5) {
            cancelled = true;
            button("btnCancelCapture")->click();
            if (exitMeanwhile)
                action("mnuExit")->trigger();
        }
    });
    watch.start();
    action("mnuCaptureScreen")->trigger();
    watch.stop();

    QVERIFY2(disagreements.isEmpty(), qPrintable(disagreements.join(' ')));
    QVERIFY(percents.size() >= 3);
    QVERIFY(std::is_sorted(percents.begin(), percents.end()));
    QCOMPARE(mainWindow->windowTitle(), ApplicationTitle());
    QVERIFY(messages.isEmpty());
    if (!cancel) {
        QCOMPARE(imageWindows().size(), 1);
        return;
    }
    QVERIFY(cancelled);
    QVERIFY(imageWindows().isEmpty());
    const QRegularExpression countdown(QStringLiteral("^Cancelling: finishing the running read, about (\\d+) s(.*)$"));
    QList<int> seconds;
    for (const QString &text : std::as_const(fileTexts))
        if (const auto match = countdown.match(text); match.hasMatch()) {
            seconds << match.captured(1).toInt();
            if (!exitMeanwhile)
                QVERIFY(match.captured(2).isEmpty());
        }
    QVERIFY2(seconds.size() >= 2, qPrintable(fileTexts.join('|')));
    QVERIFY(std::is_sorted(seconds.rbegin(), seconds.rend()));  // counting down
    QVERIFY(seconds.first() >= 3);
    if (exitMeanwhile) {
        QVERIFY(fileTexts.contains(QStringLiteral("Cancelling: finishing the running read, about %1 s; the program closes when it ends.").arg(seconds.last())));
        QTRY_VERIFY(!mainWindow->isVisible());
    } else {
        QCOMPARE(panel("pnlFile")->text(), QString());
        QVERIFY(mainWindow->isVisible());
    }
}

QTEST_MAIN(TestMainWindowCapture)
#include "tst_mainwindow_capture.moc"
