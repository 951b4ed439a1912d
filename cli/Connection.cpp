#include "Connection.h"

#include "SerialPorts.h"
#include "qzMeterCOM.h"

#include <algorithm>

namespace {

bool tryPort(TqzMeterCom &link, int number, QTextStream &err)
{
    link.Disconnect();
    link.PortNumber = number;
    if (!link.OpenPort())
        return false;
    if (link.Connect() && TqzMeterCom::IsCapturableModel(link.Info.ModelCode))
        return true;
    if (link.CommandMode)
        err << QStringLiteral("COM%1 answers as \"%2\" (model code %3), which cannot be captured.\n")
                   .arg(number)
                   .arg(link.Info.ModelName)
                   .arg(link.Info.ModelCode);
    link.Disconnect();
    return false;
}

}  // namespace

bool takePortChoice(QStringList &arguments, PortChoice &choice, QString &error)
{
    bool havePort = false;
    for (int i = 0; i < arguments.size();) {
        const QString argument = arguments.at(i);
        if (argument == QLatin1String("--find")) {
            choice.find = true;
            arguments.removeAt(i);
        } else if (argument == QLatin1String("--port") || argument.startsWith(QLatin1String("--port="))) {
            QString value;
            if (argument == QLatin1String("--port")) {
                if (i + 1 >= arguments.size()) {
                    error = QStringLiteral("--port needs a port such as COM5.");
                    return false;
                }
                value = arguments.at(i + 1);
                arguments.removeAt(i + 1);
            } else {
                value = argument.mid(7);
            }
            arguments.removeAt(i);
            const QString digits = value.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) ? value.mid(3) : value;
            bool ok = false;
            choice.number = digits.toInt(&ok);
            if (!ok || choice.number < 0 || digits.isEmpty()) {
                error = QStringLiteral("\"%1\" is not a port; give one such as COM5.").arg(value);
                return false;
            }
            havePort = true;
        } else {
            ++i;
        }
    }
    if (havePort == choice.find) {
        error = QStringLiteral("Give either --port COM<n> or --find.");
        return false;
    }
    return true;
}

std::unique_ptr<TqzMeterCom> connectInstrument(const PortChoice &choice, QTextStream &err)
{
    auto link = std::make_unique<TqzMeterCom>();
    if (choice.find) {
        QList<int> numbers;
        for (const SerialPortName &port : SerialPorts::list())
            if (port.number > 0)
                numbers.append(port.number);
        std::stable_sort(numbers.begin(), numbers.end());
        for (int number : numbers)
            if (tryPort(*link, number, err))
                return link;
    } else if (tryPort(*link, choice.number, err)) {
        return link;
    }
    err << "No instrument detected.\n";
    err.flush();
    return nullptr;
}
