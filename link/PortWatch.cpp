#include "PortWatch.h"

#include "SerialPorts.h"

TPortWatch::TPortWatch(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(PollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &TPortWatch::poll);
}

void TPortWatch::start(int number, const QString &lostDevicePath)
{
    m_number = number;
    m_lostDevicePath = lostDevicePath;
    m_goneSinceLoss = false;
    m_timer.start();
}

void TPortWatch::stop()
{
    m_timer.stop();
}

void TPortWatch::poll()
{
    const QString path = SerialPorts::devicePathFor(m_number);
    if (path.isEmpty()) {
        m_goneSinceLoss = true;
        return;
    }
    // The same node that was never away is the line that failed, not one that came back.
    if (!m_goneSinceLoss && !m_lostDevicePath.isEmpty() && path == m_lostDevicePath)
        return;
    m_timer.stop();
    emit returned(m_number);
}
