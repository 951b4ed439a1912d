// snaploom: the command-line face of Corvane Snaploom. It shares the link and capture code with
// the desktop program and differs only in how it talks to the user.
#include "ComPort.h"
#include "Connection.h"
#include "ExitCodes.h"
#include "InterruptSignals.h"
#include "SerialPorts.h"
#include "UnfreezeCommand.h"
#include "qzMeterCOM.h"

#include <QCoreApplication>
#include <QTextStream>

#ifdef SNAPLOOM_HAS_CAPTURE
int runCaptureCommand(const QStringList &arguments);
#endif

namespace {

const char Usage[] =
    "Usage: snaploom <command> [options]\n"
    "\n"
    "Commands:\n"
    "  ports                              list the serial ports as COM<n> with their device paths\n"
    "  identify (--port COM<n> | --find)  connect to the instrument and show what it is\n"
    "  capture (--port COM<n> | --find) [--freeze] [-o FILE]\n"
    "                                     capture the instrument's screen to a BMP (or .png) file\n"
    "  unfreeze (--port COM<n> | --find)  restart an instrument left halted and leave command mode\n"
    "\n"
    "--find tries every listed port in ascending order and stops at the first instrument.\n"
    "Ports are the system's serial ports and the COM<n> links in the ports folder of the\n"
    "settings folder ($SNAPLOOM_HOME when set).\n"
    "Run 'snaploom capture --help' for the capture options.\n";

int listPorts(QTextStream &out)
{
    const QList<SerialPortName> ports = SerialPorts::list();
    if (ports.isEmpty())
        out << "No ports installed\n";
    for (const SerialPortName &port : ports)
        out << QStringLiteral("COM%1").arg(port.number).leftJustified(8) << port.devicePath << '\n';
    return ExitCode::Success;
}

// The rows the About box shows for the connected instrument.
void printInstrument(const TqzMeterCom &link, QTextStream &out)
{
    const TqzMeterInfo &info = link.Info;
    out << "      Instrument Type: " << info.ModelName << '\n'
        << "        Serial Number: " << info.SerialNumber << '\n'
        << "  Package ID: " << info.PackageId << '\n'
        << " MCU Version: " << info.McuVersionMajor << ',' << info.McuVersionMinor << '\n'
        << "FPGA Version: " << info.FpgaVersion << '\n';
}

int identify(QStringList arguments, QTextStream &out, QTextStream &err)
{
    PortChoice choice;
    QString error;
    if (!takePortChoice(arguments, choice, error) || !arguments.isEmpty()) {
        err << (error.isEmpty() ? QStringLiteral("Unknown option: %1").arg(arguments.join(' ')) : error) << '\n'
            << "Usage: snaploom identify (--port COM<n> | --find)\n";
        return ExitCode::Usage;
    }
    std::unique_ptr<TqzMeterCom> link = connectInstrument(choice, err);
    if (!link)
        return ExitCode::NoInstrument;
    out << QStringLiteral("Connected to COM%1 (%2)\n").arg(link->PortNumber).arg(SerialPorts::devicePathFor(link->PortNumber));
    printInstrument(*link, out);
    link->Disconnect();
    return ExitCode::Success;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("snaploom"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty() || arguments.first() == QLatin1String("--help") || arguments.first() == QLatin1String("-h")
        || arguments.first() == QLatin1String("help")) {
        (arguments.isEmpty() ? err : out) << Usage;
        return arguments.isEmpty() ? ExitCode::Usage : ExitCode::Success;
    }
    const QString command = arguments.takeFirst();
    InterruptSignals interrupts;
    try {
        if (command == QLatin1String("ports"))
            return listPorts(out);
        if (command == QLatin1String("identify")) {
            if (arguments.contains(QLatin1String("--help"))) {
                out << "Usage: snaploom identify (--port COM<n> | --find)\n"
                       "Connects, prints the instrument's type, serial number, package id and versions, disconnects.\n";
                return ExitCode::Success;
            }
            const int code = identify(arguments, out, err);
            return InterruptSignals::received() ? ExitCode::Interrupted : code;
        }
        if (command == QLatin1String("unfreeze"))
            return runUnfreezeCommand(arguments);
#ifdef SNAPLOOM_HAS_CAPTURE
        if (command == QLatin1String("capture"))
            return runCaptureCommand(arguments);
#endif
    } catch (const ELineLost &e) {
        out.flush();
        err << e.text() << '\n';
        return ExitCode::LineLost;
    } catch (const EComPort &e) {
        out.flush();
        err << e.text() << '\n';
        return ExitCode::SerialError;
    }
    err << "Unknown command: " << command << "\n\n" << Usage;
    return ExitCode::Usage;
}
