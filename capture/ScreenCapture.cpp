#include "ScreenCapture.h"

#include "InstrumentMemory.h"
#include "ScreenImage.h"
#include "qzMeterCOM.h"

#include <QBuffer>
#include <QThread>
#include <utility>

namespace {

constexpr int RefusingDspStatus = 17;   // the instrument will not give its picture

void say(const CaptureListener &listener, const QString &text)
{
    if (listener.status)
        listener.status(text);
}

void tell(const CaptureListener &listener, CaptureEvent event)
{
    if (listener.event)
        listener.event(event);
}

// Lends the link's progress indicator to the listener for the image read, and always pairs
// the start of the progress with its end. The read ends with the indicator full, whatever
// the link's last poll reported.
class ProgressScope
{
public:
    ProgressScope(TqzMeterCom &link, const CaptureListener &listener, qint64 maximum)
        : m_link(link), m_listener(listener), m_previous(std::move(link.ProgressBar)), m_maximum(maximum)
    {
        if (m_listener.progressStarted)
            m_listener.progressStarted(maximum);
        m_link.ProgressBar = [this](qint64 step) {
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
        m_link.ProgressBar = std::move(m_previous);
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

// Whether the screen description can be read at all: at least one whole strip, 1 to 512 rows,
// and the pixel data inside the address space.
bool geometryUsable(const TInstrumentMemory &memory)
{
    return memory.ScreenWidth / ScreenLayout::StripWidth > 0 && memory.ScreenHeight > 0
           && memory.ScreenHeight <= ScreenLayout::MaxRows
           && memory.ImageAddress >= ScreenLayout::ImageOffset;
}

}  // namespace

ScreenCapture::ScreenCapture(TqzMeterCom &link, TInstrumentMemory &memory)
    : m_link(link), m_memory(memory)
{
}

CaptureResult ScreenCapture::run(const std::function<bool()> &freezeOption, const CaptureListener &listener)
{
    CaptureResult result;
    if (!m_memory.ReadDirectory() || !m_memory.ReadScreenInfo())
        return result;
    result.storedWidth = m_memory.ScreenWidth;
    result.storedHeight = m_memory.ScreenHeight;
    result.orientation = m_memory.ScreenOrientation;

    // Decided before anything is allocated or read: a zero or absurd description is a failed
    // load, never an empty picture or a huge allocation.
    if (!geometryUsable(m_memory)) {
        result.outcome = CaptureOutcome::BadGeometry;
        return result;
    }

    int status = 0;
    if (m_link.ReadDspStatus(status) && status == RefusingDspStatus) {
        result.outcome = CaptureOutcome::Refused;
        return result;
    }

    // The decode makes the picture once the bytes are in, so nothing is allocated for a read
    // that brings nothing.
    QImage bitmap;
    result.outcome = readScreenImage(bitmap, result, freezeOption, listener);
    if (result.outcome != CaptureOutcome::Captured)
        return result;

    result.image = TurnUpright(bitmap, m_memory.ScreenOrientation);
    return result;
}

CaptureOutcome ScreenCapture::readScreenImage(QImage &bitmap, CaptureResult &result,
                                              const std::function<bool()> &freezeOption,
                                              const CaptureListener &listener)
{
    const ScreenDescription screen = ScreenDescription::of(m_memory);
    const quint32 start = m_memory.ImageAddress - ScreenLayout::ImageOffset;
    const quint32 length = screen.imageBytes();
    result.bytesRequested = length;

    bool halted = false;
    if (freezeOption && freezeOption()) {
        say(listener, CaptureTexts::StoppingDsp);
        if (!m_link.StopDsp()) {
            tell(listener, CaptureEvent::HaltFailed);
            return CaptureOutcome::HaltFailed;
        }
        halted = true;
        QThread::msleep(haltPauseMs);
    }

    // Once the instrument is halted it is restarted on every way out, also when the option was
    // switched off meanwhile; switching it on after the halt step restarts it too.
    auto restart = [&] {
        say(listener, CaptureTexts::RestartingDsp);
        if (!m_link.StartDsp())
            tell(listener, CaptureEvent::RestartFailed);
    };

    try {
        say(listener, CaptureTexts::ReadingImage);
        if (listener.imageStarted)
            listener.imageStarted(screen);
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        {
            ProgressScope progress(m_link, listener, length);
            result.bytesReceived = m_link.ReadMemory(start, length, stream);
        }

        if (!DecodeScreenImage(stream, bitmap, m_memory.ScreenWidth, m_memory.ScreenHeight,
                               m_memory.Palette, listener.afterStrip)) {
            if (std::exchange(halted, false))
                restart();
            say(listener, QString());
            return CaptureOutcome::NothingReceived;
        }

        const bool restartNow = (freezeOption && freezeOption()) || halted;
        halted = false;
        if (restartNow)
            restart();
        QThread::msleep(restartPauseMs);
    } catch (...) {
        if (halted) {
            try {
                restart();
            } catch (...) {
                // the first error is the one worth reporting
            }
        }
        throw;
    }

    if (result.bytesReceived == qint64(length)) {
        say(listener, CaptureTexts::LoadedCorrectly);
        return CaptureOutcome::Captured;
    }
    say(listener, CaptureTexts::CouldNotLoad);
    tell(listener, CaptureEvent::ShortRead);
    return CaptureOutcome::ShortRead;
}
