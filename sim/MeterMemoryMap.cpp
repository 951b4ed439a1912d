#include "MeterMemoryMap.h"

namespace {

// Where the items of the two chains lie, and their element sizes. Sizes other than 8 make a
// reader that assumes 8-byte elements fetch the wrong descriptor.
constexpr quint32 ScreenListAddress = 0x82000;      // entry 31: element 0 describes the screen description
constexpr quint16 ScreenListElementSize = 12;
constexpr quint16 ScreenListCount = 2;
constexpr quint32 ScreenInfoAddress = 0x83000;
constexpr quint16 ScreenInfoElementSize = 24;
constexpr quint16 ScreenInfoCount = 1;
constexpr quint32 ColourListAddress = 0x84000;      // entry 27: element 1 describes the colour table list
constexpr quint16 ColourListElementSize = 10;
constexpr quint16 ColourListCount = 3;
constexpr quint32 ColourTablesAddress = 0x85000;    // element 2 describes the palette
constexpr quint16 ColourTablesElementSize = 12;
constexpr quint16 ColourTablesCount = 4;
constexpr quint32 PaletteAddress = 0x86000;
constexpr quint16 PaletteElementSize = 3;
constexpr quint16 PaletteCount = 8;
constexpr quint32 OtherItemsAddress = 0x90000;      // the 31 entries nobody uses

// Screen description fields, by offset.
constexpr quint32 WidthOffset = 4;
constexpr quint32 HeightOffset = 6;
constexpr quint32 OrientationOffset = 8;
constexpr quint32 ImageAddressOffset = 18;

// What AbsurdGeometry puts in the screen description.
constexpr quint16 AbsurdSize = 65535;
constexpr quint32 AbsurdImageAddress = 0x10;

}  // namespace

MeterMemoryMap::MeterMemoryMap(const VirtualMeterOptions &options, const MeterScreen &screen)
{
    m_memory.writeBigEndian(DirectoryPointerAddress, DirectoryAddress, 4);
    m_memory.writeBigEndian(DspStatusAddress, options.dspStatus, 2);

    // The directory, then junk up to the end of its last 128-byte block.
    for (int i = 0; i < DirectoryEntries; ++i) {
        const quint32 entry = DirectoryAddress + quint32(i * DirectoryEntrySize);
        quint32 address = OtherItemsAddress + quint32(i) * 0x100;
        quint16 elementSize = quint16(4 + i % 5);
        quint16 count = quint16(1 + i % 7);
        if (i == ScreenEntry) {
            address = ScreenListAddress;
            elementSize = ScreenListElementSize;
            count = ScreenListCount;
        } else if (i == PaletteEntry) {
            address = ColourListAddress;
            elementSize = ColourListElementSize;
            count = ColourListCount;
        } else {
            writeFiller(address, elementSize * count, quint8(i));
        }
        writeDescriptor(entry, address, elementSize, count);
        writeFiller(entry + 8, DirectoryEntrySize - 8, quint8(0x40 + i));
    }
    writeFiller(DirectoryAddress + DirectoryEntries * DirectoryEntrySize, 128, 0x77);

    // Entry 31: element 0 describes the screen description.
    writeFiller(ScreenListAddress, 128, 0x11);
    writeDescriptor(ScreenListAddress, ScreenInfoAddress, ScreenInfoElementSize, ScreenInfoCount);
    writeDescriptor(ScreenListAddress + ScreenListElementSize, 0x0BADBAD0, 8, 1);

    quint16 width = quint16(screen.storedWidth());
    quint16 height = quint16(screen.storedHeight());
    quint32 described = ImageDataAddress + ImageOffset;
    if (options.has(MeterFault::AbsurdGeometry)) {
        width = AbsurdSize;
        height = AbsurdSize;
        described = AbsurdImageAddress;
    }
    writeFiller(ScreenInfoAddress, ScreenInfoElementSize + 32, 0x22);
    m_memory.writeBigEndian(ScreenInfoAddress + WidthOffset, width, 2);
    m_memory.writeBigEndian(ScreenInfoAddress + HeightOffset, height, 2);
    m_memory.writeBigEndian(ScreenInfoAddress + OrientationOffset, screen.orientation(), 2);
    m_memory.writeBigEndian(ScreenInfoAddress + ImageAddressOffset, described, 4);
    m_imageAddress = described;

    // Entry 27: element 1 describes the colour tables, whose element 2 describes the palette.
    writeFiller(ColourListAddress, 128, 0x33);
    writeDescriptor(ColourListAddress, 0x0BADBAD0, 8, 1);
    writeDescriptor(ColourListAddress + ColourListElementSize, ColourTablesAddress, ColourTablesElementSize, ColourTablesCount);
    writeFiller(ColourTablesAddress, ColourTablesElementSize * ColourTablesCount + 16, 0x44);
    writeDescriptor(ColourTablesAddress + 2 * ColourTablesElementSize, PaletteAddress, PaletteElementSize, PaletteCount);
    QByteArray palette;
    for (QRgb colour : screen.storedPalette()) {
        palette.append(char(qRed(colour)));
        palette.append(char(qGreen(colour)));
        palette.append(char(qBlue(colour)));
    }
    writeFiller(PaletteAddress, 128, 0x55);
    m_memory.write(PaletteAddress, palette);

    m_memory.write(ImageDataAddress, screen.stripData());
}

void MeterMemoryMap::writeDescriptor(quint32 at, quint32 address, quint16 elementSize, quint16 count)
{
    m_memory.writeBigEndian(at, address, 4);
    m_memory.writeBigEndian(at + 4, elementSize, 2);
    m_memory.writeBigEndian(at + 6, count, 2);
}

void MeterMemoryMap::writeFiller(quint32 at, int length, quint8 seed)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char(0x80 | ((seed * 13 + i * 29) & 0x7F));
    m_memory.write(at, bytes);
}
