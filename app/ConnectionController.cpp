#include "ConnectionController.h"

#include "Dialogs.h"
#include "PortMenu.h"

#include "ComPort.h"
#include "InstrumentFinder.h"
#include "InstrumentMemory.h"
#include "InterruptSignals.h"
#include "qzMeterCOM.h"

#include <QApplication>
#include <QScopeGuard>
#include <QTimer>
#include <algorithm>

namespace {

const QString CouldNotInitializePort = QStringLiteral("Could not initialize port module.");
const QString CouldNotAllocateMemory = QStringLiteral("Could not allocate memory.");
const QString Connecting = QStringLiteral("Connecting...");
const QString TryingToOpen = QStringLiteral("Trying to open COM");
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
    try {
        m_link = std::make_unique<TqzMeterCom>();
    } catch (...) {
        Dialogs::message(&m_dialogParent, Dialogs::MessageKind::Error, CouldNotInitializePort);
        return;
    }
    try {
        m_memory = std::make_unique<TInstrumentMemory>(*m_link);
    } catch (...) {
        Dialogs::message(&m_dialogParent, Dialogs::MessageKind::Error, CouldNotAllocateMemory);
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
    disconnectLink();
    emit message(text);
    Dialogs::message(&m_dialogParent, Dialogs::MessageKind::Error, text);
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
    try {
        m_link->Disconnect();
    } catch (...) {
        // the program ends all the same; the port is closed
    }
    QCoreApplication::exit(0);
}

void ConnectionController::connectOrDisconnect(int senderTag)
{
    // The link's waits let events through; a second Connect meanwhile must not pull the port
    // out from under the attempt that is running.
    if (m_state == LinkState::Connecting || m_state == LinkState::Capturing)
        return;
    const BusyScope connecting(*this, LinkState::Connecting);
    if (m_link->IsConnected())
        disconnectLink();
    else
        connectAttempt(senderTag);
}

void ConnectionController::connectAttempt(int senderTag)
{
    const bool searching = senderTag <= PortMenu::TagFindInstrument;
    // A search shows which port it tries; a single attempt says it is connecting.
    if (!searching)
        emit message(Connecting);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });

    bool found = false;
    try {
        found = InstrumentFinder::attempt(*m_link) == InstrumentFinder::Attempt::Connected;
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
    if (found) {
        emit message(QString());
        emit connectedTo(m_link->PortNumber, m_link->Info.SerialNumber);
        return;
    }
    m_link->Disconnect();
    // A port that would not open says why; the message box stays as it is.
    emit message(m_link->openFailure().isEmpty() ? NoInstrumentStatus : m_link->openFailure());
    if (!searching)
        Dialogs::message(&m_dialogParent, Dialogs::MessageKind::Error, NoInstrumentMessage);
}

void ConnectionController::findInstrument()
{
    if (busy())
        return;
    const BusyScope searching(*this, LinkState::Searching);

    refreshPorts();
    m_ports.uncheckAll();

    const int found = InstrumentFinder::search([this](int number) {
        m_link->Disconnect();
        m_link->PortNumber = number;
        emit message(TryingToOpen + QString::number(number));
        connectOrDisconnect(PortMenu::TagFindInstrument);
        return m_link->IsConnected();
    });
    if (found > 0) {
        m_ports.checkPort(found);
        return;
    }
    refreshPorts();
    Dialogs::message(&m_dialogParent, Dialogs::MessageKind::Error, NoInstrumentMessage);
}
