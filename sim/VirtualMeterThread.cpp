#include "VirtualMeterThread.h"

#include <QMetaObject>
#include <QThread>

VirtualMeterThread::~VirtualMeterThread()
{
    stop();
}

bool VirtualMeterThread::start(const VirtualMeterOptions &options, QString *error)
{
    stop();
    auto meter = std::make_unique<VirtualMeter>(options);
    m_expected = meter->expectedCapture();
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("virtual meter"));
    m_thread->start();
    meter->moveToThread(m_thread);
    m_meter = meter.release();

    bool started = false;
    QString message;
    QMetaObject::invokeMethod(m_meter, [&] { started = m_meter->start(&message); }, Qt::BlockingQueuedConnection);
    if (!started) {
        stop();
        if (error)
            *error = message;
        return false;
    }
    m_devicePath = m_meter->devicePath();
    return true;
}

void VirtualMeterThread::stop()
{
    if (!m_thread)
        return;
    if (m_meter) {
        // The instrument's notifiers and timers belong to its thread; it is destroyed there.
        VirtualMeter *meter = m_meter;
        m_meter = nullptr;
        QMetaObject::invokeMethod(meter, [meter] { delete meter; }, Qt::BlockingQueuedConnection);
    }
    m_devicePath.clear();
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

QByteArray VirtualMeterThread::received() const { return m_meter ? m_meter->received() : QByteArray(); }
QList<QByteArray> VirtualMeterThread::commands() const { return m_meter ? m_meter->commands() : QList<QByteArray>(); }
QList<MeterMemoryRead> VirtualMeterThread::memoryReads() const
{
    return m_meter ? m_meter->memoryReads() : QList<MeterMemoryRead>();
}
bool VirtualMeterThread::halted() const { return m_meter && m_meter->halted(); }
bool VirtualMeterThread::commandMode() const { return m_meter && m_meter->commandMode(); }
int VirtualMeterThread::halts() const { return m_meter ? m_meter->halts() : 0; }
int VirtualMeterThread::restarts() const { return m_meter ? m_meter->restarts() : 0; }
QImage VirtualMeterThread::expectedCapture() const { return m_expected; }

void VirtualMeterThread::clearReceived()
{
    if (m_meter)
        m_meter->clearReceived();
}
