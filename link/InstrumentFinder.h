#pragma once

#include <QList>
#include <QString>
#include <functional>

class TqzMeterCom;

// Finding an instrument this program can capture from, the same way in both programs.
namespace InstrumentFinder {

enum class Attempt {
    Connected,       // the port is open and a model that can be captured answered
    NotOpened,       // the port could not be opened
    NoAnswer,        // the port opened and nothing answered
    NotUnderstood,   // something answered, but not as an instrument does (or not in time)
    NotCapturable,   // an instrument answered, of a model this program does not capture
};

// One attempt on the port the link is set to: open it, enter command mode, identify, and accept
// only the models that can be captured. On any result but Connected command mode has been left
// again (also when an error ends the attempt); the caller disconnects.
Attempt attempt(TqzMeterCom &link);

// What to tell of an attempt that found no instrument, naming the port as port: why it did not
// open, that its answers were not understood, or the model that answered. Empty when nothing
// answered: the caller then says "No instrument detected.".
QString failureText(Attempt attempt, const TqzMeterCom &link, const QString &port);

// The ports a search tries: every listed port numbered above 0, in ascending order.
QList<int> searchOrder();

// Runs tryPort on each port of searchOrder() until one succeeds; returns its number, or 0 when
// none did.
int search(const std::function<bool(int number)> &tryPort);

}  // namespace InstrumentFinder
