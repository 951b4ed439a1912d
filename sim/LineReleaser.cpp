#include "LineReleaser.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int FallbackCheckMs = 500;

}  // namespace

LineReleaser::LineReleaser(int slave, const QString &devicePath, QObject *parent)
    : QObject(parent), m_slave(slave), m_devicePath(devicePath)
{
    struct stat info {};
    if (::fstat(m_slave, &info) == 0) {
        m_device = info.st_dev;
        m_inode = info.st_ino;
        m_rdev = info.st_rdev;
    }
    // Every close of a descriptor of the node, a dead program's included, is reported.
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify >= 0
        && ::inotify_add_watch(m_inotify, QFile::encodeName(devicePath).constData(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_inotify, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
            char events[4096];
            while (::read(m_inotify, events, sizeof events) > 0) {
            }
            releaseIfOrphaned();
        });
        return;
    }
    m_fallback = new QTimer(this);
    connect(m_fallback, &QTimer::timeout, this, &LineReleaser::releaseIfOrphaned);
    m_fallback->start(FallbackCheckMs);
}

LineReleaser::~LineReleaser()
{
    m_notifier.reset();
    if (m_inotify >= 0)
        ::close(m_inotify);
}

bool LineReleaser::heldExclusively(int fd)
{
    int exclusive = 0;
    return ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

void LineReleaser::releaseIfOrphaned()
{
    if (heldExclusively(m_slave) && !lockedByAnyone() && !openElsewhere())
        ::ioctl(m_slave, TIOCNXCL);
}

// Our programs lock the line while they hold it; a lock goes with its program, however it ended.
bool LineReleaser::lockedByAnyone() const
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // "1: FLOCK  ADVISORY  WRITE 14130 00:1a:3 0 EOF"; waiting requests are marked "->".
    const QByteArray node = QByteArray::number(major(m_device), 16).rightJustified(2, '0') + ':'
        + QByteArray::number(minor(m_device), 16).rightJustified(2, '0') + ':' + QByteArray::number(quint64(m_inode));
    while (!locks.atEnd()) {
        const QList<QByteArray> fields = locks.readLine().simplified().split(' ');
        if (!fields.contains("->") && fields.contains(node))
            return true;
    }
    return false;
}

// A program that does not lock the line still holds it while it has it open. The instrument's
// own descriptor does not count; other descriptors of this process do (a test's client).
bool LineReleaser::openElsewhere() const
{
    const QString self = QString::number(::getpid());
    const QString ownDescriptor = QString::number(m_slave);
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &process : processes) {
        if (!process.front().isDigit())
            continue;
        const QString folder = QStringLiteral("/proc/%1/fd").arg(process);
        const QStringList descriptors = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : descriptors) {
            if (process == self && fd == ownDescriptor)
                continue;
            struct stat info {};
            if (::stat(QFile::encodeName(folder + QLatin1Char('/') + fd).constData(), &info) == 0
                && S_ISCHR(info.st_mode) && info.st_rdev == m_rdev)
                return true;
        }
    }
    return false;
}
