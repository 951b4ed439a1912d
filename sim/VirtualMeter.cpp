#include "VirtualMeter.h"

#include "LineReleaser.h"
#include "SerialPorts.h"
#include "SystemError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QByteArray ReadTrailer("OK\n\r");
const QByteArray SwappedReadTrailer("OK\r\n");
const QByteArray RecordEnd("\r\n");
const QByteArray VersionEnd("\r\n");

constexpr quint32 MaxReadLength = 16 * 1024 * 1024;  // longer requests are not answered
// Replies wait here while the program does not take them; beyond this the instrument is busy
// and drops further replies, as a program that asks without reading gets nothing more.
constexpr qsizetype MaxQueuedBytes = MaxReadLength + 4096;
constexpr quint32 ShortImageMissing = 100;
constexpr int SplitStatusLength = 40;
constexpr int SplitStatusFirstPart = 32;
constexpr int SplitStatusPauseMs = 300;
constexpr int PaceTickMs = 1;  // a byte takes about 1.04 ms at 9600 baud
constexpr int PaceCatchUpBytes = VirtualMeter::BytesPerSecond / 4;  // after a stall, no longer burst
constexpr int ReadChunk = 4096;
constexpr int HangUpCheckMs = 10;
constexpr int HangUpWaitLimitMs = 3000;  // a program that reads nothing does not hold the line up
constexpr int LateHaltAckMs = 1500;      // past the link's 1 s wait for the acknowledgement
constexpr int LateRestartAckMs = 5000;   // past the link's 3 s wait, within the line's 10 s silence limit
const QByteArray GarbledJunk("\x07#~");   // what a noisy line puts before every reply
constexpr int PauseInImageMs = 5000;     // the longest pause a real instrument makes in a reply

// Status record content besides the identity fields.
constexpr quint8 StatusFlagOn = 1;
const char StatusText3[] = "ALV";
const char StatusText12[] = "CVA-0001-B2K";
constexpr quint8 StatusByte14 = 0x0E;
constexpr quint8 ChecksumMask = 0x55;

// Fixed chip identifiers; byte 2 of the flash identifier is what the link checks for.
const QByteArray Spi0Identifier = QByteArray::fromHex("43564e5350493000a1b2c3d4e5f60718293a4b5c");
const QByteArray FlashIdentifier = QByteArray::fromHex("ef401b");
constexpr quint8 ErasedEepromByte = 0xFF;

// Drops the oldest entries beyond limit.
template <typename List>
void keepLast(List &list, qsizetype limit)
{
    if (list.size() > limit)
        list.remove(0, list.size() - limit);
}

QString stepFailed(const char *step)
{
    return QStringLiteral("%1 failed: %2").arg(QLatin1String(step), systemError(errno));
}

}  // namespace

VirtualMeter::VirtualMeter(const VirtualMeterOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_screen(options)
    , m_memoryMap(options, m_screen)
{
    m_paceTimer = new QTimer(this);
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    m_paceTimer->setInterval(PaceTickMs);
    connect(m_paceTimer, &QTimer::timeout, this, &VirtualMeter::pump);
    m_pauseTimer = new QTimer(this);
    m_pauseTimer->setSingleShot(true);
    m_pauseTimer->setTimerType(Qt::PreciseTimer);  // a latency is never cut short
    connect(m_pauseTimer, &QTimer::timeout, this, [this] {
        m_paused = false;
        m_pauseDone = true;
        m_paceClock.invalidate();  // the line was quiet; pacing starts afresh
        pump();
    });
    m_clock.start();
    m_hangUpTimer = new QTimer(this);
    m_hangUpTimer->setInterval(HangUpCheckMs);
    connect(m_hangUpTimer, &QTimer::timeout, this, &VirtualMeter::hangUpWhenTaken);
}

VirtualMeter::~VirtualMeter()
{
    stop();
}

bool VirtualMeter::start(QString *error)
{
    const auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        stop();
        return false;
    };
    const QString problem = m_options.problem();
    if (!problem.isEmpty())
        return fail(problem);
    if (m_master >= 0)
        return true;

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0)
        return fail(stepFailed("posix_openpt"));
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    if (::grantpt(m_master) != 0)
        return fail(stepFailed("grantpt"));
    if (::unlockpt(m_master) != 0)
        return fail(stepFailed("unlockpt"));
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail(stepFailed("ptsname"));
    m_devicePath = QString::fromLocal8Bit(name);

    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0)
        return fail(stepFailed("opening the terminal's slave side"));
    // Raw from the start: no echo and no line-end translation before a program sets the line up.
    termios settings{};
    if (::tcgetattr(m_slave, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::cfsetispeed(&settings, B9600);
        ::cfsetospeed(&settings, B9600);
        ::tcsetattr(m_slave, TCSANOW, &settings);
    }

    if (m_options.comNumber > 0) {
        const QString folder = SerialPorts::portsFolder();
        if (!QDir().mkpath(folder))
            return fail(QStringLiteral("cannot create the ports folder %1").arg(folder));
        const QString link = folder + QStringLiteral("/COM%1").arg(m_options.comNumber);
        // A link left behind by an instrument that did not end cleanly is replaced.
        const QFileInfo existing(link);
        if ((existing.exists() || existing.isSymLink()) && !QFile::remove(link))
            return fail(QStringLiteral("cannot replace %1").arg(link));
        if (::symlink(name, QFile::encodeName(link).constData()) != 0)
            return fail(stepFailed("creating the COM link"));
        m_linkPath = link;
    }

    // Held as another program holds a serial line: the terminal opened exclusively and locked.
    if (m_options.holdPort && (::ioctl(m_slave, TIOCEXCL) != 0 || ::flock(m_slave, LOCK_EX | LOCK_NB) != 0))
        return fail(stepFailed("holding the line"));

    m_releaser = std::make_unique<LineReleaser>(m_slave, m_devicePath);
    m_readNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &VirtualMeter::onReadable);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &VirtualMeter::onWritable);
    return true;
}

void VirtualMeter::stop()
{
    closeTerminal();
    removeLink();
}

void VirtualMeter::closeTerminal()
{
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_releaser.reset();
    m_paceTimer->stop();
    m_pauseTimer->stop();
    m_hangUpTimer->stop();
    m_queue.clear();
    m_paused = false;
    m_pauseDone = false;
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = -1;
    m_slave = -1;
}

void VirtualMeter::removeLink()
{
    if (m_linkPath.isEmpty())
        return;
    // Only our own link goes; another instrument may have taken the name meanwhile.
    const QFileInfo link(m_linkPath);
    if (link.isSymLink() && link.symLinkTarget() == m_devicePath)
        QFile::remove(m_linkPath);
    m_linkPath.clear();
}

QByteArray VirtualMeter::received() const
{
    QMutexLocker lock(&m_mutex);
    return m_received;
}

void VirtualMeter::clearReceived()
{
    QMutexLocker lock(&m_mutex);
    m_received.clear();
    m_commands.clear();
    m_reads.clear();
}

QList<QByteArray> VirtualMeter::commands() const
{
    QMutexLocker lock(&m_mutex);
    return m_commands;
}

QList<MeterMemoryRead> VirtualMeter::memoryReads() const
{
    QMutexLocker lock(&m_mutex);
    return m_reads;
}

void VirtualMeter::onReadable()
{
    char buffer[ReadChunk];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            const QByteArray bytes(buffer, n);
            const QList<MeterRequest> requests = m_parser.feed(bytes);
            {
                QMutexLocker lock(&m_mutex);
                m_received.append(bytes);
                for (const MeterRequest &request : requests) {
                    if (request.kind != MeterRequest::DspCommandBlock)
                        m_commands.append(request.text);
                    if (request.kind == MeterRequest::ReadMemory)
                        m_reads.append({request.address, request.length});
                }
                keepLast(m_received, RecentBytes);
                keepLast(m_commands, RecentCommands);
                keepLast(m_reads, RecentReads);
            }
            for (const MeterRequest &request : requests)
                answer(request);
            if (m_master < 0)
                return;  // an answer hung up
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && m_readNotifier)
            m_readNotifier->setEnabled(false);  // the terminal failed; nothing more will come
        return;
    }
}

void VirtualMeter::onWritable()
{
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    pump();
}

QByteArray VirtualMeter::statusRecord() const
{
    const int length = m_options.has(MeterFault::SplitStatus) ? SplitStatusLength : m_options.statusLength;
    QByteArray record(length + RecordEnd.size(), '\0');
    record[0] = char(length);
    for (int i = 1; i <= 6; ++i)
        record[i] = char(i);
    record[7] = char(StatusFlagOn);
    record[8] = char(0x08);
    std::memcpy(record.data() + 9, StatusText3, 3);
    record[12] = char(m_options.mcuMajor);
    record[13] = char(m_options.mcuMinor);
    record[14] = char(StatusByte14);
    std::memcpy(record.data() + 15, StatusText12, 12);
    record[27] = char(m_options.serialNumber >> 8);
    record[28] = char(m_options.serialNumber & 0xFF);
    record[29] = char(m_options.modelCode);
    record[30] = char(m_options.fpgaVersion);
    for (int i = 31; i < length - 1; ++i)
        record[i] = char(0x30 + i % 10);
    quint32 sum = 0;
    for (int i = 0; i < length - 1; ++i)
        sum += quint8(record.at(i));
    quint8 checksum = quint8(sum % 256) ^ ChecksumMask;
    if (m_options.has(MeterFault::WrongChecksum))
        checksum ^= 0xFF;
    record[length - 1] = char(checksum);
    record.replace(length, RecordEnd.size(), RecordEnd);
    if (m_options.has(MeterFault::ShortStatus))
        record.chop(1);
    return record;
}

void VirtualMeter::answer(const MeterRequest &request)
{
    if (m_options.has(MeterFault::Silent) || request.kind == MeterRequest::DspCommandBlock)
        return;
    if (m_options.has(MeterFault::Garbage)) {
        send(garbage());
        return;
    }
    switch (request.kind) {
    case MeterRequest::CommandModeOn:
    case MeterRequest::CommandModeOff:
        if (m_options.has(MeterFault::NoAck)) {
            acknowledge(false);
        } else {
            m_commandMode = request.kind == MeterRequest::CommandModeOn;
            acknowledge(true);
        }
        return;
    default:
        break;
    }
    // Outside command mode the instrument does not take commands.
    if (!m_commandMode)
        return;

    switch (request.kind) {
    case MeterRequest::Status: {
        const QByteArray record = statusRecord();
        if (m_options.losesLineIn(MeterPhase::Identification)) {
            send(record.left(record.size() / 2), 0, true);
        } else if (m_options.has(MeterFault::SplitStatus)) {
            send(record.left(SplitStatusFirstPart));
            send(record.mid(SplitStatusFirstPart), SplitStatusPauseMs);
        } else {
            send(record);
        }
        break;
    }
    case MeterRequest::Version:
        send(m_options.versionLine + VersionEnd);
        break;
    case MeterRequest::Spi0Id:
        send(Spi0Identifier);
        break;
    case MeterRequest::FlashId:
        send(FlashIdentifier);
        break;
    case MeterRequest::ReadEeprom:
        if (!m_options.silentEeprom.contains(quint16(request.address)))
            send(QByteArray(1, char(m_options.eeprom.value(quint16(request.address), ErasedEepromByte))));
        break;
    case MeterRequest::StopDsp:
        if (m_options.has(MeterFault::HaltRefused)) {
            acknowledge(false);
        } else {
            m_halted = true;
            ++m_halts;
            if (m_options.losesLineIn(MeterPhase::Halt))
                send(QByteArray(), 0, true);
            else
                acknowledge(true, m_options.has(MeterFault::LateHaltAck) ? LateHaltAckMs : 0);
        }
        break;
    case MeterRequest::StartDsp:
        if (m_options.losesLineIn(MeterPhase::Restart)) {
            send(QByteArray(), 0, true);
        } else if (m_options.has(MeterFault::RestartRefused)) {
            acknowledge(false);
        } else {
            m_halted = false;
            ++m_restarts;
            acknowledge(true, m_options.has(MeterFault::LateRestartAck) ? LateRestartAckMs : 0);
        }
        break;
    case MeterRequest::DspCommand:
        acknowledge(true);
        break;
    case MeterRequest::ReadMemory:
        answerMemoryRead(request);
        break;
    default:
        break;
    }
}

void VirtualMeter::answerMemoryRead(const MeterRequest &request)
{
    if (request.length > MaxReadLength)
        return;
    QByteArray data = m_memoryMap.memory().read(request.address, request.length);
    const bool image = request.address == m_memoryMap.imageReadAddress();
    const bool swapped = m_options.has(MeterFault::SwappedTrailer)
        || (image && m_options.has(MeterFault::SwappedImageTrailer));
    const QByteArray &trailer = swapped ? SwappedReadTrailer : ReadTrailer;
    const bool lineGoes = (image && m_options.losesLineIn(MeterPhase::Image))
        || (request.address == MeterMemoryMap::DirectoryAddress && m_options.losesLineIn(MeterPhase::Directory))
        || (request.address == MeterMemoryMap::DspStatusAddress && m_options.losesLineIn(MeterPhase::DspStatus));
    if (lineGoes || (image && m_options.has(MeterFault::StallInRead))) {
        send(data.left(qMax<qsizetype>(1, data.size() / 2)), 0, lineGoes);
        return;
    }
    if (image && m_options.has(MeterFault::PauseInImage)) {
        const qsizetype half = data.size() / 2;
        send(data.left(half));
        send(data.mid(half) + trailer, PauseInImageMs);
        return;
    }
    if (image && m_options.has(MeterFault::ShortImage))
        data.chop(ShortImageMissing);
    send(data + trailer);
}

void VirtualMeter::acknowledge(bool ok, int lateByMs)
{
    send((ok ? QByteArray("OK") : QByteArray("ER")) + m_options.lineEnd, lateByMs);
}

QByteArray VirtualMeter::garbage()
{
    QByteArray bytes(int(m_random.bounded(16, 49)), '\0');
    for (char &byte : bytes) {
        do
            byte = char(m_random.bounded(256));
        while (byte == '\r' || byte == '\n');
    }
    return bytes;
}

void VirtualMeter::send(const QByteArray &bytes, int pauseBeforeMs, bool hangUpAfter)
{
    if (m_master < 0 || m_hangUpTimer->isActive())
        return;
    qsizetype queued = bytes.size();
    for (const Outgoing &item : std::as_const(m_queue))
        queued += item.bytes.size() - item.sent;
    if (queued > MaxQueuedBytes)
        return;
    // Latency is the line's delay: a reply starts that long after its request, while replies
    // queued behind each other are not delayed again.
    const QByteArray junk = m_options.has(MeterFault::Garbled) && !bytes.isEmpty() ? GarbledJunk : QByteArray();
    m_queue.append({junk + bytes, 0, pauseBeforeMs, m_clock.elapsed() + m_options.latencyMs, hangUpAfter});
    pump();
}

void VirtualMeter::pump()
{
    while (m_master >= 0 && !m_queue.isEmpty()) {
        Outgoing &head = m_queue.first();
        const qint64 untilReady = head.readyAtMs - m_clock.elapsed();
        const qint64 wait = qMax<qint64>(m_pauseDone ? 0 : head.pauseBeforeMs, untilReady);
        if (wait > 0 && head.sent == 0) {
            if (!m_paused) {
                m_paused = true;
                m_pauseTimer->start(int(wait));
            }
            return;
        }
        if (m_paused)
            return;

        qint64 allowed = head.bytes.size() - head.sent;
        if (m_options.pace) {
            if (!m_paceClock.isValid()) {
                m_paceClock.start();
                m_pacedSent = 0;
            }
            qint64 budget = m_paceClock.elapsed() * BytesPerSecond / 1000 - m_pacedSent;
            if (budget > PaceCatchUpBytes) {
                // The line could not take bytes for a while; a real line does not catch up.
                m_pacedSent += budget - PaceCatchUpBytes;
                budget = PaceCatchUpBytes;
            }
            if (!m_paceTimer->isActive())
                m_paceTimer->start();
            if (budget <= 0)
                return;
            allowed = std::min(allowed, budget);
        }
        if (m_options.chunk > 0) {
            // An adapter hands bytes over in pieces: a piece goes once it is whole (or the reply ends).
            const qint64 piece = std::min<qint64>(m_options.chunk, head.bytes.size() - head.sent);
            if (allowed < piece)
                return;
            allowed = piece;
        }

        if (allowed > 0) {
            const ssize_t written = ::write(m_master, head.bytes.constData() + head.sent, size_t(allowed));
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                if ((errno == EAGAIN || errno == EWOULDBLOCK) && m_writeNotifier)
                    m_writeNotifier->setEnabled(true);
                else
                    m_queue.clear();  // the terminal is gone
                return;
            }
            m_bytesSent += written;
            m_pacedSent += written;
            head.sent += written;
            if (written < allowed) {
                if (m_writeNotifier)
                    m_writeNotifier->setEnabled(true);
                return;
            }
        }
        if (head.sent < head.bytes.size())
            continue;
        const bool hangUpNow = head.hangUpAfter;
        m_queue.removeFirst();
        m_pauseDone = false;
        if (hangUpNow) {
            m_queue.clear();
            m_hangUpClock.start();
            m_hangUpTimer->start();
            break;
        }
    }
    if (m_queue.isEmpty()) {
        m_paceTimer->stop();
        m_paceClock.invalidate();
    }
}

void VirtualMeter::hangUpWhenTaken()
{
    int waiting = 0;
    if (m_slave >= 0 && ::ioctl(m_slave, TIOCINQ, &waiting) == 0 && waiting > 0
        && m_hangUpClock.elapsed() < HangUpWaitLimitMs)
        return;
    hangUp();
}

void VirtualMeter::hangUp()
{
    closeTerminal();
    if (m_options.unplugs())
        removeLink();
    emit hungUp();
}
