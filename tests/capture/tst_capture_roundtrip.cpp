// A picture put on the virtual instrument's screen comes back, pixel for pixel, through the
// real link over a pseudo-terminal: from the capture core in this process and from
// `snaploom capture` as a user runs it.
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

Q_DECLARE_METATYPE(MeterFault)

namespace {

constexpr int Com = 7;
constexpr int ProgramTimeoutMs = 120000;

// A picture with detail in every column and row, in colours near the instrument's own.
QImage testPicture()
{
    QImage picture(200, 120, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const int band = (x / 9 + y / 7 + (x * y) % 5) % 8;
            picture.setPixel(x, y, qRgb(band & 4 ? 255 : 0, band & 2 ? 255 : 0, band & 1 ? 255 : 0));
        }
    return picture;
}

VirtualMeterOptions meterOptions(QSize stored, bool landscape, bool fallback)
{
    VirtualMeterOptions options;
    options.comNumber = Com;
    options.screen = testPicture();
    options.storedSize = stored;
    options.landscape = landscape;
    options.fallbackPalette = fallback;
    return options;
}

// Every pixel the instrument stores must come back exactly; expected marks the others
// transparent. Returns an empty text when the pictures agree.
QString difference(const QImage &captured, const QImage &expected)
{
    if (captured.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(captured.width()).arg(captured.height()).arg(expected.width()).arg(expected.height());
    int compared = 0;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb want = expected.pixel(x, y);
            if (qAlpha(want) == 0)
                continue;
            ++compared;
            if ((captured.pixel(x, y) & 0xFFFFFF) != (want & 0xFFFFFF))
                return QStringLiteral("pixel %1,%2 is %3, expected %4")
                    .arg(x).arg(y).arg(captured.pixel(x, y) & 0xFFFFFF, 6, 16).arg(want & 0xFFFFFF, 6, 16);
        }
    return compared > 0 ? QString() : QStringLiteral("nothing to compare");
}

struct ProgramRun
{
    int exitCode = -1;
    QString out;
    QString err;
    qint64 elapsedMs = 0;
};

ProgramRun runSnaploom(const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    QElapsedTimer timer;
    timer.start();
    process.start(testBinary(QStringLiteral("snaploom")), QStringList{QStringLiteral("capture")} + arguments);
    ProgramRun run;
    if (!process.waitForStarted()) {
        run.err = QStringLiteral("snaploom did not start: ") + process.errorString();
        return run;
    }
    if (!process.waitForFinished(ProgramTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("snaploom did not finish");
        return run;
    }
    run.elapsedMs = timer.elapsed();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files);
}

}  // namespace

class TestCaptureRoundTrip : public QObject
{
    Q_OBJECT
private:
    TestHome home;

    void layouts()
    {
        QTest::addColumn<QSize>("stored");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<bool>("fallback");
        QTest::newRow("portrait, turned") << QSize(272, 480) << false << false;
        QTest::newRow("landscape") << QSize(480, 272) << true << false;
        QTest::newRow("portrait, fallback palette") << QSize(272, 480) << false << true;
        QTest::newRow("landscape, fallback palette") << QSize(480, 272) << true << true;
        QTest::newRow("portrait, width 100") << QSize(100, 64) << false << false;
        QTest::newRow("landscape, width 101, fallback") << QSize(101, 40) << true << true;
    }

private slots:
    void coreInProcess_data() { layouts(); }
    void coreInProcess()
    {
        QFETCH(QSize, stored);
        QFETCH(bool, landscape);
        QFETCH(bool, fallback);
        VirtualMeterThread meter;
        QString error;
        QVERIFY2(meter.start(meterOptions(stored, landscape, fallback), &error), qPrintable(error));

        TqzMeterCom link;
        link.PortNumber = Com;
        QVERIFY(link.OpenPort());
        QVERIFY(link.Connect());
        TInstrumentMemory memory;
        memory.MeterCom = &link;
        ScreenCapture capture(link, memory);
        const CaptureResult result = capture.run([] { return true; });
        QCOMPARE(result.outcome, CaptureOutcome::Captured);
        QCOMPARE(result.storedWidth, quint16(stored.width()));
        QCOMPARE(result.orientation, quint16(landscape ? 1 : 0));
        const QString problem = difference(result.image, meter.expectedCapture());
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(meter.halts(), 1);
        QCOMPARE(meter.restarts(), 1);
        QVERIFY(!meter.halted());
        link.Disconnect();
    }

    void commandLine_data()
    {
        layouts();  // each as a bitmap, and again as PNG with the freeze option
    }
    void commandLine()
    {
        QFETCH(QSize, stored);
        QFETCH(bool, landscape);
        QFETCH(bool, fallback);
        VirtualMeterThread meter;
        QString error;
        QVERIFY2(meter.start(meterOptions(stored, landscape, fallback), &error), qPrintable(error));
        QTemporaryDir folder;
        for (const QString &name : {QStringLiteral("screen.bmp"), QStringLiteral("screen.png")}) {
            const bool freeze = name.endsWith(QLatin1String(".png"));
            QStringList arguments{QStringLiteral("--port"), QStringLiteral("COM%1").arg(Com), QStringLiteral("-o"), name};
            if (freeze)
                arguments << QStringLiteral("--freeze");
            const ProgramRun run = runSnaploom(arguments, folder.path());
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
            QVERIFY(run.out.contains(QStringLiteral("The image has been loaded correctly.")));
            const QString path = folder.filePath(name);
            QImageReader reader(path);
            QCOMPARE(reader.format(), name.endsWith(QLatin1String(".png")) ? QByteArray("png") : QByteArray("bmp"));
            const QString problem = difference(reader.read(), meter.expectedCapture());
            QVERIFY2(problem.isEmpty(), qPrintable(name + QStringLiteral(": ") + problem));
            QCOMPARE(meter.halts(), freeze ? 1 : 0);
            QVERIFY(!meter.halted());
        }
    }

    // Without -o the file is named after the instrument and the time, in the current folder.
    void defaultFileName()
    {
        VirtualMeterThread meter;
        QVERIFY(meter.start(meterOptions(QSize(16, 8), true, false)));
        QTemporaryDir folder;
        const QStringList arguments{QStringLiteral("--find")};
        const ProgramRun first = runSnaploom(arguments, folder.path());
        QVERIFY2(first.exitCode == 0, qPrintable(first.err));
        const ProgramRun second = runSnaploom(arguments, folder.path());
        QVERIFY2(second.exitCode == 0, qPrintable(second.err));
        const QStringList files = filesIn(folder.path());
        QCOMPARE(files.size(), 2);
        const QRegularExpression pattern(QStringLiteral("^Corvane_Alvo-4660-\\d{8}-\\d{6}(-2)?\\.bmp$"));
        for (const QString &file : files) {
            QVERIFY2(pattern.match(file).hasMatch(), qPrintable(file));
            QCOMPARE(difference(QImage(folder.filePath(file)), meter.expectedCapture()), QString());
        }
    }

    // Every failure has its own exit code, prints the system's messages and writes no file.
    void failures_data()
    {
        QTest::addColumn<QList<MeterFault>>("faults");
        QTest::addColumn<int>("dspStatus");
        QTest::addColumn<bool>("freeze");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("restarts");
        const QString loadError = QStringLiteral("An error occoured while loading image.\n\nPlease try again.");
        QTest::newRow("refused")
            << QList<MeterFault>{} << 17 << true << 4
            << QStringList{QStringLiteral("Sorry. The Picture Preview can not be uploaded.")} << 0;
        QTest::newRow("halt refused")
            << QList<MeterFault>{MeterFault::HaltRefused} << 0 << true << 5
            << QStringList{QStringLiteral("Could not halt DSP and freeze image."), loadError} << 0;
        QTest::newRow("trailer swapped")
            << QList<MeterFault>{MeterFault::SwappedImageTrailer} << 0 << false << 6 << QStringList{loadError} << 0;
        QTest::newRow("trailer swapped, frozen: restarted all the same")
            << QList<MeterFault>{MeterFault::SwappedImageTrailer} << 0 << true << 6 << QStringList{loadError} << 1;
        QTest::newRow("absurd screen description")
            << QList<MeterFault>{MeterFault::AbsurdGeometry} << 0 << true << 6
            << QStringList{QStringLiteral("65535 x 65535"), loadError} << 0;
        QTest::newRow("restart refused: still captured")
            << QList<MeterFault>{MeterFault::RestartRefused} << 0 << true << 0
            << QStringList{QStringLiteral("Could not restart DSP and unfreeze image.")} << 1;
    }
    void failures()
    {
        QFETCH(QList<MeterFault>, faults);
        QFETCH(int, dspStatus);
        QFETCH(bool, freeze);
        QFETCH(int, exitCode);
        QFETCH(QStringList, messages);
        QFETCH(int, restarts);
        VirtualMeterOptions options = meterOptions(QSize(64, 40), false, false);
        options.dspStatus = quint16(dspStatus);
        for (MeterFault fault : faults)
            options.faults.insert(fault);
        VirtualMeterThread meter;
        QVERIFY(meter.start(options));
        QTemporaryDir folder;
        QStringList arguments{QStringLiteral("--port"), QStringLiteral("COM%1").arg(Com), QStringLiteral("-o"),
                              QStringLiteral("screen.bmp")};
        if (freeze)
            arguments << QStringLiteral("--freeze");
        const ProgramRun run = runSnaploom(arguments, folder.path());
        QCOMPARE(run.exitCode, exitCode);
        for (const QString &message : messages)
            QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(filesIn(folder.path()).isEmpty(), exitCode != 0);
        QCOMPARE(meter.commands().count("@ATDSPSTART"), restarts);
        QCOMPARE(meter.halted(), faults.contains(MeterFault::RestartRefused));
        // Nothing beyond the directory and description is read when the capture is refused early.
        if (dspStatus == 17 || faults.contains(MeterFault::AbsurdGeometry) || faults.contains(MeterFault::HaltRefused))
            for (const MeterMemoryRead &read : meter.memoryReads())
                QVERIFY2(read.length <= 768, qPrintable(QString::number(read.length)));
        QVERIFY2(run.elapsedMs < ProgramTimeoutMs / 2, "a refused capture must end without waiting out a read");
    }

    void noInstrument()
    {
        QTemporaryDir folder;
        const ProgramRun run = runSnaploom({QStringLiteral("--port"), QStringLiteral("COM%1").arg(Com)}, folder.path());
        QCOMPARE(run.exitCode, 3);
        QVERIFY(run.err.contains(QStringLiteral("No instrument detected.")));
        QVERIFY(filesIn(folder.path()).isEmpty());
    }

    // A file that cannot be written is reported; one already at the path stays as it was.
    void fileNotWritten()
    {
        VirtualMeterThread meter;
        QVERIFY(meter.start(meterOptions(QSize(16, 8), true, false)));
        QTemporaryDir folder;
        const ProgramRun missingFolder = runSnaploom(
            {QStringLiteral("--port"), QStringLiteral("COM%1").arg(Com), QStringLiteral("-o"), QStringLiteral("no/such/folder/x.bmp")},
            folder.path());
        QCOMPARE(missingFolder.exitCode, 7);
        QVERIFY(missingFolder.err.contains(QStringLiteral("no/such/folder/x.bmp")));

        // A folder in the way of the file: the write fails and the folder is left alone.
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("taken.bmp")));
        const ProgramRun taken = runSnaploom(
            {QStringLiteral("--port"), QStringLiteral("COM%1").arg(Com), QStringLiteral("-o"), QStringLiteral("taken.bmp")},
            folder.path());
        QCOMPARE(taken.exitCode, 7);
        QVERIFY(QFileInfo(folder.filePath(QStringLiteral("taken.bmp"))).isDir());
        QCOMPARE(filesIn(folder.path()), QStringList());
    }

    void badOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no port") << QStringList{};
        QTest::newRow("both") << QStringList{"--find", "--port", "COM1"};
        QTest::newRow("-o without file") << QStringList{"--find", "-o"};
        QTest::newRow("unknown") << QStringList{"--find", "--fast"};
    }
    void badOptions()
    {
        QFETCH(QStringList, arguments);
        QTemporaryDir folder;
        const ProgramRun run = runSnaploom(arguments, folder.path());
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.contains(QStringLiteral("Usage: snaploom capture")));
    }
};

QTEST_MAIN(TestCaptureRoundTrip)
#include "tst_capture_roundtrip.moc"
