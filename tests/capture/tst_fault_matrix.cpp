// Every misbehaviour of the virtual instrument, through the whole capture over a pseudo-terminal,
// with and without freeze: once through the capture core in this process and once as
// `snaploom capture`. Each row checks how the capture ends and what the user is told, how long it
// took against its budget, that no picture or temporary file is left behind by a failure, and
// that the instrument is running and out of command mode afterwards wherever its line still
// works. The runs go side by side, each instrument on a COM port of its own, since most of their
// time is spent waiting on the line; the rows then check what each run left. The matrix is
// printed as a table when the test ends.
#include "ComPort.h"
#include "InstrumentMemory.h"
#include "ProgramRun.h"
#include "ScreenCapture.h"
#include "TestHome.h"
#include "VirtualMeterThread.h"
#include "qzMeterCOM.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <memory>
#include <cstdio>
#include <optional>

namespace {

constexpr int ProgramTimeoutMs = 180000;
// The core's pauses after the halt and the restart, shortened to keep the matrix quick; the
// program keeps its own.
constexpr int ShortPauseMs = 50;
// A lost line ends the capture within 2 s; on a loaded machine a little more is allowed.
constexpr double LostLineSeconds = 5;
// The smallest stored screen there is: one strip, so a paced image read takes under 2 s.
const QSize StoredSize(8, 40);
const QString OutputName = QStringLiteral("screen.bmp");

// Exit codes of `snaploom capture`.
constexpr int ExitCaptured = 0;
constexpr int ExitNoInstrument = 3;
constexpr int ExitRefused = 4;
constexpr int ExitHaltFailed = 5;
constexpr int ExitLoadFailed = 6;
constexpr int ExitRestartRefused = 8;
constexpr int ExitLineLost = 9;
constexpr int ExitNotUnderstood = 11;

const QString NoInstrument = QStringLiteral("No instrument detected.");
const QString NotUnderstoodText = QStringLiteral("COM%1 answers, but its replies were not understood.");
const QString Loaded = QStringLiteral("The image has been loaded correctly.");
const QString LoadError = QStringLiteral("An error occoured while loading image.\n\nPlease try again.");
const QString RefusedText = QStringLiteral("Sorry. The Picture Preview can not be uploaded.");
const QString HaltFailedText = QStringLiteral("Could not halt DSP and freeze image.");
const QString RestartFailedText = QStringLiteral("Could not restart DSP and unfreeze image.");
const QString NoDirectoryText = QStringLiteral("Could not read the instrument's memory directory");
const QString UnusableScreenText = QStringLiteral("65535 x 65535");
// The port, then the cause in brackets.
const QString LineLostText = QStringLiteral("The connection to COM%1 was lost (");

// How the instrument misbehaves in one row.
struct Misbehaviour
{
    QList<MeterFault> faults;
    quint16 dspStatus = VirtualMeterOptions::DefaultStatusWord;
    bool paced = false;  // byte by byte at the line's 960 bytes a second
    int latencyMs = 0;

    VirtualMeterOptions options(int com) const
    {
        VirtualMeterOptions options;
        options.comNumber = com;
        options.storedSize = StoredSize;
        options.faults = QSet<MeterFault>(faults.begin(), faults.end());
        options.dspStatus = dspStatus;
        options.pace = paced;
        options.latencyMs = latencyMs;
        return options;
    }
};

// What a row must end in. outcome is empty when no instrument is found at all.
struct Expected
{
    std::optional<CaptureOutcome> outcome;
    QList<CaptureEvent> events;  // told by the core, in order
    int exitCode = ExitCaptured;
    QString text;                // what `snaploom capture` says (and the core, for a lost line)
    double budgetSeconds = 0;
    bool haltedAfter = false;    // where the instrument refuses its restart or its line is gone
    bool pictureKept = false;    // the line went after the whole picture was in

    bool lineLost() const { return outcome == CaptureOutcome::LineLost || pictureKept; }
    // The text names the port for a lost line and for replies not understood.
    QString textOn(int com) const { return text.contains(QLatin1String("%1")) ? text.arg(com) : text; }
    bool writesFile() const { return exitCode == ExitCaptured || exitCode == ExitRestartRefused || pictureKept; }
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
    case CaptureOutcome::Cancelled: return QStringLiteral("cancelled");
    case CaptureOutcome::LineLost: return QStringLiteral("line lost");
    }
    return QStringLiteral("?");
}

// Every row of the matrix: each fault of the instrument, without and with freeze.
QList<MatrixRow> matrixRows()
{
    using F = MeterFault;
    using O = CaptureOutcome;
    using E = CaptureEvent;
    const QList<E> none;
    // Budgets: what the sequence's own waits allow, with room for a loaded machine.
    const Expected notFound{std::nullopt, none, ExitNoInstrument, NoInstrument, 10};
    const Expected notUnderstood{std::nullopt, none, ExitNotUnderstood, NotUnderstoodText, 15};
    const Expected captured{O::Captured, none, ExitCaptured, Loaded, 15};
    const Expected capturedPaced{O::Captured, none, ExitCaptured, Loaded, 25};
    // A reply that stops short or breaks off is given up after its silence, not after the
    // 100 s budget of the whole read.
    const Expected givenUp{O::NothingReceived, none, ExitLoadFailed, LoadError, 35};

    QList<MatrixRow> rows;
    const auto add = [&rows](const QString &fault, const Misbehaviour &misbehaviour, const Expected &freezeOff,
                             const std::optional<Expected> &freezeOn = std::nullopt) {
        rows.append({fault, false, misbehaviour, freezeOff});
        rows.append({fault, true, misbehaviour, freezeOn.value_or(freezeOff)});
    };
    add("none", {}, captured);
    add("none, paced line, 8 ms latency", {{}, 0, true, 8}, capturedPaced);
    add("silent", {{F::Silent}}, notFound);
    add("no-ack", {{F::NoAck}}, notUnderstood);
    add("garbage", {{F::Garbage}}, notUnderstood);
    add("garbled", {{F::Garbled}}, notUnderstood);
    add("short-status", {{F::ShortStatus}}, notUnderstood);
    add("split-status", {{F::SplitStatus}, 0, true}, capturedPaced);
    add("wrong-checksum", {{F::WrongChecksum}}, captured);
    add("swapped-trailer", {{F::SwappedTrailer}}, {O::NoScreenInfo, none, ExitLoadFailed, NoDirectoryText, 15});
    add("swapped-image-trailer", {{F::SwappedImageTrailer}}, {O::NothingReceived, none, ExitLoadFailed, LoadError, 15});
    add("absurd-geometry", {{F::AbsurdGeometry}}, {O::BadGeometry, none, ExitLoadFailed, UnusableScreenText, 15});
    add("DSP status 17", {{}, VirtualMeterOptions::RefusingStatusWord}, {O::Refused, none, ExitRefused, RefusedText, 15});
    add("short-image", {{F::ShortImage}, 0, true}, givenUp);
    add("stall-in-read", {{F::StallInRead}, 0, true}, givenUp);
    add("pause-in-image", {{F::PauseInImage}}, {O::Captured, none, ExitCaptured, Loaded, 20});
    add("halt-refused", {{F::HaltRefused}}, captured, Expected{O::HaltFailed, {E::HaltFailed}, ExitHaltFailed, HaltFailedText, 15});
    add("late-ack", {{F::LateHaltAck}}, captured, Expected{O::HaltFailed, {E::HaltFailed}, ExitHaltFailed, HaltFailedText, 15});
    add("restart-refused", {{F::RestartRefused}}, captured,
        Expected{O::Captured, {E::RestartFailed}, ExitRestartRefused, RestartFailedText, 15, true});
    add("late-restart-ack", {{F::LateRestartAck}}, captured, Expected{O::Captured, none, ExitCaptured, Loaded, 20});

    // The line goes away in each phase. The halt and the restart come only with freeze; a line
    // lost while the instrument is halted leaves it halted, since nothing can reach it.
    for (const MeterPhase phase : meterPhases()) {
        const bool frozenOnly = phase == MeterPhase::Halt || phase == MeterPhase::Restart;
        const bool leftHalted = frozenOnly || phase == MeterPhase::Image;
        const bool paced = phase == MeterPhase::Image;  // a reply broken off in the middle
        const Expected lost{O::LineLost, none, ExitLineLost, LineLostText, 15};
        Expected lostFrozen = lost;
        lostFrozen.haltedAfter = leftHalted;
        if (phase == MeterPhase::Restart) {
            // The picture was read whole before the line went: it is delivered all the same.
            lostFrozen.outcome = O::Captured;
            lostFrozen.pictureKept = true;
        }
        for (const MeterFault fault : {hangUpFault(phase), unplugFault(phase)})
            add(meterFaultName(fault), {{fault}, 0, paced}, frozenOnly ? captured : lost, lostFrozen);
    }
    return rows;
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
    double afterLoss = -1;  // seconds from the line going away to the end; -1 when it stayed
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

// The first line of a text, short enough for the table.
QString firstLine(const QString &text)
{
    const QString line = text.section(QLatin1Char('\n'), 0, 0);
    return line.size() > 52 ? line.left(49) + QStringLiteral("...") : line;
}

// The instrument of one run, with the moment its line went away, if it did.
class MeterUnderTest
{
public:
    bool start(const Misbehaviour &misbehaviour, int com, QString *error)
    {
        if (!m_meter.start(misbehaviour.options(com), error))
            return false;
        QObject::connect(m_meter.meter(), &VirtualMeter::hungUp, m_meter.meter(),
                         [this] { m_lostAtMs = m_clock.elapsed(); }, Qt::DirectConnection);
        m_clock.start();
        return true;
    }
    double secondsSinceStart() const { return m_clock.elapsed() / 1000.0; }
    // Seconds from the line going away until now; -1 when it never went.
    double secondsSinceLoss() const
    {
        const qint64 lostAt = m_lostAtMs;
        return lostAt < 0 ? -1 : (m_clock.elapsed() - lostAt) / 1000.0;
    }
    const VirtualMeterThread &thread() const { return m_meter; }

private:
    // The clock outlives the instrument, whose thread writes the moment of the loss.
    QElapsedTimer m_clock;
    std::atomic<qint64> m_lostAtMs{-1};
    VirtualMeterThread m_meter;
};

struct CoreRun
{
    std::optional<CaptureOutcome> outcome;
    QList<CaptureEvent> events;
    QString text;   // the lost line's text, else the first status-bar panel's last text
    QString error;  // an error that left the capture
};

CoreRun captureInProcess(bool freeze, int com)
{
    CoreRun run;
    TqzMeterCom link;
    link.PortNumber = com;
    try {
        if (!link.OpenPort() || !link.Connect() || !TqzMeterCom::IsCapturableModel(link.Info.ModelCode)) {
            link.Disconnect();
            return run;
        }
        TInstrumentMemory memory(link);
        ScreenCapture capture(link, memory);
        capture.haltPauseMs = ShortPauseMs;
        capture.restartPauseMs = ShortPauseMs;
        CaptureListener listener;
        listener.status = [&run](const QString &text) { run.text = text; };
        const CaptureResult result = capture.run([freeze] { return freeze; }, listener);
        run.outcome = result.outcome;
        run.events = result.events;
        if (!result.errorText.isEmpty())
            run.text = result.errorText;
        link.Disconnect();
    } catch (const ELineLost &lost) {
        // Lost while identifying: the link has closed the port.
        run.outcome = CaptureOutcome::LineLost;
        run.text = lost.text();
    } catch (const std::exception &error) {
        run.error = QString::fromLocal8Bit(error.what());
    }
    return run;
}

// What one run left behind, kept for its row's checks.
struct FinishedRun
{
    int com = 0;
    QString startError;  // the instrument would not start
    CoreRun core;        // the capture core in this process
    ProgramRun program;  // `snaploom capture`
    QStringList files;   // the program's working folder afterwards
    QSize writtenSize;   // the picture the program wrote, read back
    QSize expectedSize;  // the picture the instrument shows
    double seconds = 0;
    double sinceLoss = -1;
    bool halted = false;
    bool commandMode = false;
};

FinishedRun runOnce(const MatrixRow &row, bool asProgram, int com)
{
    FinishedRun run;
    run.com = com;
    MeterUnderTest meter;
    if (!meter.start(row.misbehaviour, com, &run.startError))
        return run;
    QTemporaryDir folder;
    if (asProgram) {
        QStringList arguments{QStringLiteral("capture"), QStringLiteral("--port"), QStringLiteral("COM%1").arg(com),
                              QStringLiteral("-o"), OutputName};
        if (row.freeze)
            arguments << QStringLiteral("--freeze");
        run.program = runProgram(testBinary(QStringLiteral("snaploom")), arguments, {folder.path(), {}, ProgramTimeoutMs});
    } else {
        run.core = captureInProcess(row.freeze, com);
    }
    run.seconds = meter.secondsSinceStart();
    run.sinceLoss = meter.secondsSinceLoss();
    run.halted = meter.thread().halted();
    run.commandMode = meter.thread().commandMode();
    run.expectedSize = meter.thread().expectedCapture().size();
    run.files = everyFileIn(folder.path());
    run.writtenSize = QImageReader(folder.filePath(OutputName)).size();
    return run;
}

// Every row once in this process (run 2 i) and once as the program (run 2 i + 1), several at a
// time on threads with event loops, as the link needs; the largest budgets start first so that
// no long run is left alone at the end.
std::vector<FinishedRun> runAll(const QList<MatrixRow> &rows)
{
    // Each mostly waits on its line, so more run at once than there are cores.
    const int runsAtOnce = 6;
    const int firstCom = 23;  // run i's instrument is on COM(firstCom + i)
    std::vector<FinishedRun> finished(size_t(rows.size()) * 2);
    std::vector<int> order(finished.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    std::stable_sort(order.begin(), order.end(), [&rows](int a, int b) {
        return rows[a / 2].expected.budgetSeconds > rows[b / 2].expected.budgetSeconds;
    });
    std::atomic<size_t> next{0};
    std::vector<std::unique_ptr<QThread>> workers;
    for (int i = 0; i < runsAtOnce; ++i) {
        workers.emplace_back(QThread::create([&] {
            for (size_t at = next++; at < order.size(); at = next++) {
                const int index = order[at];
                finished[size_t(index)] = runOnce(rows[index / 2], index % 2 == 1, firstCom + index);
            }
        }));
        workers.back()->start();
    }
    for (const auto &worker : workers)
        worker->wait();
    return finished;
}

}  // namespace

class TestFaultMatrix : public QObject
{
    Q_OBJECT
    TestHome home;
    std::vector<FinishedRun> m_runs;

private slots:
    void everyFaultHasARow();
    void matrix_data();
    void matrix();
    void cleanupTestCase();

private:
    void checkCore(const MatrixRow &row, const FinishedRun &run);
    void checkProgram(const MatrixRow &row, const FinishedRun &run);
    // What holds for every run after it ended, in this process or as the program.
    void checkAfterwards(const MatrixRow &row, const FinishedRun &run);
};

// A fault added to the instrument without a row here would go untested.
void TestFaultMatrix::everyFaultHasARow()
{
    QSet<MeterFault> covered;
    for (const MatrixRow &row : matrixRows())
        for (const MeterFault fault : row.misbehaviour.faults)
            covered.insert(fault);
    for (const MeterFault fault : meterFaults())
        QVERIFY2(covered.contains(fault), qPrintable(meterFaultName(fault)));
}

void TestFaultMatrix::matrix_data()
{
    QTest::addColumn<MatrixRow>("row");
    QTest::addColumn<int>("index");
    const QList<MatrixRow> rows = matrixRows();
    for (int i = 0; i < rows.size(); ++i)
        QTest::newRow(qPrintable(QStringLiteral("%1, freeze %2").arg(rows[i].fault, rows[i].freeze ? "on" : "off")))
            << rows[i] << i;
}

void TestFaultMatrix::matrix()
{
    QFETCH(MatrixRow, row);
    QFETCH(int, index);
    if (m_runs.empty())
        m_runs = runAll(matrixRows());
    checkCore(row, m_runs[size_t(index) * 2]);
    if (QTest::currentTestFailed())
        return;
    checkProgram(row, m_runs[size_t(index) * 2 + 1]);
}

void TestFaultMatrix::checkCore(const MatrixRow &row, const FinishedRun &run)
{
    QVERIFY2(run.startError.isEmpty(), qPrintable(run.startError));
    const CoreRun &core = run.core;
    runRecords().append({row.fault, row.freeze, QStringLiteral("core"), core.error.isEmpty() ? outcomeName(core.outcome) : core.error,
                         firstLine(core.text), run.seconds, row.expected.budgetSeconds, run.halted, run.sinceLoss});

    QVERIFY2(core.error.isEmpty(), qPrintable(core.error));
    QCOMPARE(outcomeName(core.outcome), outcomeName(row.expected.outcome));
    QCOMPARE(core.events, row.expected.events);
    if (row.expected.lineLost())
        QVERIFY2(core.text.startsWith(row.expected.textOn(run.com)), qPrintable(core.text));
    checkAfterwards(row, run);
}

void TestFaultMatrix::checkProgram(const MatrixRow &row, const FinishedRun &run)
{
    QVERIFY2(run.startError.isEmpty(), qPrintable(run.startError));
    const ProgramRun &program = run.program;
    const QString expectedText = row.expected.textOn(run.com);
    const QString told = expectedText == Loaded ? program.out : program.err;
    const qsizetype at = told.indexOf(expectedText);
    runRecords().append({row.fault, row.freeze, QStringLiteral("snaploom"), QStringLiteral("exit %1").arg(program.exitCode),
                         firstLine(at >= 0 ? told.mid(at) : program.err), run.seconds, row.expected.budgetSeconds,
                         run.halted, run.sinceLoss});

    QVERIFY2(program.exitCode == row.expected.exitCode,
             qPrintable(QStringLiteral("exit %1: %2").arg(program.exitCode).arg(program.err)));
    QVERIFY2(at >= 0, qPrintable(program.out + program.err));
    checkAfterwards(row, run);
    // A picture only when the capture succeeded, and never a temporary beside it.
    if (row.expected.writesFile()) {
        QCOMPARE(run.files, QStringList{OutputName});
        QCOMPARE(run.writtenSize, run.expectedSize);
    } else {
        QCOMPARE(run.files, QStringList{});
    }
}

void TestFaultMatrix::checkAfterwards(const MatrixRow &row, const FinishedRun &run)
{
    QVERIFY2(run.seconds <= row.expected.budgetSeconds, qPrintable(QStringLiteral("took %1 s").arg(run.seconds)));
    QCOMPARE(run.halted, row.expected.haltedAfter);
    if (row.expected.lineLost()) {
        QVERIFY2(run.sinceLoss >= 0 && run.sinceLoss <= LostLineSeconds,
                 qPrintable(QStringLiteral("ended %1 s after the line went").arg(run.sinceLoss)));
    } else {
        QVERIFY2(run.sinceLoss < 0, "the line went away in a row that should keep it");
        QVERIFY2(!run.commandMode, "the instrument was left in command mode");
    }
}

void TestFaultMatrix::cleanupTestCase()
{
    std::printf("\n%-32s %-6s %-8s %-16s %-52s %7s %6s %-6s %s\n", "fault", "freeze", "way", "outcome", "text", "seconds",
                "budget", "halted", "after loss");
    for (const RunRecord &record : runRecords()) {
        const QString afterLoss = record.afterLoss < 0 ? QString() : QString::number(record.afterLoss, 'f', 2);
        std::printf("%-32s %-6s %-8s %-16s %-52s %7.2f %6.0f %-6s %s\n", qPrintable(record.fault),
                    record.freeze ? "on" : "off", qPrintable(record.way), qPrintable(record.outcome), qPrintable(record.text),
                    record.seconds, record.budget, record.halted ? "yes" : "no", qPrintable(afterLoss));
    }
    std::fflush(stdout);
}

QTEST_MAIN(TestFaultMatrix)
#include "tst_fault_matrix.moc"
