#include "ConnectionController.h"

#include "Dialogs.h"
#include "PortMenu.h"
#include "ReconnectWatch.h"

#include "ComPort.h"
#include "InstrumentFinder.h"
#include "InstrumentMemory.h"
#include "InterruptSignals.h"
#include "SerialPorts.h"
#include "qzMeterCOM.h"

#include <QApplication>
#include <QScopeGuard>
#include <QTimer>
#include <algorithm>

namespace {

const QString Connecting = QStringLiteral("Connecting...");
const QString NoInstrumentStatus = QStringLiteral("No instrument detected.");
const QString NoInstrumentMessage = QStringLiteral("No instrument detected.\r\rPlease check the connection.");

} // namespace

ConnectionController::BusyScope::BusyScope(ConnectionController &controller, LinkState state)
    : m_controller(controller)
    , m_previous(controller.m_state)
{
    controller.setState(state);
}

ConnectionController::BusyScope::~BusyScope()
{
    m_controller.leave(m_previous);
}

ConnectionController::ConnectionController(PortMenu &ports, QWidget &dialogParent, QObject *parent)
    : QObject(parent)
    , m_ports(ports)
    , m_dialogParent(dialogParent)
{
    // A port that comes back after its line was lost is connected again without a word.
    m_reconnect = new TReconnectWatch(this);
    connect(m_reconnect, &TReconnectWatch::portReturned, this, &ConnectionController::reconnect);
    try {
        m_link = std::make_unique<TqzMeterCom>();
    } catch (...) {
        Dialogs::message(&m_dialogParent, Dialogs::MessageKind::Error,
                         QStringLiteral("Could not initialize port module."));
        return;
    }
    try {
        m_memory = std::make_unique<TInstrumentMemory>(*m_link);
    } catch (...) {
        Dialogs::message(&m_dialogParent, Dialogs::MessageKind::Error, QStringLiteral("Could not allocate memory."));
        m_link.reset();
        return;
    }

    m_endDeadline.setSingleShot(true);
    connect(&m_endDeadline, &QTimer::timeout, this, [] { InterruptSignals::abandonNow(); });

    // A line that goes away while nothing runs is shown at once; a running capture or connection
    // attempt ends with its own report.
    connect(m_link.get(), &TqzMeterCom::LineLostNoticed, this, [this] {
        QString text;
        if (!busy() && m_link->TakeLineLoss(&text))
            showLineLost(text);
    });
}

// The memory reader goes before the link it reads through.
ConnectionController::~ConnectionController()
{
    m_memory.reset();
    m_link.reset();
}

void ConnectionController::setState(LinkState state)
{
    m_state = state;
    emit stateChanged(state);
}

void ConnectionController::leave(LinkState previous)
{
    if (isBusy(previous)) {
        setState(previous);
        return;
    }
    setState(m_link->IsConnected() ? LinkState::Connected : LinkState::Disconnected);
    if (m_endBySignal)
        finishEndBySignal();   // the event loops have been told to end: a timer would not run
    else
        emit idle();
}

void ConnectionController::refreshPorts()
{
    if (m_ports.rebuild(m_link->PortNumber))
        emit portShown(m_link->PortNumber);
}

void ConnectionController::choosePort(int number)
{
    m_reconnect->stop();
    m_link->Disconnect();
    m_link->PortNumber = number;
    emit portShown(number);
    if (!busy())
        setState(m_link->IsConnected() ? LinkState::Connected : LinkState::Disconnected);
}

// The window returns to the not-connected state also when leaving command mode fails: the
// link closes the port whatever happens.
void ConnectionController::disconnectLink()
{
    const auto notConnected = qScopeGuard([this] {
        emit disconnected();
        if (!busy())
            setState(LinkState::Disconnected);
    });
    m_link->Disconnect();
}

void ConnectionController::showLineLost(const QString &text)
{
    // Lost while connected (idle or capturing), not during an attempt: the port is watched for
    // its return once the user has read why it went.
    const bool wasConnected = m_state == LinkState::Connected || m_state == LinkState::Capturing;
    const int port = m_link->PortNumber;
    const QString device = SerialPorts::devicePathFor(port);
    disconnectLink();
    emit message(text);
    Dialogs::message(&m_dialogParent, Dialogs::MessageKind::Error, text);
    if (wasConnected && !m_endBySignal) {
        m_reconnect->lineLost(port, device);
        emit message(TReconnectWatch::waitingText(port));
    }
}

void ConnectionController::connectQuietly()
{
    if (busy() || m_link->IsConnected())
        return;
    const BusyScope connecting(*this, LinkState::Connecting);
    emit message(Connecting);
    try {
        // The search's tag: a failure is told in the status bar, without a message box.
        connectAttempt(PortMenu::TagFindInstrument);
    } catch (...) {
        // An error of the port while nobody asked: told in the status bar only.
        emit message(NoInstrumentStatus);
    }
}

void ConnectionController::reconnect(int portNumber)
{
    if (busy() || m_link->IsConnected() || portNumber != m_link->PortNumber) {
        m_reconnect->stop();
        return;
    }
    emit message(TReconnectWatch::returnedText(portNumber));
    connectQuietly();
    if (m_link->IsConnected()) {
        m_reconnect->attemptSucceeded();
        emit message(TReconnectWatch::reconnectedText(portNumber));
        return;
    }
    m_reconnect->attemptFailed(!m_link->openFailure().isEmpty());
}

void ConnectionController::endBySignal()
{
    if (m_endBySignal)
        return;
    m_endBySignal = true;
    m_link->Cancel();
    // Every modal window's loop returns now and none opens any more: no message box, dialog or
    // question holds the program. What still runs (a read draining a reply that takes minutes)
    // is abandoned in time, with the text that tells how to restart the instrument.
    QCoreApplication::exit(0);
    const qint64 sinceSignal = std::max<qint64>(0, InterruptSignals::msSinceFirstSignal());
    m_endDeadline.start(int(std::max<qint64>(0, m_endBySignalLimitMs - sinceSignal)));
    if (!busy())
        finishEndBySignal();
}

void ConnectionController::setEndBySignalLimit(int ms)
{
    m_endBySignalLimitMs = ms;
}

void ConnectionController::finishEndBySignal()
{
    disconnectForExit();
    QCoreApplication::exit(0);
}

void ConnectionController::connectOrDisconnect(int senderTag)
{
    // The link's waits let events through; a second Connect meanwhile must not pull the port
    // out from under the attempt that is running.
    if (m_state == LinkState::Connecting || m_state == LinkState::Capturing)
        return;
    // The user's own Connect or Disconnect ends any watch for a lost port.
    m_reconnect->stop();
    const BusyScope connecting(*this, LinkState::Connecting);
    if (m_link->IsConnected())
        disconnectLink();
    else
        connectAttempt(senderTag);
}

void ConnectionController::connectAttempt(int senderTag)
{
    const bool searching = senderTag <= PortMenu::TagFindInstrument;
    // A cancel left from an earlier capture would end this identification at once.
    if (!m_endBySignal)
        m_link->ResetCancel();
    // A search shows which port it tries; a single attempt says it is connecting.
    if (!searching)
        emit message(Connecting);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });

    InstrumentFinder::Attempt attempt = InstrumentFinder::Attempt::NoAnswer;
    try {
        attempt = InstrumentFinder::attempt(*m_link);
    } catch (const ELineLost &lost) {
        showLineLost(lost.text());
        return;
    } catch (...) {
        // An error of the port ends the attempt; it never leaves the port open, and the user can
        // still choose another port.
        try {
            m_link->Disconnect();
        } catch (...) {
            // the first error is the one reported
        }
        throw;
    }
    if (attempt == InstrumentFinder::Attempt::Connected) {
        emit message(QString());
        emit connectedTo(m_link->PortNumber, m_link->Info.SerialNumber);
        return;
    }
    m_link->Disconnect();
    // Where something is known beyond "nothing answers" (a port that would not open, answers not
    // understood, a model that cannot be captured), the message names it; a search tells it at
    // its end.
    const QString why = InstrumentFinder::failureText(attempt, *m_link, QStringLiteral("COM%1").arg(m_link->PortNumber));
    emit message(why.isEmpty() ? NoInstrumentStatus : why);
    if (searching && !why.isEmpty())
        m_searchNotes.append(why);
    if (!searching)
        Dialogs::message(&m_dialogParent, Dialogs::MessageKind::Error, why.isEmpty() ? NoInstrumentMessage : why);
}

void ConnectionController::disconnectForExit()
{
    try {
        m_link->Disconnect();
    } catch (...) {
        // the program ends all the same; the port is closed
    }
}

void ConnectionController::findInstrument()
{
    if (busy())
        return;
    m_reconnect->stop();
    const BusyScope searching(*this, LinkState::Searching);

    refreshPorts();
    m_ports.uncheckAll();
    m_searchNotes.clear();

    const int found = InstrumentFinder::search([this](int number) {
        m_link->Disconnect();
        m_link->PortNumber = number;
        emit message(QStringLiteral("Trying to open COM") + QString::number(number));
        connectOrDisconnect(PortMenu::TagFindInstrument);
        return m_link->IsConnected();
    });
    if (found > 0) {
        m_ports.checkPort(found);
        return;
    }
    refreshPorts();
    // The ports that did not open, or answered but not as an instrument, are named after the
    // search's own message.
    const QString notes = m_searchNotes.isEmpty() ? QString() : QStringLiteral("\r\r") + m_searchNotes.join(QLatin1Char('\r'));
    Dialogs::message(&m_dialogParent, Dialogs::MessageKind::Error, NoInstrumentMessage + notes);
}
