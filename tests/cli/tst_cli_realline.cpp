// snaploom on a line that behaves as a real one: a capture or identification interrupted by a
// signal (once, or twice to abandon it), and unfreeze.
#include "ProgramRun.h"
#include "TestHome.h"
#include "VirtualMeterThread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

constexpr int Com = 12;
constexpr int ProgramTimeoutMs = 60000;
constexpr int InterruptedExit = 10;
const QString PortArgument = QStringLiteral("COM%1").arg(Com);

using Run = ProgramRun;

Run snaploom(const QStringList &arguments)
{
    return runProgram(testBinary(QStringLiteral("snaploom")), arguments, {{}, {}, ProgramTimeoutMs});
}

// A small stored screen: its image read takes about 3 s on a paced line.
VirtualMeterOptions meterOptions(bool paced, QSet<MeterFault> faults = {})
{
    VirtualMeterOptions options;
    options.comNumber = Com;
    options.storedSize = QSize(16, 40);
    options.pace = paced;
    options.latencyMs = paced ? 5 : 0;
    options.faults = faults;
    return options;
}

}  // namespace

class TestCliRealLine : public QObject
{
    Q_OBJECT
private:
    TestHome home;

private slots:
    // One signal during the frozen read: the read drains, the DSP restarts, command mode is
    // left, nothing is written; the next identify works at once. Ctrl+C, and the kill or
    // shutdown that sends SIGTERM; SIGHUP takes the same way (tst_link_signals).
    void interruptedCapture_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
    }
    void interruptedCapture()
    {
        QFETCH(int, signalNumber);
        VirtualMeterThread meter;
        QVERIFY(meter.start(meterOptions(true)));
        QTemporaryDir folder;
        const Run run = interrupt(folder.path(), {signalNumber});
        QCOMPARE(run.exitCode, InterruptedExit);
        QVERIFY2(run.err.contains(QStringLiteral("Interrupted")), qPrintable(run.err));
        // The drain tells its time left, counting down.
        const QRegularExpression left(QStringLiteral("finishing the running read: about (\\d+) s left"));
        QList<int> seconds;
        for (auto it = left.globalMatch(run.err); it.hasNext();)
            seconds.append(it.next().captured(1).toInt());
        QVERIFY2(!seconds.isEmpty() && std::is_sorted(seconds.rbegin(), seconds.rend()), qPrintable(run.err));
        QVERIFY(QDir(folder.path()).entryList().filter(QStringLiteral("screen")).isEmpty());
        QCOMPARE(meter.halts(), 1);
        QCOMPARE(meter.restarts(), 1);
        QVERIFY(!meter.halted());
        QVERIFY(!meter.commandMode());

        const Run identify = snaploom({"identify", "--port", PortArgument});
        QCOMPARE(identify.exitCode, 0);
    }

    // A signal that whoever started the program asked to ignore stays ignored: nohup's hang-up,
    // Ctrl+C of a background job started by a script. The capture goes on and writes its picture.
    void ignoredSignalLeavesCaptureRunning_data()
    {
        QTest::addColumn<QString>("startedBy");   // a shell line that runs "$0" "$@" and keeps its pid
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("nohup, SIGHUP") << "echo $$ > snaploom.pid; exec nohup \"$0\" \"$@\"" << SIGHUP;
        QTest::newRow("background job of a script, SIGINT") << "\"$0\" \"$@\" & echo $! > snaploom.pid; wait $!" << SIGINT;
    }
    void ignoredSignalLeavesCaptureRunning()
    {
        QFETCH(QString, startedBy);
        QFETCH(int, signalNumber);
        VirtualMeterThread meter;
        QVERIFY(meter.start(meterOptions(true)));
        QTemporaryDir folder;
        const Run run = interrupt(folder.path(), {signalNumber}, startedBy);
        QVERIFY2(run.exitCode == 0, qPrintable(QString::number(run.exitCode) + QLatin1Char(' ') + run.err));
        QVERIFY2(!run.err.contains(QStringLiteral("Interrupted")), qPrintable(run.err));
        QVERIFY(QFileInfo(folder.filePath(QStringLiteral("screen.bmp"))).size() > 0);
        QVERIFY(!meter.halted());
    }

    // A second signal abandons at once and tells how to recover; identify still works while the
    // rest of the abandoned reply arrives, and unfreeze restarts the instrument.
    void abandonedCaptureThenUnfreeze()
    {
        VirtualMeterThread meter;
        QVERIFY(meter.start(meterOptions(true)));
        QTemporaryDir folder;
        const Run run = interrupt(folder.path(), {SIGINT, SIGINT});
        QCOMPARE(run.exitCode, InterruptedExit);
        QVERIFY2(run.err.contains(QStringLiteral("snaploom unfreeze --port %1").arg(PortArgument)), qPrintable(run.err));
        QVERIFY(QDir(folder.path()).entryList().filter(QStringLiteral("screen")).isEmpty());
        QVERIFY(meter.halted());

        const Run identify = snaploom({"identify", "--port", PortArgument});
        QVERIFY2(identify.exitCode == 0, qPrintable(identify.err));
        // The wait for the abandoned reply is told, with its limit.
        QVERIFY2(identify.err.contains(QStringLiteral("Waiting for the instrument to finish sending an earlier reply")),
                 qPrintable(identify.err));
        QVERIFY(meter.halted());

        const Run unfreeze = snaploom({"unfreeze", "--port", PortArgument});
        QVERIFY2(unfreeze.exitCode == 0, qPrintable(unfreeze.err));
        QVERIFY(!meter.halted());
        QVERIFY(!meter.commandMode());
    }

    // A signal while a slow line identifies ends the command at once, out of command mode.
    void interruptedIdentification()
    {
        VirtualMeterOptions options = meterOptions(true);
        options.latencyMs = 1500;
        VirtualMeterThread meter;
        QVERIFY(meter.start(options));
        QProcess process;
        process.start(testBinary(QStringLiteral("snaploom")), {"identify", "--port", PortArgument});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(meter.commandMode(), 20000);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(ProgramTimeoutMs));
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(process.exitCode(), InterruptedExit);
        QVERIFY(!meter.commandMode());
    }

    void unfreezeRefused()
    {
        VirtualMeterThread meter;
        QVERIFY(meter.start(meterOptions(false, {MeterFault::RestartRefused})));
        const Run run = snaploom({"unfreeze", "--find"});
        QCOMPARE(run.exitCode, 8);
        QVERIFY(run.err.contains(QStringLiteral("Could not restart DSP and unfreeze image.")));
        QVERIFY(!meter.commandMode());
    }

private:
    // Runs a frozen capture, through a shell line when one is given, and sends the signals once
    // the image read is under way.
    Run interrupt(const QString &folder, const QList<int> &signalNumbers, const QString &startedBy = QString())
    {
        const ProgramSetup setup{folder, {}, ProgramTimeoutMs};
        const QString snaploom = testBinary(QStringLiteral("snaploom"));
        const QStringList arguments{"capture", "--port", PortArgument, "--freeze", "-o", "screen.bmp"};
        QProcess process;
        QElapsedTimer clock;
        if (startedBy.isEmpty())
            launchProgram(process, snaploom, arguments, setup, clock);
        else
            launchProgram(process, QStringLiteral("/bin/sh"), QStringList{"-c", startedBy, snaploom} + arguments, setup, clock);
        Run run;
        while (!run.output.contains("Reading screen image...") && clock.elapsed() < ProgramTimeoutMs
               && process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(100);
            run.output += process.readAllStandardOutput();
        }
        QTest::qWait(500);
        pid_t pid = pid_t(process.processId());
        if (!startedBy.isEmpty()) {
            QFile pidFile(QDir(folder).filePath(QStringLiteral("snaploom.pid")));
            if (pidFile.open(QIODevice::ReadOnly))
                pid = pid_t(pidFile.readAll().trimmed().toInt());
        }
        if (pid <= 0) {
            process.kill();
            process.waitForFinished();
            Run lost;
            lost.err = QStringLiteral("the program's process was not found");
            return lost;
        }
        for (int number : signalNumbers) {
            ::kill(pid, number);
            QTest::qWait(200);
        }
        finishRun(process, setup, clock, run);
        return run;
    }
};

QTEST_GUILESS_MAIN(TestCliRealLine)
#include "tst_cli_realline.moc"
