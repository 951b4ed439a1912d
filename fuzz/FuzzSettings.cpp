// The settings file from the input: read every key the program reads, write them back, save,
// and read again. Whatever the file holds, the values written are the values read back, and a
// second save of the saved file changes no byte.
//
// Input: a 4-byte number written as the port, then the file's bytes.

#include "FuzzInput.h"
#include "IniSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdlib>

namespace {

// In memory where the system offers it: every save is synced to disk.
QString fileName()
{
    static QTemporaryDir folder(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                    ? QStringLiteral("/dev/shm/snaploom-fuzz-XXXXXX")
                                    : QDir::tempPath() + QStringLiteral("/snaploom-fuzz-XXXXXX"));
    return folder.filePath(QStringLiteral("CorvaneSnaploom.INI"));
}

QByteArray contents(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint32 negated(qint32 value)
{
    return qint32(0u - quint32(value));  // also for the smallest number, which has no opposite
}

void writeKeys(TIniSettings &settings, qint32 port, bool maximized)
{
    settings.writeInteger(QStringLiteral("COM"), QStringLiteral("Port"), port);
    settings.writeBool(QStringLiteral("Options"), QStringLiteral("FreezeImage"), true);
    settings.writeInteger(QStringLiteral("Window"), QStringLiteral("X"), negated(port));
    settings.writeBool(QStringLiteral("Window"), QStringLiteral("Maximized"), maximized);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const qint32 port = qint32(input.dword());
    const bool maximized = port & 1;
    const QString name = fileName();
    {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input.rest()) < 0)
            std::abort();
    }

    TIniSettings settings(name);
    settings.readInteger(QStringLiteral("COM"), QStringLiteral("Port"), 1);
    settings.readBool(QStringLiteral("Options"), QStringLiteral("FreezeImage"), false);
    for (const char *key : {"X", "Y", "Width", "Height"})
        settings.readInteger(QStringLiteral("Window"), QLatin1String(key), 10);
    writeKeys(settings, port, maximized);
    if (!settings.commit())
        std::abort();

    TIniSettings saved(name);
    if (saved.readInteger(QStringLiteral("COM"), QStringLiteral("Port"), ~port) != port
        || !saved.readBool(QStringLiteral("Options"), QStringLiteral("FreezeImage"), false)
        || saved.readInteger(QStringLiteral("Window"), QStringLiteral("X"), ~negated(port)) != negated(port)
        || saved.readBool(QStringLiteral("Window"), QStringLiteral("Maximized"), !maximized) != maximized)
        std::abort();

    const QByteArray first = contents(name);
    writeKeys(saved, port, maximized);
    if (!saved.commit() || contents(name) != first)
        std::abort();
    return 0;
}
