#include "SparseMemory.h"

#include <algorithm>

namespace {

quint64 endOf(quint32 start, const QByteArray &bytes)
{
    return quint64(start) + quint64(bytes.size());
}

}  // namespace

void SparseMemory::write(quint32 address, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    // Merge with every region the new bytes touch, so regions stay disjoint.
    quint64 start = address;
    quint64 end = endOf(address, bytes);
    auto it = m_regions.upperBound(address);
    if (it != m_regions.begin()) {
        auto before = std::prev(it);
        if (endOf(before.key(), before.value()) >= start)
            it = before;
    }
    QByteArray merged;
    QList<quint32> absorbed;
    for (; it != m_regions.end() && it.key() <= end; ++it) {
        start = std::min<quint64>(start, it.key());
        end = std::max<quint64>(end, endOf(it.key(), it.value()));
        absorbed.append(it.key());
    }
    merged = QByteArray(qsizetype(end - start), '\0');
    for (quint32 key : absorbed) {
        const QByteArray &old = m_regions.value(key);
        std::copy(old.begin(), old.end(), merged.begin() + qsizetype(key - start));
        m_regions.remove(key);
    }
    std::copy(bytes.begin(), bytes.end(), merged.begin() + qsizetype(address - start));
    m_regions.insert(quint32(start), merged);
}

void SparseMemory::writeBigEndian(quint32 address, quint32 value, int width)
{
    QByteArray bytes(width, '\0');
    for (int i = 0; i < width; ++i)
        bytes[i] = char(value >> (8 * (width - 1 - i)));
    write(address, bytes);
}

QByteArray SparseMemory::read(quint32 address, quint32 length) const
{
    QByteArray out(qsizetype(length), '\0');
    const quint64 end = quint64(address) + length;
    auto it = m_regions.upperBound(address);
    if (it != m_regions.begin())
        --it;
    for (; it != m_regions.end() && it.key() < end; ++it) {
        const quint64 from = std::max<quint64>(address, it.key());
        const quint64 to = std::min<quint64>(end, endOf(it.key(), it.value()));
        if (from >= to)
            continue;
        std::copy(it.value().begin() + qsizetype(from - it.key()), it.value().begin() + qsizetype(to - it.key()),
                  out.begin() + qsizetype(from - address));
    }
    return out;
}
