#include "InstrumentFinder.h"

#include "SerialPorts.h"
#include "qzMeterCOM.h"

namespace InstrumentFinder {

Attempt attempt(TqzMeterCom &link)
{
    if (!link.OpenPort())
        return Attempt::NotOpened;
    if (!link.Connect())
        return Attempt::NoAnswer;
    return TqzMeterCom::IsCapturableModel(link.Info.ModelCode) ? Attempt::Connected : Attempt::NotCapturable;
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
