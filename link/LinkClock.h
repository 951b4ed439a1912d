#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// The time the link's waits read. Every wait is a loop of polls; each poll processes pending
// events and then calls sleep(). The real clock reads the monotonic wall clock and sleeps; a
// virtual clock (tests, fuzzers) does not sleep but moves its time on by the poll's interval, so
// a wait of seconds runs out in as many polls as it has, without waiting.
//
//     auto clock = std::make_shared<VirtualLinkClock>();
//     link.setClock(clock);      // from here on every wait of the link reads clock->nowMs()
class LinkClock
{
public:
    virtual ~LinkClock() = default;
    // Milliseconds since an arbitrary start; never goes back.
    virtual qint64 nowMs() const = 0;
    // The sleep at the end of one poll.
    virtual void sleep(int ms) = 0;
};

// The wall clock: a monotonic timer and a real sleep.
class RealLinkClock : public LinkClock
{
public:
    RealLinkClock();
    qint64 nowMs() const override;
    void sleep(int ms) override;

private:
    QElapsedTimer m_started;
};

// Time that passes only when a poll sleeps. A poll of 0 ms still moves it on by 1 ms, so a wait
// measured in milliseconds always ends.
class VirtualLinkClock : public LinkClock
{
public:
    qint64 nowMs() const override { return m_now; }
    void sleep(int ms) override { m_now += qMax(ms, 1); }

private:
    qint64 m_now = 0;
};

// A stopwatch on a link clock, as QElapsedTimer is on the wall clock.
class LinkStopwatch
{
public:
    explicit LinkStopwatch(const LinkClock &clock) : m_clock(clock), m_start(clock.nowMs()) {}
    qint64 elapsed() const { return m_clock.nowMs() - m_start; }
    void restart() { m_start = m_clock.nowMs(); }

private:
    const LinkClock &m_clock;
    qint64 m_start;
};
