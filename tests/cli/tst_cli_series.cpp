// `snaploom capture` on a lab bench: names from a template that never replace a file, a series
// of captures, several instruments in one run, and JSON lines for scripts.
#include "FolderFiles.h"
#include "ProgramSignal.h"
#include "TestHome.h"
#include "VirtualMeterThread.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

namespace {

constexpr int FirstCom = 21;

// A small stored screen with a picture of its own for each instrument; on a paced line its image
// read takes about 3 s.
VirtualMeterOptions meterOptions(int index, quint16 dspStatus = VirtualMeterOptions::DefaultStatusWord, bool paced = false)
{
    VirtualMeterOptions options;
    options.comNumber = FirstCom + index;
    options.serialNumber = quint16(500 + index);
    options.dspStatus = dspStatus;
    QImage picture(40, 24, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb((x + index) % 3 ? 255 : 0, (y + 2 * index) % 4 ? 0 : 255, x < 8 * index ? 255 : 0));
    options.screen = picture;
    options.storedSize = paced ? QSize(16, 40) : QSize(64, 40);
    options.pace = paced;
    options.latencyMs = paced ? 5 : 0;
    return options;
}

QString com(int index)
{
    return QStringLiteral("COM%1").arg(FirstCom + index);
}

ProgramSetup inFolder(const QString &folder)
{
    ProgramSetup setup;
    setup.folder = folder;
    return setup;
}

ProgramRun capture(const QStringList &arguments, const QString &folder)
{
    return runProgram(testBinary(QStringLiteral("snaploom")), QStringList{QStringLiteral("capture")} + arguments, inFolder(folder));
}

QImage pictureIn(const QString &path)
{
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

QList<QJsonObject> jsonLines(const QByteArray &out)
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        objects.append(error.error == QJsonParseError::NoError && document.isObject() ? document.object() : QJsonObject());
    }
    return objects;
}

}  // namespace

class TestCliSeries : public QObject
{
    Q_OBJECT
    TestHome home;

private slots:
    // Each field, folders made, and a file already there never replaced unless asked.
    void templates_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");   // {date} and {time} stand for the end of the capture
        const QString port = com(0);
        QTest::newRow("every field") << QStringList{"-o", "{serial}_{model}_{port}_{n}_{date}_{time}.png"} << QStringList{}
                                     << "500_Corvane-Alvo_" + port + "_1_{date}_{time}.png";
        QTest::newRow("without -o") << QStringList{} << QStringList{} << "Corvane-Alvo-500-{date}-{time}.bmp";
        QTest::newRow("folders are made") << QStringList{"-o", "run/{port}/shot.bmp"} << QStringList{} << "run/" + port + "/shot.bmp";
        QTest::newRow("taken") << QStringList{"-o", "d/{serial}.png"} << QStringList{"d/500.png", "d/500-2.png"} << "d/500-3.png";
        QTest::newRow("--overwrite") << QStringList{"-o", "shot.png", "--overwrite"} << QStringList{"shot.png"} << "shot.png";
    }
    void templates()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        VirtualMeterThread meter;
        QVERIFY(meter.start(meterOptions(0)));
        QTemporaryDir folder;
        const QDir dir(folder.path());
        for (const QString &name : existing) {
            QVERIFY(dir.mkpath(QFileInfo(dir.filePath(name)).path()));
            QVERIFY(writeFile(dir.filePath(name), "earlier"));
        }
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        const ProgramRun run = capture(QStringList{"--port", com(0)} + options, folder.path());
        const QDateTime after = QDateTime::currentDateTime().addSecs(1);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));

        QStringList created = filesBelow(folder.path());
        for (const QString &name : existing)
            created.removeOne(name);
        const bool overwrite = options.contains(QStringLiteral("--overwrite"));
        QCOMPARE(created.size(), overwrite ? 0 : 1);
        const QString written = overwrite ? expected : created.first();
        QString pattern = QRegularExpression::escape(expected);
        pattern.replace(QStringLiteral("\\{date\\}"), QStringLiteral("(\\d{8})")).replace(QStringLiteral("\\{time\\}"), QStringLiteral("(\\d{6})"));
        const QRegularExpressionMatch match = QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(written);
        QVERIFY2(match.hasMatch(), qPrintable(written));
        if (match.lastCapturedIndex() == 2) {
            const QDateTime when = QDateTime::fromString(match.captured(1) + match.captured(2), QStringLiteral("yyyyMMddHHmmss"));
            QVERIFY2(when >= before.addMSecs(-before.time().msec()) && when <= after, qPrintable(written));
        }
        QCOMPARE(pictureIn(dir.filePath(written)), meter.expectedCapture().convertToFormat(QImage::Format_RGB32));
        for (const QString &name : existing)
            if (name != written)
                QCOMPARE(contentsOf(dir.filePath(name)), QByteArray("earlier"));
        QVERIFY2(run.out.contains(QStringLiteral("Saved 40 x 64 pixels to ") + written), qPrintable(run.out));
    }

    // Three captures, each written as it comes; standard output holds one JSON object a line for
    // each file, and the texts go to standard error.
    void seriesOfThree()
    {
        VirtualMeterThread meter;
        QVERIFY(meter.start(meterOptions(0)));
        QTemporaryDir folder;
        const ProgramRun run = capture({"--port", com(0), "--count", "3", "--interval", "0.5", "-o", "run/{n}.png", "--json"}, folder.path());
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY2(run.elapsedMs >= 1000, "two pauses between three captures");
        QCOMPARE(filesBelow(folder.path()), (QStringList{"run/1.png", "run/2.png", "run/3.png"}));
        QVERIFY(run.err.contains(QStringLiteral("Saved 40 x 64 pixels to run/3.png")));
        const QList<QJsonObject> lines = jsonLines(run.output);
        QCOMPARE(lines.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QString path = QStringLiteral("run/%1.png").arg(i + 1);
            QCOMPARE(pictureIn(QDir(folder.path()).filePath(path)), meter.expectedCapture().convertToFormat(QImage::Format_RGB32));
            const QJsonObject &line = lines.at(i);
            QCOMPARE(line.value(QStringLiteral("path")).toString(), path);
            QCOMPARE(line.value(QStringLiteral("port")).toString(), com(0));
            QCOMPARE(line.value(QStringLiteral("device")).toString(), meter.devicePath());
            QCOMPARE(line.value(QStringLiteral("serialNumber")).toInt(), 500);
            QCOMPARE(line.value(QStringLiteral("bytes")).toInteger(), QFileInfo(QDir(folder.path()).filePath(path)).size());
            QVERIFY(line.value(QStringLiteral("seconds")).toDouble() > 0);
        }
    }

    // A failed capture ends the series with its exit code, unless the series goes on.
    void failureEndsTheSeries_data()
    {
        QTest::addColumn<bool>("keepGoing");
        QTest::addColumn<int>("attempts");
        QTest::newRow("ends") << false << 1;
        QTest::newRow("--keep-going") << true << 3;
    }
    void failureEndsTheSeries()
    {
        QFETCH(bool, keepGoing);
        QFETCH(int, attempts);
        VirtualMeterThread meter;
        QVERIFY(meter.start(meterOptions(0, VirtualMeterOptions::RefusingStatusWord)));
        QTemporaryDir folder;
        QStringList options{"--port", com(0), "--count", "3", "-o", "{n}.png"};
        if (keepGoing)
            options << QStringLiteral("--keep-going");
        const ProgramRun run = capture(options, folder.path());
        QCOMPARE(run.exitCode, 4);
        QCOMPARE(run.err.count(QStringLiteral("Sorry. The Picture Preview can not be uploaded.")), attempts);
        QCOMPARE(filesBelow(folder.path()), QStringList{});
        QVERIFY(!meter.commandMode());
    }

    // A signal while the series pauses ends it at once: the end asked for with --count 0,
    // too early for a count.
    void signalInThePause_data()
    {
        QTest::addColumn<QString>("count");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("--count 0") << "0" << 0;
        QTest::newRow("--count 5") << "5" << 10;
    }
    void signalInThePause()
    {
        QFETCH(QString, count);
        QFETCH(int, exitCode);
        VirtualMeterThread meter;
        QVERIFY(meter.start(meterOptions(0)));
        QTemporaryDir folder;
        const ProgramRun run = runAndSignal(testBinary(QStringLiteral("snaploom")),
                                            {"capture", "--port", com(0), "--count", count, "--interval", "600", "-o", "{n}.png"},
                                            "Saved", 1, SIGINT, inFolder(folder.path()));
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
        QVERIFY2(run.elapsedMs < 60000, "ends without waiting for the next capture");
        QCOMPARE(filesBelow(folder.path()), QStringList{"1.png"});
        QVERIFY(!meter.commandMode());
    }

    // Every instrument that answers is captured in one run, each picture exact under its own
    // name, each line led by its port; the run ends with the worst outcome.
    void threeInstruments_data()
    {
        QTest::addColumn<int>("refusing");   // the instrument that refuses its picture; -1: none
        QTest::addColumn<int>("exitCode");
        QTest::newRow("all answer") << -1 << 0;
        QTest::newRow("one refuses") << 1 << 4;
    }
    void threeInstruments()
    {
        QFETCH(int, refusing);
        QFETCH(int, exitCode);
        std::unique_ptr<VirtualMeterThread> meters[3];
        for (int i = 0; i < 3; ++i) {
            meters[i] = std::make_unique<VirtualMeterThread>();
            QVERIFY(meters[i]->start(meterOptions(i, i == refusing ? VirtualMeterOptions::RefusingStatusWord
                                                                   : VirtualMeterOptions::DefaultStatusWord)));
        }
        QTemporaryDir folder;
        const ProgramRun run = capture({"--all", "-o", "shots/{port}-{serial}.png", "--json"}, folder.path());
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
        QStringList expected;
        for (int i = 0; i < 3; ++i) {
            if (i == refusing) {
                QVERIFY2(run.err.contains(com(i) + QStringLiteral(": Sorry. The Picture Preview can not be uploaded.")), qPrintable(run.err));
                continue;
            }
            const QString name = QStringLiteral("shots/%1-%2.png").arg(com(i)).arg(500 + i);
            expected.append(name);
            QCOMPARE(pictureIn(QDir(folder.path()).filePath(name)), meters[i]->expectedCapture().convertToFormat(QImage::Format_RGB32));
            QVERIFY2(run.err.contains(com(i) + QStringLiteral(": Saved 40 x 64 pixels to ") + name), qPrintable(run.err));
        }
        QCOMPARE(filesBelow(folder.path()), expected);
        QCOMPARE(jsonLines(run.output).size(), expected.size());
        for (const QJsonObject &line : jsonLines(run.output))
            QVERIFY(expected.contains(line.value(QStringLiteral("path")).toString()));
        for (const auto &meter : meters)
            QVERIFY(!meter->commandMode() && !meter->halted());
    }

    // A signal while three frozen reads of a series run on real-speed lines reaches every one of
    // them: each drains (a series would write a picture read whole), restarts its instrument and
    // leaves command mode; nothing is written.
    void signalStopsEveryInstrument()
    {
        std::unique_ptr<VirtualMeterThread> meters[3];
        for (int i = 0; i < 3; ++i) {
            meters[i] = std::make_unique<VirtualMeterThread>();
            QVERIFY(meters[i]->start(meterOptions(i, VirtualMeterOptions::DefaultStatusWord, true)));
        }
        QTemporaryDir folder;
        const ProgramRun run = runAndSignal(testBinary(QStringLiteral("snaploom")),
                                            {"capture", "--all", "--count", "2", "--freeze", "-o", "{port}-{n}.png"},
                                            "Reading screen image...", 3, SIGINT, inFolder(folder.path()));
        QCOMPARE(run.output.count("Reading screen image..."), 3);
        QVERIFY2(run.exitCode == 10, qPrintable(run.err));
        QCOMPARE(run.err.count(QStringLiteral("Interrupted: the running capture was not written.")), 3);
        QCOMPARE(filesBelow(folder.path()), QStringList{});
        for (const auto &meter : meters) {
            QCOMPARE(meter->restarts(), 1);
            QVERIFY(!meter->halted() && !meter->commandMode());
        }
    }
};

QTEST_GUILESS_MAIN(TestCliSeries)
#include "tst_cli_series.moc"
