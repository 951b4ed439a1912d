#include "CaptureSeries.h"

#include "CaptureReport.h"
#include "CommandLine.h"
#include "Connection.h"
#include "ExitCodes.h"
#include "InstrumentMemory.h"
#include "InterruptSignals.h"
#include "NameTemplate.h"
#include "ScreenCapture.h"
#include "qzMeterCOM.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTimer>
#include <unistd.h>

namespace {

const QString InterruptedText = QStringLiteral("Interrupted: nothing was written.");

// The name without -o, before the format's suffix.
const QString DefaultName = QStringLiteral("{model}-{serial}-{date}-{time}");

// Texts of the system hold carriage returns as line breaks.
QString asLines(const QString &text)
{
    return QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

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

// {port}: COM<n>, or the device's own name when no number names it.
QString portName(const TqzMeterCom &link)
{
    const int number = connectedPortNumber(link);
    return number >= 0 ? QStringLiteral("COM%1").arg(number) : QFileInfo(connectedDevice(link)).fileName();
}

}  // namespace

CaptureSeries::CaptureSeries(const CommandRequest &request, CaptureReport &report, const QString &label)
    : m_request(request), m_report(report), m_label(label)
{
}

int CaptureSeries::run(std::unique_ptr<TqzMeterCom> link, const Reconnect &reconnect)
{
    // Leaves command mode on the way out, whatever happened; an error here adds nothing.
    const auto disconnect = qScopeGuard([&link] {
        try {
            if (link)
                link->Disconnect();
        } catch (...) {
        }
    });
    m_clock.start();
    int worst = ExitCode::Success;
    int done = 0;
    bool interrupted = false;
    bool announced = false;   // the link in hand has been named
    qint64 startedMs = 0;
    for (int number = 1; m_request.count == 0 || number <= m_request.count; ++number) {
        if (number > 1 && !pauseUntil(startedMs + m_request.intervalMs)) {
            interrupted = true;
            break;
        }
        startedMs = m_clock.elapsed();
        if (link && !link->IsConnected())
            link.reset();
        if (!link && reconnect && (link = reconnect()))
            announced = false;
        if (!link && InterruptSignals::received()) {
            interrupted = true;   // while the port was opened again
            break;
        }
        int code = ExitCode::NoInstrument;
        if (link) {
            if (!announced) {
                m_report.info(m_label, QStringLiteral("Connected to %1: %2, serial number %3")
                                           .arg(connectedPortText(*link), link->Info.ModelName)
                                           .arg(link->Info.SerialNumber));
                announced = true;
            }
            try {
                code = captureOnce(*link, number);
            } catch (const EComPort &e) {
                // A port that fails outside a lost line is opened afresh for the next capture.
                m_report.error(m_label, e.text());
                code = ExitCode::forPortError(e);
                try {
                    link->Disconnect();
                } catch (...) {
                }
                link.reset();
            }
        }
        ++done;
        if (code == ExitCode::Interrupted) {
            interrupted = true;
            break;
        }
        worst = ExitCode::worse(worst, code);
        if (code != ExitCode::Success && !m_request.keepGoing)
            return worst;
        if (InterruptSignals::received()) {
            interrupted = true;
            break;
        }
    }
    if (interrupted && m_request.count != 1)
        m_report.error(m_label, QStringLiteral("Interrupted: the series ends after %1 written.")
                                    .arg(m_written == 1 ? QStringLiteral("1 picture") : QStringLiteral("%1 pictures").arg(m_written)));
    // A series until Ctrl+C ends as it should; any other one has not taken what it was asked for.
    if (interrupted && m_request.count != 0 && (done < m_request.count || m_written < done))
        worst = ExitCode::worse(worst, ExitCode::Interrupted);
    return worst;
}

int CaptureSeries::captureOnce(TqzMeterCom &link, int number)
{
    const qint64 startedMs = m_clock.elapsed();
    TInstrumentMemory memory(link);
    ScreenCapture capture(link, memory);
    CaptureListener listener;
    listener.status = [this](const QString &text) { m_report.info(m_label, text); };
    listener.progressStarted = [this](qint64 maximum) { m_report.progressStarted(m_label, maximum); };
    listener.progressStep = [this](qint64 step) { m_report.progressStep(m_label, step); };
    listener.progressFinished = [this] { m_report.progressFinished(m_label); };

    const bool freeze = m_request.freeze;
    const CaptureResult result = capture.run([freeze] { return freeze; }, listener);
    for (CaptureEvent event : result.events)
        m_report.error(m_label, CaptureTexts::forEvent(event));
    const bool single = m_request.count == 1;

    switch (result.outcome) {
    case CaptureOutcome::Captured:
        break;
    case CaptureOutcome::Refused:
        m_report.error(m_label, CaptureTexts::Refused);
        return ExitCode::Refused;
    case CaptureOutcome::Cancelled:
        m_report.error(m_label, single ? InterruptedText : QStringLiteral("Interrupted: the running capture was not written."));
        return ExitCode::Interrupted;
    case CaptureOutcome::LineLost:
        m_report.error(m_label, result.errorText);
        return ExitCode::LineLost;
    case CaptureOutcome::NoScreenInfo:
        m_report.error(m_label, QStringLiteral("Could not read the instrument's memory directory and screen description."));
        return ExitCode::LoadFailed;
    case CaptureOutcome::BadGeometry:
        m_report.error(m_label, QStringLiteral("The instrument describes an unusable screen: %1 x %2 pixels, image at address %3.")
                                    .arg(result.storedWidth)
                                    .arg(result.storedHeight)
                                    .arg(result.imageAddress));
        Q_FALLTHROUGH();
    default:
        m_report.error(m_label, asLines(CaptureTexts::LoadError));
        return exitCodeFor(result.outcome);
    }

    // A signal that came after the read: one picture asked for is not written, not even in part;
    // a series keeps the picture it finished and then ends.
    if (single && InterruptSignals::received()) {
        m_report.error(m_label, InterruptedText);
        return ExitCode::Interrupted;
    }
    // The picture is delivered, but the instrument was left halted or its line went meanwhile:
    // the caller must know.
    int delivered = result.restartRefused ? ExitCode::RestartRefused : ExitCode::Success;
    if (!result.errorText.isEmpty()) {
        m_report.error(m_label, result.errorText);
        delivered = ExitCode::LineLost;
    }
    const int written = writePicture(result.image, link, number, startedMs);
    return written == ExitCode::Success ? delivered : written;
}

int CaptureSeries::writePicture(const QImage &image, const TqzMeterCom &link, int number, qint64 startedMs)
{
    QString error;
    if (m_request.output == QLatin1String("-")) {
        QFile standardOutput;
        if (!standardOutput.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered)
            || !ImageFile::write(image, standardOutput, m_request.format, &error)) {
            m_report.error(m_label, QStringLiteral("Could not write the picture to standard output: %1")
                                        .arg(error.isEmpty() ? standardOutput.errorString() : error));
            return ExitCode::FileNotWritten;
        }
        m_report.info(m_label, QStringLiteral("Wrote %1 x %2 pixels to standard output").arg(image.width()).arg(image.height()));
        ++m_written;
        return ExitCode::Success;
    }

    const QString text = m_request.output.isEmpty() ? DefaultName + ImageFile::suffix(m_request.format) : m_request.output;
    NameFields fields;
    fields.serialNumber = link.Info.SerialNumber;
    fields.model = link.Info.ModelName;
    fields.port = portName(link);
    fields.capturedAt = QDateTime::currentDateTime();
    fields.captureNumber = number;
    const QString wanted = NameTemplate(text).expand(fields);
    QString path = wanted;
    if (NameTemplate::makeFolders(wanted, &error) && !m_request.overwrite)
        path = NameTemplate::claimFreePath(wanted, &error);
    if (!error.isEmpty() || !ImageFile::write(image, path, m_request.format, &error)) {
        if (!m_request.overwrite && !path.isEmpty())
            NameTemplate::releaseClaim(path);
        m_report.error(m_label, QStringLiteral("Could not write %1: %2").arg(path.isEmpty() ? wanted : path, error));
        return ExitCode::FileNotWritten;
    }
    ++m_written;
    m_report.info(m_label, QStringLiteral("Saved %1 x %2 pixels to %3").arg(image.width()).arg(image.height()).arg(path));
    if (m_request.json) {
        const int portNumber = connectedPortNumber(link);
        m_report.json(QJsonObject{
            {QStringLiteral("path"), path},
            {QStringLiteral("port"), portNumber >= 0 ? QJsonValue(QStringLiteral("COM%1").arg(portNumber)) : QJsonValue()},
            {QStringLiteral("device"), connectedDevice(link)},
            {QStringLiteral("serialNumber"), link.Info.SerialNumber},
            {QStringLiteral("bytes"), QFileInfo(path).size()},
            {QStringLiteral("seconds"), double(m_clock.elapsed() - startedMs) / 1000},
        });
    }
    return ExitCode::Success;
}

bool CaptureSeries::pauseUntil(qint64 dueMs)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (InterruptSignals *interrupts = InterruptSignals::instance())
        QObject::connect(interrupts, &InterruptSignals::interrupted, &loop, &QEventLoop::quit);
    // In slices, so a signal is never missed for long.
    for (qint64 left; !InterruptSignals::received() && (left = dueMs - m_clock.elapsed()) > 0;) {
        timer.start(int(qMin<qint64>(left, 1000)));
        loop.exec();
    }
    return !InterruptSignals::received();
}
