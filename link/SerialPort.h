#pragma once

#include "ComPort.h"

#include <QSerialPort>
#include <QTimer>
#include <memory>

// The real serial port on QSerialPort: 9600 8N1, no flow control, DTR and RTS held off, raw 8-bit.
// A port name "COM<n>" (or a device path) is resolved to its device node when the port opens, and the node is held
// exclusively (Qt's lock file keyed by the real node, TIOCEXCL and an advisory lock).
class TComPort : public TCustomComPort
{
    Q_OBJECT
public:
    explicit TComPort(QObject *parent = nullptr);
    ~TComPort() override;

    void setPortName(const QString &name) override;
    QString portName() const override { return m_name; }

    void open() override;
    void close() override;
    bool connected() const override;
    void clearBuffers(bool receive, bool transmit) override;
    qint64 writeText(const QByteArray &data) override;
    qint64 readText(QByteArray &data, qint64 count) override;
    QString lineLost() override;

    // The device node the port opened, empty while closed.
    QString devicePath() const;

private:
    void drain(int timeoutMs);
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    QString causeOfLoss(int code) const;

    QString m_name;
    QString m_device;
    std::unique_ptr<QSerialPort> m_port;
    bool m_watching = false;  // false after the port reported a fatal error, until it is reopened
    QString m_lostCause;      // set once the line went away, until the port is closed
    QTimer m_lineWatch;       // notices a line that goes away while nobody waits on it
    bool m_writing = false;
    bool m_rxWhileWriting = false;
};
