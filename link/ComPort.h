#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <stdexcept>

// The one exception of the serial layer. Its text is the failed step followed by
// " (win error code: %d)", the number being the errno (or Qt's serial error code) of that step.
class EComPort : public std::runtime_error
{
public:
    // Whose number code is: the system's errno or Qt's QSerialPort::SerialPortError.
    enum class CodeSource { System, SerialPort };

    EComPort(const QString &step, int code, CodeSource source = CodeSource::System);
    explicit EComPort(const QString &message);

    QString text() const { return QString::fromUtf8(what()); }
    int code() const { return m_code; }
    CodeSource source() const { return m_source; }

private:
    int m_code = 0;
    CodeSource m_source = CodeSource::System;
};

// The line to the instrument went away (hang-up, device removed): the link has closed the port.
// Its text names the port and the cause: "The connection to COM7 was lost (device removed)."
class ELineLost : public EComPort
{
public:
    ELineLost(const QString &portName, const QString &cause);
};

// The serial-port component the instrument link uses. The link only sees this interface, so a
// test can put a port of its own in place of the real one and decide exactly how bytes arrive.
class TCustomComPort : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~TCustomComPort() override = default;

    // The name is "COM" followed by the port number, or the path of a device node; it takes
    // effect at the next open.
    virtual void setPortName(const QString &name) = 0;
    virtual QString portName() const = 0;

    virtual void open() = 0;                 // raises EComPort; does nothing when already open
    virtual void close() = 0;                // does nothing when already closed
    virtual bool connected() const = 0;
    virtual void clearBuffers(bool receive, bool transmit) = 0;  // raises EComPort
    virtual qint64 writeText(const QByteArray &data) = 0;        // raises EComPort; bytes written
    virtual qint64 readText(QByteArray &data, qint64 count) = 0; // raises EComPort; never waits
    // Why the line went away ("hang-up", "device removed"); empty while it works or is closed.
    virtual QString lineLost() { return QString(); }

signals:
    // Bytes have arrived: count is what the port holds now. Never 0 and never while closed;
    // delivered on the main thread only while it processes events.
    void rxChar(int count);
    // The port noticed by itself that the line went away (lineLost() tells why).
    void lineLostNoticed();
};
