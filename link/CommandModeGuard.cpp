#include "CommandModeGuard.h"

#include "qzMeterCOM.h"

CommandModeGuard::~CommandModeGuard()
{
    if (!m_kept)
        m_link.LeaveCommandMode();
}
