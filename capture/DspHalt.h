#pragma once

#include <functional>

class TqzMeterCom;

// The instrument's halted DSP as a guard: once the halt was sent (acknowledged, late or
// unanswered), the DSP is restarted on every way out of the capture, as std::lock_guard unlocks.
class DspHalt
{
public:
    // restarting is told just before a restart is sent, restarted with whether it was acknowledged.
    DspHalt(TqzMeterCom &link, std::function<void()> restarting, std::function<void(bool acknowledged)> restarted);
    ~DspHalt();  // restarts when still halted; never raises
    DspHalt(const DspHalt &) = delete;
    DspHalt &operator=(const DspHalt &) = delete;

    // Sends the halt; true when the instrument acknowledged it. From here on the guard restarts.
    bool halt();
    // Sends the restart now, also when no halt was sent (the freeze option was switched on
    // meanwhile). Errors of the port pass to the caller; the guard is then done all the same.
    void restart();
    bool halted() const { return m_state != State::Running; }
    bool restartRefused() const { return m_restartRefused; }

private:
    enum class State { Running, Halted, HaltUnanswered };

    TqzMeterCom &m_link;
    std::function<void()> m_restarting;
    std::function<void(bool)> m_restarted;
    State m_state = State::Running;
    bool m_restartRefused = false;
};
