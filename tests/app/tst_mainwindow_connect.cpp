// Connecting from the main window to virtual instruments: Connect and Disconnect, failed attempts,
// and the search across several ports.

#include "MainWindowFixture.h"

#include <QTimer>

class TestMainWindowConnect : public QObject, MainWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { startProgram(); }
    void init() { openMainWindow(this); }
    void cleanup() { closeMainWindow(); }

    void connectAndDisconnect_data();
    void connectAndDisconnect();
    void failedConnect_data();
    void failedConnect();
    void findStopsAtFirstInstrument();
    void failedSearchSelectsLastTriedPort();
    void closeDuringAttemptWaitsForIt();

private:
    void startMeterOn(int com, quint8 model = 220, bool silent = false)
    {
        VirtualMeterOptions options;
        options.comNumber = com;
        options.modelCode = model;
        options.serialNumber = quint16(3000 + com);
        if (silent)
            options.faults = {MeterFault::Silent};
        startMeter(options);
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
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QString>("fileText");

    // The box keeps its text; the status bar says why a port would not open.
    QTest::newRow("no such port") << false << quint8(220) << false
                                  << QStringLiteral("COM79 cannot be opened: there is no such device.");
    QTest::newRow("instrument silent") << true << quint8(220) << true << QStringLiteral("No instrument detected.");
    QTest::newRow("Tazo is not ours") << true << quint8(222) << false << QStringLiteral("No instrument detected.");
}

void TestMainWindowConnect::failedConnect()
{
    QFETCH(bool, meterPresent);
    QFETCH(quint8, model);
    QFETCH(bool, silent);
    QFETCH(QString, fileText);

    if (meterPresent) {
        startMeterOn(72, model, silent);
        choosePort(72);
    } else {
        mainWindow->link().PortNumber = 79;  // as a settings file may name it
    }
    action("mnuConnect")->trigger();

    QVERIFY(!mainWindow->link().IsConnected());  // never left open after a failure
    QCOMPARE(messages, (Messages{{Kind::Error, NoInstrumentMessage}}));
    QCOMPARE(panel("pnlFile")->text(), fileText);
    QCOMPARE(panel("pnlConnected")->text(), QStringLiteral("Not Connected"));
    QVERIFY(!action("mnuCaptureScreen")->isEnabled());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
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
                          "No instrument detected.", "Trying to open COM75", QString()}));
}

void TestMainWindowConnect::failedSearchSelectsLastTriedPort()
{
    startMeterOn(77, 220, true);
    startMeterOn(78, 209);
    interfaceItem(PortMenu::TagRefresh)->trigger();

    interfaceItem(PortMenu::TagFindInstrument)->trigger();

    QCOMPARE(messages, (Messages{{Kind::Error, NoInstrumentMessage}}));  // one for the whole search
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

QTEST_MAIN(TestMainWindowConnect)
#include "tst_mainwindow_connect.moc"
