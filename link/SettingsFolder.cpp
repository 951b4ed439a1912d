#include "SettingsFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtGlobal>

namespace {

const QString VendorFolder = QStringLiteral("Brannoc/CorvaneSnaploom");
const QString AllUsersFolder = QStringLiteral("/var/lib/") + VendorFolder;

bool usable(const QString &folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

}  // namespace

namespace SettingsFolder {

QString path()
{
    return path(AllUsersFolder);
}

QString path(const QString &allUsersFolder)
{
    const QString home = qEnvironmentVariable("SNAPLOOM_HOME");
    if (!home.isEmpty()) {
        QDir().mkpath(home);
        return QDir(home).absolutePath();
    }
    if (usable(allUsersFolder))
        return allUsersFolder;
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    const QString folder = data + QLatin1Char('/') + VendorFolder;
    QDir().mkpath(folder);  // a failure only means the defaults are read
    return folder;
}

QString iniFileName()
{
    return path() + QStringLiteral("/CorvaneSnaploom.INI");
}

QString recoveryPath()
{
    const QString home = qEnvironmentVariable("SNAPLOOM_HOME");
    if (!home.isEmpty())
        return QDir(home).absoluteFilePath(QStringLiteral("recovery"));
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative path is no base directory, as the base-directory rules say.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QLatin1Char('/') + VendorFolder + QStringLiteral("/recovery");
}

}  // namespace SettingsFolder
