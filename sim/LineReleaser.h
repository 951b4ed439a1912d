#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <sys/types.h>

class QSocketNotifier;
class QTimer;

// Keeps the instrument's line from staying barred after its program died. A program opens the
// line exclusively (TIOCEXCL) and clears that when it closes the port; a program that is killed
// never clears it, and as the instrument holds its own descriptor of the terminal open, the
// terminal keeps the flag, so the next ordinary user could not open the line. Whenever a
// descriptor of the line is closed, the flag is cleared unless another program still has the
// line locked or open.
class LineReleaser : public QObject
{
    Q_OBJECT
public:
    // slave: the instrument's own descriptor of the terminal's slave side, at devicePath.
    LineReleaser(int slave, const QString &devicePath, QObject *parent = nullptr);
    ~LineReleaser() override;

    // Whether the terminal behind fd is held exclusively.
    static bool heldExclusively(int fd);

private:
    void releaseIfOrphaned();
    bool lockedByAnyone() const;
    bool openElsewhere() const;

    int m_slave = -1;
    QString m_devicePath;
    dev_t m_device = 0;   // the node's file system and inode, as /proc/locks names it
    ino_t m_inode = 0;
    dev_t m_rdev = 0;     // the terminal itself, as other processes' descriptors show it
    int m_inotify = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer *m_fallback = nullptr;  // without inotify the line is looked at now and then
};
