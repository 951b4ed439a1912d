// `snaploom capture` and its output as a user sets it up: a picture on standard output into a
// pipe, a FIFO that somebody reads, a terminal refused, and a path that cannot be written found
// out before the instrument is touched or named with the system's reason when the disk refuses.
#include "FolderFiles.h"
#include "ProgramRun.h"
#include "SmallFileSystem.h"
#include "TestHome.h"
#include "VirtualMeterThread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int Com = 8;
constexpr int ProgramTimeoutMs = 120000;

using Run = ProgramRun;

// standardOutput, when given, is the file or device the program's standard output goes to.
Run runCapture(const QStringList &arguments, const QString &folder, const QString &standardOutput = QString())
{
    return runProgram(testBinary(QStringLiteral("snaploom")), QStringList{QStringLiteral("capture")} + arguments,
                      {folder, {}, ProgramTimeoutMs, standardOutput});
}

// A small stored screen, so each capture takes a moment.
VirtualMeterOptions smallScreen()
{
    VirtualMeterOptions options;
    options.comNumber = Com;
    QImage picture(40, 24, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x % 2 ? 255 : 0, y % 3 ? 255 : 0, (x + y) % 5 ? 0 : 255));
    options.screen = picture;
    options.storedSize = QSize(64, 40);
    return options;
}

const QStringList Port{QStringLiteral("--port"), QStringLiteral("COM%1").arg(Com)};

bool isFifo(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISFIFO(status.st_mode);
}

}  // namespace

class TestCliCapture : public QObject
{
    Q_OBJECT
    TestHome home;
    VirtualMeterThread meter;

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(meter.start(smallScreen(), &error), qPrintable(error));
    }

    // The picture on standard output, through a pipe, is the one a file capture writes; every
    // text then goes to standard error.
    void standardOutputMatchesAFile_data()
    {
        QTest::addColumn<QStringList>("format");
        QTest::addColumn<QByteArray>("fileName");
        QTest::addColumn<QByteArray>("magic");
        QTest::newRow("PNG unless told") << QStringList{} << QByteArray("shot.png") << QByteArray("\x89PNG");
        QTest::newRow("--format bmp") << QStringList{QStringLiteral("--format"), QStringLiteral("bmp")} << QByteArray("shot.BMP") << QByteArray("BM");
    }
    void standardOutputMatchesAFile()
    {
        QFETCH(QStringList, format);
        QFETCH(QByteArray, fileName);
        QFETCH(QByteArray, magic);
        QTemporaryDir folder;
        const Run file = runCapture(Port + QStringList{QStringLiteral("-o"), QString::fromLatin1(fileName)}, folder.path());
        QVERIFY2(file.exitCode == 0, qPrintable(file.err));
        const Run piped = runCapture(Port + QStringList{QStringLiteral("-o"), QStringLiteral("-")} + format, folder.path());
        QVERIFY2(piped.exitCode == 0, qPrintable(piped.err));
        QVERIFY2(piped.output.startsWith(magic), piped.output.left(16).toHex().constData());
        QVERIFY(piped.err.contains(QStringLiteral("The image has been loaded correctly.")));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QString::fromLatin1(fileName)});

        QCOMPARE(piped.output, contentsOf(folder.filePath(QString::fromLatin1(fileName))));
        const QImage picture = QImage::fromData(piped.output);
        QCOMPARE(picture.convertToFormat(QImage::Format_RGB32), meter.expectedCapture().convertToFormat(QImage::Format_RGB32));
    }

    // A FIFO at the output path delivers the picture to whoever reads it and stays a FIFO.
    void fifoIsWrittenIntoNotReplaced()
    {
        QTemporaryDir folder;
        const QString fifo = folder.filePath(QStringLiteral("screen.png"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        // Opened for reading first without waiting, so the writer's open finds a reader.
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        const auto closeReader = qScopeGuard([reader] { ::close(reader); });

        QProcess process;
        process.setWorkingDirectory(folder.path());
        process.start(testBinary(QStringLiteral("snaploom")), QStringList{QStringLiteral("capture")} + Port
                                                                   + QStringList{QStringLiteral("-o"), fifo});
        QByteArray received;
        QElapsedTimer clock;
        clock.start();
        for (bool finished = false; !finished && clock.elapsed() < ProgramTimeoutMs;) {
            finished = process.waitForFinished(20);
            char buffer[4096];
            for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
                received.append(buffer, int(n));
        }
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(isFifo(fifo));
        QCOMPARE(QImage::fromData(received, "PNG").convertToFormat(QImage::Format_RGB32),
                 meter.expectedCapture().convertToFormat(QImage::Format_RGB32));
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("screen.png")});
    }

    // A reader of the texts that goes away (`| head -2`) ends nothing: the instrument is restarted
    // and the picture written.
    void readerThatGoesAway()
    {
        QTemporaryDir folder;
        QProcess process;
        QProcess reader;   // reads nothing and ends at once
        process.setStandardOutputProcess(&reader);
        process.setWorkingDirectory(folder.path());
        reader.start(QStringLiteral("true"), QStringList{});
        QVERIFY(reader.waitForFinished());
        process.start(testBinary(QStringLiteral("snaploom")), QStringList{QStringLiteral("capture")} + Port
                                                                   + QStringList{QStringLiteral("--freeze"), QStringLiteral("-o"), QStringLiteral("shot.png")});
        QVERIFY(process.waitForFinished(ProgramTimeoutMs));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(QFileInfo::exists(folder.filePath(QStringLiteral("shot.png"))));
        QVERIFY(!meter.halted());
    }

    // An output that cannot be written ends the command before a single byte goes to the
    // instrument, so it is never halted for a picture that would be lost.
    void unwritableOutputFailsFirst_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("message");
        QTest::newRow("below a file, deeper") << "plain.txt/sub/x.png" << "plain.txt is not a folder";
        QTest::newRow("a folder") << "taken" << "taken is a folder";
        QTest::newRow("a folder named like a picture") << "taken.png" << "taken.png is a folder";
        QTest::newRow("below a file") << "plain.txt/x.png" << "plain.txt";
    }
    void unwritableOutputFailsFirst()
    {
        QFETCH(QString, output);
        QFETCH(QString, message);
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("taken")) && QDir(folder.path()).mkdir(QStringLiteral("taken.png")));
        QVERIFY(writeFile(folder.filePath(QStringLiteral("plain.txt"))));
        meter.clearReceived();
        const Run run = runCapture(Port + QStringList{QStringLiteral("--freeze"), QStringLiteral("-o"), output}, folder.path());
        QCOMPARE(run.exitCode, 7);
        QVERIFY2(run.err.startsWith(QStringLiteral("Cannot write %1: ").arg(output)) && run.err.contains(message), qPrintable(run.err));
        QCOMPARE(meter.received(), QByteArray());
        QVERIFY(!meter.halted());
        QVERIFY(QFileInfo(folder.filePath(QStringLiteral("taken.png"))).isDir());
    }

    // A folder that cannot be made shows only when the picture is written: the system's reason
    // is told.
    void folderThatCannotBeMade()
    {
        QTemporaryDir folder;
        const Run run = runCapture(Port + QStringList{QStringLiteral("-o"), QStringLiteral("/proc/no-such/x.png")}, folder.path());
        QCOMPARE(run.exitCode, 7);
        QVERIFY2(run.err.contains(QStringLiteral("Could not write /proc/no-such/x.png: the folder /proc/no-such cannot be made")),
                 qPrintable(run.err));
    }

    // A picture is never poured onto a terminal: the command stops before the instrument is
    // asked anything and says to redirect.
    void terminalRefusedForStandardOutput()
    {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0);
        const auto closeMaster = qScopeGuard([master] { ::close(master); });
        QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        QTemporaryDir folder;
        meter.clearReceived();
        const Run run = runCapture(Port + QStringList{QStringLiteral("-o"), QStringLiteral("-")}, folder.path(),
                                   QString::fromLocal8Bit(::ptsname(master)));
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        QVERIFY2(run.err.contains(QStringLiteral("redirect")), qPrintable(run.err));
        QCOMPARE(meter.received(), QByteArray());
        QVERIFY(::fcntl(master, F_SETFL, O_NONBLOCK) == 0);
        char byte;
        QCOMPARE(::read(master, &byte, 1), ssize_t(-1));  // nothing reached the terminal
    }

    // A disk that refuses the picture is named with the system's reason; nothing is left on it.
    void writeFailureNamesCause_data()
    {
        QTest::addColumn<bool>("toStandardOutput");
        QTest::addColumn<QString>("said");
        QTest::newRow("file on a full file system") << false << "Could not write %1: ";
        QTest::newRow("standard output on a full device") << true << "Could not write the picture to standard output: ";
    }
    void writeFailureNamesCause()
    {
        QFETCH(bool, toStandardOutput);
        QFETCH(QString, said);
        QTemporaryDir folder;
        SmallFileSystem disk(SmallFileSystem::Kind::Full);
        const QString output = toStandardOutput ? QStringLiteral("-") : disk.filePath(QStringLiteral("screen.bmp"));
        if (!toStandardOutput && !disk.available())
            QSKIP("no right to mount a file system here");
        if (toStandardOutput && SmallFileSystem::fullDevice().isEmpty())
            QSKIP("/dev/full is not the full device here");
        const Run run = runCapture(Port + QStringList{QStringLiteral("-o"), output}, folder.path(),
                                   toStandardOutput ? SmallFileSystem::fullDevice() : QString());
        QCOMPARE(run.exitCode, 7);
        const QString expected = (toStandardOutput ? said : said.arg(output)) + QString::fromLocal8Bit(std::strerror(ENOSPC))
                                 + QLatin1Char('\n');
        QVERIFY2(run.err.endsWith(expected), qPrintable(run.err));
        if (disk.available())
            QCOMPARE(disk.entries(), QStringList{SmallFileSystem::FillerName});
    }
};

QTEST_MAIN(TestCliCapture)
#include "tst_cli_capture.moc"
