#pragma once

#include "ComPort.h"

#include <QByteArray>
#include <QMetaObject>
#include <QStringList>
#include <functional>

// A port whose arrivals a test decides: each deliver() is one receive event of its own,
// handed over only while the link processes events, as the real port does.
class ScriptedComPort : public TCustomComPort
{
public:
    void setPortName(const QString &name) override { m_name = name; }
    QString portName() const override { return m_name; }
    void open() override { m_open = true; }
    void close() override
    {
        m_open = false;
        m_pending.clear();
    }
    bool connected() const override { return m_open; }
    void clearBuffers(bool, bool) override
    {
        if (!m_open)
            throw EComPort(QStringLiteral("PurgeComm function failed"), 9);
        m_pending.clear();
        ++clears;
    }
    qint64 writeText(const QByteArray &data) override
    {
        if (!m_open)
            throw EComPort(QStringLiteral("WriteFile function failed"), 9);
        written += data;
        writes.append(data);
        if (onWrite)
            onWrite(data);
        return data.size() - shortWriteBy;
    }
    qint64 readText(QByteArray &data, qint64 count) override
    {
        if (failReads)
            throw EComPort(QStringLiteral("ReadFile function failed"), 5);
        data = m_pending.left(int(count));
        m_pending.remove(0, data.size());
        return data.size();
    }

    // Queues bytes that arrive together in one receive event.
    void deliver(const QByteArray &bytes)
    {
        m_pending += bytes;
        const int count = bytes.size();
        QMetaObject::invokeMethod(
            this,
            [this, count] {
                if (m_open && !m_pending.isEmpty())
                    emit rxChar(qMin(count, int(m_pending.size())));
            },
            Qt::QueuedConnection);
    }

    std::function<void(const QByteArray &)> onWrite;  // answers what the link writes
    QByteArray written;
    QList<QByteArray> writes;
    int clears = 0;
    int shortWriteBy = 0;
    bool failReads = false;

private:
    QString m_name;
    QByteArray m_pending;
    bool m_open = true;
};
