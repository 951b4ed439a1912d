#pragma once

#include "VirtualMeterThread.h"
#include "qzMeterCOM.h"

#include <QDebug>

// A virtual instrument on a thread of its own, linked as COM<options.comNumber> in the test's
// settings folder, and the link a test drives against it.
struct MeterSession
{
    explicit MeterSession(const VirtualMeterOptions &options)
    {
        QString error;
        started = meter.start(options, &error);
        if (!started)
            qWarning() << "virtual instrument:" << error;
        link.PortNumber = options.comNumber;
    }
    // Started, the port open and the instrument identified.
    bool connect() { return started && link.OpenPort() && link.Connect(); }

    VirtualMeterThread meter;
    TqzMeterCom link;
    bool started = false;
};
