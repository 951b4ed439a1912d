#include "CaptureCommand.h"

#include "AllPortsCapture.h"
#include "CaptureReport.h"
#include "CaptureSeries.h"
#include "CommandLine.h"
#include "Connection.h"
#include "ExitCodes.h"
#include "ImageFile.h"
#include "NameTemplate.h"
#include "qzMeterCOM.h"
#include "SystemError.h"

#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {

// Where the pictures of a template go, judged with the fields as any instrument fills them:
// folders still to be made need the nearest one there to take them.
QString whyNotWritable(const QString &text, bool overwrite)
{
    NameFields sample;
    sample.model = QStringLiteral("instrument");
    sample.port = QStringLiteral("COM1");
    const QString path = NameTemplate(text).expand(sample);
    QString folder = QFileInfo(path).absolutePath();
    if (QFileInfo(folder).isDir())
        return ImageFile::whyNotWritable(overwrite ? path : NameTemplate::freePath(path));
    // Missing folders are made: the nearest one that is there must take them.
    while (!QFileInfo::exists(folder))
        folder = QFileInfo(folder).absolutePath();
    return ImageFile::whyFolderNotWritable(folder);
}

}  // namespace

int runCaptureCommand(const CommandRequest &request, QTextStream &out, QTextStream &err)
{
    // A reader that goes away (`| head -2`) must not end the program while an instrument stands
    // halted: a write to it fails instead, and the capture goes on to its restart.
    std::signal(SIGPIPE, SIG_IGN);

    // A file that cannot be written is found before the instrument is touched: the read takes
    // a minute, and with --freeze the instrument stands halted meanwhile.
    const bool toStandardOutput = request.output == QLatin1String("-");
    // A picture's bytes on a terminal only garble it; the instrument is not even asked.
    if (toStandardOutput && ::isatty(STDOUT_FILENO) == 1) {
        err << "Standard output is a terminal: redirect it to a file or a program to take the picture "
               "(for example: snaploom capture -o - > screen.png)\n";
        return ExitCode::Usage;
    }
    if (!request.output.isEmpty() && !toStandardOutput) {
        const QString why = whyNotWritable(request.output, request.overwrite);
        if (!why.isEmpty()) {
            err << QStringLiteral("Cannot write %1: %2\n").arg(request.output, why);
            return ExitCode::FileNotWritten;
        }
    } else if (!toStandardOutput && ::access(".", W_OK | X_OK) != 0) {
        err << QStringLiteral("Cannot write in the current folder: %1\n").arg(systemError(errno));
        return ExitCode::FileNotWritten;
    }

    // With the picture or JSON lines on standard output, every text goes to standard error.
    CaptureReport report(out, err, toStandardOutput || request.json);
    if (request.port.all)
        return captureOnAllPorts(request, report);

    int failure = ExitCode::Success;
    std::unique_ptr<TqzMeterCom> link = connectInstrument(request.port, err, &failure);
    if (!link)
        return failure;
    CaptureSeries series(request, report);
    return series.run(std::move(link), [&request, &err] {
        int reconnectFailure = ExitCode::Success;
        return connectInstrument(request.port, err, &reconnectFailure);
    });
}
