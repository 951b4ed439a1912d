#include "RecoveryStore.h"

#include "ImageFile.h"
#include "SettingsFolder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString LockName = QStringLiteral("session.lock");
const QString SessionPrefix = QStringLiteral("session-");
const QString PictureFilter = QStringLiteral("*.png");

// PNG text keys of a kept picture.
namespace PictureText {
const QString Serial = QStringLiteral("Serial");
const QString Model = QStringLiteral("Model");
const QString Port = QStringLiteral("Port");
const QString Captured = QStringLiteral("Captured");
const QString Number = QStringLiteral("Capture");
} // namespace PictureText

// The folder's entry of a renamed file reaches the disk only when the folder itself is synced.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// A session folder whose lock can be taken belongs to no running program.
bool abandoned(const QString &session)
{
    QLockFile lock(QDir(session).filePath(LockName));
    // Only a lock whose program is gone is stale, however long a run has lasted.
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0))
        return false;
    lock.unlock();
    return true;
}

} // namespace

TRecoveryStore::TRecoveryStore()
    : TRecoveryStore(SettingsFolder::recoveryPath())
{
}

TRecoveryStore::TRecoveryStore(const QString &folder)
    : m_folder(folder)
{
}

TRecoveryStore::~TRecoveryStore()
{
    if (!m_lock)
        return;
    m_lock->unlock();
    // A run that leaves nothing to recover leaves no folder behind; the others stay for the next start.
    QDir(m_session).rmdir(m_session);
}

bool TRecoveryStore::openSession()
{
    if (m_lock)
        return true;
    if (!QDir().mkpath(m_folder))
        return false;
    const QString name = SessionPrefix + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"))
        + QLatin1Char('-') + QString::number(QCoreApplication::applicationPid());
    const QString session = QDir(m_folder).filePath(name);
    if (!QDir().mkpath(session))
        return false;
    auto lock = std::make_unique<QLockFile>(QDir(session).filePath(LockName));
    // Held for the whole run; nobody else may count it stale while the program lives.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return false;
    m_session = session;
    m_lock = std::move(lock);
    return true;
}

QString TRecoveryStore::nextFileName()
{
    QString path;
    do
        path = QDir(m_session).filePath(QStringLiteral("capture-%1.png").arg(++m_count, 4, 10, QLatin1Char('0')));
    while (QFileInfo::exists(path));
    return path;
}

QString TRecoveryStore::keep(const QImage &picture)
{
    if (picture.isNull() || !openSession())
        return QString();
    // Written beside its name, synced and renamed (the image file writer's way): the name only
    // ever stands for a whole picture, and the folder is synced for the new name.
    const QString path = nextFileName();
    QString reason;
    if (!ImageFile::write(picture, path, ImageFile::Format::Png, &reason))
        return QString();
    syncFolder(m_session);
    return path;
}

void TRecoveryStore::forget(const QString &file)
{
    if (file.isEmpty())
        return;
    QFile::remove(file);
    syncFolder(QFileInfo(file).absolutePath());
}

QStringList TRecoveryStore::leftovers() const
{
    QStringList files;
    const QDir root(m_folder);
    const QStringList sessions = root.entryList({SessionPrefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot,
                                                QDir::Name);
    for (const QString &name : sessions) {
        const QString session = root.filePath(name);
        if (session == m_session || !abandoned(session))
            continue;
        // Session folders are named by their start time, and pictures by their number within it.
        const QDir folder(session);
        for (const QString &picture : folder.entryList({PictureFilter}, QDir::Files, QDir::Name))
            files << folder.filePath(picture);
    }
    return files;
}

QStringList TRecoveryStore::adopt(const QStringList &files)
{
    QStringList adopted;
    if (!openSession())
        return adopted;
    for (const QString &file : files) {
        const QString path = nextFileName();
        if (QFile::rename(file, path))
            adopted << path;
    }
    syncFolder(m_session);
    discard({});
    return adopted;
}

void TRecoveryStore::discard(const QStringList &files)
{
    for (const QString &file : files)
        QFile::remove(file);
    // Earlier runs' folders with no picture left go, with their stale lock files.
    const QDir root(m_folder);
    for (const QString &name : root.entryList({SessionPrefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString session = root.filePath(name);
        if (session == m_session || !QDir(session).entryList({PictureFilter}, QDir::Files).isEmpty())
            continue;
        if (!abandoned(session))
            continue;
        QDir folder(session);
        for (const QString &rest : folder.entryList(QDir::Files | QDir::Hidden))
            folder.remove(rest);
        root.rmdir(name);
    }
    syncFolder(m_folder);
}

void TRecoveryStore::writeFields(QImage &picture, const NameFields &fields)
{
    picture.setText(PictureText::Serial, QString::number(fields.serialNumber));
    picture.setText(PictureText::Model, fields.model);
    picture.setText(PictureText::Port, fields.port);
    picture.setText(PictureText::Captured,
                    fields.capturedAt.toOffsetFromUtc(fields.capturedAt.offsetFromUtc()).toString(Qt::ISODate));
    picture.setText(PictureText::Number, QString::number(fields.captureNumber));
}

std::optional<NameFields> TRecoveryStore::fieldsOf(const QImage &picture)
{
    bool serialRead = false;
    NameFields fields;
    fields.serialNumber = picture.text(PictureText::Serial).toInt(&serialRead);
    fields.capturedAt = QDateTime::fromString(picture.text(PictureText::Captured), Qt::ISODate);
    if (!serialRead || !fields.capturedAt.isValid())
        return std::nullopt;
    fields.model = picture.text(PictureText::Model);
    fields.port = picture.text(PictureText::Port);
    fields.captureNumber = qMax(1, picture.text(PictureText::Number).toInt());
    return fields;
}
