// Connecting from the main window to virtual instruments over real pseudo-terminals: Connect and
// Disconnect, failed attempts, and the search across several ports.

#include "Dialogs.h"
#include "Main.h"
#include "UnsavedImages.h"
#include "VirtualMeterThread.h"
#include "qzMeterCOM.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "TestHome.h"

namespace {
const QString NoInstrumentMessage = QStringLiteral("No instrument detected.\r\rPlease check the connection.");
}

class TestMainWindowConnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void connectAndDisconnect_data();
    void connectAndDisconnect();
    void failedConnect_data();
    void failedConnect();
    void findStopsAtFirstInstrument();
    void failedSearchSelectsLastTriedPort();
    void closeDuringAttemptWaitsForIt();
    void secondConnectDuringAttemptIsIgnored();

private:
    VirtualMeterThread *startMeter(int com, quint8 model = 220, QSet<MeterFault> faults = {});
    void choosePort(int number);
    QAction *interfaceItem(int tag) const;
    QList<int> listedPorts() const;

    TestHome m_home;
    std::unique_ptr<TfrmMain> m_main;
    std::vector<std::unique_ptr<VirtualMeterThread>> m_meters;
    QList<QPair<Dialogs::MessageKind, QString>> m_messages;
};

void TestMainWindowConnect::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    frmUnsavedImages = new TfrmUnsavedImages;
}

void TestMainWindowConnect::init()
{
    m_messages.clear();
    Dialogs::setMessageHandler([this](Dialogs::MessageKind kind, const QString &text, QMessageBox::StandardButtons) {
        m_messages.append({kind, text});
        return QMessageBox::Ok;
    });
    m_main = std::make_unique<TfrmMain>();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
}

void TestMainWindowConnect::cleanup()
{
    m_main.reset();
    m_meters.clear();
    Dialogs::setMessageHandler({});
}

VirtualMeterThread *TestMainWindowConnect::startMeter(int com, quint8 model, QSet<MeterFault> faults)
{
    VirtualMeterOptions options;
    options.comNumber = com;
    options.modelCode = model;
    options.serialNumber = 3000 + com;
    options.faults = faults;
    auto meter = std::make_unique<VirtualMeterThread>();
    QString error;
    if (!meter->start(options, &error))
        qFatal("virtual instrument did not start: %s", qPrintable(error));
    m_meters.push_back(std::move(meter));
    return m_meters.back().get();
}

QAction *TestMainWindowConnect::interfaceItem(int tag) const
{
    for (QAction *item : m_main->mnuInterface->actions())
        if (!item->isSeparator() && item->data().toInt() == tag)
            return item;
    return nullptr;
}

QList<int> TestMainWindowConnect::listedPorts() const
{
    QList<int> ports;
    for (QAction *item : m_main->mnuInterface->actions())
        if (item->data().toInt() > 0)
            ports << item->data().toInt();
    return ports;
}

void TestMainWindowConnect::choosePort(int number)
{
    interfaceItem(TfrmMain::TagRefresh)->trigger();
    QAction *item = interfaceItem(number);
    QVERIFY(item);
    item->trigger();
    QCOMPARE(m_main->link().PortNumber, number);
}

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

    startMeter(71, model);
    choosePort(71);
    m_main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    auto chooseConnect = [&] {
        switch (how) {
        case 0: m_main->mnuConnect->trigger(); break;
        case 1: QTest::keyClick(m_main.get(), Qt::Key_Return, Qt::ControlModifier); break;
        case 2: QTest::keyClick(m_main.get(), Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier); break;
        case 3: m_main->btnConnect->click(); break;
        }
    };

    chooseConnect();
    QVERIFY(m_main->link().IsConnected());
    QCOMPARE(m_main->pnlConnected->text(), QStringLiteral("Connected."));
    QCOMPARE(m_main->pnlSerial->text(), QStringLiteral("Serial No.: 3071"));
    QCOMPARE(m_main->pnlPort->text(), QStringLiteral("COM71"));
    QVERIFY(m_main->pnlFile->text().isEmpty());
    QCOMPARE(m_main->mnuConnect->text(), QStringLiteral("Disconnect"));
    QVERIFY(m_main->mnuConnect->isEnabled());
    QVERIFY(m_main->mnuCaptureScreen->isEnabled());
    QVERIFY(m_main->btnGrab->isEnabled());
    QVERIFY(!m_main->mnuInterface->menuAction()->isEnabled());
    QVERIFY(!m_main->mnuPopFindInstrument->isEnabled());
    QVERIFY(m_messages.isEmpty());

    chooseConnect();
    QVERIFY(!m_main->link().IsConnected());
    QCOMPARE(m_main->pnlConnected->text(), QStringLiteral("Disconnected."));
    QVERIFY(m_main->pnlSerial->text().isEmpty());
    QCOMPARE(m_main->mnuConnect->text(), QStringLiteral("Connect"));
    QVERIFY(m_main->mnuConnect->isEnabled());
    QVERIFY(!m_main->mnuCaptureScreen->isEnabled());
    QVERIFY(!m_main->btnGrab->isEnabled());
    QVERIFY(m_main->mnuInterface->menuAction()->isEnabled());
    QVERIFY(m_main->mnuPopFindInstrument->isEnabled());
    QVERIFY(m_messages.isEmpty());
}

void TestMainWindowConnect::failedConnect_data()
{
    QTest::addColumn<bool>("meterPresent");
    QTest::addColumn<quint8>("model");
    QTest::addColumn<bool>("silent");

    QTest::newRow("no such port") << false << quint8(220) << false;
    QTest::newRow("instrument silent") << true << quint8(220) << true;
    QTest::newRow("Tazo is not ours") << true << quint8(222) << false;
    QTest::newRow("qzMeter is not ours") << true << quint8(208) << false;
}

void TestMainWindowConnect::failedConnect()
{
    QFETCH(bool, meterPresent);
    QFETCH(quint8, model);
    QFETCH(bool, silent);

    if (meterPresent) {
        startMeter(72, model, silent ? QSet<MeterFault>{MeterFault::Silent} : QSet<MeterFault>{});
        choosePort(72);
    } else {
        m_main->link().PortNumber = 79;   // as a settings file may name it
    }
    m_main->mnuConnect->trigger();

    QVERIFY(!m_main->link().IsConnected());   // never left open after a failure
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first().first, Dialogs::MessageKind::Error);
    QCOMPARE(m_messages.first().second, NoInstrumentMessage);
    QCOMPARE(m_main->pnlFile->text(), QStringLiteral("No instrument detected."));
    QCOMPARE(m_main->pnlConnected->text(), QStringLiteral("Not Connected"));
    QVERIFY(m_main->pnlSerial->text().isEmpty());
    QCOMPARE(m_main->mnuConnect->text(), QStringLiteral("Connect"));
    QVERIFY(m_main->mnuConnect->isEnabled());
    QVERIFY(!m_main->mnuCaptureScreen->isEnabled());
    QVERIFY(m_main->mnuInterface->menuAction()->isEnabled());
    QVERIFY(m_main->mnuPopFindInstrument->isEnabled());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestMainWindowConnect::findStopsAtFirstInstrument()
{
    startMeter(73, 220, {MeterFault::Silent});
    startMeter(74, 222);
    VirtualMeterThread *found = startMeter(75, 221);
    VirtualMeterThread *after = startMeter(76, 220);

    // The texts of the search, as the status bar shows them while it runs.
    QStringList fileTexts;
    connect(m_main.get(), &TfrmMain::fileTextChanged, this, [&](const QString &text) { fileTexts << text; });
    m_main->mnuPopFindInstrument->trigger();

    QVERIFY(m_messages.isEmpty());  // no box for each failed port, none for the search
    QVERIFY(m_main->link().IsConnected());
    QCOMPARE(m_main->link().PortNumber, 75);
    QCOMPARE(m_main->pnlPort->text(), QStringLiteral("COM75"));
    QCOMPARE(m_main->pnlSerial->text(), QStringLiteral("Serial No.: 3075"));
    QVERIFY(interfaceItem(75)->isChecked());
    QVERIFY(!found->received().isEmpty());
    QVERIFY(after->received().isEmpty());   // ports after the instrument are not touched
    // Each port is named while it is tried; the failures say so, the success clears the panel.
    const QStringList tried = fileTexts.filter(QStringLiteral("Trying to open COM"));
    QCOMPARE(tried.mid(tried.size() - 3),
             (QStringList{"Trying to open COM73", "Trying to open COM74", "Trying to open COM75"}));
    QCOMPARE(fileTexts.mid(fileTexts.size() - 4),
             (QStringList{"Trying to open COM74", "No instrument detected.", "Trying to open COM75", QString()}));
}

void TestMainWindowConnect::failedSearchSelectsLastTriedPort()
{
    startMeter(77, 220, {MeterFault::Silent});
    startMeter(78, 209);
    interfaceItem(TfrmMain::TagRefresh)->trigger();
    const QList<int> ports = listedPorts();
    QVERIFY(ports.contains(77) && ports.contains(78));

    interfaceItem(TfrmMain::TagFindInstrument)->trigger();

    QCOMPARE(m_messages.size(), 1);   // one message for the whole search
    QCOMPARE(m_messages.first().second, NoInstrumentMessage);
    QVERIFY(!m_main->link().IsConnected());
    const int last = ports.last();
    QCOMPARE(m_main->link().PortNumber, last);
    QCOMPARE(m_main->pnlPort->text(), QStringLiteral("COM%1").arg(last));
    QVERIFY(interfaceItem(last)->isChecked());
    QCOMPARE(m_main->pnlFile->text(), QStringLiteral("No instrument detected."));
    QVERIFY(m_main->mnuInterface->menuAction()->isEnabled());
    QVERIFY(m_main->mnuConnect->isEnabled());
}

void TestMainWindowConnect::closeDuringAttemptWaitsForIt()
{
    startMeter(70, 220, {MeterFault::Silent});
    choosePort(70);
    bool visibleAfterRequest = false;
    QString fileTextDuringAttempt;
    QTimer::singleShot(50, m_main.get(), [&] {
        fileTextDuringAttempt = m_main->pnlFile->text();
        m_main->close();
        visibleAfterRequest = m_main->isVisible();
    });
    m_main->mnuConnect->trigger();
    QCOMPARE(fileTextDuringAttempt, QStringLiteral("Connecting..."));
    QVERIFY(visibleAfterRequest);        // the attempt still needed the window
    QVERIFY(!m_main->link().IsConnected());
    QTRY_VERIFY(!m_main->isVisible());   // and then it closed
}

void TestMainWindowConnect::secondConnectDuringAttemptIsIgnored()
{
    startMeter(69, 220, {MeterFault::Silent});
    choosePort(69);
    bool enabledDuringAttempt = false;
    QTimer::singleShot(50, m_main.get(), [&] {
        // Connect stays enabled while an attempt runs; choosing it again must not pull the port
        // out from under the attempt.
        enabledDuringAttempt = m_main->mnuConnect->isEnabled();
        m_main->btnConnect->click();
    });
    m_main->mnuConnect->trigger();
    QVERIFY(enabledDuringAttempt);
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first().second, NoInstrumentMessage);
    QVERIFY(!m_main->link().IsConnected());
    QCOMPARE(m_main->pnlConnected->text(), QStringLiteral("Not Connected"));
}

QTEST_MAIN(TestMainWindowConnect)
#include "tst_mainwindow_connect.moc"
