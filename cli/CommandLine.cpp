#include "CommandLine.h"

#include "SnaploomVersion.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>
#include <algorithm>
#include <optional>

namespace {

const QString Program = QStringLiteral("snaploom");

const QString GeneralUsage = QStringLiteral(
    "Usage: snaploom <command> [options]\n"
    "Captures the screen of a Corvane instrument on a serial line.\n"
    "\n"
    "Commands:\n"
    "  ports                             list the serial ports as COM<n> with their device paths\n"
    "  identify (--port PORT | --find)   connect to the instrument and show what it is\n"
    "  capture (--port PORT | --find) [--freeze] [-o FILE] [--format bmp|png]\n"
    "                                    capture the instrument's screen to a BMP or PNG file\n"
    "  unfreeze (--port PORT | --find)   restart an instrument left halted and leave command mode\n"
    "\n"
    "PORT is COM<n> or a device path such as /dev/ttyUSB0 or /dev/serial/by-id/...;\n"
    "--find tries every listed port in ascending order and stops at the first instrument.\n"
    "Ports are the system's serial ports and the COM<n> links in the ports folder of the\n"
    "settings folder ($SNAPLOOM_HOME when set).\n"
    "\n"
    "  -h, --help      show this help; 'snaploom <command> --help' shows a command's options\n"
    "  --version       show the program's name and version\n");

struct OptionText
{
    QString names;        // as the help shows them, e.g. "-o, --output FILE"
    QString description;
};

// One command: its synopsis, what it does, and its options beside --help and --version.
struct CommandEntry
{
    QString name;
    QString synopsis;
    QString description;
    QList<QCommandLineOption> options;
    QList<OptionText> optionTexts;
    bool needsPort = false;
};

const QCommandLineOption HelpOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("show this help"));
const QCommandLineOption VersionOption(QStringLiteral("version"), QStringLiteral("show the program's name and version"));
const QCommandLineOption PortOption(QStringLiteral("port"), QString(), QStringLiteral("PORT"));
const QCommandLineOption FindOption(QStringLiteral("find"));
const QCommandLineOption JsonOption(QStringLiteral("json"));
const QCommandLineOption FreezeOption(QStringLiteral("freeze"));
const QCommandLineOption OutputOption({QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("FILE"));
const QCommandLineOption FormatOption(QStringLiteral("format"), QString(), QStringLiteral("bmp|png"));

const OptionText PortText{QStringLiteral("--port PORT"), QStringLiteral("COM<n>, or a device path such as /dev/ttyUSB0")};
const OptionText FindText{QStringLiteral("--find"), QStringLiteral("try every listed port in ascending order")};

QList<CommandEntry> commandTable()
{
    return {
        {QStringLiteral("ports"), QStringLiteral("snaploom ports [--json]"),
         QStringLiteral("Lists the serial ports in number order: COM<n>, the device path and, where the\n"
                        "system knows them, the stable /dev/serial/by-id name, the adapter's description,\n"
                        "maker and serial number."),
         {JsonOption},
         {{QStringLiteral("--json"), QStringLiteral("the same as a JSON array of objects")}},
         false},
        {QStringLiteral("identify"), QStringLiteral("snaploom identify (--port PORT | --find) [--json]"),
         QStringLiteral("Connects, prints the instrument's type, serial number, package id and versions,\n"
                        "and disconnects."),
         {PortOption, FindOption, JsonOption},
         {PortText, FindText, {QStringLiteral("--json"), QStringLiteral("the same as one JSON object")}},
         true},
        {QStringLiteral("capture"),
         QStringLiteral("snaploom capture (--port PORT | --find) [--freeze] [-o FILE] [--format bmp|png]"),
         QStringLiteral("Captures the instrument's screen, turned upright, to FILE. The format follows FILE's\n"
                        "suffix (.bmp or .png, a name without a suffix is a bitmap) or --format. '-o -'\n"
                        "writes the picture to standard output (PNG unless --format says otherwise) and\n"
                        "every message to standard error. Without -o the file is\n"
                        "<model>-<serial>-<YYYYMMDD-HHMMSS>.bmp (or .png) in the current folder, never\n"
                        "overwriting one that exists. FILE is checked before the instrument is touched;\n"
                        "a FIFO or device already at FILE is written into, never replaced.\n"
                        "Exit codes: 0 captured and written, 1 serial error, 2 bad options, 3 no instrument,\n"
                        "4 refused by the instrument, 5 halt failed, 6 load failed, 7 file not written,\n"
                        "8 written but the DSP did not restart, 9 line lost, 10 interrupted."),
         {PortOption, FindOption, FreezeOption, OutputOption, FormatOption},
         {PortText, FindText,
          {QStringLiteral("--freeze"), QStringLiteral("halt the instrument's signal processor while the picture\n"
                                                      "is read (ongoing measurements are cleared)")},
          {QStringLiteral("-o, --output FILE"), QStringLiteral("the file to write, or - for standard output")},
          {QStringLiteral("--format bmp|png"), QStringLiteral("the picture's format")}},
         true},
        {QStringLiteral("unfreeze"), QStringLiteral("snaploom unfreeze (--port PORT | --find)"),
         QStringLiteral("Restarts the instrument's signal processor (its screen runs again) and leaves its\n"
                        "command mode, for an instrument that an interrupted capture left halted.\n"
                        "Exit codes: 0 restarted, 1 serial error, 2 bad options, 3 no instrument,\n"
                        "8 the restart was not acknowledged, 9 line lost."),
         {PortOption, FindOption},
         {PortText, FindText},
         true},
    };
}

QString commandHelp(const CommandEntry &entry)
{
    QString text = QStringLiteral("Usage: %1\n%2\n\nOptions:\n").arg(entry.synopsis, entry.description);
    QList<OptionText> rows = entry.optionTexts;
    rows.append({QStringLiteral("-h, --help"), HelpOption.description()});
    rows.append({QStringLiteral("--version"), VersionOption.description()});
    constexpr int Column = 22;
    for (const OptionText &row : rows) {
        const QStringList lines = row.description.split(QLatin1Char('\n'));
        text += QStringLiteral("  ") + row.names.leftJustified(Column) + lines.first() + QLatin1Char('\n');
        for (const QString &line : lines.mid(1))
            text += QString(Column + 2, QLatin1Char(' ')) + line + QLatin1Char('\n');
    }
    return text;
}

CommandRequest refuse(const QString &who, const QString &why, const QString &helpCommand)
{
    CommandRequest request;
    request.action = CommandRequest::Action::Refuse;
    request.text = QStringLiteral("%1: %2 (see '%3 --help')").arg(who, why, helpCommand);
    return request;
}

CommandRequest show(const QString &text)
{
    CommandRequest request;
    request.action = CommandRequest::Action::ShowText;
    request.text = text;
    return request;
}

QString versionText()
{
    return Program + QStringLiteral(" ") + QStringLiteral(SNAPLOOM_VERSION_TEXT) + QLatin1Char('\n');
}

// COM<n> (or just n), or a device path; false for anything else.
bool readPort(const QString &value, PortChoice &port)
{
    if (value.contains(QLatin1Char('/'))) {
        port.path = QDir::cleanPath(QDir::current().absoluteFilePath(value));
        return true;
    }
    static const QRegularExpression comName(QStringLiteral("^(?:COM)?(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comName.match(value);
    bool ok = false;
    port.number = match.captured(1).toInt(&ok);
    return match.hasMatch() && ok;
}

CommandRequest parseCommand(const CommandEntry &entry, const QStringList &arguments)
{
    const QString who = Program + QLatin1Char(' ') + entry.name;
    QCommandLineParser parser;
    parser.addOption(HelpOption);
    parser.addOption(VersionOption);
    parser.addOptions(entry.options);
    if (!parser.parse(QStringList{who} + arguments))
        return refuse(who, parser.errorText(), who);
    if (parser.isSet(HelpOption))
        return show(commandHelp(entry));
    if (parser.isSet(VersionOption))
        return show(versionText());
    if (!parser.positionalArguments().isEmpty())
        return refuse(who, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()), who);
    for (const QCommandLineOption &option : entry.options)
        if (!option.valueName().isEmpty() && parser.values(option).contains(QString()))
            return refuse(who, QStringLiteral("--%1 needs a value").arg(option.names().last()), who);

    // Only the command's own options may be asked for.
    const auto isSet = [&](const QCommandLineOption &option) {
        const bool own = std::any_of(entry.options.cbegin(), entry.options.cend(),
                                     [&](const QCommandLineOption &o) { return o.names() == option.names(); });
        return own && parser.isSet(option);
    };
    const auto value = [&](const QCommandLineOption &option) { return isSet(option) ? parser.value(option) : QString(); };

    CommandRequest request;
    request.action = CommandRequest::Action::Run;
    request.command = entry.name;
    request.json = isSet(JsonOption);
    request.freeze = isSet(FreezeOption);

    if (entry.needsPort) {
        const bool havePort = isSet(PortOption);
        request.port.find = isSet(FindOption);
        if (havePort == request.port.find)
            return refuse(who, QStringLiteral("give either --port PORT or --find"), who);
        if (havePort && !readPort(parser.value(PortOption), request.port))
            return refuse(who,
                          QStringLiteral("'%1' is not a port; give COM<n> or a device path such as /dev/ttyUSB0")
                              .arg(parser.value(PortOption)),
                          who);
    }

    std::optional<ImageFile::Format> asked;
    if (isSet(FormatOption)) {
        asked = ImageFile::formatNamed(value(FormatOption));
        if (!asked)
            return refuse(who, QStringLiteral("unknown format '%1'; the formats are %2")
                                   .arg(value(FormatOption), ImageFile::formatNames()), who);
    }
    request.output = value(OutputOption);
    if (request.output == QLatin1String("-")) {
        request.format = asked.value_or(ImageFile::Format::Png);
    } else if (!request.output.isEmpty()) {
        const std::optional<ImageFile::Format> bySuffix = ImageFile::formatOfPath(request.output, asked.value_or(ImageFile::Format::Bmp));
        if (!bySuffix)
            return refuse(who, QStringLiteral("cannot write '%1': the formats are %2 (by the file's suffix or --format)")
                                   .arg(request.output, ImageFile::formatNames()), who);
        if (asked && *asked != *bySuffix)
            return refuse(who, QStringLiteral("'%1' does not end in %2 as --format asks")
                                   .arg(request.output, ImageFile::suffix(*asked)), who);
        request.format = *bySuffix;
    } else {
        request.format = asked.value_or(ImageFile::Format::Bmp);
    }
    return request;
}

}  // namespace

QStringList commandNames()
{
    QStringList names;
    for (const CommandEntry &entry : commandTable())
        names.append(entry.name);
    return names;
}

CommandRequest parseCommandLine(const QStringList &arguments)
{
    if (arguments.isEmpty()) {
        CommandRequest request;
        request.text = GeneralUsage.section(QLatin1Char('\n'), 0, 0) + QStringLiteral(" (see 'snaploom --help')");
        return request;
    }
    const QString first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h"))
        return show(GeneralUsage);
    if (first == QLatin1String("--version"))
        return show(versionText());
    const QList<CommandEntry> table = commandTable();
    if (first == QLatin1String("help")) {
        for (const CommandEntry &entry : table)
            if (arguments.size() == 2 && arguments.at(1) == entry.name)
                return show(commandHelp(entry));
        if (arguments.size() == 1)
            return show(GeneralUsage);
    }
    for (const CommandEntry &entry : table)
        if (first == entry.name)
            return parseCommand(entry, arguments.mid(1));
    if (first.startsWith(QLatin1Char('-')))
        return refuse(Program, QStringLiteral("unknown option '%1'").arg(first), Program);
    const QString unknown = first == QLatin1String("help") ? arguments.value(1) : first;
    return refuse(Program, QStringLiteral("unknown command '%1'; the commands are %2")
                               .arg(unknown, commandNames().join(QStringLiteral(", "))), Program);
}
