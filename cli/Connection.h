#pragma once

#include <QStringList>
#include <QTextStream>
#include <memory>

class TqzMeterCom;

// Which port a command talks to: --port COM<n> (or just n), or --find to try every port.
struct PortChoice
{
    int number = 0;
    bool find = false;
};

// Parses the port options out of arguments (removing them); false with a message on bad input.
bool takePortChoice(QStringList &arguments, PortChoice &choice, QString &error);

// Lets SIGINT, SIGTERM and SIGHUP cancel what the link runs, and tells how to recover when a
// second one abandons the program at once.
void watchInterrupts(TqzMeterCom &link, const PortChoice &choice);

// Connects as the desktop program does: open the port, enter command mode, identify, and accept
// only the models that can be captured. Returns the connected link, or null after printing
// "No instrument detected." to err.
std::unique_ptr<TqzMeterCom> connectInstrument(const PortChoice &choice, QTextStream &err);
