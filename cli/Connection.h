#pragma once

#include <QString>
#include <QTextStream>
#include <memory>

class TqzMeterCom;
struct PortChoice;

// Connects as the desktop program does: open the port, enter command mode, identify, and accept
// only the models that can be captured; --find tries every port in the desktop program's order.
// SIGINT, SIGTERM and SIGHUP then cancel what the link runs, and drains tell their time on
// standard error. Returns the connected link, or null after telling why on err, with exitCode
// set: nothing answers ("No instrument detected.", NoInstrument), answers not understood
// (NotUnderstood), the port cannot be opened (PortNotOpened, with the reason; a search lists the
// ports that did not open), a model that cannot be captured (NoInstrument), interrupted.
std::unique_ptr<TqzMeterCom> connectInstrument(const PortChoice &choice, QTextStream &err, int *exitCode);

// The device node the link is set to, and the COM<n> that names it (-1 when none does).
QString connectedDevice(const TqzMeterCom &link);
int connectedPortNumber(const TqzMeterCom &link);

// The connected port as the user knows it: "COM5 (/dev/pts/3)", or the device path alone when no
// COM<n> names it.
QString connectedPortText(const TqzMeterCom &link);
