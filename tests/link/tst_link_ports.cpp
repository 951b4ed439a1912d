// Port numbers, exclusive opening and raw bytes, over real pseudo-terminals.
#include "SerialPort.h"
#include "FolderFiles.h"
#include "FlagRows.h"
#include "PortWatch.h"
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
        QVERIFY(writeFile(device));
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

    void captionTellsTheAdapter_data()
    {
        QTest::addColumn<QString>("devicePath");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("caption");
        QTest::newRow("adapter") << "/dev/ttyUSB0" << "FT232R USB UART"
                                 << QStringLiteral("COM33  /dev/ttyUSB0 \u2013 FT232R USB UART");
        QTest::newRow("no description") << "/dev/pts/7" << "" << "COM33  /dev/pts/7";
        QTest::newRow("nothing known") << "" << "" << "COM33";
    }

    void captionTellsTheAdapter()
    {
        QFETCH(QString, devicePath);
        QFETCH(QString, description);
        SerialPortName port;
        port.number = 33;
        port.devicePath = devicePath;
        port.description = description;
        QTEST(port.caption(), "caption");
    }

    // The watch reports a port that comes back, not the same line that is still there.
    void watchSeesThePortComeBack_data()
    {
        QTest::addColumn<bool>("unplug");
        QTest::addColumn<bool>("newTerminal");
        QTest::addColumn<bool>("returns");
        QTest::newRow("unplugged and plugged in again") << true << false << true;
        QTest::newRow("restarted on a new terminal") << false << true << true;
        QTest::newRow("unplugged, back on a new terminal") << true << true << true;
        QTest::newRow("the lost line still there") << false << false << false;
    }

    void watchSeesThePortComeBack()
    {
        QFETCH(bool, unplug);
        QFETCH(bool, newTerminal);
        QFETCH(bool, returns);
        Pty first, second;
        first.linkAs(QStringLiteral("COM7"));
        TPortWatch watch;
        QSignalSpy returned(&watch, &TPortWatch::returned);
        watch.start(7, first.path());
        if (unplug) {
            QFile::remove(SerialPorts::portsFolder() + QStringLiteral("/COM7"));
            QTest::qWait(3 * TPortWatch::PollIntervalMs);
            QVERIFY(returned.isEmpty());
        }
        QFile::remove(SerialPorts::portsFolder() + QStringLiteral("/COM7"));
        (newTerminal ? second : first).linkAs(QStringLiteral("COM7"));
        if (!returns) {
            QTest::qWait(4 * TPortWatch::PollIntervalMs);
            QVERIFY(returned.isEmpty());
            QVERIFY(watch.watching());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(returned.size(), 1, 10000);
        QCOMPARE(returned.first().first().toInt(), 7);
        QVERIFY(!watch.watching());
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
    addFlagRows("hangUpAlone", "hang-up with an error", "hang-up alone");
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
