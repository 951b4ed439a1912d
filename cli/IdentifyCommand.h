#pragma once

#include <QTextStream>

struct CommandRequest;

// `snaploom identify`: connects, prints the rows the About box shows (or one JSON object),
// disconnects.
int runIdentifyCommand(const CommandRequest &request, QTextStream &out, QTextStream &err);
