#include "SerialPorts.h"

#include "SettingsFolder.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>
#include <limits>

namespace {

// What the system knows of the adapter behind a device node.
void describeFrom(SerialPortName &port, const QSerialPortInfo &info)
{
    port.description = info.description();
    port.manufacturer = info.manufacturer();
    port.serialNumber = info.serialNumber();
}

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
        const int number = SerialPorts::numberOf(entry.fileName());
        // A number too large for a port names none.
        if (target.isEmpty() || QFileInfo(target).isDir() || number < 0)
            continue;
        SerialPortName port;
        port.name = entry.fileName();
        port.number = number;
        port.devicePath = target;
        ports.append(port);
    }
    return ports;
}

const QString ByIdFolder = QStringLiteral("/dev/serial/by-id");

// The stable names the system made for its serial devices, by the node each one points at.
QMap<QString, QString> stableNames()
{
    QMap<QString, QString> names;
    const QFileInfoList entries = QDir(ByIdFolder).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString target = entry.canonicalFilePath();
        if (!target.isEmpty() && !names.contains(target))
            names.insert(target, entry.absoluteFilePath());
    }
    return names;
}

SerialPortName describedPort(int number, const QSerialPortInfo &info)
{
    SerialPortName port;
    port.name = QStringLiteral("COM%1").arg(number);
    port.number = number;
    port.devicePath = info.systemLocation();
    describeFrom(port, info);
    return port;
}

// The system's serial ports (present): ttyS<k> is k + 1, every other device from 33 upward.
QList<SerialPortName> systemPorts(const QList<QSerialPortInfo> &present)
{
    QList<SerialPortName> ports;
    QList<QSerialPortInfo> others;
    static const QRegularExpression ttyS(QStringLiteral("^ttyS(\\d+)$"));
    for (const QSerialPortInfo &info : present) {
        const auto match = ttyS.match(info.portName());
        bool ok = false;
        const int k = match.captured(1).toInt(&ok);
        if (match.hasMatch() && ok && k < std::numeric_limits<int>::max())
            ports.append(describedPort(k + 1, info));
        else if (!match.hasMatch())
            others.append(info);
    }
    QCollator natural;
    natural.setNumericMode(true);
    std::sort(others.begin(), others.end(), [&](const QSerialPortInfo &a, const QSerialPortInfo &b) {
        return natural.compare(a.systemLocation(), b.systemLocation()) < 0;
    });
    int number = SerialPorts::FirstOtherDeviceNumber;
    for (const QSerialPortInfo &info : others)
        ports.append(describedPort(number++, info));
    return ports;
}

}  // namespace

QString SerialPortName::caption() const
{
    QString text = QStringLiteral("COM%1").arg(number);
    if (!devicePath.isEmpty())
        text += QStringLiteral("  ") + devicePath;
    if (!description.isEmpty())
        text += (devicePath.isEmpty() ? QStringLiteral("  ") : QStringLiteral(" \u2013 ")) + description;
    return text;
}

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
    // The system is asked once; every port's adapter is looked up in this one answer.
    const QList<QSerialPortInfo> present = QSerialPortInfo::availablePorts();
    QList<SerialPortName> ports = explicitLinks();
    QList<int> linked;
    for (const SerialPortName &port : ports)
        linked.append(port.number);
    for (const SerialPortName &port : systemPorts(present))
        if (!linked.contains(port.number))
            ports.append(port);
    std::sort(ports.begin(), ports.end(), [](const SerialPortName &a, const SerialPortName &b) {
        if (a.number != b.number)
            return a.number < b.number;
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    const QMap<QString, QString> stable = stableNames();
    for (SerialPortName &port : ports) {
        const QString node = QFileInfo(port.devicePath).canonicalFilePath();
        port.byIdPath = stable.value(node);
        // A link of the user's own (say to a /dev/serial/by-id name) tells the adapter it leads to.
        if (port.description.isEmpty())
            for (const QSerialPortInfo &info : present)
                if (QFileInfo(info.systemLocation()).canonicalFilePath() == node) {
                    describeFrom(port, info);
                    break;
                }
    }
    return ports;
}

QString devicePathFor(int number)
{
    for (const SerialPortName &port : explicitLinks())
        if (port.number == number)
            return port.devicePath;
    for (const SerialPortName &port : systemPorts(QSerialPortInfo::availablePorts()))
        if (port.number == number)
            return port.devicePath;
    return {};
}

int numberForDevice(const QString &path)
{
    const QString node = QFileInfo(path).canonicalFilePath();
    if (node.isEmpty())
        return -1;
    for (const SerialPortName &port : list())
        if (QFileInfo(port.devicePath).canonicalFilePath() == node)
            return port.number;
    return -1;
}

}  // namespace SerialPorts
