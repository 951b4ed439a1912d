#pragma once

#include <QByteArray>
#include <QMap>
#include <QtGlobal>

// The instrument's address space as far as anything was put there; every other byte reads 0.
class SparseMemory
{
public:
    void write(quint32 address, const QByteArray &bytes);
    void writeBigEndian(quint32 address, quint32 value, int width);
    QByteArray read(quint32 address, quint32 length) const;

private:
    QMap<quint32, QByteArray> m_regions;  // by start address; regions never overlap
};
