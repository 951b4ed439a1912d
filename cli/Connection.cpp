#include "Connection.h"

#include "CommandLine.h"
#include "InstrumentFinder.h"
#include "SerialPorts.h"
#include "qzMeterCOM.h"

namespace {

QString portText(const TqzMeterCom &link)
{
    return link.PortPath.isEmpty() ? QStringLiteral("COM%1").arg(link.PortNumber) : link.PortPath;
}

bool tryPort(TqzMeterCom &link, QTextStream &err)
{
    link.Disconnect();
    const InstrumentFinder::Attempt attempt = InstrumentFinder::attempt(link);
    if (attempt == InstrumentFinder::Attempt::Connected)
        return true;
    if (attempt == InstrumentFinder::Attempt::NotCapturable)
        err << QStringLiteral("%1 answers as \"%2\" (model code %3), which cannot be captured.\n")
                   .arg(portText(link), link.Info.ModelName)
                   .arg(link.Info.ModelCode);
    link.Disconnect();
    return false;
}

}  // namespace

std::unique_ptr<TqzMeterCom> connectInstrument(const PortChoice &choice, QTextStream &err)
{
    auto link = std::make_unique<TqzMeterCom>();
    bool found = false;
    if (choice.find) {
        found = InstrumentFinder::search([&](int number) {
                    link->PortNumber = number;
                    return tryPort(*link, err);
                }) > 0;
    } else {
        link->PortNumber = choice.number;
        link->PortPath = choice.path;
        found = tryPort(*link, err);
    }
    if (found)
        return link;
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
