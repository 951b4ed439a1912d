// The three programs' command lines as a user meets them: help, version, and one clear line with
// exit code 2 for everything the tool cannot take, before any port is opened.
#include "ProgramRun.h"
#include "SnaploomVersion.h"
#include "TestHome.h"

#include <QtTest>

namespace {

using Run = ProgramRun;

// Runs a program with no display at all: help, version and refusals must not need one.
Run runWithoutDisplay(const QString &program, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return runProgram(testBinary(program), arguments, {QString(), environment, 30000});
}

const QString Version = QStringLiteral(SNAPLOOM_VERSION_TEXT);

}  // namespace

class TestCliCommandLine : public QObject
{
    Q_OBJECT
    TestHome home;

private slots:
    void versionHasFourNumbers()
    {
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$")).match(Version).hasMatch(), qPrintable(Version));
    }

    // Each command with --help, --version, an unknown option, an empty value, a bad port and a
    // bad suffix: the exit code, where the answer goes and its first line.
    void commandTable_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("firstLine");   // a prefix of the first line
        const QString snaploom = QStringLiteral("snaploom");
        const auto row = [](const QString &program, const QStringList &arguments) {
            return &(QTest::newRow(qPrintable(program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')))) << program << arguments);
        };
        *row(snaploom, {"--help"}) << 0 << "Usage: snaploom <command>";
        *row(snaploom, {"-h"}) << 0 << "Usage: snaploom <command>";
        *row(snaploom, {"help", "capture"}) << 0 << "Usage: snaploom capture";
        *row(snaploom, {"--version"}) << 0 << "snaploom " + Version;
        *row(snaploom, {}) << 2 << "Usage: snaploom <command> [options] (see 'snaploom --help')";
        *row(snaploom, {"--frob"}) << 2 << "snaploom: unknown option '--frob'";
        *row(snaploom, {"frobnicate"}) << 2 << "snaploom: unknown command 'frobnicate'; the commands are ports, identify, capture, unfreeze";
        *row(snaploom, {"help", "frobnicate"}) << 2 << "snaploom: unknown command 'frobnicate'";
        for (const QString command : {"ports", "identify", "capture", "unfreeze"}) {
            *row(snaploom, {command, "--help"}) << 0 << "Usage: snaploom " + command;
            *row(snaploom, {command, "-h"}) << 0 << "Usage: snaploom " + command;
            *row(snaploom, {command, "--version"}) << 0 << "snaploom " + Version;
            *row(snaploom, {command, "--frob"}) << 2 << "snaploom " + command + ": Unknown option 'frob'.";
        }
        *row(snaploom, {"ports", "COM1"}) << 2 << "snaploom ports: unexpected argument 'COM1'";
        for (const QString command : {"identify", "capture", "unfreeze"}) {
            *row(snaploom, {command, "--find", "--help"}) << 0 << "Usage: snaploom " + command;
            const QString who = "snaploom " + command + ": ";
            *row(snaploom, {command}) << 2 << who + "give either --port PORT or --find";
            *row(snaploom, {command, "--port", "COM1", "--find"}) << 2 << who + "give either --port PORT or --find";
            *row(snaploom, {command, "--port"}) << 2 << who + "Missing value after '--port'.";
            *row(snaploom, {command, "--port="}) << 2 << who + "--port needs a value";
            *row(snaploom, {command, "--port", ""}) << 2 << who + "--port needs a value";
            *row(snaploom, {command, "--port", "COMX"}) << 2 << who + "'COMX' is not a port";
            *row(snaploom, {command, "--port", "ttyUSB0"}) << 2 << who + "'ttyUSB0' is not a port";
            *row(snaploom, {command, "--port", "COM99999999999"}) << 2 << who + "'COM99999999999' is not a port";
        }
        const QString capture = QStringLiteral("snaploom capture: ");
        *row(snaploom, {"capture", "--find", "--output="}) << 2 << capture + "--output needs a value";
        *row(snaploom, {"capture", "--find", "-o", ""}) << 2 << capture + "--output needs a value";
        *row(snaploom, {"capture", "--find", "-o"}) << 2 << capture + "Missing value after '-o'.";
        *row(snaploom, {"capture", "--find", "--format="}) << 2 << capture + "--format needs a value";
        *row(snaploom, {"capture", "--find", "-o", "shot.jpg"}) << 2 << capture + "cannot write 'shot.jpg': the formats are bmp, png";
        *row(snaploom, {"capture", "--find", "-o", "shot.PNG.tmp"}) << 2 << capture + "cannot write 'shot.PNG.tmp'";
        *row(snaploom, {"capture", "--find", "--format", "gif"}) << 2 << capture + "unknown format 'gif'; the formats are bmp, png";
        *row(snaploom, {"capture", "--find", "-o", "shot.png", "--format", "bmp"}) << 2 << capture + "'shot.png' does not end in .bmp";
        *row(snaploom, {"identify", "--find", "--freeze"}) << 2 << "snaploom identify: Unknown option 'freeze'.";
        *row(snaploom, {"identify", "--all"}) << 2 << "snaploom identify: Unknown option 'all'.";
        *row(snaploom, {"capture", "--find", "--all"}) << 2 << capture + "give either --port PORT or --find, or --all";
        *row(snaploom, {"capture", "--all", "-o", "{date}.png"}) << 2 << capture + "with --all the file name must hold {port} or {serial}";
        *row(snaploom, {"capture", "--find", "-o", "{nr}.png"}) << 2 << capture + "{nr} in '{nr}.png' is not a field";
        *row(snaploom, {"capture", "--find", "-o", "shots/"}) << 2 << capture + "'shots/' names a folder";
        *row(snaploom, {"capture", "--find", "--count", "-1"}) << 2 << capture + "--count takes a number of captures";
        *row(snaploom, {"capture", "--find", "--interval", "nan"}) << 2 << capture + "--interval takes a number of seconds";
        *row(snaploom, {"capture", "--find", "-o", "-", "--count", "0"}) << 2 << capture + "-o - writes one picture";
        *row(snaploom, {"capture", "--find", "-o", "-", "--json"}) << 2 << capture + "--json prints on standard output";

        const QString desktop = QStringLiteral("corvane-snaploom");
        *row(desktop, {"--help"}) << 0 << "Usage: corvane-snaploom";
        *row(desktop, {"-h"}) << 0 << "Usage: corvane-snaploom";
        *row(desktop, {"--version"}) << 0 << "corvane-snaploom " + Version;
        *row(desktop, {}) << 1 << "corvane-snaploom: cannot open a display; without one, use the command-line tool snaploom";
        *row(desktop, {"nosplash"}) << 1 << "corvane-snaploom: cannot open a display";
        const QString meter = QStringLiteral("corvane-virtual-meter");
        *row(meter, {"--help"}) << 0 << "Usage: ";
        *row(meter, {"--version"}) << 0 << "corvane-virtual-meter " + Version;
    }
    void commandTable()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, firstLine);
        const Run run = runWithoutDisplay(program, arguments);
        QCOMPARE(run.exitCode, exitCode);
        // Answers asked for go to standard output; complaints to standard error, in one line.
        const QString &answer = exitCode == 0 ? run.out : run.err;
        QVERIFY2(answer.startsWith(firstLine), qPrintable(run.out + run.err));
        if (exitCode != 0) {
            QCOMPARE(run.out, QString());
            QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestCliCommandLine)
#include "tst_cli_commandline.moc"
