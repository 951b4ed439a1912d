#pragma once

#include <QString>

// The system's text for an errno value ("No space left on device"), for every message that names
// why a device, a file or a folder failed.
QString systemError(int code);
