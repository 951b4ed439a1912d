#include "ComPort.h"

EComPort::EComPort(const QString &step, int code, CodeSource source)
    : std::runtime_error(QStringLiteral("%1 (win error code: %2)").arg(step).arg(code).toStdString())
    , m_code(code)
    , m_source(source)
{
}

EComPort::EComPort(const QString &message)
    : std::runtime_error(message.toStdString())
{
}

ELineLost::ELineLost(const QString &portName, const QString &cause)
    : EComPort(QStringLiteral("The connection to %1 was lost (%2).").arg(portName, cause))
{
}
