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

// Connects as the desktop program does: open the port, enter command mode, identify, and accept
// only the models that can be captured. SIGINT, SIGTERM and SIGHUP then cancel what the link runs. Returns the connected link, or null after printing
// "No instrument detected." to err.
std::unique_ptr<TqzMeterCom> connectInstrument(const PortChoice &choice, QTextStream &err);
