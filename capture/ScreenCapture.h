#pragma once


#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <functional>

class TqzMeterCom;
class TInstrumentMemory;
struct ScreenDescription;

// How a capture ended. Each failure is distinct so the desktop program can show its message
// boxes and the command-line tool its exit codes.
enum class CaptureOutcome {
    Captured,            // image holds the picture, upright
    NoScreenInfo,        // directory or screen description not readable: ends without a message
    Refused,             // DSP status 17: "Sorry. The Picture Preview can not be uploaded."
    BadGeometry,         // the instrument's screen description is unusable: a failed load
    HaltFailed,          // the halt was not acknowledged: a failed load
    NothingReceived,     // the decode found no usable data: a failed load
    ShortRead,           // the byte count did not match: "Could not load image.", a failed load
    Cancelled,           // the link was cancelled (a key, a signal): nothing to show
    LineLost,            // the line went away: errorText names the port and the cause
};

// Things that happen during a capture, in order, which the caller may turn into messages.
enum class CaptureEvent {
    HaltFailed,          // "Could not halt DSP and freeze image."
    RestartFailed,       // "Could not restart DSP and unfreeze image." (the capture goes on)
    ShortRead,           // "Could not load image."
};

// What the capture tells its caller while it runs. Every member is optional.
struct CaptureListener
{
    std::function<void(const QString &text)> status;         // the first status-bar panel
    std::function<void(const ScreenDescription &screen)> imageStarted;  // the image read begins
    std::function<void(qint64 maximum)> progressStarted;     // the image read begins
    std::function<void(qint64 step)> progressStep;           // bytes arrived
    // The image read's bytes so far, from its first byte, whenever more have arrived; the
    // picture can be decoded from them strip by strip while the read goes on.
    std::function<void(const QByteArray &received)> imageBytes;
    std::function<void()> progressFinished;                  // the read ended (always paired)
    std::function<void()> afterStrip;                        // between decoded strips
};

struct CaptureResult
{
    CaptureOutcome outcome = CaptureOutcome::NoScreenInfo;
    QImage image;                   // set only for Captured: upright, ready to show
    quint16 storedWidth = 0;        // the screen description as read
    quint16 storedHeight = 0;
    quint16 orientation = 0;
    quint32 imageAddress = 0;
    qint64 bytesRequested = 0;
    qint64 bytesReceived = 0;
    bool restartRefused = false;    // the DSP was halted and did not acknowledge its restart
    // What the user is told, in order. Handed over with the result, once the instrument is
    // restored (DSP restarted, command mode left), so no message stands in front of a halted one.
    QList<CaptureEvent> events;
    // LineLost: "The connection to COM7 was lost (...)."; also set for Captured when the line went
    // after the whole picture was in (while the DSP was restarted).
    QString errorText;
};

// The whole capture sequence of both programs: directory and screen description, DSP status,
// the optional halt, the image read, the decode, the restart and the turn upright. Once a halt
// was sent the DSP is restarted on every way out, and a capture that fails after the halt also
// leaves command mode before it returns. To cancel a running capture, call the link's
// Cancel(): the capture then ends as Cancelled, the instrument restarted.
class ScreenCapture
{
public:
    ScreenCapture(TqzMeterCom &link, TInstrumentMemory &memory);

    // freezeOption is asked before the halt and again before the restart, each time as it is then.
    CaptureResult run(const std::function<bool()> &freezeOption, const CaptureListener &listener = {});

    // The sequence's fixed pauses; tests may shorten them.
    int haltPauseMs = 500;
    int restartPauseMs = 250;

private:
    CaptureOutcome runSteps(CaptureResult &result, const std::function<bool()> &freezeOption,
                            const CaptureListener &listener);
    CaptureOutcome readScreenImage(const ScreenDescription &screen, QImage &bitmap, CaptureResult &result,
                                   const std::function<bool()> &freezeOption,
                                   const CaptureListener &listener);

    void restoreAfterFailure(CaptureResult &result);

    TqzMeterCom &m_link;
    TInstrumentMemory &m_memory;
    bool m_haltSent = false;
};

// The texts of the capture sequence, kept in one place.
namespace CaptureTexts {
inline const QString StoppingDsp = QStringLiteral("Stopping DSP...");
inline const QString ReadingImage = QStringLiteral("Reading screen image...");
inline const QString RestartingDsp = QStringLiteral("Restarting DSP...");
inline const QString LoadedCorrectly = QStringLiteral("The image has been loaded correctly.");
inline const QString CouldNotLoad = QStringLiteral("Could not load image.");
inline const QString Refused = QStringLiteral("Sorry. The Picture Preview can not be uploaded.");
inline const QString HaltFailed = QStringLiteral("Could not halt DSP and freeze image.");
inline const QString RestartFailed = QStringLiteral("Could not restart DSP and unfreeze image.");
inline const QString LoadError = QStringLiteral("An error occoured while loading image.\r\rPlease try again.");

// The message each event of the sequence shows.
QString forEvent(CaptureEvent event);
}  // namespace CaptureTexts
