#pragma once

#include "LinkState.h"

#include <QObject>
#include <QTimer>
#include <QStringList>
#include <memory>

class PortMenu;
class QWidget;
class TInstrumentMemory;
class TReconnectWatch;
class TqzMeterCom;

// Owns the instrument link and the memory reader, and everything that opens or closes the line:
// choosing a port, Connect and Disconnect, the search for an instrument, a lost line and the end
// by a signal. It keeps the one state of the link, entered and left through BusyScope.
class ConnectionController : public QObject
{
    Q_OBJECT

public:
    // Sets a busy state for its lifetime. On the way out an outer busy state comes back; the
    // last one leaves the link connected or disconnected, as it is then.
    class [[nodiscard]] BusyScope
    {
    public:
        BusyScope(ConnectionController &controller, LinkState state);
        ~BusyScope();
        BusyScope(const BusyScope &) = delete;
        BusyScope &operator=(const BusyScope &) = delete;

    private:
        ConnectionController &m_controller;
        LinkState m_previous;
    };

    // Message boxes belong to dialogParent. When the link or the memory reader cannot be made,
    // their error box has been shown and ready() is false.
    ConnectionController(PortMenu &ports, QWidget &dialogParent, QObject *parent = nullptr);
    ~ConnectionController() override;

    bool ready() const { return m_link && m_memory; }
    TqzMeterCom &link() { return *m_link; }
    TInstrumentMemory &memory() { return *m_memory; }

    LinkState state() const { return m_state; }
    bool busy() const { return isBusy(m_state); }

    // The Connect/Disconnect command; senderTag is the Interface menu tag of what started it
    // (a search passes its own).
    void connectOrDisconnect(int senderTag = 0);
    void findInstrument();
    void choosePort(int number);
    void refreshPorts();

    // The program ends while connected: command mode is left and the port closed.
    void disconnectForExit();

    // The line went away: the link has closed the port already; the user is told why. A line
    // lost while connected is watched for: when its port comes back it is connected again.
    void showLineLost(const QString &text);
    // An attempt on the selected port that tells a failure in the status bar only (connecting at
    // start, reconnecting).
    void connectQuietly();

    // SIGINT, SIGTERM or SIGHUP: a running capture is cancelled (a halted instrument restarted),
    // command mode is left, the port closed and the program ends without questions, whatever
    // stands open. What has not ended within the limit after the signal came is abandoned.
    void endBySignal();
    // The limit, counted from the signal; it leaves room for delivering the signal and ending
    // the process within 2 s. Tests that keep their process lengthen it.
    void setEndBySignalLimit(int ms);

signals:
    void stateChanged(LinkState state);
    // The progress and result texts of connecting, for the first status panel.
    void message(const QString &text);
    void connectedTo(int portNumber, qint32 serialNumber);
    void disconnected();
    // The selected port, whenever the port list or a choice shows it.
    void portShown(int portNumber);
    // The last busy state has ended (not when the program ends by a signal).
    void idle();

private:
    void setState(LinkState state);
    void leave(LinkState previous);
    void connectAttempt(int senderTag);
    void disconnectLink();
    void finishEndBySignal();
    void reconnect(int portNumber);

    PortMenu &m_ports;
    QWidget &m_dialogParent;
    std::unique_ptr<TqzMeterCom> m_link;
    std::unique_ptr<TInstrumentMemory> m_memory;
    LinkState m_state = LinkState::Disconnected;
    TReconnectWatch *m_reconnect = nullptr;
    bool m_endBySignal = false;
    int m_endBySignalLimitMs = 1500;
    QTimer m_endDeadline;
    QStringList m_searchNotes;  // what the running search found besides silence, port by port
};
