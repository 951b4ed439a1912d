#pragma once

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <memory>

class CaptureReport;
class QImage;
class TqzMeterCom;
struct CommandRequest;

// One instrument's captures as `snaploom capture` asks for them: one picture, or a series
// (--count, --interval, --keep-going), each written through the name template as it comes.
// Runs on the thread its link lives on; several series run at once, one per instrument.
class CaptureSeries
{
public:
    // label leads every line of this instrument's report; empty when it is the only one.
    CaptureSeries(const CommandRequest &request, CaptureReport &report, const QString &label = QString());

    // A connected link in, already cancelled by SIGINT, SIGTERM and SIGHUP; returns the exit code
    // (ExitCodes.h). When a capture lost the line and the series goes on, reconnect makes a new
    // link of the same kind (null when none answers).
    using Reconnect = std::function<std::unique_ptr<TqzMeterCom>()>;
    int run(std::unique_ptr<TqzMeterCom> link, const Reconnect &reconnect);

private:
    int captureOnce(TqzMeterCom &link, int number);
    int writePicture(const QImage &image, const TqzMeterCom &link, int number, qint64 startedMs);
    // Waits until the next capture is due; false when a signal ended the wait.
    bool pauseUntil(qint64 dueMs);

    const CommandRequest &m_request;
    CaptureReport &m_report;
    QString m_label;
    QElapsedTimer m_clock;   // from the start of the series
    int m_written = 0;
};
