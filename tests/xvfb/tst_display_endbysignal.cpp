// The desktop program as a process on a real display, with real key presses: SIGTERM ends it
// within 2 s whatever is open, and leaves the instrument running and out of command mode where
// the line allows.

#include "FolderFiles.h"
#include "TestHome.h"
#include "VirtualMeterThread.h"
#include "XInput.h"

#include <QRegularExpression>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <csignal>

namespace {

constexpr int MeterCom = 27;
constexpr qint64 EndWithinMs = 2000;
constexpr int WaitForWindowMs = 20000;

// What the user does before the signal comes.
enum class Step { ConnectAndCapture, FreezeWarning, SaveDialog, UnsavedImagesDialog };

struct Scenario
{
    QList<Step> steps;
    bool freeze = false;
    QSet<MeterFault> faults = {};
    bool paced = false;       // a real line: the image read takes its time
    bool restored = true;     // the instrument runs and is out of command mode afterwards
};

}  // namespace

Q_DECLARE_METATYPE(Scenario)

class TestDisplayEndBySignal : public QObject
{
    Q_OBJECT
    TestHome home;

private slots:
    void endsWithinTwoSeconds_data()
    {
        QTest::addColumn<Scenario>("scenario");
        using S = Step;
        QTest::newRow("a message box") << Scenario{{S::FreezeWarning}};
        // The halt is acknowledged late: the capture fails and says so in a box.
        QTest::newRow("a failed capture's message box") << Scenario{{S::ConnectAndCapture}, true, {MeterFault::LateHaltAck}};
        QTest::newRow("the save dialog") << Scenario{{S::ConnectAndCapture, S::SaveDialog}};
        QTest::newRow("the unsaved-images dialog") << Scenario{{S::ConnectAndCapture, S::UnsavedImagesDialog}};
        // A frozen read of a whole screen takes a minute; the instrument is still sending when
        // the program ends, so it cannot be restarted.
        QTest::newRow("a capture draining its read") << Scenario{{S::ConnectAndCapture}, true, {}, true, false};
    }
    void endsWithinTwoSeconds()
    {
        QFETCH(Scenario, scenario);
        VirtualMeterOptions options;
        options.comNumber = MeterCom;
        options.faults = scenario.faults;
        options.pace = scenario.paced;
        if (!scenario.paced)
            options.storedSize = QSize(16, 40);
        VirtualMeterThread meter;
        QString error;
        QVERIFY2(meter.start(options, &error), qPrintable(error));
        QVERIFY(home.writeSettings(QStringLiteral("[COM]\r\nPort=%1\r\n[Options]\r\nFreezeImage=%2\r\n")
                                       .arg(MeterCom)
                                       .arg(scenario.freeze ? 1 : 0)
                                       .toLatin1()));
        // An earlier row's kept pictures would be offered back at start, in front of the window.
        QDir recovery(QDir(home.path()).filePath(QStringLiteral("recovery")));
        QVERIFY(recovery.removeRecursively());

        QProcess program;
        program.start(testBinary(QStringLiteral("corvane-snaploom")), {QStringLiteral("--no-splash")});
        QVERIFY(program.waitForStarted());
        const auto stop = qScopeGuard([&program] {
            if (program.state() != QProcess::NotRunning) {
                program.kill();
                program.waitForFinished();
            }
        });
        const QString mainWindow = waitForWindows(program.processId(), 1).value(0);
        QVERIFY(!mainWindow.isEmpty());
        QVERIFY(XInput::focusWindow(mainWindow));

        for (Step step : scenario.steps)
            QVERIFY2(take(step, meter, program.processId(), scenario), qPrintable(QStringLiteral("step %1").arg(int(step))));

        QElapsedTimer sinceSignal;
        sinceSignal.start();
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(30000));
        const qint64 endedAfterMs = sinceSignal.elapsed();
        qInfo("%s: ended %lld ms after SIGTERM", QTest::currentDataTag(), endedAfterMs);
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(endedAfterMs <= EndWithinMs, qPrintable(QString::number(endedAfterMs)));
        // The program's last words to the instrument may still be on their way to it when the
        // program has gone; they are taken from the line all the same.
        if (scenario.restored) {
            QTRY_VERIFY_WITH_TIMEOUT(!meter.halted(), 3000);
            QTRY_VERIFY_WITH_TIMEOUT(!meter.commandMode(), 3000);
        }
        // A picture captured and not saved outlives the signal, to be offered at the next start.
        if (scenario.steps.contains(Step::SaveDialog) || scenario.steps.contains(Step::UnsavedImagesDialog)) {
            const QStringList kept = filesBelow(recovery.path()).filter(QRegularExpression(QStringLiteral("\\.png$")));
            QVERIFY2(!kept.isEmpty(), "the unsaved picture was not kept");
        }
    }

private:
    // The program's visible windows once there are at least count of them; empty after a while.
    static QStringList waitForWindows(qint64 processId, int count)
    {
        QElapsedTimer waited;
        waited.start();
        QStringList windows;
        while ((windows = XInput::windowsOf(processId)).size() < count && waited.elapsed() < WaitForWindowMs)
            QTest::qWait(100);
        return windows.size() >= count ? windows : QStringList();
    }

    static bool waitFor(const std::function<bool()> &condition)
    {
        QElapsedTimer waited;
        waited.start();
        while (!condition() && waited.elapsed() < WaitForWindowMs)
            QTest::qWait(50);
        return condition();
    }

    static bool imageReadAsked(const VirtualMeterThread &meter)
    {
        const QList<MeterMemoryRead> reads = meter.memoryReads();
        return std::any_of(reads.begin(), reads.end(), [](const MeterMemoryRead &read) { return read.length >= 1536; });
    }

    // One step as the user takes it; true when the program got where the step leads.
    static bool take(Step step, const VirtualMeterThread &meter, qint64 processId, const Scenario &scenario)
    {
        switch (step) {
        case Step::ConnectAndCapture:
            // Files menu, Connect (the first item that can be chosen), with the port of the settings.
            if (!XInput::key({"alt+f", "Return"}) || !waitFor([&meter] { return meter.commandMode(); }))
                return false;
            QTest::qWait(500);  // identification ends
            if (!XInput::key({"ctrl+n"}))
                return false;
            if (!scenario.faults.isEmpty())
                return waitForWindows(processId, 2).size() >= 2;  // the failure's message box
            if (!waitFor([&meter] { return imageReadAsked(meter); }))
                return false;
            // Well into the read on a real line; else past the decode and the restart pause.
            QTest::qWait(scenario.paced ? 1000 : 1500);
            return true;
        case Step::FreezeWarning:
            return XInput::key({"ctrl+f"}) && waitForWindows(processId, 2).size() >= 2;
        case Step::SaveDialog:
            return XInput::key({"ctrl+s"}) && waitForWindows(processId, 2).size() >= 2;
        case Step::UnsavedImagesDialog:
            return XInput::key({"ctrl+x"}) && waitForWindows(processId, 2).size() >= 2;
        }
        return false;
    }
};

QTEST_MAIN(TestDisplayEndBySignal)
#include "tst_display_endbysignal.moc"
