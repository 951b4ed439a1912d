#pragma once

#include <QStringList>

// `snaploom unfreeze`: restarts the DSP of an instrument that something left halted, and leaves
// its command mode. arguments are those after the word "unfreeze". Returns the exit code.
int runUnfreezeCommand(const QStringList &arguments);
