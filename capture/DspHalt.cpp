#include "DspHalt.h"

#include "ComPort.h"
#include "qzMeterCOM.h"

#include <exception>

namespace {

// A halt that was not acknowledged in time may still be acknowledged: its late "OK" must not be
// taken for the restart's, so the line is left to go quiet first.
constexpr int LateAcknowledgementQuietMs = 1000;

}  // namespace

DspHalt::DspHalt(TqzMeterCom &link, std::function<void()> restarting, std::function<void(bool)> restarted)
    : m_link(link), m_restarting(std::move(restarting)), m_restarted(std::move(restarted))
{
}

DspHalt::~DspHalt()
{
    // A port the link closed (the line went away) cannot take the restart.
    if (!halted() || !m_link.IsConnected())
        return;
    try {
        restart();
    } catch (...) {
        // The error that ended the capture is the one worth reporting; a line that went away
        // cannot take the restart anyway.
    }
}

bool DspHalt::halt()
{
    m_state = State::HaltUnanswered;
    const bool acknowledged = m_link.StopDsp();
    if (acknowledged)
        m_state = State::Halted;
    return acknowledged;
}

void DspHalt::restart()
{
    const State state = m_state;
    m_state = State::Running;
    if (m_restarting)
        m_restarting();
    if (state == State::HaltUnanswered)
        m_link.DrainLine(LateAcknowledgementQuietMs);
    const bool acknowledged = m_link.StartDsp();
    m_restartRefused = !acknowledged;
    if (m_restarted)
        m_restarted(acknowledged);
}
