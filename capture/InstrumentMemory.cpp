#include "InstrumentMemory.h"

#include "qzMeterCOM.h"

#include "ComPort.h"

#include <QBuffer>
#include <stdexcept>

namespace {

// Layout of one directory entry and of the screen description, by byte offset.
namespace EntryField {
constexpr int Address = 0, ElementSize = 4, Count = 6, Value8 = 8, Value10 = 10, Value14 = 14,
              Value16 = 16, Value18 = 18;
}
namespace ScreenField {
constexpr int Width = 4, Height = 6, Orientation = 8, ImageAddress = 18;
}
constexpr int DescriptorAddress = 0, DescriptorElementSize = 4, DescriptorCount = 6;
constexpr int ColourBytes = 3;
constexpr int PaletteDescriptorIndex = 1;   // element of the palette entry's item
constexpr int PaletteColoursIndex = 2;      // element of the item found through it
constexpr int DarkGreyIndex = 3;
constexpr QRgb DarkGrey = 0xFF3C3C3Cu;      // (60, 60, 60): the instrument's own palette has it

const TPalette Fallback = {
    qRgb(0, 0, 0),     qRgb(0, 0, 255),   qRgb(0, 255, 0),   qRgb(0, 255, 255),
    qRgb(255, 0, 0),   qRgb(255, 0, 255), qRgb(255, 255, 0), qRgb(255, 255, 255),
};

}  // namespace

quint16 TInstrumentMemory::BlockCount(quint32 size, quint16 block)
{
    if (block == 0)
        throw std::overflow_error("block size 0");
    quint32 quotient = size / block;
    if (size % block != 0)
        ++quotient;
    // The instrument counts blocks in 16 bits; the quotient alone must fit.
    if (size / block > 0xFFFFu || quotient > 0xFFFFu)
        throw std::overflow_error("too many blocks");
    return quint16(quotient);
}

quint32 TInstrumentMemory::GetBigEndian(const QByteArray &data, qint64 offset, int count)
{
    if (count < 1 || offset < 0 || offset + count > data.size())
        return 0;
    quint32 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | quint8(data.at(offset + i));
    return value;
}

quint16 TInstrumentMemory::GetWord(const QByteArray &data, qint64 offset)
{
    return quint16(GetBigEndian(data, offset, 2));
}

QRgb TInstrumentMemory::GetColor(const QByteArray &data, qint64 offset)
{
    if (offset < 0 || offset + ColourBytes > data.size())
        return qRgb(0, 0, 0);
    return qRgb(quint8(data.at(offset)), quint8(data.at(offset + 1)), quint8(data.at(offset + 2)));
}

const TPalette &TInstrumentMemory::FallbackPalette()
{
    return Fallback;
}

bool TInstrumentMemory::ReadDirectoryAddress()
{
    char pointer[4] = {};
    if (m_link.ReadMemoryBuffer(DirectoryPointerAddress, sizeof pointer, pointer) != sizeof pointer)
        return false;
    DirectoryAddress = GetBigEndian(QByteArray(pointer, sizeof pointer), 0, sizeof pointer);
    return true;
}

bool TInstrumentMemory::ReadDirectory()
{
    if (!ReadDirectoryAddress())
        return false;
    Directory.clear();

    const quint32 length = quint32(BlockCount(DirectoryEntries * DirectoryEntrySize, BlockSize)) * BlockSize;
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    if (m_link.ReadMemory(DirectoryAddress, length, stream) != qint64(length))
        return false;

    QByteArray data = stream.data();
    if (data.size() < qint64(length))
        data.append(int(length - data.size()), '\0');  // missing bytes count as 0
    Directory.reserve(DirectoryEntries);
    for (int i = 0; i < DirectoryEntries; ++i) {
        const qint64 at = qint64(i) * DirectoryEntrySize;
        TDirectoryEntry entry;
        entry.Address = GetBigEndian(data, at + EntryField::Address, 4);
        entry.ElementSize = GetWord(data, at + EntryField::ElementSize);
        entry.Count = GetWord(data, at + EntryField::Count);
        entry.Value10 = GetBigEndian(data, at + EntryField::Value10, 4);
        entry.Value14 = GetWord(data, at + EntryField::Value14);
        entry.Value16 = GetWord(data, at + EntryField::Value16);
        entry.Value8 = GetWord(data, at + EntryField::Value8);
        entry.Value18 = GetWord(data, at + EntryField::Value18);
        Directory.append(entry);
    }
    return true;
}

bool TInstrumentMemory::LoadEntry(TPresetData &item, int index)
{
    try {
        if (index < 0 || index >= Directory.size())
            return false;
        const TDirectoryEntry &entry = Directory.at(index);
        item.Address = entry.Address;
        item.ElementSize = entry.ElementSize;
        item.Count = entry.Count;
        item.Value16 = entry.Value16;
        item.Value14 = entry.Value14;
        item.Value10 = entry.Value10;

        const quint32 size = quint32(entry.ElementSize) * entry.Count;
        const quint32 length = quint32(BlockCount(size, BlockSize)) * BlockSize;
        item.Data = QByteArray(qsizetype(length), '\0');
        // A failed read leaves the data all zero, which the callers take as empty fields.
        if (length > 0)
            m_link.ReadMemoryBuffer(item.Address, length, item.Data.data());
        return true;
    } catch (const ELineLost &) {
        throw;
    } catch (...) {
        return false;
    }
}

void TInstrumentMemory::LoadData(TPresetData &item)
{
    try {
        if (item.ElementSize < 0 || item.Count < 0) {
            item.Data.clear();
            return;
        }
        const quint64 size = quint64(item.ElementSize) * quint64(item.Count);
        // The same bound as the block reads: an item described beyond it is taken as empty
        // rather than allocating and requesting gigabytes.
        BlockCount(quint32(qMin<quint64>(size, 0xFFFFFFFFu)), BlockSize);
        item.Data = QByteArray(qsizetype(size), '\0');
        if (size > 0)
            m_link.ReadMemoryBuffer(item.Address, quint32(size), item.Data.data());
    } catch (const ELineLost &) {
        throw;
    } catch (...) {
        item.Data.clear();
    }
}

bool TInstrumentMemory::LoadSubEntry(const TPresetData &source, TPresetData &dest, int index)
{
    try {
        const qint64 p = qint64(index) * source.ElementSize;
        if (p < 0 || p + DescriptorCount > source.Data.size())
            return false;
        dest.Address = GetBigEndian(source.Data, p + DescriptorAddress, 4);
        dest.ElementSize = GetWord(source.Data, p + DescriptorElementSize);
        dest.Count = GetWord(source.Data, p + DescriptorCount);
        return true;
    } catch (...) {
        return false;
    }
}

bool TInstrumentMemory::ReadScreenInfo()
{
    // The records live for this call only; a failed step leaves zeros, which the checks of the
    // capture turn into a refused screen description.
    TPresetData entry;
    LoadEntry(entry, ScreenEntry);
    TPresetData description;
    LoadSubEntry(entry, description, 0);
    LoadData(description);

    ScreenWidth = GetWord(description.Data, ScreenField::Width);
    ScreenHeight = GetWord(description.Data, ScreenField::Height);
    ScreenOrientation = GetWord(description.Data, ScreenField::Orientation);
    ImageAddress = GetBigEndian(description.Data, ScreenField::ImageAddress, 4);

    ReadPalette();
    return true;
}

ScreenDescription TInstrumentMemory::screenDescription() const
{
    return {ScreenWidth, ScreenHeight, ScreenOrientation, ImageAddress, Palette};
}

bool TInstrumentMemory::ReadPalette()
{
    TPresetData item;
    LoadEntry(item, PaletteEntry);
    TPresetData descriptor;
    LoadSubEntry(item, descriptor, PaletteDescriptorIndex);
    LoadData(descriptor);
    LoadSubEntry(descriptor, item, PaletteColoursIndex);
    LoadData(item);

    for (int k = 0; k < int(Palette.size()); ++k)
        Palette[k] = GetColor(item.Data, qint64(ColourBytes) * k);
    if (Palette[DarkGreyIndex] != DarkGrey)
        Palette = Fallback;
    return true;
}
