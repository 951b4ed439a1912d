// A line lost while connected comes back by itself: the instrument hangs up or is unplugged, is
// started again on the same COM number, and the program reconnects without a word from the user
// and captures again. A user's own Disconnect stops all of that.

#include "MainWindowFixture.h"
#include "XInput.h"

#include <QMdiArea>

namespace {
constexpr int MeterCom = 61;
const QString Connected = QStringLiteral("Connected.");
const QString Disconnected = QStringLiteral("Disconnected.");
}

class TestDisplayReconnect : public QObject, MainWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { startProgram(); }
    void init();
    void cleanup() { closeMainWindow(); }
    void lostLineComesBack_data();
    void lostLineComesBack();

private:
    VirtualMeterThread *startMeterWith(const QSet<MeterFault> &faults)
    {
        VirtualMeterOptions options;
        options.comNumber = MeterCom;
        options.faults = faults;
        return startMeter(options);
    }
};

void TestDisplayReconnect::init()
{
    QVERIFY(home.writeSettings("[COM]\nPort=" + QByteArray::number(MeterCom) + "\n"));
    openMainWindow(this);
    QVERIFY(XInput::focus(mainWindow.get()));
}

void TestDisplayReconnect::lostLineComesBack_data()
{
    QTest::addColumn<QString>("fault");      // how the line goes; empty: the instrument is stopped while idle
    QTest::addColumn<bool>("userDisconnects");
    QTest::addColumn<bool>("reconnects");
    QTest::newRow("stopped while idle") << QString() << false << true;
    QTest::newRow("hang-up during a capture") << "hang-up-in-image" << false << true;
    QTest::newRow("unplugged during a capture") << "unplug-in-directory" << false << true;
    QTest::newRow("disconnected by the user") << QString() << true << false;
}

void TestDisplayReconnect::lostLineComesBack()
{
    QFETCH(QString, fault);
    QFETCH(bool, userDisconnects);
    QFETCH(bool, reconnects);
    QSet<MeterFault> faults;
    MeterFault named;
    if (!fault.isEmpty()) {
        QVERIFY(meterFaultFromName(fault, &named));
        faults << named;
    }
    VirtualMeterThread *meter = startMeterWith(faults);
    auto *area = part<QMdiArea>("ClientArea");
    QToolButton *grab = button("btnGrab");

    QVERIFY(XInput::key({"ctrl+Return"}));
    QTRY_COMPARE_WITH_TIMEOUT(panel("pnlConnected")->text(), Connected, 20000);
    if (userDisconnects) {
        QVERIFY(XInput::key({"ctrl+Return"}));
        QTRY_COMPARE_WITH_TIMEOUT(panel("pnlConnected")->text(), Disconnected, 20000);
        meter->stop();
    } else if (fault.isEmpty()) {
        meter->stop();  // the adapter is pulled out while nothing runs
    } else {
        QTRY_VERIFY(grab->isEnabled());
        QVERIFY(XInput::key({"ctrl+n"}));
    }
    if (!userDisconnects)
        QTRY_COMPARE_WITH_TIMEOUT(panel("pnlConnected")->text(), Disconnected, 30000);
    QTest::qWait(1500);
    meter->stop();
    startMeterWith({});

    if (!reconnects) {
        QTest::qWait(3000);
        QCOMPARE(panel("pnlConnected")->text(), Disconnected);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(panel("pnlConnected")->text(), Connected, 30000);
    QTRY_COMPARE(panel("pnlFile")->text(), QStringLiteral("Reconnected to COM%1.").arg(MeterCom));
    // And the instrument is there to capture from.
    const int before = area->subWindowList().size();
    QTRY_VERIFY(grab->isEnabled());
    QVERIFY(XInput::key({"ctrl+n"}));
    QTRY_COMPARE_WITH_TIMEOUT(area->subWindowList().size(), before + 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(grab->isEnabled(), 30000);
}

QTEST_MAIN(TestDisplayReconnect)
#include "tst_display_reconnect.moc"
