// corvane-virtual-meter: a Corvane meter that answers over a pseudo-terminal linked as COM<n>.

#include "SnaploomVersion.h"
#include "VirtualMeter.h"
#include "VirtualMeterOptions.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int BadOptions = 2;
constexpr int CannotStart = 1;

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

// Reads an unsigned number within [0, max]; false when the text is not one.
bool readNumber(const QString &text, quint32 max, quint32 *value)
{
    bool ok = false;
    const qulonglong number = text.trimmed().toULongLong(&ok, 0);
    if (!ok || number > max)
        return false;
    *value = quint32(number);
    return true;
}

struct OptionError
{
    QString message;
};

quint32 numberOption(const QCommandLineParser &parser, const QString &name, quint32 max)
{
    quint32 value = 0;
    if (!readNumber(parser.value(name), max, &value))
        throw OptionError{QStringLiteral("--%1 wants a number from 0 to %2, not \"%3\"").arg(name).arg(max).arg(parser.value(name))};
    return value;
}

// Reads a number option into field, which keeps its default where the option is not given.
template <typename Field>
void readNumberOption(const QCommandLineParser &parser, const QString &name, quint32 max, Field &field)
{
    if (parser.isSet(name))
        field = Field(numberOption(parser, name, max));
}

VirtualMeterOptions optionsFrom(const QCommandLineParser &parser)
{
    VirtualMeterOptions options;
    if (!parser.isSet(QStringLiteral("com")))
        throw OptionError{QStringLiteral("--com is required (0 makes no link)")};
    options.comNumber = int(numberOption(parser, QStringLiteral("com"), 255));
    readNumberOption(parser, QStringLiteral("model"), 255, options.modelCode);
    readNumberOption(parser, QStringLiteral("serial"), 65535, options.serialNumber);
    if (parser.isSet(QStringLiteral("mcu"))) {
        const QStringList parts = parser.value(QStringLiteral("mcu")).split(QLatin1Char('.'));
        quint32 major = 0, minor = 0;
        if (parts.size() != 2 || !readNumber(parts[0], 255, &major) || !readNumber(parts[1], 255, &minor))
            throw OptionError{QStringLiteral("--mcu wants MAJOR.MINOR, each 0 to 255, not \"%1\"").arg(parser.value(QStringLiteral("mcu")))};
        options.mcuMajor = quint8(major);
        options.mcuMinor = quint8(minor);
    }
    readNumberOption(parser, QStringLiteral("fpga"), 255, options.fpgaVersion);
    if (parser.isSet(QStringLiteral("version-line")))
        options.versionLine = parser.value(QStringLiteral("version-line")).toLatin1();
    readNumberOption(parser, QStringLiteral("status-length"), 255, options.statusLength);
    readNumberOption(parser, QStringLiteral("dsp-status"), 65535, options.dspStatus);
    options.pace = parser.isSet(QStringLiteral("pace"));
    options.holdPort = parser.isSet(QStringLiteral("hold-port"));
    readNumberOption(parser, QStringLiteral("latency"), 60000, options.latencyMs);
    readNumberOption(parser, QStringLiteral("chunk"), 65536, options.chunk);
    options.landscape = parser.isSet(QStringLiteral("landscape"));
    options.fallbackPalette = parser.isSet(QStringLiteral("fallback-palette"));
    if (parser.isSet(QStringLiteral("screen"))) {
        const QString file = parser.value(QStringLiteral("screen"));
        options.screen = QImage(file);
        if (options.screen.isNull())
            throw OptionError{QStringLiteral("cannot read the picture \"%1\"").arg(file)};
    }
    if (parser.isSet(QStringLiteral("stored-size"))) {
        const QStringList parts = parser.value(QStringLiteral("stored-size")).split(QLatin1Char('x'));
        quint32 width = 0, height = 0;
        if (parts.size() != 2 || !readNumber(parts[0], 65535, &width) || !readNumber(parts[1], 65535, &height))
            throw OptionError{QStringLiteral("--stored-size wants WIDTHxHEIGHT, not \"%1\"").arg(parser.value(QStringLiteral("stored-size")))};
        options.storedSize = QSize(int(width), int(height));
    }
    for (const QString &address : parser.values(QStringLiteral("silent-eeprom")))
        options.silentEeprom.insert(quint16([&] {
            quint32 value = 0;
            if (!readNumber(address, 65535, &value))
                throw OptionError{QStringLiteral("--silent-eeprom wants an address from 0 to 65535, not \"%1\"").arg(address)};
            return value;
        }()));
    if (parser.isSet(QStringLiteral("line-end"))) {
        const QString lineEnd = parser.value(QStringLiteral("line-end")).toLower();
        if (lineEnd == QLatin1String("crlf"))
            options.lineEnd = "\r\n";
        else if (lineEnd == QLatin1String("lfcr"))
            options.lineEnd = "\n\r";
        else
            throw OptionError{QStringLiteral("--line-end wants crlf or lfcr, not \"%1\"").arg(lineEnd)};
    }
    for (const QString &list : parser.values(QStringLiteral("fault"))) {
        for (const QString &name : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            MeterFault fault;
            if (!meterFaultFromName(name.trimmed(), &fault))
                throw OptionError{QStringLiteral("unknown fault \"%1\"; faults are: %2").arg(name, meterFaultNames().join(QStringLiteral(", ")))};
            options.faults.insert(fault);
        }
    }
    const QString problem = options.problem();
    if (!problem.isEmpty())
        throw OptionError{problem};
    return options;
}

// Help and version only print text, so the graphics platform's complaints about the session
// (an unset XDG_RUNTIME_DIR, say) are noise there; fatal messages still pass.
QtMessageHandler platformHandler = nullptr;

void textOnlyHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg)
        platformHandler(type, context, message);
}

bool asksForHelpOrVersion(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i)
        for (const char *option : {"-h", "-?", "--help", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

}  // namespace

int main(int argc, char *argv[])
{
    // The screen is drawn off-screen; the instrument needs no display, whatever the desktop's
    // own platform setting asks for.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (asksForHelpOrVersion(argc, argv))
        platformHandler = qInstallMessageHandler(textOnlyHandler);
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("corvane-virtual-meter"));
    QGuiApplication::setApplicationVersion(QStringLiteral(SNAPLOOM_VERSION_TEXT));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A virtual Corvane meter: answers the instrument's command protocol on a pseudo-terminal, "
        "linked as COM<n> in the ports folder of the settings folder (SNAPLOOM_HOME when set), "
        "until SIGINT or SIGTERM. When it ends it prints whether its DSP is halted and whether it is in "
        "command mode.\nFaults: ") + meterFaultNames().join(QStringLiteral(", ")));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("com"), QStringLiteral("Link the instrument as COM<n> (0: no link)."), QStringLiteral("N")},
        {QStringLiteral("model"), QStringLiteral("Model code of the status record (default 220)."), QStringLiteral("CODE")},
        {QStringLiteral("serial"), QStringLiteral("Serial number, 0 to 65535 (default 4660)."), QStringLiteral("N")},
        {QStringLiteral("mcu"), QStringLiteral("MCU version (default 1.5)."), QStringLiteral("MAJOR.MINOR")},
        {QStringLiteral("fpga"), QStringLiteral("FPGA version (default 3)."), QStringLiteral("N")},
        {QStringLiteral("version-line"), QStringLiteral("The reply to the version query, without line end."), QStringLiteral("TEXT")},
        {QStringLiteral("status-length"), QStringLiteral("Length L of the status record proper, 32 to 255 (default 32)."), QStringLiteral("L")},
        {QStringLiteral("pace"), QStringLiteral("Send as a real 9600-baud line does: byte by byte, about 960 bytes a second.")},
        {QStringLiteral("latency"), QStringLiteral("Start each reply this long after its request, as a slow line does (default 0)."), QStringLiteral("MS")},
        {QStringLiteral("hold-port"), QStringLiteral("Hold the line as another program would, so no program can open it.")},
        {QStringLiteral("chunk"), QStringLiteral("Hand bytes over in pieces of N, as a USB adapter does (default 0: any)."), QStringLiteral("N")},
        {QStringLiteral("screen"), QStringLiteral("Picture on the instrument's screen (scaled to fit, reduced to 8 colours)."), QStringLiteral("FILE")},
        {QStringLiteral("stored-size"), QStringLiteral("Size of the stored image (default 272x480, landscape 480x272)."), QStringLiteral("WxH")},
        {QStringLiteral("landscape"), QStringLiteral("Store the screen as shown (orientation 1) instead of turned.")},
        {QStringLiteral("fallback-palette"), QStringLiteral("Keep a palette the reader must replace by its fallback.")},
        {QStringLiteral("dsp-status"), QStringLiteral("DSP status word (17 refuses captures)."), QStringLiteral("N")},
        {QStringLiteral("silent-eeprom"), QStringLiteral("Leave this EEPROM address unanswered (repeatable)."), QStringLiteral("ADDRESS")},
        {QStringLiteral("line-end"), QStringLiteral("Line end of \"OK\"/\"ER\" acknowledgements: crlf (default) or lfcr."), QStringLiteral("crlf|lfcr")},
        {QStringLiteral("fault"), QStringLiteral("Inject a fault (repeatable, or a comma list)."), QStringLiteral("NAME")},
    });
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "corvane-virtual-meter: %s\n", qPrintable(parser.errorText()));
        return BadOptions;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "corvane-virtual-meter: unexpected argument \"%s\"\n", qPrintable(parser.positionalArguments().first()));
        return BadOptions;
    }

    VirtualMeterOptions options;
    try {
        options = optionsFrom(parser);
    } catch (const OptionError &error) {
        std::fprintf(stderr, "corvane-virtual-meter: %s\n", qPrintable(error.message));
        return BadOptions;
    }

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("corvane-virtual-meter: pipe");
        return CannotStart;
    }
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    VirtualMeter meter(options);
    QString error;
    if (!meter.start(&error)) {
        std::fprintf(stderr, "corvane-virtual-meter: %s\n", qPrintable(error));
        return CannotStart;
    }
    // A hang-up on purpose ends the run, as a meter unplugged from the line.
    QObject::connect(&meter, &VirtualMeter::hungUp, &app, &QCoreApplication::quit);

    QTextStream out(stdout);
    out << meter.devicePath() << '\n';
    if (options.comNumber > 0)
        out << "COM" << options.comNumber << '\n';
    out.flush();

    const int result = app.exec();
    meter.stop();  // removes the link
    // For tests and demos: the state a program left the instrument in.
    out << "DSP " << (meter.halted() ? "halted" : "running") << ", command mode "
        << (meter.commandMode() ? "on" : "off") << '\n';
    out.flush();
    return result;
}
