#pragma once

#include "VirtualMeter.h"

#include <QImage>
#include <QString>

class QThread;

// A virtual instrument running on a thread of its own, for tests that talk to it through the
// real link from their own thread. Stopping it (or destroying this) removes its COM link.
class VirtualMeterThread
{
public:
    VirtualMeterThread() = default;
    ~VirtualMeterThread();
    VirtualMeterThread(const VirtualMeterThread &) = delete;
    VirtualMeterThread &operator=(const VirtualMeterThread &) = delete;

    // Builds the instrument here (its screen is drawn on the calling thread) and starts it on
    // its thread. False with a message in error when it could not start.
    bool start(const VirtualMeterOptions &options, QString *error = nullptr);
    void stop();

    QString devicePath() const { return m_devicePath; }
    QByteArray received() const;
    void clearReceived();
    QList<QByteArray> commands() const;
    QList<MeterMemoryRead> memoryReads() const;
    bool halted() const;
    bool commandMode() const;
    int halts() const;
    int restarts() const;
    QImage expectedCapture() const;

    // The instrument itself; its thread-safe accessors may be used directly.
    const VirtualMeter *meter() const { return m_meter; }

private:
    QThread *m_thread = nullptr;
    VirtualMeter *m_meter = nullptr;
    QImage m_expected;
    QString m_devicePath;
};
