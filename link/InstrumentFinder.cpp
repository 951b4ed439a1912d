#include "InstrumentFinder.h"

#include "CommandModeGuard.h"
#include "SerialPorts.h"
#include "qzMeterCOM.h"

namespace InstrumentFinder {

Attempt attempt(TqzMeterCom &link)
{
    if (!link.OpenPort())
        return Attempt::NotOpened;
    CommandModeGuard commandMode(link);
    if (!link.Connect())
        return link.HeardAnything() ? Attempt::NotUnderstood : Attempt::NoAnswer;
    if (!TqzMeterCom::IsCapturableModel(link.Info.ModelCode))
        return Attempt::NotCapturable;
    commandMode.keep();
    return Attempt::Connected;
}

QString failureText(Attempt attempt, const TqzMeterCom &link, const QString &port)
{
    switch (attempt) {
    case Attempt::NotOpened:
        return link.openFailure();
    case Attempt::NotUnderstood:
        return QStringLiteral("%1 answers, but its replies were not understood.").arg(port);
    case Attempt::NotCapturable:
        return QStringLiteral("%1 answers as \"%2\" (model code %3), which cannot be captured.")
            .arg(port, link.Info.ModelName)
            .arg(link.Info.ModelCode);
    case Attempt::NoAnswer:
    case Attempt::Connected:
        break;
    }
    return QString();
}

QList<int> searchOrder()
{
    QList<int> numbers;
    for (const SerialPortName &port : SerialPorts::list())  // already in number order
        if (port.number > 0)
            numbers.append(port.number);
    return numbers;
}

int search(const std::function<bool(int number)> &tryPort)
{
    for (int number : searchOrder())
        if (tryPort(number))
            return number;
    return 0;
}

}  // namespace InstrumentFinder
