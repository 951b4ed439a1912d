// snaploom: the command-line face of Corvane Snaploom. It shares the link and capture code with
// the desktop program and differs only in how it talks to the user: results on standard output,
// everything else on standard error.
#include "CaptureCommand.h"
#include "ComPort.h"
#include "CommandLine.h"
#include "ExitCodes.h"
#include "IdentifyCommand.h"
#include "InterruptSignals.h"
#include "PortsCommand.h"
#include "UnfreezeCommand.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("snaploom"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    const CommandRequest request = parseCommandLine(app.arguments().mid(1));
    switch (request.action) {
    case CommandRequest::Action::ShowText:
        out << request.text;
        return ExitCode::Success;
    case CommandRequest::Action::Refuse:
        err << request.text << '\n';
        return ExitCode::Usage;
    case CommandRequest::Action::Run:
        break;
    }
    InterruptSignals interrupts;
    try {
        if (request.command == QLatin1String("ports"))
            return runPortsCommand(request.json, out);
        if (request.command == QLatin1String("identify")) {
            const int code = runIdentifyCommand(request, out, err);
            return InterruptSignals::received() ? ExitCode::Interrupted : code;
        }
        if (request.command == QLatin1String("unfreeze"))
            return runUnfreezeCommand(request, out, err);
        return runCaptureCommand(request, out, err);
    } catch (const EComPort &e) {
        out.flush();
        err << e.text() << '\n';
        return ExitCode::forPortError(e);
    }
}
