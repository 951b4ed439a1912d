// The memory reader on an instrument memory from the input: directory pointer, directory, the
// item chains to the screen description and the palette, with replies that are silent, cut
// short, too long or wrongly ended. Whatever the memory holds, the reader ends with a whole
// directory or none, and with the instrument's palette or the fallback.
//
// Input: records over a memory that starts as a small valid instrument's. Each record is a kind
// (1 byte), an address (4 bytes) and a length (2 bytes): kind 0 stores that many following bytes
// at the address, 1 leaves reads there unanswered, 2 ends them "OK", CR, LF, 3 sends the length
// (taken as signed) fewer bytes.

#include "FuzzInput.h"
#include "ScriptedMeter.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    ScriptedMeter meter;
    while (!input.atEnd()) {
        const quint8 kind = input.byte() % 4;
        const quint32 address = input.dword();
        const quint16 length = input.word();
        switch (kind) {
        case 0:
            meter.put(address, input.bytes(length));
            break;
        case 1:
            meter.silentAt.insert(address);
            break;
        case 2:
            meter.swappedAt.insert(address);
            break;
        default:
            meter.shortenAt.insert(address, qint16(length));
            break;
        }
    }

    TInstrumentMemory &memory = meter.memory;
    if (memory.ReadDirectory()) {
        if (memory.Directory.size() != TInstrumentMemory::DirectoryEntries || !memory.ReadScreenInfo())
            std::abort();
        if (memory.Palette[3] != qRgb(60, 60, 60) && memory.Palette != TInstrumentMemory::FallbackPalette())
            std::abort();
    }
    return 0;
}
