// The command-line tool as a user runs it, against the virtual instrument program.
#include "TestHome.h"

#include <QProcess>
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
    ~MeterProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    QString devicePath;

private:
    QProcess m_process;
};

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run snaploom(const QStringList &arguments)
{
    QProcess process;
    process.start(testBinary(QStringLiteral("snaploom")), arguments);
    process.waitForFinished(120000);
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
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
        MeterProcess meter(5, {QStringLiteral("--model"), QStringLiteral("221"), QStringLiteral("--serial"), QStringLiteral("31337"),
                               QStringLiteral("--mcu"), QStringLiteral("2.7"), QStringLiteral("--fpga"), QStringLiteral("12")});
        QVERIFY2(meter.devicePath.startsWith(QLatin1String("/dev/")), qPrintable(meter.devicePath));

        const Run ports = snaploom({QStringLiteral("ports")});
        QCOMPARE(ports.exitCode, 0);
        QVERIFY2(ports.out.contains(QRegularExpression(QStringLiteral("^COM5\\s+%1$").arg(QRegularExpression::escape(meter.devicePath)),
                                                       QRegularExpression::MultilineOption)),
                 qPrintable(ports.out));

        for (const QStringList &how : {QStringList{QStringLiteral("--port"), QStringLiteral("COM5")}, QStringList{QStringLiteral("--find")}}) {
            const Run run = snaploom(QStringList{QStringLiteral("identify")} + how);
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
            QVERIFY2(run.out.contains(QStringLiteral("      Instrument Type: Corvane Brenn\n"
                                                     "        Serial Number: 31337\n")),
                     qPrintable(run.out + run.err));
            QVERIFY(run.out.contains(QStringLiteral(" MCU Version: 2,7\n")));
            QVERIFY(run.out.contains(QStringLiteral("FPGA Version: 12\n")));
            QVERIFY(run.out.contains(QStringLiteral("  Package ID: ")));
        }
    }

    void reportsWhenNothingAnswers_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("meter");
        QTest::newRow("absent port") << QStringList{QStringLiteral("--port"), QStringLiteral("COM77")} << QStringList{};
        QTest::newRow("silent instrument") << QStringList{QStringLiteral("--port"), QStringLiteral("COM5")}
                                           << QStringList{QStringLiteral("--fault"), QStringLiteral("silent")};
        QTest::newRow("model that cannot be captured") << QStringList{QStringLiteral("--port"), QStringLiteral("COM5")}
                                                       << QStringList{QStringLiteral("--model"), QStringLiteral("222")};
    }
    void reportsWhenNothingAnswers()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, meter);
        MeterProcess process(5, meter);
        const Run run = snaploom(QStringList{QStringLiteral("identify")} + arguments);
        QCOMPARE(run.exitCode, 3);
        QVERIFY2(run.err.contains(QStringLiteral("No instrument detected.")), qPrintable(run.err));
    }

    void badUsage()
    {
        QCOMPARE(snaploom({QStringLiteral("identify")}).exitCode, 2);
        QCOMPARE(snaploom({QStringLiteral("identify"), QStringLiteral("--port"), QStringLiteral("COMX")}).exitCode, 2);
        QCOMPARE(snaploom({QStringLiteral("frobnicate")}).exitCode, 2);
        const Run help = snaploom({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains(QStringLiteral("identify")));
        QVERIFY(help.out.contains(QStringLiteral("--find")));
    }
};

QTEST_GUILESS_MAIN(TestCliIdentify)
#include "tst_cli_identify.moc"
