#include "SystemError.h"

#include <cstring>

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}
