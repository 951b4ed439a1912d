#pragma once

#include <QTextStream>

// `snaploom ports [--json]`: the serial ports in number order, with what the system knows of them.
int runPortsCommand(bool json, QTextStream &out);
