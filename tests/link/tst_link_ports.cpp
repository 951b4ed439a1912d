// Port numbers, exclusive opening and raw bytes, over real pseudo-terminals.
#include "SerialPort.h"
#include "SerialPorts.h"
#include "TestHome.h"
#include "qzMeterCOM.h"

#include "OpenFailure.h"

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
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
    // The system's error numbers and Qt's serial error codes are different numbers: the same 1 is
    // a permission problem as errno (EPERM) and "device not found" from Qt.
    void openFailureKinds_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("fromQt");
        QTest::addColumn<int>("kind");
        QTest::newRow("EPERM") << EPERM << false << int(OpenFailure::Kind::Permission);
        QTest::newRow("Qt: device not found") << int(QSerialPort::DeviceNotFoundError) << true << int(OpenFailure::Kind::NoDevice);
        QTest::newRow("Qt: permission, the node readable") << int(QSerialPort::PermissionError) << true << int(OpenFailure::Kind::InUse);
        QTest::newRow("EBUSY") << EBUSY << false << int(OpenFailure::Kind::InUse);
        QTest::newRow("ENOENT") << ENOENT << false << int(OpenFailure::Kind::NoDevice);
    }
    void openFailureKinds()
    {
        QFETCH(int, code);
        QFETCH(bool, fromQt);
        QFETCH(int, kind);
        const EComPort error(QStringLiteral("Unable to open com port"), code,
                             fromQt ? EComPort::CodeSource::SerialPort : EComPort::CodeSource::System);
        QCOMPARE(int(OpenFailure::of(error, QStringLiteral("/nonexistent")).kind), kind);
    }

    // Permission names the device's own group and the remedy for it.
    void permissionNamesTheOwnerGroup_data()
    {
        QTest::addColumn<QString>("groupName");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("remedy");
        QTest::newRow("dialout, 0660") << "dialout" << 0660 << "belongs to the dialout group: add your user to it (sudo usermod -aG dialout $USER)";
        QTest::newRow("root:root, 0600") << "root" << 0600 << "belongs to root:root with mode 0600, so only root may open it";
    }
    void permissionNamesTheOwnerGroup()
    {
        QFETCH(QString, groupName);
        QFETCH(int, mode);
        QFETCH(QString, remedy);
        const struct group *entry = ::getgrnam(groupName.toLocal8Bit().constData());
        if (!entry)
            QSKIP("no such group here");
        QTemporaryDir folder;
        const QString device = folder.filePath(QStringLiteral("ttyUSB9"));
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        if (::chown(QFile::encodeName(device).constData(), 0, entry->gr_gid) != 0)
            QSKIP("cannot give the file to that group here");
        QVERIFY(::chmod(QFile::encodeName(device).constData(), mode_t(mode)) == 0);
        const QString reason = OpenFailure::permissionReason(device);
        QVERIFY2(reason.contains(remedy), qPrintable(reason));
        QVERIFY2(groupName == "root" || !reason.contains("root"), qPrintable(reason));
    }

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

QTEST_GUILESS_MAIN(TestPorts)
#include "tst_link_ports.moc"
