// Port numbers, exclusive opening and raw bytes, over real pseudo-terminals.
#include "SerialPort.h"
#include "SerialPorts.h"
#include "TestHome.h"
#include "qzMeterCOM.h"

#include <QFile>
#include <QtTest>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// A pseudo-terminal whose master side the test plays.
class Pty
{
public:
    Pty()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::grantpt(m_master);
        ::unlockpt(m_master);
        m_path = QString::fromLocal8Bit(::ptsname(m_master));
        m_slave = ::open(m_path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);  // keeps hang-ups away
    }
    ~Pty()
    {
        ::close(m_slave);
        ::close(m_master);
    }
    QString path() const { return m_path; }
    void send(const QByteArray &bytes) { QCOMPARE(::write(m_master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size())); }
    QByteArray receive(int count)
    {
        QByteArray bytes;
        QElapsedTimer timer;
        timer.start();
        while (bytes.size() < count && timer.elapsed() < 5000) {
            char buffer[256];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0)
                bytes.append(buffer, int(n));
            else
                QThread::msleep(5);
        }
        return bytes;
    }
    void linkAs(const QString &name) const
    {
        QFile::link(m_path, SerialPorts::portsFolder() + QLatin1Char('/') + name);
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};

}  // namespace

class TestPorts : public QObject
{
    Q_OBJECT
private:
    TestHome home;

private slots:
    void init()
    {
        QDir ports(SerialPorts::portsFolder());
        for (const QString &entry : ports.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            ports.remove(entry);
    }

    void linksAreNumberedPorts()
    {
        Pty a, b;
        a.linkAs(QStringLiteral("COM7"));
        b.linkAs(QStringLiteral("COM03"));
        QFile::link(QStringLiteral("/nonexistent/ttyUSB9"), SerialPorts::portsFolder() + QStringLiteral("/COM9"));
        QFile::link(a.path(), SerialPorts::portsFolder() + QStringLiteral("/notaport"));

        const QList<SerialPortName> ports = SerialPorts::list();
        QMap<int, QString> byNumber;
        for (const SerialPortName &port : ports)
            if (port.number == 3 || port.number == 7 || port.number == 9)
                byNumber.insert(port.number, port.devicePath);
        QCOMPARE(byNumber.value(7), a.path());
        QCOMPARE(byNumber.value(3), b.path());
        QVERIFY2(!byNumber.contains(9), "a dangling link is no port");
        QCOMPARE(SerialPorts::devicePathFor(3), b.path());
        QCOMPARE(SerialPorts::devicePathFor(12345), QString());

        QCOMPARE(SerialPorts::numberOf(QStringLiteral("COM12")), 12);
        QCOMPARE(SerialPorts::numberOf(QStringLiteral("COM03")), 3);
        QCOMPARE(SerialPorts::numberOf(QStringLiteral("COMX")), -1);
    }

    void explicitLinkWinsOverSystemPort()
    {
        Pty a;
        a.linkAs(QStringLiteral("COM1"));  // COM1 is /dev/ttyS0 where that exists
        QCOMPARE(SerialPorts::devicePathFor(1), a.path());
        int listed = 0;
        for (const SerialPortName &port : SerialPorts::list())
            listed += port.number == 1;
        QCOMPARE(listed, 1);
    }

    void absentPortStaysClosed()
    {
        TqzMeterCom link;
        link.PortNumber = 4711;
        QVERIFY(!link.OpenPort());
        QVERIFY(!link.IsConnected());
        QCOMPARE(link.openFailure(), QStringLiteral("COM4711 cannot be opened: there is no such device."));
        TComPort port;
        port.setPortName(QStringLiteral("COM4711"));
        QVERIFY_THROWS_EXCEPTION(EComPort, port.open());
    }

    // The same pseudo-terminal through a link and through its own path is one port, and a port
    // that is open cannot be opened again, by this process or another.
    void portIsHeldExclusively()
    {
        Pty pty;
        pty.linkAs(QStringLiteral("COM7"));
        pty.linkAs(QStringLiteral("COM8"));
        TqzMeterCom first;
        first.PortNumber = 7;
        QVERIFY(first.OpenPort());

        TqzMeterCom second;
        second.PortNumber = 7;
        QVERIFY(!second.OpenPort());
        QCOMPARE(second.openFailure(), QStringLiteral("COM7 cannot be opened: it is in use by another program."));
        second.PortNumber = 8;
        QVERIFY(!second.OpenPort());

        // Opening the open port again closes it and opens it anew.
        QVERIFY(first.OpenPort());
        first.Disconnect();
        QVERIFY(!first.IsConnected());
        QVERIFY(second.OpenPort());
    }

    void lostLineToldAtOnce_data();
    void lostLineToldAtOnce();

    void rawBytesPassUnchanged()
    {
        Pty pty;
        pty.linkAs(QStringLiteral("COM7"));
        TComPort port;
        port.setPortName(QStringLiteral("COM7"));
        port.open();
        QVERIFY(port.connected());
        QCOMPARE(port.devicePath(), pty.path());

        const QByteArray raw("\x00\x11\x13\r\n\x7F\xFF\x0A", 8);
        QCOMPARE(port.writeText(raw), qint64(raw.size()));
        // Clearing right after a finished write must not take back what was written.
        port.clearBuffers(true, true);
        QCOMPARE(pty.receive(raw.size()), raw);

        QByteArray received;
        int events = 0;
        connect(&port, &TCustomComPort::rxChar, this, [&](int count) {
            ++events;
            QVERIFY(count > 0);
            QByteArray bytes;
            port.readText(bytes, count);
            received += bytes;
        });
        pty.send(raw);
        QTRY_COMPARE(received, raw);
        QVERIFY(events >= 1);

        port.close();
        pty.send("late");
        QTest::qWait(50);
        QCOMPARE(received, raw);  // nothing while closed
    }
};

// The master side of a pseudo-terminal that a port opened through /dev/ptmx: its slave is opened
// and closed again, after which the master reports a hang-up (POLLHUP) and nothing else.
static bool closeSlaveOfOpenedMaster()
{
    for (const QFileInfo &entry : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.symLinkTarget() != QLatin1String("/dev/ptmx"))
            continue;
        const int master = entry.fileName().toInt();
        int unlock = 0;
        unsigned int number = 0;
        if (::ioctl(master, TIOCSPTLCK, &unlock) != 0 || ::ioctl(master, TIOCGPTN, &number) != 0)
            continue;
        const int slave = ::open(QByteArray("/dev/pts/" + QByteArray::number(number)).constData(), O_RDWR | O_NOCTTY);
        if (slave >= 0)
            return ::close(slave) == 0;
    }
    return false;
}

// A line that went away is told by the port itself, at once and before any read fails, whether
// the descriptor reports an error with the hang-up (a slave whose master closed) or the hang-up
// alone (a master whose slave closed).
void TestPorts::lostLineToldAtOnce_data()
{
    QTest::addColumn<bool>("hangUpAlone");
    QTest::newRow("hang-up with an error") << false;
    QTest::newRow("hang-up alone") << true;
}

void TestPorts::lostLineToldAtOnce()
{
    QFETCH(bool, hangUpAlone);
    std::unique_ptr<Pty> pty;
    if (hangUpAlone) {
        QVERIFY(QFile::link(QStringLiteral("/dev/ptmx"), SerialPorts::portsFolder() + QStringLiteral("/COM7")));
    } else {
        pty = std::make_unique<Pty>();
        pty->linkAs(QStringLiteral("COM7"));
    }
    TComPort port;
    port.setPortName(QStringLiteral("COM7"));
    port.open();
    QVERIFY(port.connected());
    QCOMPARE(port.lineLost(), QString());
    if (hangUpAlone)
        QVERIFY(closeSlaveOfOpenedMaster());
    else
        pty.reset();
    QVERIFY(!port.lineLost().isEmpty());
}

QTEST_GUILESS_MAIN(TestPorts)
#include "tst_link_ports.moc"
