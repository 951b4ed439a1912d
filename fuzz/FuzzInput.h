#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>

// A fuzzer's input, read front to back. Past its end every number is 0 and every piece empty,
// so any input, however short, describes a whole run.
class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, size_t size)
        : m_data(reinterpret_cast<const char *>(data)), m_size(qsizetype(size))
    {
    }

    bool atEnd() const { return m_at >= m_size; }
    quint8 byte() { return atEnd() ? 0 : quint8(m_data[m_at++]); }
    quint16 word() { return quint16(byte() << 8 | byte()); }                 // big-endian
    quint32 dword() { return quint32(word()) << 16 | word(); }              // big-endian
    QByteArray bytes(qsizetype count)
    {
        const qsizetype n = qBound<qsizetype>(0, count, m_size - m_at);
        const QByteArray piece(m_data + m_at, n);
        m_at += n;
        return piece;
    }
    QByteArray rest() { return bytes(m_size - m_at); }

private:
    const char *m_data;
    qsizetype m_size;
    qsizetype m_at = 0;
};
