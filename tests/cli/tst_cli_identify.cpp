// The command-line tool as a user runs it, against the virtual instrument program.
#include "ProgramRun.h"
#include "TestHome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

namespace {

// corvane-virtual-meter running as its own process, linked as COM<n>.
class MeterProcess
{
public:
    explicit MeterProcess(int com, const QStringList &extra = {})
    {
        m_process.setProgram(testBinary(QStringLiteral("corvane-virtual-meter")));
        m_process.setArguments(QStringList{QStringLiteral("--com"), QString::number(com)} + extra);
        m_process.start();
        // It prints its device path once the link is in place.
        QElapsedTimer timer;
        timer.start();
        while (!m_process.canReadLine() && timer.elapsed() < 20000 && m_process.state() != QProcess::NotRunning)
            m_process.waitForReadyRead(200);
        devicePath = QString::fromLocal8Bit(m_process.readAll()).section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(' '), 0, 0).trimmed();
    }
    ~MeterProcess() { stop(); }
    // Ends the instrument; returns what it tells of its state ("DSP running, command mode off").
    QString stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return QString();
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        return QString::fromLocal8Bit(m_process.readAll()).trimmed();
    }
    QString devicePath;

private:
    QProcess m_process;
};

using Run = ProgramRun;

Run snaploom(const QStringList &arguments)
{
    return runProgram(testBinary(QStringLiteral("snaploom")), arguments);
}

}  // namespace

class TestCliIdentify : public QObject
{
    Q_OBJECT
private:
    TestHome home;

private slots:
    void identifiesTheVirtualInstrument()
    {
        MeterProcess meter(5, {"--model", "221", "--serial", "31337", "--mcu", "2.7", "--fpga", "12"});
        QVERIFY2(meter.devicePath.startsWith(QLatin1String("/dev/")), qPrintable(meter.devicePath));

        const Run ports = snaploom({QStringLiteral("ports")});
        QCOMPARE(ports.exitCode, 0);
        QVERIFY2(ports.out.contains(QRegularExpression(QStringLiteral("^COM5\\s+%1$").arg(QRegularExpression::escape(meter.devicePath)),
                                                       QRegularExpression::MultilineOption)),
                 qPrintable(ports.out));

        // By number, by search, and by the device path as a user copies it from `snaploom ports`.
        for (const QStringList &how : {QStringList{QStringLiteral("--port"), QStringLiteral("COM5")}, QStringList{QStringLiteral("--find")},
                                       QStringList{QStringLiteral("--port"), meter.devicePath}}) {
            const Run run = snaploom(QStringList{QStringLiteral("identify")} + how);
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
            // One table, every label's colon in one column.
            QVERIFY2(run.out.contains(QRegularExpression(QStringLiteral("\nInstrument Type: Corvane Brenn\n"
                                                                        "  Serial Number: 31337\n"
                                                                        "     Package ID: \\d+\n"
                                                                        "    MCU Version: 2,7\n"
                                                                        "   FPGA Version: 12\n$"))),
                     qPrintable(run.out + run.err));
            QVERIFY2(run.out.startsWith(QStringLiteral("Connected to COM5 (%1)\n").arg(meter.devicePath)), qPrintable(run.out));
        }

        // The same rows as one JSON object, and nothing else on standard output.
        const Run json = snaploom({QStringLiteral("identify"), QStringLiteral("--port"), meter.devicePath, QStringLiteral("--json")});
        QCOMPARE(json.exitCode, 0);
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(json.out.toUtf8(), &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(json.out));
        QCOMPARE(object.value(QStringLiteral("port")).toString(), QStringLiteral("COM5"));
        QCOMPARE(object.value(QStringLiteral("device")).toString(), meter.devicePath);
        QCOMPARE(object.value(QStringLiteral("instrumentType")).toString(), QStringLiteral("Corvane Brenn"));
        QCOMPARE(object.value(QStringLiteral("serialNumber")).toInt(), 31337);
        QCOMPARE(object.value(QStringLiteral("mcuVersion")).toString(), QStringLiteral("2,7"));
        QCOMPARE(object.value(QStringLiteral("fpgaVersion")).toInt(), 12);
        QVERIFY(object.value(QStringLiteral("packageId")).isDouble());
    }

    // Ports are listed in number order (not as text), in both forms; a link whose number does
    // not fit names no port.
    void listsPortsInNumberOrder()
    {
        const QString folder = home.path() + QStringLiteral("/ports/");
        for (const QString &name : {QStringLiteral("COM10"), QStringLiteral("COM2"), QStringLiteral("COM1"), QStringLiteral("COM99999999999")})
            QVERIFY(QFile::link(QStringLiteral("/dev/null"), folder + name));
        const auto removeLinks = qScopeGuard([&] {
            for (const QString &name : QDir(folder).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
                QFile::remove(folder + name);
        });

        const Run text = snaploom({QStringLiteral("ports")});
        QCOMPARE(text.exitCode, 0);
        QList<int> numbers;
        for (const QString &line : text.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^COM(\\d+)\\s+(/\\S+)")).match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            numbers.append(match.captured(1).toInt());
        }
        QVERIFY2(std::is_sorted(numbers.begin(), numbers.end()), qPrintable(text.out));
        QVERIFY(numbers.contains(1) && numbers.contains(2) && numbers.contains(10));
        QVERIFY2(!text.out.contains(QLatin1String("COM-")) && !text.out.contains(QLatin1String("COM9999")), qPrintable(text.out));
        QVERIFY(text.out.contains(QRegularExpression(QStringLiteral("^COM10\\s+/dev/null$"), QRegularExpression::MultilineOption)));

        const Run json = snaploom({QStringLiteral("ports"), QStringLiteral("--json")});
        QCOMPARE(json.exitCode, 0);
        const QJsonArray array = QJsonDocument::fromJson(json.out.toUtf8()).array();
        QCOMPARE(array.size(), numbers.size());
        const QStringList keys{"byId", "description", "device", "manufacturer", "name", "number", "serialNumber"};
        for (int i = 0; i < array.size(); ++i) {
            const QJsonObject port = array.at(i).toObject();
            QCOMPARE(port.keys(), keys);
            QCOMPARE(port.value(QStringLiteral("number")).toInt(), numbers.at(i));
            QCOMPARE(port.value(QStringLiteral("name")).toString(), QStringLiteral("COM%1").arg(numbers.at(i)));
        }
        QCOMPARE(array.at(numbers.indexOf(10)).toObject().value(QStringLiteral("device")).toString(), QStringLiteral("/dev/null"));
        QVERIFY(array.at(numbers.indexOf(10)).toObject().value(QStringLiteral("byId")).isNull());
    }

    // Each way a connection fails has its own text and exit code, and the instrument is out of
    // command mode afterwards.
    void diagnosesEachFailure_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("meter");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("text");
        const QStringList com5{"--port", "COM5"};
        const QString held = QStringLiteral("COM5 cannot be opened: it is in use by another program.");
        QTest::newRow("absent port") << QStringList{"--port", "COM77"} << QStringList{} << 1 << "COM77 cannot be opened: there is no such device.";
        QTest::newRow("absent device path") << QStringList{"--port", "/dev/serial/by-id/usb-none-if00"} << QStringList{} << 1
                                            << "cannot be opened: there is no such device.";
        QTest::newRow("held by another program") << com5 << QStringList{"--hold-port"} << 1 << held;
        QTest::newRow("junk before every reply") << com5 << QStringList{"--fault", "garbled"} << 11
                                                 << "COM5 answers, but its replies were not understood.";
        QTest::newRow("model that cannot be captured") << com5 << QStringList{"--model", "222"} << 3
                                                       << "COM5 answers as \"Corvane Tazo\" (model code 222), which cannot be captured.";
        QTest::newRow("search past a held port") << QStringList{"--find"} << QStringList{"--hold-port"} << 3
                                                 << "Ports that could not be opened:\n  " + held;
    }
    void diagnosesEachFailure()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, meter);
        QFETCH(int, exitCode);
        QFETCH(QString, text);
        MeterProcess process(5, meter);
        const Run run = snaploom(QStringList{QStringLiteral("identify")} + arguments);
        QCOMPARE(run.exitCode, exitCode);
        // Line by line: tests running beside this one may hold system ports of their own.
        for (const QString &line : text.split(QLatin1Char('\n')))
            QVERIFY2(run.err.contains(line), qPrintable(run.err));
        // "No instrument detected." only when nothing answered anywhere.
        QCOMPARE(run.err.contains(QStringLiteral("No instrument detected.")), exitCode == 3 && !text.contains("answers as"));
        QVERIFY(run.out.isEmpty());
        if (!meter.isEmpty() && !meter.contains(QStringLiteral("--hold-port")))
            QVERIFY2(process.stop().endsWith(QStringLiteral("command mode off")), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(TestCliIdentify)
#include "tst_cli_identify.moc"
