#include "SerialPorts.h"

#include "SettingsFolder.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>

namespace {

// The entries COM<n> of the ports folder, resolved to the node they point at.
QList<SerialPortName> explicitLinks()
{
    QList<SerialPortName> ports;
    static const QRegularExpression comName(QStringLiteral("^COM\\d+$"), QRegularExpression::CaseInsensitiveOption);
    const QDir folder(SerialPorts::portsFolder());
    const QFileInfoList entries = folder.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (!comName.match(entry.fileName()).hasMatch())
            continue;
        const QString target = entry.canonicalFilePath();  // empty for a dangling link
        if (target.isEmpty() || QFileInfo(target).isDir())
            continue;
        ports.append({entry.fileName(), SerialPorts::numberOf(entry.fileName()), target});
    }
    return ports;
}

// The system's serial ports: ttyS<k> is k + 1, every other device from 33 upward.
QList<SerialPortName> systemPorts()
{
    QList<SerialPortName> ports;
    QStringList others;
    static const QRegularExpression ttyS(QStringLiteral("^ttyS(\\d+)$"));
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const auto match = ttyS.match(info.portName());
        if (match.hasMatch()) {
            const int number = match.captured(1).toInt() + 1;
            ports.append({QStringLiteral("COM%1").arg(number), number, info.systemLocation()});
        } else {
            others.append(info.systemLocation());
        }
    }
    QCollator natural;
    natural.setNumericMode(true);
    std::sort(others.begin(), others.end(), [&](const QString &a, const QString &b) { return natural.compare(a, b) < 0; });
    int number = SerialPorts::FirstOtherDeviceNumber;
    for (const QString &path : others) {
        ports.append({QStringLiteral("COM%1").arg(number), number, path});
        ++number;
    }
    return ports;
}

}  // namespace

namespace SerialPorts {

QString portsFolder()
{
    return SettingsFolder::path() + QStringLiteral("/ports");
}

int numberOf(const QString &name)
{
    QString digits;
    for (const QChar c : name)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits += c;
    bool ok = false;
    const int number = digits.toInt(&ok);
    return ok ? number : -1;
}

QList<SerialPortName> list()
{
    QList<SerialPortName> ports = explicitLinks();
    QList<int> linked;
    for (const SerialPortName &port : ports)
        linked.append(port.number);
    for (const SerialPortName &port : systemPorts())
        if (!linked.contains(port.number))
            ports.append(port);
    std::stable_sort(ports.begin(), ports.end(), [](const SerialPortName &a, const SerialPortName &b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    return ports;
}

QString devicePathFor(int number)
{
    for (const SerialPortName &port : explicitLinks())
        if (port.number == number)
            return port.devicePath;
    for (const SerialPortName &port : systemPorts())
        if (port.number == number)
            return port.devicePath;
    return {};
}

}  // namespace SerialPorts
