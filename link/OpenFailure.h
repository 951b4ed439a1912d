#pragma once

#include <QString>

class EComPort;

// Why a port could not be opened, told apart so the user learns the remedy.
struct OpenFailure
{
    enum class Kind { InUse, Permission, NoDevice, Other };
    Kind kind = Kind::Other;
    QString reason;  // "it is in use by another program", without the port's name

    // From the error of the open; device is the node the port names (for its owner group).
    static OpenFailure of(const EComPort &error, const QString &device);
    // "permission denied; ..." with the remedy for the device's actual owner group.
    static QString permissionReason(const QString &device);
};
