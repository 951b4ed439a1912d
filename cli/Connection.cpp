#include "Connection.h"

#include "CommandLine.h"
#include "ExitCodes.h"
#include "InstrumentFinder.h"
#include "InterruptSignals.h"
#include "SerialPorts.h"
#include "qzMeterCOM.h"

#include <QStringList>
#include <cstdio>
#include <unistd.h>

namespace {

QString portText(const TqzMeterCom &link)
{
    return link.PortPath.isEmpty() ? QStringLiteral("COM%1").arg(link.PortNumber) : link.PortPath;
}

// What the ports' attempts leave to tell at the end: the ports that did not open, and whether
// any answers were not understood or came from a model that cannot be captured.
struct SearchNotes
{
    QStringList notOpened;
    bool notUnderstood = false;
    bool capturableMissing = false;  // an instrument answered, of a model that cannot be captured
};

// A search tells at its end which ports did not open; a chosen port tells it at once.
bool tryPort(TqzMeterCom &link, bool search, SearchNotes &notes, QTextStream &err)
{
    link.Disconnect();
    const InstrumentFinder::Attempt attempt = InstrumentFinder::attempt(link);
    if (attempt == InstrumentFinder::Attempt::Connected)
        return true;
    // A failed identification after a cancel leaves nothing to tell.
    const QString why = link.CancelRequested() && attempt != InstrumentFinder::Attempt::NotOpened
                            ? QString()
                            : InstrumentFinder::failureText(attempt, link, portText(link));
    switch (attempt) {
    case InstrumentFinder::Attempt::NotOpened:
        if (!search)
            err << why << '\n';
        notes.notOpened.append(why);
        break;
    case InstrumentFinder::Attempt::NotCapturable:
        notes.capturableMissing = true;
        break;
    case InstrumentFinder::Attempt::NotUnderstood:
        if (!why.isEmpty())
            notes.notUnderstood = true;
        break;
    case InstrumentFinder::Attempt::NoAnswer:
    case InstrumentFinder::Attempt::Connected:
        break;
    }
    if (attempt != InstrumentFinder::Attempt::NotOpened && !why.isEmpty())
        err << why << '\n';
    link.Disconnect();
    return false;
}

// The outcome of a connection that found nothing, as the user needs it: one text each, one
// exit code each.
int reportNothingFound(const SearchNotes &notes, bool search, QTextStream &err)
{
    int code = ExitCode::NoInstrument;
    if (notes.notUnderstood) {
        code = ExitCode::NotUnderstood;
    } else if (notes.capturableMissing) {
        code = ExitCode::NoInstrument;
    } else if (!search && !notes.notOpened.isEmpty()) {
        code = ExitCode::PortNotOpened;  // its reason is told already
    } else {
        err << "No instrument detected.\n";
    }
    if (search && !notes.notOpened.isEmpty()) {
        err << "Ports that could not be opened:\n";
        for (const QString &failure : notes.notOpened)
            err << "  " << failure << '\n';
    }
    err.flush();
    return code;
}

// How long a drain keeps the user waiting, on standard error: a countdown for the rest of a
// cancelled read, the time so far for an earlier reply still arriving.
void showDrains(TqzMeterCom &link)
{
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    link.DrainProgress = [terminal](const TqzMeterCom::DrainReport &report) {
        QString text;
        if (report.finished)
            text = report.kind == TqzMeterCom::DrainReport::Kind::CancelledRead
                       ? QStringLiteral("finishing the running read: done")
                       : QStringLiteral("The instrument has finished sending.");
        else if (report.kind == TqzMeterCom::DrainReport::Kind::CancelledRead)
            text = QStringLiteral("finishing the running read: about %1 s left").arg(report.secondsLeft);
        else
            text = QStringLiteral("Waiting for the instrument to finish sending an earlier reply: %1 s so far "
                                  "(at most %2 s)")
                       .arg(report.secondsWaited)
                       .arg(report.limitSeconds);
        const QByteArray line = text.toLocal8Bit();
        if (terminal)
            std::fprintf(stderr, "\r%s\x1b[K%s", line.constData(), report.finished ? "\n" : "");
        else
            std::fprintf(stderr, "%s\n", line.constData());
        std::fflush(stderr);
    };
}

// Lets SIGINT, SIGTERM and SIGHUP cancel what the link runs, and tells how to recover when a
// second one abandons the program at once.
void watchInterrupts(TqzMeterCom &link, const PortChoice &choice)
{
    InterruptSignals *interrupts = InterruptSignals::instance();
    if (!interrupts)
        return;
    const QString port = choice.find             ? QStringLiteral("--find")
                         : choice.path.isEmpty() ? QStringLiteral("--port COM%1").arg(choice.number)
                                                 : QStringLiteral("--port ") + choice.path;
    interrupts->setAbandonText(QStringLiteral("\nAbandoned at once. The instrument may still be sending, halted and in "
                                              "command mode; to restart it, run: snaploom unfreeze %1\n")
                                   .arg(port)
                                   .toLocal8Bit(),
                               ExitCode::Interrupted);
    QObject::connect(interrupts, &InterruptSignals::interrupted, &link, [&link] {
        link.Cancel();
        std::fputs("\nInterrupted: finishing the running read and leaving the instrument running. "
                   "Press Ctrl+C again to abandon at once.\n",
                   stderr);
        std::fflush(stderr);
    });
}

}  // namespace

std::unique_ptr<TqzMeterCom> connectInstrument(const PortChoice &choice, QTextStream &err, int *exitCode)
{
    auto link = std::make_unique<TqzMeterCom>();
    watchInterrupts(*link, choice);
    showDrains(*link);
    if (InterruptSignals::received())
        link->Cancel();
    bool found = false;
    SearchNotes notes;
    if (choice.find) {
        InstrumentFinder::search([&](int number) {
            if (link->CancelRequested())
                return true;   // ends the search with nothing found
            link->PortNumber = number;
            found = tryPort(*link, true, notes, err);
            return found;
        });
    } else if (!link->CancelRequested()) {
        link->PortNumber = choice.number;
        link->PortPath = choice.path;
        found = tryPort(*link, false, notes, err);
    }
    *exitCode = ExitCode::Success;
    if (found)
        return link;
    if (link->CancelRequested()) {
        err << "Interrupted.\n";
        err.flush();
        *exitCode = ExitCode::Interrupted;
        return nullptr;
    }
    *exitCode = reportNothingFound(notes, choice.find, err);
    return nullptr;
}

QString connectedDevice(const TqzMeterCom &link)
{
    return link.PortPath.isEmpty() ? SerialPorts::devicePathFor(link.PortNumber) : link.PortPath;
}

int connectedPortNumber(const TqzMeterCom &link)
{
    return link.PortPath.isEmpty() ? link.PortNumber : SerialPorts::numberForDevice(link.PortPath);
}

QString connectedPortText(const TqzMeterCom &link)
{
    const int number = connectedPortNumber(link);
    return number >= 0 ? QStringLiteral("COM%1 (%2)").arg(number).arg(connectedDevice(link)) : connectedDevice(link);
}
