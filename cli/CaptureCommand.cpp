#include "CaptureCommand.h"

#include "CommandLine.h"
#include "Connection.h"
#include "ExitCodes.h"
#include "InterruptSignals.h"
#include "InstrumentMemory.h"
#include "ScreenCapture.h"
#include "qzMeterCOM.h"

#include <QFileInfo>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr double LineBytesPerSecond = 9600.0 / 10;  // 10 bits a byte on the wire
constexpr int BarWidth = 30;

// Texts of the system hold carriage returns as line breaks.
QString asLines(const QString &text)
{
    return QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

// The image read's progress on a terminal: bytes, percent and time left at the line's speed.
class ProgressLine
{
public:
    explicit ProgressLine(QTextStream &err) : m_err(err), m_enabled(::isatty(STDERR_FILENO) == 1) {}

    void start(qint64 maximum)
    {
        m_maximum = maximum;
        m_done = 0;
        m_shown.clear();
        draw();
    }
    void step(qint64 bytes)
    {
        m_done = qMin(m_maximum, m_done + bytes);
        draw();
    }
    void finish()
    {
        if (m_enabled && !m_shown.isEmpty()) {
            m_err << '\n';
            m_err.flush();
        }
        m_shown.clear();
    }

private:
    void draw()
    {
        if (!m_enabled || m_maximum <= 0)
            return;
        const int filled = int(BarWidth * m_done / m_maximum);
        const int seconds = int((m_maximum - m_done) / LineBytesPerSecond + 0.5);
        const QString text = QStringLiteral("[%1%2] %3/%4 bytes %5% %6:%7 left")
                                 .arg(QString(filled, QLatin1Char('#')), QString(BarWidth - filled, QLatin1Char('.')))
                                 .arg(m_done)
                                 .arg(m_maximum)
                                 .arg(int(100 * m_done / m_maximum), 3)
                                 .arg(seconds / 60)
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'));
        if (text == m_shown)
            return;
        m_shown = text;
        m_err << '\r' << text << "\x1b[K";
        m_err.flush();
    }

    QTextStream &m_err;
    bool m_enabled;
    qint64 m_maximum = 0;
    qint64 m_done = 0;
    QString m_shown;
};

// Leaves command mode on the way out, whatever happened; an error here adds nothing.
struct DisconnectOnExit
{
    TqzMeterCom &link;
    ~DisconnectOnExit()
    {
        try {
            link.Disconnect();
        } catch (...) {
        }
    }
};

const char InterruptedText[] = "Interrupted: nothing was written.";

int exitCodeFor(CaptureOutcome outcome)
{
    switch (outcome) {
    case CaptureOutcome::Captured: return ExitCode::Success;
    case CaptureOutcome::Refused: return ExitCode::Refused;
    case CaptureOutcome::HaltFailed: return ExitCode::HaltFailed;
    case CaptureOutcome::Cancelled: return ExitCode::Interrupted;
    case CaptureOutcome::LineLost: return ExitCode::LineLost;
    case CaptureOutcome::NoScreenInfo:
    case CaptureOutcome::BadGeometry:
    case CaptureOutcome::NothingReceived:
    case CaptureOutcome::ShortRead: break;
    }
    return ExitCode::LoadFailed;
}

}  // namespace

QString freshCaptureFileName(const QDir &folder, const QString &model, qint32 serial, const QDateTime &when,
                             ImageFile::Format format)
{
    // A model name such as "Corvane Alvo" becomes "Corvane_Alvo": no spaces or path characters.
    QString safeModel = model;
    safeModel.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("_"));
    safeModel.remove(QRegularExpression(QStringLiteral("^_+|_+$")));
    if (safeModel.isEmpty())
        safeModel = QStringLiteral("instrument");
    const QString stem = QStringLiteral("%1-%2-%3").arg(safeModel).arg(serial).arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString suffix = ImageFile::suffix(format);
    QString name = stem + suffix;
    for (int n = 2; QFileInfo::exists(folder.filePath(name)); ++n)
        name = QStringLiteral("%1-%2%3").arg(stem).arg(n).arg(suffix);
    return folder.filePath(name);
}

int runCaptureCommand(const CommandRequest &request, QTextStream &out, QTextStream &err)
{
    // With the picture on standard output, every text goes to standard error.
    const bool toStandardOutput = request.output == QLatin1String("-");
    QTextStream &info = toStandardOutput ? err : out;

    // A file that cannot be written is found before the instrument is touched: the read takes
    // a minute, and with --freeze the instrument stands halted meanwhile.
    if (!request.output.isEmpty() && !toStandardOutput) {
        const QString why = ImageFile::whyNotWritable(request.output);
        if (!why.isEmpty()) {
            err << QStringLiteral("Cannot write %1: %2\n").arg(request.output, why);
            return ExitCode::FileNotWritten;
        }
    } else if (!toStandardOutput && ::access(".", W_OK | X_OK) != 0) {
        err << QStringLiteral("Cannot write in the current folder: %1\n").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return ExitCode::FileNotWritten;
    }

    int failure = ExitCode::Success;
    std::unique_ptr<TqzMeterCom> link = connectInstrument(request.port, err, &failure);
    if (!link)
        return failure;
    DisconnectOnExit disconnect{*link};
    info << QStringLiteral("Connected to %1: %2, serial number %3\n")
                .arg(connectedPortText(*link), link->Info.ModelName)
                .arg(link->Info.SerialNumber);
    info.flush();

    TInstrumentMemory memory(*link);
    ScreenCapture capture(*link, memory);
    ProgressLine progress(err);
    CaptureListener listener;
    listener.status = [&info](const QString &text) {
        if (!text.isEmpty()) {
            info << text << '\n';
            info.flush();
        }
    };
    listener.event = [&err](CaptureEvent event) {
        err << CaptureTexts::forEvent(event) << '\n';
        err.flush();
    };
    listener.progressStarted = [&progress](qint64 maximum) { progress.start(maximum); };
    listener.progressStep = [&progress](qint64 step) { progress.step(step); };
    listener.progressFinished = [&progress] { progress.finish(); };

    const bool freeze = request.freeze;
    const CaptureResult result = capture.run([freeze] { return freeze; }, listener);

    switch (result.outcome) {
    case CaptureOutcome::Captured:
        break;
    case CaptureOutcome::Refused:
        err << CaptureTexts::Refused << '\n';
        return ExitCode::Refused;
    case CaptureOutcome::Cancelled:
        err << InterruptedText << '\n';
        return ExitCode::Interrupted;
    case CaptureOutcome::LineLost:
        err << result.errorText << '\n';
        return ExitCode::LineLost;
    case CaptureOutcome::NoScreenInfo:
        err << "Could not read the instrument's memory directory and screen description.\n";
        return ExitCode::LoadFailed;
    case CaptureOutcome::BadGeometry:
        err << QStringLiteral("The instrument describes an unusable screen: %1 x %2 pixels, image at address %3.\n")
                   .arg(result.storedWidth)
                   .arg(result.storedHeight)
                   .arg(result.imageAddress);
        Q_FALLTHROUGH();
    default:
        err << asLines(CaptureTexts::LoadError) << '\n';
        return exitCodeFor(result.outcome);
    }

    // A signal that came after the read: the picture is not written, not even in part.
    if (InterruptSignals::received()) {
        err << InterruptedText << '\n';
        return ExitCode::Interrupted;
    }
    // The picture is delivered, but the instrument was left halted or its line went meanwhile:
    // the caller must know.
    int written = result.restartRefused ? ExitCode::RestartRefused : ExitCode::Success;
    if (!result.errorText.isEmpty()) {
        err << result.errorText << '\n';
        written = ExitCode::LineLost;
    }

    QString error;
    if (toStandardOutput) {
        QFile standardOutput;
        if (!standardOutput.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered)
            || !ImageFile::write(result.image, standardOutput, request.format, &error)) {
            err << QStringLiteral("Could not write the picture to standard output: %1\n").arg(error.isEmpty() ? standardOutput.errorString() : error);
            return ExitCode::FileNotWritten;
        }
        info << QStringLiteral("Wrote %1 x %2 pixels to standard output\n").arg(result.image.width()).arg(result.image.height());
        return written;
    }
    const QString path = request.output.isEmpty()
                             ? freshCaptureFileName(QDir::current(), link->Info.ModelName, link->Info.SerialNumber,
                                                    QDateTime::currentDateTime(), request.format)
                             : request.output;
    if (!ImageFile::write(result.image, path, request.format, &error)) {
        err << QStringLiteral("Could not write %1: %2\n").arg(path, error);
        return ExitCode::FileNotWritten;
    }
    info << QStringLiteral("Saved %1 x %2 pixels to %3\n").arg(result.image.width()).arg(result.image.height()).arg(path);
    return written;
}
