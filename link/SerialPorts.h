#pragma once

#include <QList>
#include <QString>

// A serial port as the program names it: "COM" and a number, beside the device node it maps to.
struct SerialPortName
{
    QString name;        // as listed, e.g. "COM5" (a link in the ports folder may be "COM05")
    int number = 0;      // the number the name stands for
    QString devicePath;  // the device node, links resolved
};

// Port numbers on this platform: explicit COM<n> links in the ports folder of the settings folder,
// then the system's serial ports (/dev/ttyS<k> is k + 1, the others from 33 upward in natural
// order of their names). An explicit link wins over a system port with the same number.
namespace SerialPorts {

constexpr int FirstOtherDeviceNumber = 33;

// Every port present, names sorted as text without regard to letter case.
QList<SerialPortName> list();

// The device node for port number n; empty when no such port exists.
QString devicePathFor(int number);

// The integer formed by the decimal digits of a port name (COM12 gives 12); -1 without digits.
int numberOf(const QString &name);

// The folder holding the explicit COM<n> links.
QString portsFolder();

}  // namespace SerialPorts
