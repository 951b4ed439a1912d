#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// A small file system of its own (a 64 KiB tmpfs) that is full or read-only, for writes that
// must fail as they do on a real disk. Mounting needs the right to mount (root here, often not
// in CI): available() says whether it could be made, so a test falls back or skips.
class SmallFileSystem
{
public:
    enum class Kind { Full, ReadOnly };
    static inline const QString FillerName = QStringLiteral("filler");

    explicit SmallFileSystem(Kind kind)
    {
        const QByteArray path = QFile::encodeName(m_dir.path());
        const unsigned long flags = MS_NOSUID | MS_NODEV | (kind == Kind::ReadOnly ? MS_RDONLY : 0);
        if (!m_dir.isValid() || ::mount("snaploom-test", path.constData(), "tmpfs", flags, "size=64k,mode=0777") != 0)
            return;
        m_mounted = true;
        // Filled up to the last byte: whatever is written next fails for want of space.
        if (kind == Kind::Full) {
            QFile filler(QDir(m_dir.path()).filePath(FillerName));
            if (filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
                const QByteArray block(4096, '\0');
                while (filler.write(block) > 0) {
                }
            }
        }
    }
    ~SmallFileSystem()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;

    bool available() const { return m_mounted; }
    // The system's always-full device, where it is one; empty where it is not, so no test
    // ever writes over a plain file of that name.
    static QString fullDevice()
    {
        struct stat status {};
        return ::stat("/dev/full", &status) == 0 && S_ISCHR(status.st_mode) ? QStringLiteral("/dev/full") : QString();
    }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return QDir(m_dir.path()).filePath(name); }
    // What is in it: the filler alone while nothing was left behind.
    QStringList entries() const
    {
        return QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};
