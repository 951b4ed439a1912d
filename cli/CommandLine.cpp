#include "CommandLine.h"

#include "NameTemplate.h"
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
    "  capture (--port PORT | --find | --all) [--freeze] [-o TEMPLATE] [--format bmp|png]\n"
    "          [--overwrite] [--count N] [--interval SECONDS] [--keep-going] [--json]\n"
    "                                    capture the instrument's screen to BMP or PNG files\n"
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
const QCommandLineOption OutputOption({QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("TEMPLATE"));
const QCommandLineOption FormatOption(QStringLiteral("format"), QString(), QStringLiteral("bmp|png"));
const QCommandLineOption AllOption(QStringLiteral("all"));
const QCommandLineOption OverwriteOption(QStringLiteral("overwrite"));
const QCommandLineOption CountOption(QStringLiteral("count"), QString(), QStringLiteral("N"));
const QCommandLineOption IntervalOption(QStringLiteral("interval"), QString(), QStringLiteral("SECONDS"));
const QCommandLineOption KeepGoingOption(QStringLiteral("keep-going"));

// Longer than any run on a lab bench; its milliseconds still fit the series clock.
constexpr double LongestIntervalSeconds = 1e9;

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
         QStringLiteral("snaploom capture (--port PORT | --find | --all) [--freeze] [-o TEMPLATE]\n"
                        "       [--format bmp|png] [--overwrite] [--count N] [--interval SECONDS]\n"
                        "       [--keep-going] [--json]"),
         QStringLiteral("Captures the instrument's screen, turned upright, to the file TEMPLATE names. The\n"
                        "format follows the name's suffix (.bmp or .png, a name without a suffix is a\n"
                        "bitmap) or --format. TEMPLATE may hold the fields {serial}, {model} (spaces as -),\n"
                        "{port} (COM<n>), {date} (YYYYMMDD), {time} (HHMMSS, when the capture ended) and\n"
                        "{n} (the capture's number in the series, from 1); the folders it names are made.\n"
                        "A file already there is never overwritten: -2, -3 ... is added before the\n"
                        "suffix, unless --overwrite is given. Without -o the name is\n"
                        "{model}-{serial}-{date}-{time} with the format's suffix, in the current folder.\n"
                        "'-o -' writes one picture to standard output (PNG unless --format says\n"
                        "otherwise) and every message to standard error. The output is checked before\n"
                        "the instrument is touched; a FIFO or device already at the name is written into,\n"
                        "never replaced.\n"
                        "A series (--count) writes each picture as it comes; Ctrl+C ends it once the\n"
                        "running capture has finished or drained, and a failed capture ends it unless\n"
                        "--keep-going. --all captures from every port where an instrument answers, all at\n"
                        "once, each line of progress led by the port; TEMPLATE must then hold {port} or\n"
                        "{serial}.\n"
                        "Exit codes: 0 captured and written, 1 serial error, 2 bad options, 3 no instrument,\n"
                        "4 refused by the instrument, 5 halt failed, 6 load failed, 7 file not written,\n"
                        "8 written but the DSP did not restart, 9 line lost, 10 interrupted. A series or\n"
                        "--all ends with the worst of its captures' codes, from best to worst:\n"
                        "0, 10, 8, 4, 3, 5, 6, 9, 1, 7; Ctrl+C is no failure for --count 0."),
         {PortOption, FindOption, AllOption, FreezeOption, OutputOption, FormatOption, OverwriteOption, CountOption,
          IntervalOption, KeepGoingOption, JsonOption},
         {PortText, FindText,
          {QStringLiteral("--all"), QStringLiteral("every port where an instrument answers, at once")},
          {QStringLiteral("--freeze"), QStringLiteral("halt the instrument's signal processor while the picture\n"
                                                      "is read (ongoing measurements are cleared)")},
          {QStringLiteral("-o, --output TEMPLATE"), QStringLiteral("the file to write, or - for standard output")},
          {QStringLiteral("--format bmp|png"), QStringLiteral("the picture's format")},
          {QStringLiteral("--overwrite"), QStringLiteral("replace a file already at the name")},
          {QStringLiteral("--count N"), QStringLiteral("capture N times (0: until Ctrl+C; default 1)")},
          {QStringLiteral("--interval SECONDS"), QStringLiteral("from the start of one capture to the start of the\n"
                                                                "next (default 0)")},
          {QStringLiteral("--keep-going"), QStringLiteral("go on after a failed capture")},
          {QStringLiteral("--json"), QStringLiteral("print one JSON object a line for each written file:\n"
                                                    "path, port, device, serialNumber, bytes, seconds")}},
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
    const auto owns = [&](const QCommandLineOption &option) {
        return std::any_of(entry.options.cbegin(), entry.options.cend(),
                           [&](const QCommandLineOption &o) { return o.names() == option.names(); });
    };
    const auto isSet = [&](const QCommandLineOption &option) { return owns(option) && parser.isSet(option); };
    const auto value = [&](const QCommandLineOption &option) { return isSet(option) ? parser.value(option) : QString(); };

    CommandRequest request;
    request.action = CommandRequest::Action::Run;
    request.command = entry.name;
    request.json = isSet(JsonOption);
    request.freeze = isSet(FreezeOption);

    if (entry.needsPort) {
        const bool havePort = isSet(PortOption);
        request.port.find = isSet(FindOption);
        request.port.all = isSet(AllOption);
        if (int(havePort) + int(request.port.find) + int(request.port.all) != 1)
            return refuse(who, owns(AllOption) ? QStringLiteral("give either --port PORT or --find, or --all for every instrument")
                                               : QStringLiteral("give either --port PORT or --find"), who);
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

    request.overwrite = isSet(OverwriteOption);
    request.keepGoing = isSet(KeepGoingOption);
    if (isSet(CountOption)) {
        bool ok = false;
        request.count = value(CountOption).toInt(&ok);
        if (!ok || request.count < 0)
            return refuse(who, QStringLiteral("--count takes a number of captures, 0 or more, not '%1'").arg(value(CountOption)), who);
    }
    if (isSet(IntervalOption)) {
        bool ok = false;
        const double seconds = value(IntervalOption).toDouble(&ok);
        if (!ok || !(seconds >= 0) || seconds > LongestIntervalSeconds)
            return refuse(who, QStringLiteral("--interval takes a number of seconds, 0 or more, not '%1'").arg(value(IntervalOption)), who);
        request.intervalMs = qRound64(seconds * 1000);
    }
    if (request.output == QLatin1String("-")) {
        if (request.port.all || request.count != 1)
            return refuse(who, QStringLiteral("-o - writes one picture; give a file name for --count or --all"), who);
        if (request.json)
            return refuse(who, QStringLiteral("--json prints on standard output, where -o - writes the picture"), who);
    } else if (!request.output.isEmpty()) {
        const NameTemplate name(request.output);
        if (!name.problem().isEmpty())
            return refuse(who, name.problem(), who);
        if (request.port.all && !name.namesEachInstrument())
            return refuse(who, QStringLiteral("with --all the file name must hold {port} or {serial}, so that each "
                                              "instrument's pictures have names of their own"), who);
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
