// Notices on the desktop: sent where a notification service is on the session bus, quietly
// skipped where none is. The test runs a session bus of its own.

#include "DesktopNotifier.h"
#include "FolderFiles.h"

#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// Stands in for the desktop's notification service.
class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList received;

public slots:
    uint Notify(const QString &application, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        received << application + QLatin1Char('|') + summary + QLatin1Char('|') + body;
        return uint(received.size());
    }
};

class TestDesktopNotifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed");
        // A bus of its own with no services to start on demand, whatever this machine has installed.
        QVERIFY(m_folder.isValid());
        const QString config = m_folder.filePath(QStringLiteral("bus.conf"));
        QVERIFY(writeFile(config, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
                                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                  "<busconfig><type>session</type><listen>unix:dir=" + m_folder.path().toUtf8() + "</listen>"
                                  "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                                  "</busconfig>\n"));
        m_bus.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                             QStringLiteral("--print-address")});
        QVERIFY(m_bus.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 10000);
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
        // Read once, at the first use of the session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    }

    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void sentWhereAServiceListens_data()
    {
        QTest::addColumn<bool>("serviceRuns");
        QTest::newRow("service on the bus") << true;
        QTest::newRow("no service") << false;
    }

    void sentWhereAServiceListens()
    {
        QFETCH(bool, serviceRuns);
        NotificationService service;
        QDBusConnection desktop = QDBusConnection::connectToBus(m_address, QStringLiteral("desktop"));
        QVERIFY(desktop.isConnected());
        if (serviceRuns) {
            QVERIFY(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service, QDBusConnection::ExportAllSlots));
            QVERIFY(desktop.registerService(QStringLiteral("org.freedesktop.Notifications")));
        }
        QCOMPARE(DesktopNotifier::notify(QStringLiteral("Capture complete"), QStringLiteral("New image 3")),
                 serviceRuns);
        if (serviceRuns)
            QTRY_COMPARE(service.received, QStringList{QStringLiteral("Corvane Snaploom|Capture complete|New image 3")});
        desktop.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        desktop.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
    }

private:
    QTemporaryDir m_folder;
    QProcess m_bus;
    QString m_address;
};

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
