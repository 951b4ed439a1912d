#include "ReconnectWatch.h"

#include "SerialPorts.h"

TReconnectWatch::TReconnectWatch(QObject *parent)
    : QObject(parent)
{
    connect(&m_watch, &TPortWatch::returned, this, &TReconnectWatch::portReturned);
}

void TReconnectWatch::lineLost(int portNumber, const QString &devicePath)
{
    m_watching = true;
    m_openRetries = 0;
    m_watch.start(portNumber, devicePath);
}

void TReconnectWatch::stop()
{
    m_watch.stop();
    m_watching = false;
}

void TReconnectWatch::attemptSucceeded()
{
    stop();
}

void TReconnectWatch::attemptFailed(bool portWouldNotOpen)
{
    if (!watching())
        return;
    if (portWouldNotOpen && m_openRetries < OpenRetries) {
        ++m_openRetries;
        m_watch.start(m_watch.portNumber(), QString());  // there already: tried again at the next look
        return;
    }
    m_openRetries = 0;
    m_watch.start(m_watch.portNumber(), SerialPorts::devicePathFor(m_watch.portNumber()));
}

QString TReconnectWatch::waitingText(int portNumber)
{
    return QStringLiteral("Line lost: reconnecting when COM%1 comes back.").arg(portNumber);
}

QString TReconnectWatch::returnedText(int portNumber)
{
    return QStringLiteral("COM%1 is back: reconnecting...").arg(portNumber);
}

QString TReconnectWatch::reconnectedText(int portNumber)
{
    return QStringLiteral("Reconnected to COM%1.").arg(portNumber);
}
