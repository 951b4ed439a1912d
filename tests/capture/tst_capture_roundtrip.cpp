// A picture put on the virtual instrument's screen comes back, pixel for pixel, over a
// pseudo-terminal: from the capture core in this process and from `snaploom capture`.
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

ProgramRun runSnaploom(const QStringList &arguments, const QString &folder)
{
    return runProgram(testBinary(QStringLiteral("snaploom")), QStringList{QStringLiteral("capture")} + arguments,
                      {folder, {}, ProgramTimeoutMs});
}

QStringList filesIn(const QString &folder) { return QDir(folder).entryList(QDir::Files); }

}  // namespace

class TestCaptureRoundTrip : public QObject
{
    Q_OBJECT
    TestHome home;

private slots:
    // The same picture through the core in this process, then as `snaploom capture` writes it:
    // as a bitmap, and as PNG with the freeze option.
    void roundTrip_data()
    {
        QTest::addColumn<QSize>("stored");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<bool>("fallback");
        QTest::newRow("portrait, turned") << QSize(272, 480) << false << false;
        QTest::newRow("landscape, fallback palette") << QSize(480, 272) << true << true;
        QTest::newRow("portrait, width 100, fallback palette") << QSize(100, 64) << false << true;
        QTest::newRow("landscape, width 101") << QSize(101, 40) << true << false;
    }
    void roundTrip()
    {
        QFETCH(QSize, stored);
        QFETCH(bool, landscape);
        QFETCH(bool, fallback);
        VirtualMeterThread meter;
        QString error;
        QVERIFY2(meter.start(meterOptions(stored, landscape, fallback), &error), qPrintable(error));
        {
            TqzMeterCom link;
            link.PortNumber = Com;
            QVERIFY(link.OpenPort() && link.Connect());
            TInstrumentMemory memory(link);
            const CaptureResult result = ScreenCapture(link, memory).run([] { return true; });
            QCOMPARE(result.outcome, CaptureOutcome::Captured);
            QCOMPARE(MeterScreen::captureDifference(result.image, meter.expectedCapture()), QString());
            QVERIFY(meter.halts() == 1 && meter.restarts() == 1);
            const QList<MeterMemoryRead> reads = meter.memoryReads();  // the pointer, then the directory in whole blocks
            QVERIFY(reads.size() > 2 && reads[0].length == 4 && reads[1].length == 768);
            link.Disconnect();
        }
        QTemporaryDir folder;
        for (const QString &name : {QStringLiteral("screen.bmp"), QStringLiteral("screen.png")}) {
            const bool png = name.endsWith(QLatin1String(".png"));
            QStringList arguments{QStringLiteral("--port"), QStringLiteral("COM%1").arg(Com), QStringLiteral("-o"), name};
            const ProgramRun run = runSnaploom(arguments + (png ? QStringList{QStringLiteral("--freeze")} : QStringList{}), folder.path());
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
            QVERIFY(run.out.contains(QStringLiteral("The image has been loaded correctly.")));
            QImageReader reader(folder.filePath(name));
            QCOMPARE(reader.format(), png ? QByteArray("png") : QByteArray("bmp"));
            QCOMPARE(MeterScreen::captureDifference(reader.read(), meter.expectedCapture()), QString());
            QCOMPARE(meter.halts(), png ? 2 : 1);
            QVERIFY(!meter.halted());
        }
    }

    // Without -o the file is named after the instrument and the time, in the current folder.
    void defaultFileName()
    {
        VirtualMeterThread meter;
        QVERIFY(meter.start(meterOptions(QSize(16, 8), true, false)));
        QTemporaryDir folder;
        for (int run = 0; run < 2; ++run)
            QCOMPARE(runSnaploom({QStringLiteral("--find")}, folder.path()).exitCode, 0);
        const QStringList files = filesIn(folder.path());
        QCOMPARE(files.size(), 2);
        const QRegularExpression pattern(QStringLiteral("^Corvane-Alvo-4660-\\d{8}-\\d{6}(-2)?\\.bmp$"));
        for (const QString &file : files) {
            QVERIFY2(pattern.match(file).hasMatch(), qPrintable(file));
            QCOMPARE(MeterScreen::captureDifference(QImage(folder.filePath(file)), meter.expectedCapture()), QString());
        }
    }

    // Every failure has its own exit code and prints the system's messages; only a refused
    // restart writes the picture. Once a halt was sent, a restart follows on every way out.
    void failures_data()
    {
        QTest::addColumn<QList<MeterFault>>("faults");
        QTest::addColumn<int>("dspStatus");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("restarts");
        const QStringList port{QStringLiteral("--port"), QStringLiteral("COM%1").arg(Com)};
        const QStringList plain = port + QStringList{"-o", "screen.bmp"};
        const QStringList frozen = plain + QStringList{"--freeze"};
        const QStringList usage{QStringLiteral("snaploom capture: ")};
        const QStringList loadError{QStringLiteral("An error occoured while loading image.\n\nPlease try again.")};
        QTest::newRow("no port") << QList<MeterFault>{} << 0 << QStringList{} << 2 << usage << 0;
        QTest::newRow("-o without file") << QList<MeterFault>{} << 0 << QStringList{"--find", "-o"} << 2 << usage << 0;
        QTest::newRow("nothing answers") << QList<MeterFault>{MeterFault::Silent} << 0 << plain << 3
                                         << QStringList{QStringLiteral("No instrument detected.")} << 0;
        QTest::newRow("refused") << QList<MeterFault>{} << 17 << frozen << 4
                                 << QStringList{QStringLiteral("Sorry. The Picture Preview can not be uploaded.")} << 0;
        QTest::newRow("halt refused: restarted all the same") << QList<MeterFault>{MeterFault::HaltRefused} << 0 << frozen << 5
                                      << QStringList{QStringLiteral("Could not halt DSP and freeze image.")} + loadError << 1;
        QTest::newRow("trailer swapped") << QList<MeterFault>{MeterFault::SwappedImageTrailer} << 0 << plain << 6 << loadError << 0;
        QTest::newRow("trailer swapped, frozen: restarted all the same")
            << QList<MeterFault>{MeterFault::SwappedImageTrailer} << 0 << frozen << 6 << loadError << 1;
        QTest::newRow("absurd screen description") << QList<MeterFault>{MeterFault::AbsurdGeometry} << 0 << frozen << 6
                                                   << QStringList{QStringLiteral("65535 x 65535")} + loadError << 0;
        QTest::newRow("folder that cannot be made") << QList<MeterFault>{} << 0 << port + QStringList{"-o", "/proc/no-such/x.bmp"} << 7
                                                    << QStringList{QStringLiteral("/proc/no-such")} << 0;
        QTest::newRow("a folder in the way") << QList<MeterFault>{} << 0 << port + QStringList{"-o", "taken.bmp"} << 7 << QStringList{} << 0;
        QTest::newRow("restart refused: written, own exit code") << QList<MeterFault>{MeterFault::RestartRefused} << 0 << frozen << 8
                                                         << QStringList{QStringLiteral("Could not restart DSP and unfreeze image.")} << 1;
        QTest::newRow("restart acknowledged late: it runs") << QList<MeterFault>{MeterFault::LateRestartAck} << 0 << frozen << 0
                                                         << QStringList{} << 1;
    }
    void failures()
    {
        QFETCH(QList<MeterFault>, faults);
        QFETCH(int, dspStatus);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, messages);
        QFETCH(int, restarts);
        VirtualMeterOptions options = meterOptions(QSize(64, 40), false, false);
        options.dspStatus = quint16(dspStatus);
        options.faults = QSet<MeterFault>(faults.begin(), faults.end());
        VirtualMeterThread meter;
        QVERIFY(meter.start(options));
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("taken.bmp")));
        QElapsedTimer clock;
        clock.start();
        const ProgramRun run = runSnaploom(arguments, folder.path());
        QVERIFY2(clock.elapsed() < ProgramTimeoutMs / 2, "a failed capture must end without waiting out a read");
        QVERIFY2(run.exitCode == exitCode, qPrintable(QString::number(run.exitCode) + QLatin1Char(' ') + run.err));
        for (const QString &message : messages)
            QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(filesIn(folder.path()).isEmpty(), exitCode != 0 && exitCode != 8);
        QVERIFY(QFileInfo(folder.filePath(QStringLiteral("taken.bmp"))).isDir());
        QCOMPARE(meter.commands().count("@ATDSPSTART"), restarts);
        QCOMPARE(meter.halted(), faults.contains(MeterFault::RestartRefused));
        // Nothing beyond the directory and description is read when the capture is refused early.
        if (exitCode == 4 || exitCode == 5 || faults.contains(MeterFault::AbsurdGeometry))
            for (const MeterMemoryRead &read : meter.memoryReads())
                QVERIFY2(read.length <= 768, qPrintable(QString::number(read.length)));
    }
};

QTEST_MAIN(TestCaptureRoundTrip)
#include "tst_capture_roundtrip.moc"
