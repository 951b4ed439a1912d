#include "CaptureCommand.h"

#include "Connection.h"
#include "ExitCodes.h"
#include "InterruptSignals.h"
#include "InstrumentMemory.h"
#include "ScreenCapture.h"
#include "SerialPorts.h"
#include "qzMeterCOM.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>
#include <unistd.h>

namespace {

const char CaptureUsage[] =
    "Usage: snaploom capture (--port COM<n> | --find) [--freeze] [-o FILE]\n"
    "Captures the instrument's screen, turned upright, to FILE: a Windows bitmap, or PNG when\n"
    "FILE ends in .png. Without -o the file is <model>-<serial>-<YYYYMMDD-HHMMSS>.bmp in the\n"
    "current folder, never overwriting one that exists.\n"
    "  --freeze   halt the instrument's signal processor while the picture is read\n"
    "             (ongoing measurements on the instrument are cleared)\n"
    "Exit codes: 0 captured and written, 2 bad options, 3 no instrument, 4 refused by the\n"
    "instrument, 5 halt failed, 6 load failed, 7 file not written, 8 written but the DSP did\n"
    "not restart, 9 line lost, 10 interrupted, 1 serial error.\n";

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

struct CaptureOptions
{
    PortChoice port;
    bool freeze = false;
    QString output;
};

bool parseOptions(QStringList arguments, CaptureOptions &options, QString &error)
{
    if (!takePortChoice(arguments, options.port, error))
        return false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--freeze")) {
            options.freeze = true;
        } else if (argument == QLatin1String("-o") || argument == QLatin1String("--output")) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
                error = QStringLiteral("%1 needs a file name.").arg(argument);
                return false;
            }
            options.output = arguments.at(++i);
        } else if (argument.startsWith(QLatin1String("--output="))) {
            options.output = argument.mid(9);
        } else {
            error = QStringLiteral("Unknown option: %1").arg(argument);
            return false;
        }
    }
    return true;
}

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

QString eventText(CaptureEvent event)
{
    switch (event) {
    case CaptureEvent::HaltFailed: return CaptureTexts::HaltFailed;
    case CaptureEvent::RestartFailed: return CaptureTexts::RestartFailed;
    case CaptureEvent::ShortRead: return CaptureTexts::CouldNotLoad;
    }
    return QString();
}

}  // namespace

QString freshCaptureFileName(const QDir &folder, const QString &model, qint32 serial, const QDateTime &when)
{
    // A model name such as "Corvane Alvo" becomes "Corvane_Alvo": no spaces or path characters.
    QString safeModel = model;
    safeModel.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("_"));
    safeModel.remove(QRegularExpression(QStringLiteral("^_+|_+$")));
    if (safeModel.isEmpty())
        safeModel = QStringLiteral("instrument");
    const QString stem = QStringLiteral("%1-%2-%3").arg(safeModel).arg(serial).arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString name = stem + QStringLiteral(".bmp");
    for (int n = 2; QFileInfo::exists(folder.filePath(name)); ++n)
        name = QStringLiteral("%1-%2.bmp").arg(stem).arg(n);
    return folder.filePath(name);
}

bool writeCaptureFile(const QImage &image, const QString &path, QString *error)
{
    const QByteArray format = path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) ? "PNG" : "BMP";
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QImageWriter writer(&file, format);
    if (!writer.write(image)) {
        *error = writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

int runCaptureCommand(const QStringList &arguments)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        out << CaptureUsage;
        return ExitCode::Success;
    }
    CaptureOptions options;
    QString error;
    if (!parseOptions(arguments, options, error)) {
        err << error << '\n' << CaptureUsage;
        return ExitCode::Usage;
    }

    std::unique_ptr<TqzMeterCom> link = connectInstrument(options.port, err);
    if (!link)
        return ExitCode::NoInstrument;
    DisconnectOnExit disconnect{*link};
    out << QStringLiteral("Connected to COM%1 (%2): %3, serial number %4\n")
               .arg(link->PortNumber)
               .arg(SerialPorts::devicePathFor(link->PortNumber), link->Info.ModelName)
               .arg(link->Info.SerialNumber);
    out.flush();

    TInstrumentMemory memory;
    memory.MeterCom = link.get();
    ScreenCapture capture(*link, memory);
    ProgressLine progress(err);
    CaptureListener listener;
    listener.status = [&out](const QString &text) {
        if (!text.isEmpty()) {
            out << text << '\n';
            out.flush();
        }
    };
    listener.event = [&err](CaptureEvent event) {
        err << eventText(event) << '\n';
        err.flush();
    };
    listener.progressStarted = [&progress](qint64 maximum) { progress.start(maximum); };
    listener.progressStep = [&progress](qint64 step) { progress.step(step); };
    listener.progressFinished = [&progress] { progress.finish(); };

    const bool freeze = options.freeze;
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

    const QString path = options.output.isEmpty()
                             ? freshCaptureFileName(QDir::current(), link->Info.ModelName, link->Info.SerialNumber,
                                                    QDateTime::currentDateTime())
                             : options.output;
    // A signal that came after the read: the picture is not written, not even in part.
    if (InterruptSignals::received()) {
        err << InterruptedText << '\n';
        return ExitCode::Interrupted;
    }
    if (!writeCaptureFile(result.image, path, &error)) {
        err << QStringLiteral("Could not write %1: %2\n").arg(path, error);
        return ExitCode::FileNotWritten;
    }
    out << QStringLiteral("Saved %1 x %2 pixels to %3\n").arg(result.image.width()).arg(result.image.height()).arg(path);
    return result.restartRefused ? ExitCode::RestartRefused : ExitCode::Success;
}
