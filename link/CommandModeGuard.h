#pragma once

class TqzMeterCom;

// The instrument's command mode as a guard, as DspHalt is for a halted DSP: once "@AT+++" was sent
// (acknowledged, late or not at all), "@AT---" is sent on every way out of the scope, errors
// included, unless the connection is kept; a kept connection leaves it in Disconnect.
class CommandModeGuard
{
public:
    explicit CommandModeGuard(TqzMeterCom &link) : m_link(link) {}
    ~CommandModeGuard();  // never raises
    CommandModeGuard(const CommandModeGuard &) = delete;
    CommandModeGuard &operator=(const CommandModeGuard &) = delete;

    // The connection goes on beyond the scope.
    void keep() { m_kept = true; }

private:
    TqzMeterCom &m_link;
    bool m_kept = false;
};
