#include "SerialPort.h"

#include "SerialPorts.h"
#include "SystemError.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cerrno>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

const QString OpenFailed = QStringLiteral("Unable to open com port");
const QString WriteFailed = QStringLiteral("WriteFile function failed");
const QString PurgeFailed = QStringLiteral("PurgeComm function failed");

constexpr int LineWatchIntervalMs = 500;

// How long one write may wait for the line: a second, and a tenth of a second a byte.
int writeTimeoutMs(qint64 bytes)
{
    return 1000 + 100 * int(qMin<qint64>(bytes, 1000000));
}

}  // namespace

TComPort::TComPort(QObject *parent)
    : TCustomComPort(parent)
{
    // A pseudo-terminal whose other side closes reports nothing while nobody reads: the line is
    // looked at now and then.
    m_lineWatch.setInterval(LineWatchIntervalMs);
    connect(&m_lineWatch, &QTimer::timeout, this, [this] {
        if (!lineLost().isEmpty()) {
            m_lineWatch.stop();
            emit lineLostNoticed();
        }
    });
}

TComPort::~TComPort()
{
    close();
}

void TComPort::setPortName(const QString &name)
{
    if (name == m_name)
        return;
    const bool reopen = connected();
    close();
    m_name = name;
    if (reopen)
        open();
}

void TComPort::open()
{
    if (connected())
        return;
    // A name that is a path is the device node itself (the command line takes either).
    const QString device = m_name.startsWith(QLatin1Char('/')) ? m_name
                                                               : SerialPorts::devicePathFor(SerialPorts::numberOf(m_name));
    if (device.isEmpty())
        throw EComPort(OpenFailed, ENOENT);

    // Qt keys its lock file by the name it is given, so it is given the real node: the same
    // pseudo-terminal opened through a link and through its own path is then one port.
    auto port = std::make_unique<QSerialPort>();
    const QString node = QFileInfo(device).canonicalFilePath();
    if (node.isEmpty())
        throw EComPort(OpenFailed, ENOENT);  // a link whose device has gone
    // Told apart from a port in use, so the user learns the remedy.
    if (::access(QFile::encodeName(node).constData(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM))
        throw EComPort(OpenFailed, EACCES);
    port->setPortName(node);
    // The node is readable and writable (asked above), so Qt's permission error means the node is
    // held by another program.
    if (!port->open(QIODevice::ReadWrite))
        throw EComPort(OpenFailed, int(port->error()), EComPort::CodeSource::SerialPort);

    const int fd = int(port->handle());
    // Held by nobody else: a second open of the node fails, whoever tries it.
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        const int code = errno;
        throw EComPort(OpenFailed, code);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        throw EComPort(OpenFailed, errno == EWOULDBLOCK ? EBUSY : errno);

    const bool settingsApplied = port->setBaudRate(QSerialPort::Baud9600)
        && port->setDataBits(QSerialPort::Data8) && port->setParity(QSerialPort::NoParity)
        && port->setStopBits(QSerialPort::OneStop) && port->setFlowControl(QSerialPort::NoFlowControl);
    if (!settingsApplied)
        throw EComPort(QStringLiteral("SetCommState function failed"), int(port->error()),
                       EComPort::CodeSource::SerialPort);
    // A pseudo-terminal has no modem lines; a real adapter gets DTR and RTS held off.
    port->setDataTerminalReady(false);
    port->setRequestToSend(false);
    port->clearError();

    connect(port.get(), &QSerialPort::readyRead, this, &TComPort::onReadyRead);
    connect(port.get(), &QSerialPort::errorOccurred, this, &TComPort::onError);
    m_port = std::move(port);
    m_device = node;
    m_watching = true;
    m_lineWatch.start();
}

void TComPort::close()
{
    if (!m_port)
        return;
    m_watching = false;
    m_lineWatch.stop();
    m_lostCause.clear();
    m_port->disconnect(this);
    if (m_port->isOpen()) {
        // The exclusive flag belongs to the terminal, not to this descriptor: it outlives the close
        // while anyone else keeps the terminal open, and would bar the next open.
        ::ioctl(int(m_port->handle()), TIOCNXCL);
        ::flock(int(m_port->handle()), LOCK_UN);
        m_port->clear();
        m_port->close();
    }
    m_port.reset();
}

bool TComPort::connected() const
{
    return m_port && m_port->isOpen();
}

QString TComPort::devicePath() const
{
    return connected() ? m_device : QString();
}

void TComPort::clearBuffers(bool receive, bool transmit)
{
    if (!connected())
        throw EComPort(PurgeFailed, EBADF);
    // A write returns only once its bytes have left (writeText drains the line), so the transmit
    // queue holds nothing to discard. Flushing it anyway would, on a pseudo-terminal, throw away
    // bytes the instrument has not read yet: only the receive side is cleared.
    Q_UNUSED(transmit);
    if (receive && !m_port->clear(QSerialPort::Input))
        throw EComPort(PurgeFailed, int(m_port->error()), EComPort::CodeSource::SerialPort);
}

qint64 TComPort::writeText(const QByteArray &data)
{
    if (!connected())
        throw EComPort(WriteFailed, EBADF);
    if (data.isEmpty())
        return 0;
    // Bytes that come in while the write is finishing wait for the next event processing, so
    // the receive handler runs only while the main thread processes its events; that holds on
    // every way out of the write, an error included.
    m_writing = true;
    struct WritingGuard {
        TComPort &port;
        ~WritingGuard()
        {
            port.m_writing = false;
            if (std::exchange(port.m_rxWhileWriting, false))
                QMetaObject::invokeMethod(&port, &TComPort::onReadyRead, Qt::QueuedConnection);
        }
    } guard{*this};
    if (m_port->write(data) != data.size())
        throw EComPort(WriteFailed, int(m_port->error()), EComPort::CodeSource::SerialPort);
    const int timeout = writeTimeoutMs(data.size());
    while (m_port->bytesToWrite() > 0) {
        if (!m_port->waitForBytesWritten(timeout)) {
            if (m_port->error() != QSerialPort::NoError && m_port->error() != QSerialPort::TimeoutError)
                throw EComPort(WriteFailed, int(m_port->error()), EComPort::CodeSource::SerialPort);
            break;
        }
    }
    drain(timeout);
    return data.size() - m_port->bytesToWrite();
}

// Waits until the driver has sent what it holds, as a finished write means the bytes have left.
void TComPort::drain(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    int queued = 0;
    while (::ioctl(int(m_port->handle()), TIOCOUTQ, &queued) == 0 && queued > 0 && timer.elapsed() < timeoutMs)
        QThread::msleep(1);
}

qint64 TComPort::readText(QByteArray &data, qint64 count)
{
    if (!connected())
        throw EComPort(QStringLiteral("ReadFile function failed"), EBADF);
    data = m_port->read(count);
    return data.size();
}

void TComPort::onReadyRead()
{
    if (!m_watching || !connected())
        return;
    if (m_writing) {
        m_rxWhileWriting = true;
        return;
    }
    const qint64 count = m_port->bytesAvailable();
    if (count > 0)
        emit rxChar(int(qMin<qint64>(count, INT_MAX)));
}

void TComPort::onError(QSerialPort::SerialPortError error)
{
    // A device that went away delivers nothing more until the port is opened again.
    if (error == QSerialPort::ResourceError) {
        m_watching = false;
        if (m_lostCause.isEmpty())
            m_lostCause = causeOfLoss(EIO);
        m_lineWatch.stop();
        emit lineLostNoticed();
    }
}

// The descriptor itself tells a hang-up or a removed adapter at once, without waiting for a read
// to fail: the link asks at every poll.
QString TComPort::lineLost()
{
    if (!connected() || !m_lostCause.isEmpty())
        return m_lostCause;
    pollfd line{int(m_port->handle()), POLLIN, 0};
    if (::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        m_lostCause = causeOfLoss(line.revents & POLLNVAL ? EBADF : EIO);
    return m_lostCause;
}

QString TComPort::causeOfLoss(int code) const
{
    if (!QFileInfo::exists(m_device))
        return QStringLiteral("device removed");
    if (code == EIO)
        return QStringLiteral("hang-up");
    return systemError(code);
}
