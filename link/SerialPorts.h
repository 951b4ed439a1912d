#pragma once

#include <QList>
#include <QString>

// A serial port as the program names it: "COM" and a number, beside the device node it maps to
// and what the system knows of the adapter behind it.
struct SerialPortName
{
    QString name;          // as listed, e.g. "COM5" (a link in the ports folder may be "COM05")
    int number = 0;        // the number the name stands for
    QString devicePath;    // the device node, links resolved
    QString byIdPath;      // its stable name under /dev/serial/by-id, when the system made one
    QString description;   // the adapter's own description, when known
    QString manufacturer;
    QString serialNumber;

    // How a menu shows the port: "COM33  /dev/ttyUSB0 – FT232R USB UART"; the device path and
    // the description each only where known.
    QString caption() const;
};

// Port numbers on this platform: explicit COM<n> links in the ports folder of the settings folder,
// then the system's serial ports (/dev/ttyS<k> is k + 1, the others from 33 upward in natural
// order of their names). An explicit link wins over a system port with the same number.
namespace SerialPorts {

constexpr int FirstOtherDeviceNumber = 33;

// Every port present, in number order; names with the same number in text order without regard
// to letter case.
QList<SerialPortName> list();

// The device node for port number n; empty when no such port exists.
QString devicePathFor(int number);

// The number of the listed port whose device node is path (links resolved); -1 when none is.
int numberForDevice(const QString &path);

// The integer formed by the decimal digits of a port name (COM12 gives 12); -1 without digits
// or when the digits make a number too large for a port.
int numberOf(const QString &name);

// The folder holding the explicit COM<n> links.
QString portsFolder();

}  // namespace SerialPorts
