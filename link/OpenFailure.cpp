#include "OpenFailure.h"

#include "ComPort.h"
#include "SystemError.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

namespace {

QString nameOfGroup(gid_t gid)
{
    const group *entry = ::getgrgid(gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(gid);
}

QString nameOfUser(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

OpenFailure failure(OpenFailure::Kind kind, const QString &reason)
{
    OpenFailure result;
    result.kind = kind;
    result.reason = reason;
    return result;
}

}  // namespace

QString OpenFailure::permissionReason(const QString &device)
{
    const QString node = QFileInfo(device).canonicalFilePath();
    struct stat info {};
    if (node.isEmpty() || ::stat(QFile::encodeName(node).constData(), &info) != 0)
        return QStringLiteral("permission denied");
    const QString group = nameOfGroup(info.st_gid);
    const QString mode = QStringLiteral("%1").arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
    // A device of the root group with no access for the group is root's alone: joining a group
    // does not help, the device must be given to one.
    if (info.st_gid == 0 || (info.st_mode & S_IRWXG) == 0)
        return QStringLiteral("permission denied; %1 belongs to %2:%3 with mode %4, so only %2 may open it: have "
                              "it given to the dialout group (a udev rule with GROUP=\"dialout\", MODE=\"0660\") "
                              "and add your user to that group")
            .arg(node, nameOfUser(info.st_uid), group, mode);
    return QStringLiteral("permission denied; %1 belongs to the %2 group: add your user to it "
                          "(sudo usermod -aG %2 $USER) and log in again")
        .arg(node, group);
}

OpenFailure OpenFailure::of(const EComPort &error, const QString &device)
{
    // The system's error numbers and Qt's serial error codes are different numbers.
    if (error.source() == EComPort::CodeSource::SerialPort) {
        switch (error.code()) {
        case QSerialPort::DeviceNotFoundError:
            return failure(Kind::NoDevice, QStringLiteral("there is no such device"));
        case QSerialPort::PermissionError:
            return failure(Kind::InUse, QStringLiteral("it is in use by another program"));
        default:
            return failure(Kind::Other, QStringLiteral("the serial port reports error %1").arg(error.code()));
        }
    }
    switch (error.code()) {
    case EACCES:
    case EPERM:
        return failure(Kind::Permission, permissionReason(device));
    case EBUSY:
        return failure(Kind::InUse, QStringLiteral("it is in use by another program"));
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return failure(Kind::NoDevice, QStringLiteral("there is no such device"));
    default:
        return failure(Kind::Other, systemError(error.code()));
    }
}
