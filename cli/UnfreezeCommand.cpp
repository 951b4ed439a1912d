#include "UnfreezeCommand.h"

#include "CommandLine.h"
#include "Connection.h"
#include "ExitCodes.h"
#include "ScreenCapture.h"
#include "qzMeterCOM.h"

int runUnfreezeCommand(const CommandRequest &request, QTextStream &out, QTextStream &err)
{
    // Connecting drains what an interrupted read left on the line and enters command mode.
    int failure = ExitCode::Success;
    std::unique_ptr<TqzMeterCom> link = connectInstrument(request.port, err, &failure);
    if (!link)
        return failure;
    const bool restarted = link->StartDsp();
    link->Disconnect();
    if (!restarted) {
        err << CaptureTexts::RestartFailed << '\n';
        return ExitCode::RestartRefused;
    }
    out << QStringLiteral("%1: the instrument's DSP runs again and command mode is left.\n").arg(connectedPortText(*link));
    return ExitCode::Success;
}
