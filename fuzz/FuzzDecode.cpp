// A whole capture of a screen whose description and stored bytes come from the input: the
// geometry check, the DSP status, the optional halt, the image read, the strip decode and the
// turn upright. A capture ends with a picture of the described size or a failure, and an
// instrument that took the halt is restarted.
//
// Input: width, height, orientation (2 bytes each), image address (4), DSP status (2), switches
// (1: bit 0 freeze, bit 1 halt refused, bit 2 restart refused, bit 3 image read ends "OK", CR,
// LF, bit 4 the image read falls short by the next number), that number (2 bytes, signed; a
// short read waits out the link's whole timeout, so it is not the rule), then the stored image.

#include "FuzzInput.h"
#include "ScreenCapture.h"
#include "ScriptedMeter.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    ScriptedMeter meter;
    const quint16 width = input.word();
    const quint16 height = input.word();
    const quint16 orientation = input.word();
    const quint32 imageAddress = input.dword();
    meter.setDescription(width, height, orientation, imageAddress);
    meter.dspStatus = input.word();
    const quint8 switches = input.byte();
    const bool freeze = switches & 1;
    meter.haltAck = !(switches & 2);
    meter.restartAck = !(switches & 4);
    const quint32 imageStart = imageAddress - 1440;
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
    // An instrument that took the halt is restarted on every way out.
    if (meter.haltAck && meter.commands.contains(QStringLiteral("stop")) && meter.commands.constLast() != QLatin1String("start"))
        std::abort();
    return 0;
}
