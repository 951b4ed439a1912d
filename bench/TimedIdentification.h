#pragma once

#include "BenchOptions.h"
#include "qzMeterCOM.h"

#include <QElapsedTimer>
#include <optional>

// One identification against a fresh instrument, as the identification benchmarks time it.
struct TimedIdentification
{
    bool identified = false;  // the link opened the line and an instrument answered
    bool right = false;       // and it is the one started: model, serial number, package id and version
    double seconds = 0;       // from opening the line to the instrument identified (or given up)
};

// Starts an instrument with the given options on line com, paced as a real line, and identifies
// it once; nothing when the instrument would not start (the reason is printed).
inline std::optional<TimedIdentification> identifyOnce(VirtualMeterOptions options, int com)
{
    options.pace = true;
    VirtualMeterThread meter;
    if (!startBenchMeter(meter, options, com, FullWidth))
        return std::nullopt;
    TqzMeterCom link;
    link.PortNumber = com;
    QElapsedTimer clock;
    clock.start();
    TimedIdentification result;
    result.identified = link.OpenPort() && link.Connect();
    result.seconds = clock.nsecsElapsed() / 1e9;
    const TqzMeterInfo &info = link.Info;
    result.right = result.identified && info.ModelCode == options.modelCode
                   && info.SerialNumber == options.serialNumber
                   && info.PackageId == options.eeprom.value(64) + 256 * options.eeprom.value(65)
                   && info.Version == QString::fromLatin1(options.versionLine);
    link.Disconnect();
    return result;
}
