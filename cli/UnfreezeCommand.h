#pragma once

#include <QTextStream>

struct CommandRequest;

// `snaploom unfreeze`: restarts the DSP of an instrument that something left halted, and leaves
// its command mode. Returns the exit code.
int runUnfreezeCommand(const CommandRequest &request, QTextStream &out, QTextStream &err);
