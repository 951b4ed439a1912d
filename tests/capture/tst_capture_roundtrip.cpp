// A picture put on the virtual instrument's screen comes back, pixel for pixel, over a
// pseudo-terminal: from the capture core in this process and from `snaploom capture`.
#include "InstrumentMemory.h"
#include "ProgramRun.h"
#include "ScreenCapture.h"
#include "TestHome.h"
#include "VirtualMeterThread.h"
#include "qzMeterCOM.h"

#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

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
};

QTEST_MAIN(TestCaptureRoundTrip)
#include "tst_capture_roundtrip.moc"
