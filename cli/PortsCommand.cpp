#include "PortsCommand.h"

#include "ExitCodes.h"
#include "SerialPorts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// The adapter's details after the device path, each only when the system knows it.
QString details(const SerialPortName &port)
{
    QStringList about;
    if (!port.description.isEmpty())
        about.append(port.description);
    if (!port.manufacturer.isEmpty())
        about.append(port.manufacturer);
    if (!port.serialNumber.isEmpty())
        about.append(QStringLiteral("serial number ") + port.serialNumber);
    QString text;
    if (!port.byIdPath.isEmpty())
        text += QStringLiteral("  ") + port.byIdPath;
    if (!about.isEmpty())
        text += QStringLiteral("  ") + about.join(QStringLiteral(", "));
    return text;
}

}  // namespace

int runPortsCommand(bool json, QTextStream &out)
{
    const QList<SerialPortName> ports = SerialPorts::list();
    if (json) {
        QJsonArray array;
        for (const SerialPortName &port : ports)
            array.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("COM%1").arg(port.number)},
                                     {QStringLiteral("number"), port.number},
                                     {QStringLiteral("device"), port.devicePath},
                                     {QStringLiteral("byId"), orNull(port.byIdPath)},
                                     {QStringLiteral("description"), orNull(port.description)},
                                     {QStringLiteral("manufacturer"), orNull(port.manufacturer)},
                                     {QStringLiteral("serialNumber"), orNull(port.serialNumber)}});
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
        return ExitCode::Success;
    }
    if (ports.isEmpty())
        out << "No ports installed\n";
    for (const SerialPortName &port : ports)
        out << QStringLiteral("COM%1").arg(port.number).leftJustified(8) << port.devicePath << details(port) << '\n';
    return ExitCode::Success;
}
