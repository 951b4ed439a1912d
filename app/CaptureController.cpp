#include "CaptureController.h"

#include "CaptureProgress.h"
#include "ConnectionController.h"
#include "Dialogs.h"
#include "ImageForm.h"
#include "ImageWorkspace.h"
#include "LiveCapture.h"
#include "StatusPanels.h"

#include "ScreenCapture.h"
#include "qzMeterCOM.h"

#include <QScopeGuard>
#include <algorithm>
#include <utility>

namespace {

const QString NewImage = QStringLiteral("New image %1");
const QString Cancelling = QStringLiteral("Cancelling: finishing the running read, about %1 s");
const QString ClosesAfterwards = QStringLiteral("; the program closes when it ends.");
const QString ClosesAfterCapture = QStringLiteral("The program closes when the running capture ends.");

} // namespace

CaptureController::CaptureController(ConnectionController &connection, StatusPanels &status,
                                     ImageWorkspace &workspace, std::function<bool()> freezeOption,
                                     QWidget &dialogParent, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
    , m_status(status)
    , m_workspace(workspace)
    , m_freezeOption(std::move(freezeOption))
    , m_dialogParent(dialogParent)
{
    // The link's cancel path ends the read at once and restarts a halted instrument on the way out.
    connect(m_status.captureProgress(), &TCaptureProgress::cancelRequested, this,
            [this] { m_connection.link().Cancel(); });
}

int CaptureController::percentDone() const
{
    return m_progressMaximum > 0 ? int(std::min(m_progressDone, m_progressMaximum) * 100 / m_progressMaximum) : 0;
}

QString CaptureController::cancellingText() const
{
    return Cancelling.arg(m_secondsLeft) + (m_closeAsked ? ClosesAfterwards : QString());
}

void CaptureController::closeAsked()
{
    m_closeAsked = true;
    m_status.setMessage(m_cancelling ? cancellingText() : ClosesAfterCapture);
}

TfrmImage *CaptureController::openFoundPicture(const QImage &picture)
{
    TfrmImage *window = m_workspace.openImageWindow(picture.size(), NewImage.arg(++m_captureCount));
    window->setPicture(picture);
    return window;
}

void CaptureController::setPauses(int haltPauseMs, int restartPauseMs)
{
    m_haltPauseMs = haltPauseMs;
    m_restartPauseMs = restartPauseMs;
}

void CaptureController::capture()
{
    if (m_connection.state() != LinkState::Connected)
        return;
    TqzMeterCom &link = m_connection.link();
    TCaptureProgress &progress = *m_status.captureProgress();
    const ConnectionController::BusyScope capturing(m_connection, LinkState::Capturing);
    auto showError = [this](const QString &text) {
        Dialogs::message(&m_dialogParent, Dialogs::MessageKind::Error, text);
    };

    // The client area stands still until the picture starts to build up in its window.
    ImageWorkspace::RedrawLock redrawLock(m_workspace);
    TLiveCapture live([this, &redrawLock](const QSize &clientSize) {
        redrawLock.release();
        return m_workspace.openImageWindow(clientSize, NewImage.arg(m_captureCount + 1));
    });
    const auto finish = qScopeGuard([&progress, &redrawLock] {
        progress.finish();
        redrawLock.release();
    });

    // A cancelled read still takes in the rest of the instrument's reply; the status bar counts
    // down the time that takes, so the wait has a reason. Other drains go where they went before.
    m_closeAsked = false;
    m_cancelling = false;
    auto earlierDrainProgress = std::move(link.DrainProgress);
    link.DrainProgress = [this, &earlierDrainProgress](const TqzMeterCom::DrainReport &report) {
        if (report.kind != TqzMeterCom::DrainReport::Kind::CancelledRead) {
            if (earlierDrainProgress)
                earlierDrainProgress(report);
            return;
        }
        m_cancelling = !report.finished;
        m_secondsLeft = report.secondsLeft;
        if (m_cancelling)
            m_status.setMessage(cancellingText());
    };
    const auto drainReportsBack = qScopeGuard([&link, &earlierDrainProgress] {
        link.DrainProgress = std::move(earlierDrainProgress);
    });
    // The window's title carries the percentage while the picture arrives.
    m_progressMaximum = 0;
    m_progressDone = 0;
    const auto progressGone = qScopeGuard([this] {
        m_cancelling = false;
        emit progressChanged(-1);
    });

    link.ResetCancel();
    CaptureListener listener;
    listener.status = [this](const QString &text) { m_status.setMessage(text); };
    listener.progressStarted = [this, &progress](qint64 maximum) {
        progress.start(maximum);
        m_progressMaximum = maximum;
        m_progressDone = 0;
        emit progressChanged(0);
    };
    listener.progressStep = [this, &progress](qint64 step) {
        progress.advance(step);
        const int before = percentDone();
        m_progressDone += std::max<qint64>(step, 0);
        if (percentDone() != before)
            emit progressChanged(percentDone());
    };
    // The bar and its Cancel stay until the capture ends: the restart and its pause after the read
    // can still be cancelled, and the picture's window is still building meanwhile.
    live.attach(listener);
    // A cancel closes the picture's window at once, while the link still takes in the rest of the
    // reply; closing that window is a cancel too.
    connect(&progress, &TCaptureProgress::cancelRequested, &live, &TLiveCapture::discard);
    connect(&live, &TLiveCapture::windowClosed, this, [&link] { link.Cancel(); });

    ScreenCapture capture(link, m_connection.memory());
    capture.haltPauseMs = m_haltPauseMs;
    capture.restartPauseMs = m_restartPauseMs;
    const CaptureResult result = capture.run(m_freezeOption, listener);

    // The instrument runs again by now and is out of command mode: a message may stand as long
    // as it likes.
    for (CaptureEvent event : result.events) {
        if (event == CaptureEvent::ShortRead)
            live.discard();  // the window goes before its message
        showError(CaptureTexts::forEvent(event));
    }

    if (result.outcome == CaptureOutcome::Captured) {
        ++m_captureCount;
        if (TfrmImage *window = live.complete(result.image)) {
            m_workspace.activate(window);
            NameFields fields;
            fields.serialNumber = link.Info.SerialNumber;
            fields.model = link.Info.ModelName;
            fields.port = QStringLiteral("COM%1").arg(link.PortNumber);
            fields.capturedAt = QDateTime::currentDateTime();
            fields.captureNumber = m_captureCount;
            emit captured(window, fields);
        }
        if (!result.errorText.isEmpty())
            m_connection.showLineLost(result.errorText);  // the picture is in; the line went while the DSP restarted
        return;
    }
    live.discard();
    switch (result.outcome) {
    case CaptureOutcome::Captured:
    case CaptureOutcome::NoScreenInfo:
        break;
    case CaptureOutcome::Cancelled:
        m_status.setMessage(QString());
        break;
    case CaptureOutcome::LineLost:
        m_connection.showLineLost(result.errorText);
        break;
    case CaptureOutcome::Refused:
        Dialogs::message(&m_dialogParent, Dialogs::MessageKind::Information, CaptureTexts::Refused);
        break;
    case CaptureOutcome::HaltFailed:
    case CaptureOutcome::NothingReceived:
    case CaptureOutcome::ShortRead:
    case CaptureOutcome::BadGeometry:
        showError(CaptureTexts::LoadError);
        break;
    }
}
