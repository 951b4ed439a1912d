#include "LinkClock.h"

#include <QThread>

RealLinkClock::RealLinkClock()
{
    m_started.start();
}

qint64 RealLinkClock::nowMs() const
{
    return m_started.elapsed();
}

void RealLinkClock::sleep(int ms)
{
    if (ms > 0)
        QThread::msleep(ulong(ms));
}
