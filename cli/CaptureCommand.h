#pragma once

#include <QTextStream>

struct CommandRequest;

// `snaploom capture`: checks the output, connects, runs the capture core once or as a series,
// on one port or on every port at once, and writes each picture to its file or to standard
// output. Returns the exit code (ExitCodes.h).
int runCaptureCommand(const CommandRequest &request, QTextStream &out, QTextStream &err);
