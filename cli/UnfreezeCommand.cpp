#include "UnfreezeCommand.h"

#include "Connection.h"
#include "ExitCodes.h"
#include "qzMeterCOM.h"

#include <QTextStream>

namespace {

const char UnfreezeUsage[] =
    "Usage: snaploom unfreeze (--port COM<n> | --find)\n"
    "Restarts the instrument's signal processor (its screen runs again) and leaves its command\n"
    "mode, for an instrument that an interrupted capture left halted.\n"
    "Exit codes: 0 restarted, 2 bad options, 3 no instrument, 8 the restart was not\n"
    "acknowledged, 9 line lost, 1 serial error.\n";

const char RestartFailed[] = "Could not restart DSP and unfreeze image.";

}  // namespace

int runUnfreezeCommand(const QStringList &arguments)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        out << UnfreezeUsage;
        return ExitCode::Success;
    }
    QStringList rest = arguments;
    PortChoice choice;
    QString error;
    if (!takePortChoice(rest, choice, error) || !rest.isEmpty()) {
        err << (error.isEmpty() ? QStringLiteral("Unknown option: %1").arg(rest.join(QLatin1Char(' '))) : error) << '\n'
            << UnfreezeUsage;
        return ExitCode::Usage;
    }

    // Connecting drains what an interrupted read left on the line and enters command mode.
    std::unique_ptr<TqzMeterCom> link = connectInstrument(choice, err);
    if (!link)
        return ExitCode::NoInstrument;
    const bool restarted = link->StartDsp();
    link->Disconnect();
    if (!restarted) {
        err << RestartFailed << '\n';
        return ExitCode::RestartRefused;
    }
    out << QStringLiteral("COM%1: the instrument's DSP runs again and command mode is left.\n").arg(link->PortNumber);
    return ExitCode::Success;
}
