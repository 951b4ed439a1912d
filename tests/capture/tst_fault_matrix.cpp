// Every misbehaviour of the virtual instrument, through the whole capture over a pseudo-terminal,
// with and without freeze: once through the capture core in this process and once as
// `snaploom capture`. Each row checks how the capture ends and what the user is told, how long it
// took against its budget, that no picture or temporary file is left behind by a failure, and
// that the instrument is running again afterwards wherever its line still works. The matrix is
// printed as a table when the test ends.
#include "InstrumentMemory.h"
#include "ScreenCapture.h"
#include "TestHome.h"
#include "VirtualMeterThread.h"
#include "qzMeterCOM.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <cstdio>
#include <optional>

namespace {

constexpr int Com = 23;
constexpr int ProgramTimeoutMs = 180000;
constexpr int ShortPauseMs = 50;  // the core's pauses after the halt and the restart
// The smallest stored screen there is: one strip, so a paced image read takes under 2 s.
const QSize StoredSize(8, 40);
const QString OutputName = QStringLiteral("screen.bmp");

// Exit codes of `snaploom capture`.
constexpr int ExitCaptured = 0;
constexpr int ExitNoInstrument = 3;
constexpr int ExitRefused = 4;
constexpr int ExitHaltFailed = 5;
constexpr int ExitLoadFailed = 6;

const QString NoInstrument = QStringLiteral("No instrument detected.");
const QString Loaded = QStringLiteral("The image has been loaded correctly.");
const QString LoadError = QStringLiteral("An error occoured while loading image.\n\nPlease try again.");
const QString RefusedText = QStringLiteral("Sorry. The Picture Preview can not be uploaded.");
const QString HaltFailedText = QStringLiteral("Could not halt DSP and freeze image.");
const QString RestartFailedText = QStringLiteral("Could not restart DSP and unfreeze image.");
const QString NoDirectoryText = QStringLiteral("Could not read the instrument's memory directory");
const QString UnusableScreenText = QStringLiteral("65535 x 65535");

// How the instrument misbehaves in one row.
struct Misbehaviour
{
    QList<MeterFault> faults;
    quint16 dspStatus = VirtualMeterOptions::DefaultStatusWord;
    bool paced = false;  // byte by byte at the line's 960 bytes a second

    VirtualMeterOptions options() const
    {
        VirtualMeterOptions options;
        options.comNumber = Com;
        options.storedSize = StoredSize;
        options.faults = QSet<MeterFault>(faults.begin(), faults.end());
        options.dspStatus = dspStatus;
        options.pace = paced;
        return options;
    }
};

// What a row must end in. outcome is empty when no instrument is found at all.
struct Expected
{
    std::optional<CaptureOutcome> outcome;
    QList<CaptureEvent> events;  // told by the core, in order
    int exitCode = ExitCaptured;
    QString text;                // what `snaploom capture` says
    double budgetSeconds = 0;
    bool haltedAfter = false;    // only where the instrument refuses its restart
};

struct MatrixRow
{
    QString fault;
    bool freeze = false;
    Misbehaviour misbehaviour;
    Expected expected;
};

}  // namespace

Q_DECLARE_METATYPE(MatrixRow)

namespace {

QString outcomeName(const std::optional<CaptureOutcome> &outcome)
{
    if (!outcome)
        return QStringLiteral("no instrument");
    switch (*outcome) {
    case CaptureOutcome::Captured: return QStringLiteral("captured");
    case CaptureOutcome::NoScreenInfo: return QStringLiteral("no screen info");
    case CaptureOutcome::Refused: return QStringLiteral("refused");
    case CaptureOutcome::BadGeometry: return QStringLiteral("bad geometry");
    case CaptureOutcome::HaltFailed: return QStringLiteral("halt failed");
    case CaptureOutcome::NothingReceived: return QStringLiteral("nothing received");
    case CaptureOutcome::ShortRead: return QStringLiteral("short read");
    }
    return QStringLiteral("?");
}

// One finished run, as the table shows it.
struct RunRecord
{
    QString fault;
    bool freeze = false;
    QString way;
    QString outcome;
    QString text;
    double seconds = 0;
    double budget = 0;
    bool halted = false;
};

QList<RunRecord> &runRecords()
{
    static QList<RunRecord> records;
    return records;
}

// Every file in folder, hidden ones included: a temporary the writer left behind counts.
QStringList everyFileIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// The line of the program's error output that carries one of the row's texts, for the table.
QString firstLine(const QString &text)
{
    const QString line = text.section(QLatin1Char('\n'), 0, 0);
    return line.size() > 48 ? line.left(45) + QStringLiteral("...") : line;
}

struct CoreRun
{
    std::optional<CaptureOutcome> outcome;
    QList<CaptureEvent> events;
    QString lastStatus;  // the first status-bar panel's last text
    QString error;       // an error that left the capture
};

CoreRun captureInProcess(bool freeze)
{
    CoreRun run;
    TqzMeterCom link;
    link.PortNumber = Com;
    try {
        if (!link.OpenPort() || !link.Connect() || !TqzMeterCom::IsCapturableModel(link.Info.ModelCode)) {
            link.Disconnect();
            return run;
        }
        TInstrumentMemory memory;
        memory.MeterCom = &link;
        ScreenCapture capture(link, memory);
        capture.haltPauseMs = ShortPauseMs;
        capture.restartPauseMs = ShortPauseMs;
        CaptureListener listener;
        listener.event = [&run](CaptureEvent event) { run.events.append(event); };
        listener.status = [&run](const QString &text) { run.lastStatus = text; };
        run.outcome = capture.run([freeze] { return freeze; }, listener).outcome;
        link.Disconnect();
    } catch (const std::exception &error) {
        run.error = QString::fromLocal8Bit(error.what());
    }
    return run;
}

struct ProgramRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

ProgramRun captureWithProgram(bool freeze, const QString &folder)
{
    QStringList arguments{QStringLiteral("capture"), QStringLiteral("--port"), QStringLiteral("COM%1").arg(Com),
                          QStringLiteral("-o"), OutputName};
    if (freeze)
        arguments << QStringLiteral("--freeze");
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(testBinary(QStringLiteral("snaploom")), arguments);
    if (!process.waitForFinished(ProgramTimeoutMs))
        process.kill();  // and the exit code says so
    process.waitForFinished();
    ProgramRun run;
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// Builds the rows of one misbehaviour, without and with freeze.
class Rows
{
public:
    void add(const QString &fault, const Misbehaviour &misbehaviour, const Expected &freezeOff, const Expected &freezeOn)
    {
        for (const bool freeze : {false, true}) {
            const MatrixRow row{fault, freeze, misbehaviour, freeze ? freezeOn : freezeOff};
            QTest::newRow(qPrintable(QStringLiteral("%1, freeze %2").arg(fault, freeze ? "on" : "off"))) << row;
        }
    }
    void add(const QString &fault, const Misbehaviour &misbehaviour, const Expected &either)
    {
        add(fault, misbehaviour, either, either);
    }
};

}  // namespace

class TestFaultMatrix : public QObject
{
    Q_OBJECT
    TestHome home;

private slots:
    void matrix_data();
    void matrix();
    void cleanupTestCase();

private:
    void checkCore(const MatrixRow &row);
    void checkProgram(const MatrixRow &row);
};

void TestFaultMatrix::matrix_data()
{
    QTest::addColumn<MatrixRow>("row");
    using F = MeterFault;
    using O = CaptureOutcome;
    using E = CaptureEvent;
    const QList<E> none;
    // Budgets: what the sequence's own waits allow, with room for a loaded machine.
    const Expected notFound{std::nullopt, none, ExitNoInstrument, NoInstrument, 10};
    const Expected captured{O::Captured, none, ExitCaptured, Loaded, 15};

    Rows rows;
    rows.add("none", {}, captured);
    rows.add("none, paced line", {{}, 0, true}, {O::Captured, none, ExitCaptured, Loaded, 25});
    rows.add("silent", {{F::Silent}}, notFound);
    rows.add("no acknowledgement", {{F::NoAck}}, notFound);
    rows.add("garbage", {{F::Garbage}}, notFound);
    rows.add("short status", {{F::ShortStatus}}, notFound);
    rows.add("split status", {{F::SplitStatus}, 0, true}, notFound);
    rows.add("wrong checksum", {{F::WrongChecksum}}, captured);
    rows.add("swapped trailers", {{F::SwappedTrailer}}, {O::NoScreenInfo, none, ExitLoadFailed, NoDirectoryText, 15});
    rows.add("swapped image trailer", {{F::SwappedImageTrailer}},
             {O::NothingReceived, none, ExitLoadFailed, LoadError, 15});
    rows.add("absurd geometry", {{F::AbsurdGeometry}}, {O::BadGeometry, none, ExitLoadFailed, UnusableScreenText, 15});
    rows.add("DSP status 17", {{}, VirtualMeterOptions::RefusingStatusWord}, {O::Refused, none, ExitRefused, RefusedText, 15});
    rows.add("halt refused", {{F::HaltRefused}}, captured,
             {O::HaltFailed, {E::HaltFailed}, ExitHaltFailed, HaltFailedText, 15});
    rows.add("restart refused", {{F::RestartRefused}}, captured,
             {O::Captured, {E::RestartFailed}, ExitCaptured, RestartFailedText, 15, true});
    // A reply that stops short or breaks off is given up after its silence, not after the
    // 100 s budget of the whole read.
    rows.add("short image", {{F::ShortImage}, 0, true}, {O::NothingReceived, none, ExitLoadFailed, LoadError, 40});
    rows.add("stall in read", {{F::StallInRead}, 0, true}, {O::NothingReceived, none, ExitLoadFailed, LoadError, 40});
}

void TestFaultMatrix::matrix()
{
    QFETCH(MatrixRow, row);
    checkCore(row);
    if (QTest::currentTestFailed())
        return;
    checkProgram(row);
}

void TestFaultMatrix::checkCore(const MatrixRow &row)
{
    VirtualMeterThread meter;
    QString error;
    QVERIFY2(meter.start(row.misbehaviour.options(), &error), qPrintable(error));
    QElapsedTimer clock;
    clock.start();
    const CoreRun run = captureInProcess(row.freeze);
    const double seconds = clock.elapsed() / 1000.0;
    const bool halted = meter.halted();
    runRecords().append({row.fault, row.freeze, QStringLiteral("core"), run.error.isEmpty() ? outcomeName(run.outcome) : run.error,
                     run.lastStatus, seconds, row.expected.budgetSeconds, halted});

    QVERIFY2(run.error.isEmpty(), qPrintable(run.error));
    QCOMPARE(outcomeName(run.outcome), outcomeName(row.expected.outcome));
    QCOMPARE(run.events, row.expected.events);
    QVERIFY2(seconds <= row.expected.budgetSeconds, qPrintable(QStringLiteral("took %1 s").arg(seconds)));
    QCOMPARE(halted, row.expected.haltedAfter);
}

void TestFaultMatrix::checkProgram(const MatrixRow &row)
{
    VirtualMeterThread meter;
    QString error;
    QVERIFY2(meter.start(row.misbehaviour.options(), &error), qPrintable(error));
    QTemporaryDir folder;
    QElapsedTimer clock;
    clock.start();
    const ProgramRun run = captureWithProgram(row.freeze, folder.path());
    const double seconds = clock.elapsed() / 1000.0;
    const bool halted = meter.halted();
    const QString told = run.exitCode == ExitCaptured && row.expected.text == Loaded ? run.out : run.err;
    const qsizetype at = told.indexOf(row.expected.text);
    runRecords().append({row.fault, row.freeze, QStringLiteral("snaploom"), QStringLiteral("exit %1").arg(run.exitCode),
                     firstLine(at >= 0 ? told.mid(at) : run.err), seconds, row.expected.budgetSeconds, halted});

    QVERIFY2(run.exitCode == row.expected.exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.err)));
    QVERIFY2(at >= 0, qPrintable(run.out + run.err));
    QVERIFY2(seconds <= row.expected.budgetSeconds, qPrintable(QStringLiteral("took %1 s").arg(seconds)));
    QCOMPARE(halted, row.expected.haltedAfter);
    // A picture only when the capture succeeded, and never a temporary beside it.
    const QStringList files = everyFileIn(folder.path());
    if (row.expected.exitCode == ExitCaptured) {
        QCOMPARE(files, QStringList{OutputName});
        QCOMPARE(QImageReader(folder.filePath(OutputName)).size(), meter.expectedCapture().size());
    } else {
        QCOMPARE(files, QStringList{});
    }
}

void TestFaultMatrix::cleanupTestCase()
{
    std::printf("\n%-26s %-6s %-9s %-18s %-48s %7s %7s %s\n", "fault", "freeze", "way", "outcome", "text", "seconds",
                "budget", "halted-after");
    for (const RunRecord &record : runRecords())
        std::printf("%-26s %-6s %-9s %-18s %-48s %7.2f %7.0f %s\n", qPrintable(record.fault), record.freeze ? "on" : "off",
                    qPrintable(record.way), qPrintable(record.outcome), qPrintable(record.text), record.seconds,
                    record.budget, record.halted ? "yes" : "no");
    std::fflush(stdout);
}

QTEST_MAIN(TestFaultMatrix)
#include "tst_fault_matrix.moc"
