#include "SaveFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString &lastFolder()
{
    static QString folder;
    return folder;
}

bool isFolder(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

} // namespace

QString TSaveFolder::startFolder()
{
    // A folder removed or unmounted since the last save falls back like a first run.
    if (isFolder(lastFolder()))
        return lastFolder();
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (isFolder(pictures))
        return pictures;
    return QDir::homePath();
}

QString TSaveFolder::lastSaveFolder()
{
    return lastFolder();
}

void TSaveFolder::setLastSaveFolder(const QString &folder)
{
    lastFolder() = folder;
}
