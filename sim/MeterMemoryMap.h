#pragma once

#include "MeterScreen.h"
#include "SparseMemory.h"
#include "VirtualMeterOptions.h"

// The virtual instrument's memory as a capture reads it: the directory pointer, the 33-entry
// directory, the chains that lead to the screen description and the palette, the DSP status
// word and the stored screen image.
class MeterMemoryMap
{
public:
    static constexpr quint32 DirectoryPointerAddress = 0x1C480;
    static constexpr quint32 DspStatusAddress = 0x1C496;
    static constexpr quint32 DirectoryAddress = 0x80000;
    static constexpr int DirectoryEntries = 33;
    static constexpr int DirectoryEntrySize = 20;
    static constexpr int ScreenEntry = 31;
    static constexpr int PaletteEntry = 27;
    static constexpr quint32 ImageOffset = 1440;        // the data starts this far before ImageAddress
    static constexpr quint32 ImageDataAddress = 0x100000;

    MeterMemoryMap(const VirtualMeterOptions &options, const MeterScreen &screen);

    const SparseMemory &memory() const { return m_memory; }
    // Where the image data starts: this far before where the screen description says it lies.
    quint32 imageReadAddress() const { return m_imageAddress - ImageOffset; }

private:
    void writeDescriptor(quint32 at, quint32 address, quint16 elementSize, quint16 count);
    void writeFiller(quint32 at, int length, quint8 seed);

    SparseMemory m_memory;
    quint32 m_imageAddress = 0;  // ImageAddress as the screen description gives it
};
