#include "MeterMemoryMap.h"

namespace {

// An item as a descriptor gives it: where it lies, its element size and its element count.
struct Item
{
    quint32 address;
    quint16 elementSize;
    quint16 count;
};

// The items of the two chains. Element sizes other than 8 make a reader that assumes 8-byte
// elements fetch the wrong descriptor.
constexpr Item ScreenList{0x82000, 12, 2};     // entry 31: element 0 describes the screen description
constexpr Item ScreenInfo{0x83000, 24, 1};
constexpr Item ColourList{0x84000, 10, 3};     // entry 27: element 1 describes the colour table list
constexpr Item ColourTables{0x85000, 12, 4};   // element 2 describes the palette
constexpr Item PaletteItem{0x86000, 3, 8};
constexpr quint32 OtherItemsAddress = 0x90000; // the 31 entries nobody uses

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
        Item item{OtherItemsAddress + quint32(i) * 0x100, quint16(4 + i % 5), quint16(1 + i % 7)};
        if (i == ScreenEntry)
            item = ScreenList;
        else if (i == PaletteEntry)
            item = ColourList;
        else
            writeFiller(item.address, item.elementSize * item.count, quint8(i));
        writeDescriptor(entry, item.address, item.elementSize, item.count);
        writeFiller(entry + 8, DirectoryEntrySize - 8, quint8(0x40 + i));
    }
    writeFiller(DirectoryAddress + DirectoryEntries * DirectoryEntrySize, 128, 0x77);

    // Entry 31: element 0 describes the screen description.
    writeFiller(ScreenList.address, 128, 0x11);
    writeDescriptor(ScreenList.address, ScreenInfo.address, ScreenInfo.elementSize, ScreenInfo.count);
    writeDescriptor(ScreenList.address + ScreenList.elementSize, 0x0BADBAD0, 8, 1);

    quint16 width = quint16(screen.storedWidth());
    quint16 height = quint16(screen.storedHeight());
    quint32 described = ImageDataAddress + ImageOffset;
    if (options.has(MeterFault::AbsurdGeometry)) {
        width = AbsurdSize;
        height = AbsurdSize;
        described = AbsurdImageAddress;
    }
    writeFiller(ScreenInfo.address, ScreenInfo.elementSize + 32, 0x22);
    m_memory.writeBigEndian(ScreenInfo.address + WidthOffset, width, 2);
    m_memory.writeBigEndian(ScreenInfo.address + HeightOffset, height, 2);
    m_memory.writeBigEndian(ScreenInfo.address + OrientationOffset, screen.orientation(), 2);
    m_memory.writeBigEndian(ScreenInfo.address + ImageAddressOffset, described, 4);
    m_imageAddress = described;

    // Entry 27: element 1 describes the colour tables, whose element 2 describes the palette.
    writeFiller(ColourList.address, 128, 0x33);
    writeDescriptor(ColourList.address, 0x0BADBAD0, 8, 1);
    writeDescriptor(ColourList.address + ColourList.elementSize, ColourTables.address, ColourTables.elementSize,
                    ColourTables.count);
    writeFiller(ColourTables.address, ColourTables.elementSize * ColourTables.count + 16, 0x44);
    writeDescriptor(ColourTables.address + 2 * ColourTables.elementSize, PaletteItem.address, PaletteItem.elementSize,
                    PaletteItem.count);
    QByteArray palette;
    for (QRgb colour : screen.storedPalette()) {
        palette.append(char(qRed(colour)));
        palette.append(char(qGreen(colour)));
        palette.append(char(qBlue(colour)));
    }
    writeFiller(PaletteItem.address, 128, 0x55);
    m_memory.write(PaletteItem.address, palette);

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
