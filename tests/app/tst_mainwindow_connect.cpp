// Connecting from the main window to virtual instruments: Connect and Disconnect, failed attempts,
// and the search across several ports.

#include "MainWindowTest.h"

#include <QFile>
#include <QTimer>

class TestMainWindowConnect : public MainWindowTest
{
    Q_OBJECT

private slots:
    void connectAndDisconnect_data();
    void connectAndDisconnect();
    void failedConnect_data();
    void failedConnect();
    void findStopsAtFirstInstrument();
    void failedSearchSelectsLastTriedPort();
    void closeDuringAttemptWaitsForIt();
    void exitWhileConnectedLeavesCommandMode();
    void connectAtStart_data();
    void connectAtStart();

private:
    VirtualMeterThread *startMeterOn(int com, quint8 model = 220, bool silent = false, QSet<MeterFault> faults = {})
    {
        VirtualMeterOptions options;
        options.comNumber = com;
        options.modelCode = model;
        options.serialNumber = quint16(3000 + com);
        options.faults = faults;
        if (silent)
            options.faults.insert(MeterFault::Silent);
        return startMeter(options);
    }
    void choosePort(int number)
    {
        interfaceItem(PortMenu::TagRefresh)->trigger();
        QVERIFY(interfaceItem(number));
        interfaceItem(number)->trigger();
    }
};

void TestMainWindowConnect::connectAndDisconnect_data()
{
    QTest::addColumn<quint8>("model");
    QTest::addColumn<int>("how");  // 0 the menu item, 1 Ctrl+Return, 2 Ctrl+keypad Enter, 3 the toolbar

    QTest::newRow("Alvo from the menu") << quint8(220) << 0;
    QTest::newRow("Brenn with Ctrl+Return") << quint8(221) << 1;
    QTest::newRow("Alvo with Ctrl+keypad Enter") << quint8(220) << 2;
    QTest::newRow("Brenn from the toolbar") << quint8(221) << 3;
}

void TestMainWindowConnect::connectAndDisconnect()
{
    QFETCH(quint8, model);
    QFETCH(int, how);

    startMeterOn(71, model);
    choosePort(71);
    mainWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mainWindow.get()));
    auto chooseConnect = [&] {
        switch (how) {
        case 0: action("mnuConnect")->trigger(); break;
        case 1: QTest::keyClick(mainWindow.get(), Qt::Key_Return, Qt::ControlModifier); break;
        case 2: QTest::keyClick(mainWindow.get(), Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier); break;
        case 3: button("btnConnect")->click(); break;
        }
    };

    chooseConnect();
    QVERIFY(mainWindow->link().IsConnected());
    QCOMPARE(panel("pnlConnected")->text(), QStringLiteral("Connected."));
    QCOMPARE(panel("pnlSerial")->text(), QStringLiteral("Serial No.: 3071"));
    QCOMPARE(action("mnuConnect")->text(), QStringLiteral("Disc&onnect"));
    QVERIFY(action("mnuCaptureScreen")->isEnabled());
    QVERIFY(!menu("mnuInterface")->menuAction()->isEnabled());

    chooseConnect();
    QVERIFY(!mainWindow->link().IsConnected());
    QCOMPARE(panel("pnlConnected")->text(), QStringLiteral("Disconnected."));
    QVERIFY(panel("pnlSerial")->text().isEmpty());
    QCOMPARE(action("mnuConnect")->text(), QStringLiteral("C&onnect"));
    QVERIFY(!action("mnuCaptureScreen")->isEnabled());
    QVERIFY(menu("mnuInterface")->menuAction()->isEnabled());
    QVERIFY(messages.isEmpty());
}

void TestMainWindowConnect::failedConnect_data()
{
    QTest::addColumn<bool>("meterPresent");
    QTest::addColumn<quint8>("model");
    QTest::addColumn<QSet<MeterFault>>("faults");
    QTest::addColumn<QString>("fileText");
    QTest::addColumn<QString>("boxText");

    // The box keeps its text where nothing answers and names the cause otherwise.
    const QString cannotOpen = QStringLiteral("COM79 cannot be opened: there is no such device.");
    QTest::newRow("no such port") << false << quint8(220) << QSet<MeterFault>{} << cannotOpen << cannotOpen;
    QTest::newRow("instrument silent") << true << quint8(220) << QSet<MeterFault>{MeterFault::Silent}
                                       << QStringLiteral("No instrument detected.") << NoInstrumentMessage;
    const QString notOurs = QStringLiteral("COM72 answers as \"Corvane Tazo\" (model code 222), which cannot be captured.");
    QTest::newRow("Tazo is not ours") << true << quint8(222) << QSet<MeterFault>{} << notOurs << notOurs;
    const QString garbled = QStringLiteral("COM72 answers, but its replies were not understood.");
    QTest::newRow("junk before every reply") << true << quint8(220) << QSet<MeterFault>{MeterFault::Garbled} << garbled << garbled;
}

void TestMainWindowConnect::failedConnect()
{
    QFETCH(bool, meterPresent);
    QFETCH(quint8, model);
    QFETCH(QSet<MeterFault>, faults);
    QFETCH(QString, fileText);
    QFETCH(QString, boxText);

    VirtualMeterThread *meter = nullptr;
    if (meterPresent) {
        meter = startMeterOn(72, model, false, faults);
        choosePort(72);
    } else {
        mainWindow->link().PortNumber = 79;  // as a settings file may name it
    }
    action("mnuConnect")->trigger();

    QVERIFY(!mainWindow->link().IsConnected());  // never left open after a failure
    QCOMPARE(messages, (Messages{{Kind::Error, boxText}}));
    QCOMPARE(panel("pnlFile")->text(), fileText);
    QCOMPARE(panel("pnlConnected")->text(), QStringLiteral("Not Connected"));
    QVERIFY(!action("mnuCaptureScreen")->isEnabled());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    if (meter)
        QVERIFY(!meter->commandMode());
}

void TestMainWindowConnect::findStopsAtFirstInstrument()
{
    startMeterOn(73, 220, true);
    startMeterOn(74, 222);
    startMeterOn(75, 221);
    startMeterOn(76, 220);

    action("mnuPopFindInstrument")->trigger();

    QVERIFY(messages.isEmpty());  // no box for each failed port, none for the search
    QVERIFY(mainWindow->link().IsConnected());
    QCOMPARE(mainWindow->link().PortNumber, 75);
    QCOMPARE(panel("pnlSerial")->text(), QStringLiteral("Serial No.: 3075"));
    QVERIFY(interfaceItem(75)->isChecked());
    QVERIFY(meters.back()->received().isEmpty());  // ports after the instrument are not touched
    QCOMPARE(fileTexts.mid(fileTexts.size() - 6),
             (QStringList{"Trying to open COM73", "No instrument detected.", "Trying to open COM74",
                          "COM74 answers as \"Corvane Tazo\" (model code 222), which cannot be captured.",
                          "Trying to open COM75", QString()}));
}

void TestMainWindowConnect::failedSearchSelectsLastTriedPort()
{
    startMeterOn(77, 220, true);
    startMeterOn(78, 209);
    interfaceItem(PortMenu::TagRefresh)->trigger();

    interfaceItem(PortMenu::TagFindInstrument)->trigger();

    // One box for the whole search, naming what answered but was not taken.
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.first().second.startsWith(NoInstrumentMessage));
    QVERIFY2(messages.first().second.contains(
                 QStringLiteral("\r\rCOM78 answers as \"qzMeter QZ Brenn\" (model code 209), which cannot be captured.")),
             qPrintable(messages.first().second));
    QVERIFY(!mainWindow->link().IsConnected());
    QList<int> listed;
    for (QAction *item : menu("mnuInterface")->actions())
        if (item->data().toInt() > 0)
            listed << item->data().toInt();
    QVERIFY(listed.contains(78));
    QCOMPARE(mainWindow->link().PortNumber, listed.last());
    QCOMPARE(panel("pnlPort")->text(), QStringLiteral("COM%1").arg(listed.last()));
    QVERIFY(interfaceItem(listed.last())->isChecked());
}

void TestMainWindowConnect::closeDuringAttemptWaitsForIt()
{
    startMeterOn(70, 220, true);
    choosePort(70);
    bool visibleAfterRequest = false;
    QTimer::singleShot(50, mainWindow.get(), [&] {
        button("btnConnect")->click();  // again: must not pull the port from under the attempt
        mainWindow->close();
        visibleAfterRequest = mainWindow->isVisible();
    });
    action("mnuConnect")->trigger();
    QVERIFY(visibleAfterRequest);  // the attempt still needed the window
    QCOMPARE(messages, (Messages{{Kind::Error, NoInstrumentMessage}}));
    QVERIFY(!mainWindow->link().IsConnected());
    QTRY_VERIFY(!mainWindow->isVisible());  // and then it closed
}

// Exiting while connected leaves the instrument's command mode.
void TestMainWindowConnect::exitWhileConnectedLeavesCommandMode()
{
    VirtualMeterThread *meter = startMeterOn(70);
    choosePort(70);
    action("mnuConnect")->trigger();
    QVERIFY(mainWindow->link().IsConnected());
    QVERIFY(meter->commandMode());
    QVERIFY(mainWindow->close());
    QVERIFY(!meter->commandMode());
    QVERIFY(!mainWindow->link().IsConnected());
}

QTEST_MAIN(TestMainWindowConnect)
#include "tst_mainwindow_connect.moc"

void TestMainWindowConnect::connectAtStart_data()
{
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<bool>("instrumentThere");
    QTest::addColumn<QString>("connected");
    QTest::addColumn<QString>("status");  // how the first panel's text starts
    QTest::newRow("on") << QByteArray("ConnectAtStart=1") << true << "Connected." << "";
    QTest::newRow("on, nothing there") << QByteArray("ConnectAtStart=1") << false << "Not Connected"
                                       << "COM77 cannot be opened";
    QTest::newRow("off") << QByteArray("ConnectAtStart=0") << true << "Not Connected" << "";
    QTest::newRow("not set") << QByteArray() << true << "Not Connected" << "";
}

// The remembered port is connected at start when the settings ask for it; a failure then is told
// in the status bar, not in a message box nobody asked for.
void TestMainWindowConnect::connectAtStart()
{
    QFETCH(QByteArray, options);
    QFETCH(bool, instrumentThere);
    QFETCH(QString, connected);
    QFETCH(QString, status);
    mainWindow.reset();
    if (instrumentThere)
        startMeterOn(77);
    QVERIFY(home.writeSettings("[COM]\nPort=77\n[Options]\n" + options + "\n"));
    openMainWindow(this);
    if (connected == QLatin1String("Connected."))
        QTRY_COMPARE_WITH_TIMEOUT(panel("pnlConnected")->text(), connected, 20000);
    else if (!status.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(panel("pnlFile")->text().startsWith(status), 20000);
    else
        QTest::qWait(500);
    QCOMPARE(panel("pnlConnected")->text(), connected);
    const QString shown = panel("pnlFile")->text();
    QVERIFY2(status.isEmpty() ? shown.isEmpty() : shown.startsWith(status), qPrintable(shown));
    QVERIFY(messages.isEmpty());
    QFile::remove(home.settingsFile());
}
