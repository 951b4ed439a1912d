#include "ScreenCapture.h"

#include "ComPort.h"
#include "DspHalt.h"
#include "InstrumentMemory.h"
#include "ScreenDecoder.h"
#include "ScreenImage.h"
#include "qzMeterCOM.h"

#include <QBuffer>
#include <utility>

namespace {

constexpr int RefusingDspStatus = 17;   // the instrument will not give its picture

void say(const CaptureListener &listener, const QString &text)
{
    if (listener.status)
        listener.status(text);
}

// Events reach the caller with the result, once the instrument is restored; here they are only
// noted.
void note(CaptureResult &result, CaptureEvent event)
{
    result.events.append(event);
}

// Lends the link's progress indicator to the listener for the image read, and always pairs
// the start of the progress with its end. The read ends with the indicator full, whatever
// the link's last poll reported.
class ProgressScope
{
public:
    ProgressScope(TqzMeterCom &link, const CaptureListener &listener, qint64 maximum)
        : m_link(link), m_listener(listener), m_previous(std::move(link.BytesArrived)), m_maximum(maximum)
    {
        if (m_listener.progressStarted)
            m_listener.progressStarted(maximum);
        m_link.BytesArrived = [this](qint64 step) {
            m_reported += step;
            if (m_listener.progressStep)
                m_listener.progressStep(step);
            // Until the read ends, the link's receive buffer holds exactly the reply so far.
            if (step > 0 && m_listener.imageBytes)
                m_listener.imageBytes(m_link.RxBuffer);
        };
    }
    ~ProgressScope()
    {
        m_link.BytesArrived = std::move(m_previous);
        if (m_listener.progressStep && m_reported < m_maximum)
            m_listener.progressStep(m_maximum - m_reported);
        if (m_listener.progressFinished)
            m_listener.progressFinished();
    }
    ProgressScope(const ProgressScope &) = delete;
    ProgressScope &operator=(const ProgressScope &) = delete;

private:
    TqzMeterCom &m_link;
    const CaptureListener &m_listener;
    std::function<void(qint64)> m_previous;
    qint64 m_maximum = 0;
    qint64 m_reported = 0;
};

// The widest stored screen taken: 256 strips, a read of 393216 bytes (about 7 minutes on the line)
// and a 4 MiB picture. The instrument's own screens are at most 480 pixels wide; a description of
// 65535 would ask for a 12 MiB read and a 128 MiB picture.
constexpr quint16 MaxScreenWidth = 2048;

// Whether the screen description can be read at all: at least one whole strip and no more than
// MaxScreenWidth, 1 to 512 rows, and the pixel data inside the address space.
bool geometryUsable(const ScreenDescription &screen)
{
    return screen.width / ScreenLayout::StripWidth > 0 && screen.width <= MaxScreenWidth && screen.height > 0
           && screen.height <= ScreenLayout::MaxRows && screen.imageAddress >= ScreenLayout::ImageOffset;
}

}  // namespace

ScreenCapture::ScreenCapture(TqzMeterCom &link, TInstrumentMemory &memory)
    : m_link(link), m_memory(memory)
{
}

CaptureResult ScreenCapture::run(const std::function<bool()> &freezeOption, const CaptureListener &listener)
{
    CaptureResult result;
    m_haltSent = false;
    try {
        result.outcome = runSteps(result, freezeOption, listener);
    } catch (const ELineLost &lost) {
        result.outcome = CaptureOutcome::LineLost;
        result.errorText = lost.text();
        result.image = QImage();
    }
    restoreAfterFailure(result);
    return result;
}

// The DSP guard has restarted the instrument by now. A capture that failed after the halt also
// gives the instrument back to its user at once: the message that follows may stand for hours,
// and the next command enters command mode again by itself.
void ScreenCapture::restoreAfterFailure(CaptureResult &result)
{
    if (!m_haltSent || result.outcome == CaptureOutcome::Captured || !m_link.IsConnected() || !m_link.CommandMode)
        return;
    try {
        m_link.SetCommandMode(false);
    } catch (const ELineLost &lost) {
        result.outcome = CaptureOutcome::LineLost;
        result.errorText = lost.text();
    } catch (...) {
        // The failure already being reported is the one that matters.
    }
}

CaptureOutcome ScreenCapture::runSteps(CaptureResult &result, const std::function<bool()> &freezeOption,
                                       const CaptureListener &listener)
{
    if (m_link.CancelRequested())
        return CaptureOutcome::Cancelled;
    const bool described = m_memory.ReadDirectory() && m_memory.ReadScreenInfo();
    if (m_link.CancelRequested())
        return CaptureOutcome::Cancelled;
    if (!described)
        return CaptureOutcome::NoScreenInfo;
    const ScreenDescription screen = m_memory.screenDescription();
    result.storedWidth = screen.width;
    result.storedHeight = screen.height;
    result.orientation = screen.orientation;
    result.imageAddress = screen.imageAddress;

    // Decided before anything is allocated or read: a zero or absurd description is a failed
    // load, never an empty picture or a huge allocation.
    if (!geometryUsable(screen))
        return CaptureOutcome::BadGeometry;

    int status = 0;
    const bool statusRead = m_link.ReadDspStatus(status);
    if (m_link.CancelRequested())
        return CaptureOutcome::Cancelled;
    if (statusRead && status == RefusingDspStatus)
        return CaptureOutcome::Refused;

    // The decode makes the picture once the bytes are in, so nothing is allocated for a read
    // that brings nothing.
    QImage bitmap;
    const CaptureOutcome outcome = readScreenImage(screen, bitmap, result, freezeOption, listener);
    if (outcome != CaptureOutcome::Captured)
        return outcome;

    result.image = TurnUpright(bitmap, screen.orientation);
    return CaptureOutcome::Captured;
}

CaptureOutcome ScreenCapture::readScreenImage(const ScreenDescription &screen, QImage &bitmap, CaptureResult &result,
                                              const std::function<bool()> &freezeOption,
                                              const CaptureListener &listener)
{
    const quint32 start = screen.imageAddress - ScreenLayout::ImageOffset;
    const quint32 length = ScreenImageBytes(screen);
    result.bytesRequested = length;

    // Once the halt is sent the guard restarts the DSP on every way out, also when the option
    // was switched off meanwhile.
    DspHalt dsp(
        m_link, [&listener] { say(listener, CaptureTexts::RestartingDsp); },
        [&result](bool acknowledged) {
            result.restartRefused = !acknowledged;
            if (!acknowledged)
                note(result, CaptureEvent::RestartFailed);
        });
    if (freezeOption && freezeOption()) {
        say(listener, CaptureTexts::StoppingDsp);
        m_haltSent = true;
        if (!dsp.halt()) {
            note(result, CaptureEvent::HaltFailed);
            return CaptureOutcome::HaltFailed;
        }
        if (m_link.CancelRequested())
            return CaptureOutcome::Cancelled;
        // The screen settles after the halt; the window stays live and a cancel ends the wait.
        m_link.Pause(haltPauseMs);
        if (m_link.CancelRequested())
            return CaptureOutcome::Cancelled;
    }

    say(listener, CaptureTexts::ReadingImage);
    if (listener.imageStarted)
        listener.imageStarted(screen);
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    {
        ProgressScope progress(m_link, listener, length);
        result.bytesReceived = m_link.ReadMemory(start, length, stream);
    }
    if (m_link.CancelRequested())
        return CaptureOutcome::Cancelled;

    if (!DecodeScreenImage(stream, bitmap, screen.width, screen.height, screen.palette, listener.afterStrip)) {
        if (dsp.halted())
            dsp.restart();
        say(listener, QString());
        return CaptureOutcome::NothingReceived;
    }

    // Switching the option on after the halt step restarts the DSP too. A picture read whole is
    // kept when the line goes during the restart: the caller delivers it, then tells of the line.
    try {
        if (dsp.halted() || (freezeOption && freezeOption()))
            dsp.restart();
        m_link.Pause(restartPauseMs);
    } catch (const ELineLost &lost) {
        if (result.bytesReceived != qint64(length))
            throw;
        result.errorText = lost.text();
    }
    // A cancel while the instrument restarts (the picture's window closed meanwhile) is a cancel.
    if (m_link.CancelRequested())
        return CaptureOutcome::Cancelled;

    if (result.bytesReceived == qint64(length)) {
        say(listener, CaptureTexts::LoadedCorrectly);
        return CaptureOutcome::Captured;
    }
    say(listener, CaptureTexts::CouldNotLoad);
    note(result, CaptureEvent::ShortRead);
    return CaptureOutcome::ShortRead;
}

QString CaptureTexts::forEvent(CaptureEvent event)
{
    switch (event) {
    case CaptureEvent::HaltFailed: return HaltFailed;
    case CaptureEvent::RestartFailed: return RestartFailed;
    case CaptureEvent::ShortRead: return CouldNotLoad;
    }
    return QString();
}
