#include "Connection.h"

#include "CommandLine.h"
#include "ExitCodes.h"
#include "InstrumentFinder.h"
#include "InterruptSignals.h"
#include "SerialPorts.h"
#include "qzMeterCOM.h"

#include <cstdio>

namespace {

QString portText(const TqzMeterCom &link)
{
    return link.PortPath.isEmpty() ? QStringLiteral("COM%1").arg(link.PortNumber) : link.PortPath;
}

// A search says nothing of ports that do not open; a chosen port tells why it did not.
bool tryPort(TqzMeterCom &link, bool tellOpenFailure, QTextStream &err)
{
    link.Disconnect();
    const InstrumentFinder::Attempt attempt = InstrumentFinder::attempt(link);
    if (attempt == InstrumentFinder::Attempt::Connected)
        return true;
    if (attempt == InstrumentFinder::Attempt::NotOpened && tellOpenFailure)
        err << link.openFailure() << '\n';
    // A failed identification leaves no model to name.
    if (attempt == InstrumentFinder::Attempt::NotCapturable && !link.CancelRequested())
        err << QStringLiteral("%1 answers as \"%2\" (model code %3), which cannot be captured.\n")
                   .arg(portText(link), link.Info.ModelName)
                   .arg(link.Info.ModelCode);
    else if (attempt == InstrumentFinder::Attempt::NoAnswer && link.CommandMode && !link.CancelRequested())
        err << QStringLiteral("%1 answers commands but did not identify itself.\n").arg(portText(link));
    link.Disconnect();
    return false;
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

std::unique_ptr<TqzMeterCom> connectInstrument(const PortChoice &choice, QTextStream &err)
{
    auto link = std::make_unique<TqzMeterCom>();
    watchInterrupts(*link, choice);
    if (InterruptSignals::received())
        link->Cancel();
    bool found = false;
    if (choice.find) {
        InstrumentFinder::search([&](int number) {
            if (link->CancelRequested())
                return true;   // ends the search with nothing found
            link->PortNumber = number;
            found = tryPort(*link, false, err);
            return found;
        });
    } else if (!link->CancelRequested()) {
        link->PortNumber = choice.number;
        link->PortPath = choice.path;
        found = tryPort(*link, true, err);
    }
    if (found)
        return link;
    if (link->CancelRequested()) {
        err << "Interrupted.\n";
        err.flush();
        return nullptr;
    }
    err << "No instrument detected.\n";
    err.flush();
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
