#pragma once

#include <QDir>
#include <QTemporaryDir>
#include <QtGlobal>

#include "FolderFiles.h"

// A fresh settings folder for one test program, so nothing touches the user's real settings.
class TestHome
{
public:
    TestHome()
    {
        qputenv("SNAPLOOM_HOME", m_dir.path().toLocal8Bit());
        // Copies of dragged pictures go to the cache folder; the user's own stays untouched.
        qputenv("XDG_CACHE_HOME", (m_dir.path() + QStringLiteral("/cache")).toLocal8Bit());
        QDir(m_dir.path()).mkpath(QStringLiteral("ports"));
    }
    QString path() const { return m_dir.path(); }
    // The settings file the programs read at start, replaced by text.
    QString settingsFile() const { return m_dir.filePath(QStringLiteral("CorvaneSnaploom.INI")); }
    bool writeSettings(const QByteArray &text) const { return writeFile(settingsFile(), text); }

private:
    QTemporaryDir m_dir;
};

// Where the build put the programs (corvane-virtual-meter, snaploom, corvane-snaploom).
inline QString testBinary(const QString &name)
{
    return QString::fromLocal8Bit(qgetenv("SNAPLOOM_TEST_BIN")) + QLatin1Char('/') + name;
}
