// A line lost while connected comes back by itself: the instrument hangs up or is unplugged, is
// started again on the same COM number, and the program reconnects without a word from the user
// and captures again. A user's own Disconnect stops all of that.

#include "Dialogs.h"
#include "Main.h"
#include "UnsavedImages.h"
#include "VirtualMeterThread.h"
#include "XInput.h"

#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "TestHome.h"

namespace {
constexpr int MeterCom = 61;
const QString Connected = QStringLiteral("Connected.");
const QString Disconnected = QStringLiteral("Disconnected.");
}

class TestDisplayReconnect : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void lostLineComesBack_data();
    void lostLineComesBack();

private:
    void startMeter(const QSet<MeterFault> &faults)
    {
        VirtualMeterOptions options;
        options.comNumber = MeterCom;
        options.faults = faults;
        QString error;
        if (!m_meter.start(options, &error))
            qFatal("virtual instrument did not start: %s", qPrintable(error));
    }
    QLabel *panel(const char *name) const { return m_window->findChild<QLabel *>(QLatin1String(name)); }

    TestHome m_home;
    VirtualMeterThread m_meter;
    std::unique_ptr<TfrmMain> m_window;
    QStringList m_messages;
};

void TestDisplayReconnect::init()
{
    QFile ini(m_home.path() + QStringLiteral("/CorvaneSnaploom.INI"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[COM]\nPort=" + QByteArray::number(MeterCom) + "\n");
    ini.close();
    m_messages.clear();
    Dialogs::setMessageHandler([this](Dialogs::MessageKind, const QString &text, QMessageBox::StandardButtons) {
        m_messages << text;
        return QMessageBox::Ok;
    });
    QApplication::setQuitOnLastWindowClosed(false);
    frmUnsavedImages = new TfrmUnsavedImages;
    m_window = std::make_unique<TfrmMain>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QVERIFY(XInput::focus(m_window.get()));
}

void TestDisplayReconnect::cleanup()
{
    m_window.reset();
    m_meter.stop();
    delete frmUnsavedImages;
    frmUnsavedImages = nullptr;
    Dialogs::setMessageHandler({});
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
    startMeter(faults);
    auto *area = m_window->findChild<QMdiArea *>(QStringLiteral("ClientArea"));
    auto *grab = m_window->findChild<QToolButton *>(QStringLiteral("btnGrab"));
    QVERIFY(area && grab);

    QVERIFY(XInput::key({"ctrl+Return"}));
    QTRY_COMPARE_WITH_TIMEOUT(panel("pnlConnected")->text(), Connected, 20000);
    if (userDisconnects) {
        QVERIFY(XInput::key({"ctrl+Return"}));
        QTRY_COMPARE_WITH_TIMEOUT(panel("pnlConnected")->text(), Disconnected, 20000);
        m_meter.stop();
    } else if (fault.isEmpty()) {
        m_meter.stop();  // the adapter is pulled out while nothing runs
    } else {
        QTRY_VERIFY(grab->isEnabled());
        QVERIFY(XInput::key({"ctrl+n"}));
    }
    if (!userDisconnects)
        QTRY_COMPARE_WITH_TIMEOUT(panel("pnlConnected")->text(), Disconnected, 30000);
    QTest::qWait(1500);
    m_meter.stop();
    startMeter({});

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
