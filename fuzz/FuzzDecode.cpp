// A whole capture of a screen whose description and stored bytes come from the input: the
// geometry check, the DSP status, the optional halt, the image read, the strip decode and the
// turn upright. A capture ends with a picture of the described size or a failure, and an
// instrument that took the halt is restarted.
//
// Input: width, height, orientation (2 bytes each), image address (4), DSP status (2), switches
// (1: bit 0 freeze, bit 1 halt refused, bit 2 restart refused, bit 3 image read ends "OK", CR,
// LF, bit 4 the image read falls short by the next number), that number (2 bytes, signed; a
// short read waits out the link's whole timeout, so it is not the rule), then the stored image.
//
// A width the capture takes (8 to 2048) is folded to at most 71 pixels, eight strips: the decode
// runs the same code for every strip, and a picture of 2048 columns costs an input a read of
// 393216 bytes and a 4 MiB image, which slowed the whole fuzzer to a crawl. Widths it refuses
// stay as they are, so the fuzzer still meets both edges of the geometry check; heights stay
// whole, up to the 512 rows that fill a strip. The widest screen is a case of the capture tests.
// Likewise the stored image is kept clear of the directory, the screen description and the
// colour chain: bytes stored over them let the input describe items of megabytes, whose reads
// then took most of the time, and those records are fuzz_memory's to vary. An image address the
// capture refuses (below the 1440 bytes before the pixels) stays as it is.

#include "FuzzInput.h"
#include "ScreenCapture.h"
#include "ScriptedMeter.h"

#include <cstdlib>

namespace {

constexpr quint16 NarrowestWidth = 8;     // one strip
constexpr quint16 WidestWidth = 2048;     // the widest screen the capture takes
constexpr quint16 FoldedWidths = 64;      // 8 to 71 pixels

quint16 foldedWidth(quint16 width)
{
    if (width < NarrowestWidth || width > WidestWidth)
        return width;
    return quint16(NarrowestWidth + (width - NarrowestWidth) % FoldedWidths);
}

constexpr quint32 ImageOffset = 1440;     // the stored image starts this far before the pixels
constexpr quint32 PictureArea = 0x86000;  // past the last of the scripted meter's records

quint32 movedImageAddress(quint32 address)
{
    if (address < ImageOffset || address - ImageOffset >= PictureArea)
        return address;
    return address + PictureArea;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    ScriptedMeter meter;
    const quint16 width = foldedWidth(input.word());
    const quint16 height = input.word();
    const quint16 orientation = input.word();
    const quint32 imageAddress = movedImageAddress(input.dword());
    meter.setDescription(width, height, orientation, imageAddress);
    meter.dspStatus = input.word();
    const quint8 switches = input.byte();
    const bool freeze = switches & 1;
    meter.haltAck = !(switches & 2);
    meter.restartAck = !(switches & 4);
    const quint32 imageStart = imageAddress - ImageOffset;
    if (switches & 8)
        meter.swappedAt.insert(imageStart);
    const qint16 fewer = qint16(input.word());
    if (switches & 16)
        meter.shortenAt.insert(imageStart, fewer);
    meter.put(imageStart, input.rest());

    ScreenCapture capture(*meter.link, meter.memory);
    capture.haltPauseMs = 0;
    capture.restartPauseMs = 0;
    const CaptureResult result = capture.run([freeze] { return freeze; });

    if (result.outcome == CaptureOutcome::Captured) {
        const QSize stored(width, height);
        if (result.image.size() != (orientation == 0 ? stored.transposed() : stored))
            std::abort();
    }
    // An instrument that took the halt is restarted on every way out (a failed capture then also
    // leaves command mode, so the restart need not be the last command).
    const qsizetype halt = meter.commands.lastIndexOf(QStringLiteral("stop"));
    if (meter.haltAck && halt >= 0 && meter.commands.indexOf(QStringLiteral("start"), halt) < 0)
        std::abort();
    return 0;
}
