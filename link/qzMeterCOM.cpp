#include "qzMeterCOM.h"

#include "SerialPort.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

const QByteArray EnterCommandMode = QByteArrayLiteral("@AT+++\r");
const QByteArray LeaveCommandMode = QByteArrayLiteral("@AT---\r");
const QByteArray StatusCommand = QByteArrayLiteral("@ATSTAT\r");
const QByteArray VersionCommand = QByteArrayLiteral("@ATVER\r");
const QByteArray ChipIdCommand = QByteArrayLiteral("@ATSPI0GETID\r");
const QByteArray FlashIdCommand = QByteArrayLiteral("@ATRDFlashID\r");
const QByteArray EepromCommand = QByteArrayLiteral("@ATGETEE\r");
const QByteArray StopDspCommand = QByteArrayLiteral("@ATDSPSTOPLOGO");
const QByteArray StartDspCommand = QByteArrayLiteral("@ATDSPSTART");
const QByteArray DspCommand = QByteArrayLiteral("@ATDSPCMD");
const QByteArray ReadCommand = QByteArrayLiteral("@ATSPI1Read\r");
const QByteArray OkTrailer = QByteArrayLiteral("OK\n\r");

constexpr int StatusMinimumBytes = 32;
constexpr int ChipIdBytes = 20;
constexpr int FlashIdBytes = 3;
constexpr quint8 FlashIdMarker = 0x1B;
constexpr quint8 ChecksumMask = 0x55;
constexpr quint8 EepromByte46Default = 4;
constexpr quint8 EepromByte46Maximum = 16;
constexpr quint16 PackageIdUnknown = 0xFFFF;
constexpr int DspCommandBlockSize = 8;

// The instrument's models by the code of its status record; any other code is unknown.
struct TqzModel
{
    quint8 code;
    const char *name;
    int index;
};
const TqzModel Models[] = {
    {208, "qzMeter QZ Alvo", 18},  {209, "qzMeter QZ Brenn", 19}, {210, "qzMeter QZ Tazo", 24},
    {220, "Corvane Alvo", 22},     {221, "Corvane Brenn", 23},    {222, "Corvane Tazo", 25},
};
constexpr quint8 CorvaneAlvo = 220;
constexpr quint8 CorvaneBrenn = 221;
const TqzModel UnknownModel = {0, "Unknown Instrument", 0};

const TqzModel &modelOf(quint8 modelCode)
{
    for (const TqzModel &model : Models)
        if (model.code == modelCode)
            return model;
    return UnknownModel;
}

QString openFailureReason(int code)
{
    switch (code) {
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied; add your user to the dialout group "
                              "(sudo usermod -aG dialout $USER) and log in again");
    case EBUSY:
        return QStringLiteral("it is in use by another program");
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("there is no such device");
    default:
        return QString::fromLocal8Bit(std::strerror(code));
    }
}

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(value >> (24 - 8 * i));
    return bytes;
}

quint8 byteAt(const QByteArray &data, int index)
{
    return quint8(data.at(index));
}

}  // namespace

TqzMeterCom::TqzMeterCom(std::unique_ptr<TCustomComPort> port, QObject *parent)
    : QObject(parent)
    , ComPort(port ? std::move(port) : std::make_unique<TComPort>())
{
    connect(ComPort.get(), &TCustomComPort::rxChar, this, &TqzMeterCom::CPRxChar);
    connect(ComPort.get(), &TCustomComPort::lineLostNoticed, this, &TqzMeterCom::LineLostNoticed);
}

// The port closes with the link; nothing is sent to the instrument on the way.
TqzMeterCom::~TqzMeterCom() = default;

int MeterProtocol::readMemoryPolls(quint32 length)
{
    const qint64 lineMs = (qint64(length) + 4) * 1000 / LineBytesPerSecond;
    const qint64 polls = 2 * lineMs / 10 + 1;
    return int(qBound(qint64(ReadMemoryPolls), polls, qint64(INT_MAX)));
}

void TqzMeterCom::poll()
{
    QCoreApplication::processEvents();
    m_clock->sleep(PollIntervalMs);
    QCoreApplication::processEvents();
    checkLine();
}

// A line that went away ends every wait at once: the port is closed (so nothing waits on it any
// more) and the operation fails with a text that names the port and the cause.
void TqzMeterCom::checkLine()
{
    const QString cause = takeLostCause();
    if (!cause.isEmpty())
        throw ELineLost(ComPort->portName(), cause);
}

bool TqzMeterCom::TakeLineLoss(QString *text)
{
    const QString cause = takeLostCause();
    if (cause.isEmpty())
        return false;
    *text = ELineLost(ComPort->portName(), cause).text();
    return true;
}

QString TqzMeterCom::takeLostCause()
{
    const QString cause = ComPort->lineLost();
    if (cause.isEmpty())
        return cause;
    ComPort->close();
    CommandMode = false;
    ReplyComplete = false;
    RxBuffer.clear();
    Idle = true;
    return cause;
}

qint64 TqzMeterCom::write(const QByteArray &data)
{
    checkLine();
    try {
        return ComPort->writeText(data);
    } catch (const EComPort &) {
        checkLine();  // a write that failed because the line went away says so
        throw;
    }
}

void TqzMeterCom::CPRxChar(int count)
{
    try {
        QByteArray bytes;
        ComPort->readText(bytes, count);
        RxBuffer += bytes;
        // Only the end of the buffer is looked at, once per receive event.
        if (RxBuffer.endsWith("\r\n") || RxBuffer.endsWith("\n\r")) {
            if (!Idle)
                ReplyComplete = true;
            else
                ClearReceive();  // an unsolicited line
        }
    } catch (...) {
        std::fputs("DEBUG_COM_ERROR: CPRxChar\n", stdout);
        std::fflush(stdout);
    }
}

void TqzMeterCom::ClearReceive()
{
    ReplyComplete = false;
    RxBuffer.clear();
    try {
        ComPort->clearBuffers(true, true);
    } catch (const EComPort &) {
        checkLine();
        throw;
    }
}

bool TqzMeterCom::WaitForReply(int polls)
{
    for (int i = 0; i < polls; ++i) {
        if (ReplyComplete)
            return true;
        poll();
    }
    return false;
}

void TqzMeterCom::DrainLine(int quietMs)
{
    const bool wasIdle = Idle;
    Idle = false;  // nothing of it is a reply, and no line of it may clear the driver's queue
    ClearReceive();
    const LinkStopwatch total(*m_clock);
    LinkStopwatch quiet(*m_clock);
    while (quiet.elapsed() < quietMs && total.elapsed() < MeterProtocol::StaleDrainLimitMs) {
        poll();
        if (!RxBuffer.isEmpty()) {
            RxBuffer.clear();
            quiet.restart();
        }
    }
    ClearReceive();
    Idle = wasIdle;
}

void TqzMeterCom::Pause(int ms)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!m_cancelRequested && elapsed.elapsed() < ms)
        poll();
}

bool TqzMeterCom::WaitForOK(int polls)
{
    Idle = false;
    const bool result = WaitForReply(polls) && RxBuffer.startsWith("OK");
    Idle = true;
    return result;
}

bool TqzMeterCom::WaitForBytes(int polls, qint64 minimum)
{
    return collectBytes(polls, minimum, false);
}

// A memory reply also fails when it started and then stays silent, and a cancel turns the wait
// into draining the rest of the reply, bounded by the time its missing bytes need on the line.
bool TqzMeterCom::collectBytes(int polls, qint64 minimum, bool memoryReply)
{
    int count = 0;
    qint64 previous = 0;
    bool result = false;
    LinkStopwatch sinceLastByte(*m_clock);
    std::optional<LinkStopwatch> draining;
    qint64 drainLimitMs = 0;
    while (RxBuffer.size() < minimum) {
        ++count;
        const qint64 length = RxBuffer.size();
        if (ProgressBar)
            ProgressBar(length - previous);
        previous = length;
        poll();
        if (count >= polls)
            return false;  // even when the last events brought the missing bytes
        if (memoryReply) {
            if (RxBuffer.size() != length)
                sinceLastByte.restart();
            else if (!RxBuffer.isEmpty() && sinceLastByte.elapsed() >= ReplySilenceLimitMs)
                return false;
            if (m_cancelRequested && !draining) {
                draining.emplace(*m_clock);
                drainLimitMs = (minimum - RxBuffer.size()) * 1000 / MeterProtocol::LineBytesPerSecond * 2
                               + MeterProtocol::CancelDrainMarginMs;
            }
            if (draining
                && (draining->elapsed() >= drainLimitMs || sinceLastByte.elapsed() >= MeterProtocol::CancelDrainQuietMs))
                return false;
        }
        result = true;
    }
    return result;
}

// Complete when the record's own length and its line end are in; a record that stops after the
// 32 bytes every record has is judged once the line has been quiet for a moment.
bool TqzMeterCom::waitForStatusRecord()
{
    LinkStopwatch quiet(*m_clock);
    qint64 seen = 0;
    for (int i = 0; i < ReplyTimeout; ++i) {
        const qint64 size = RxBuffer.size();
        if (size != seen) {
            seen = size;
            quiet.restart();
        }
        if (size >= StatusMinimumBytes
            && (size >= byteAt(RxBuffer, 0) + 2 || quiet.elapsed() >= MeterProtocol::StatusQuietMs))
            return true;
        poll();
    }
    return RxBuffer.size() >= StatusMinimumBytes;
}

bool TqzMeterCom::SendCommand(const QByteArray &text, bool waitForOK)
{
    if (!CommandMode)
        SetCommandMode(true);
    Idle = false;
    ClearReceive();
    write(text + '\r');
    const bool result = waitForOK ? WaitForOK(MeterProtocol::AckPolls) : true;
    Idle = true;
    return result;
}

void TqzMeterCom::SetCommandMode(bool on)
{
    Idle = false;
    bool ok = false;
    for (int attempt = 0; attempt < MeterProtocol::CommandModeAttempts && !ok; ++attempt) {
        ClearReceive();
        write(on ? EnterCommandMode : LeaveCommandMode);
        ok = WaitForOK(MeterProtocol::CommandModePolls);
    }
    CommandMode = on && ok;
    ClearReceive();
    Idle = true;
}

bool TqzMeterCom::OpenPort()
{
    m_openFailure.clear();
    const QString name = PortPath.isEmpty() ? QStringLiteral("COM%1").arg(PortNumber) : PortPath;
    try {
        if (ComPort->connected())
            ComPort->close();
        ComPort->setPortName(name);
        ComPort->open();
    } catch (const EComPort &error) {
        // A port that cannot be opened simply stays closed; the caller reports it, with the reason.
        m_openFailure = QStringLiteral("%1 cannot be opened: %2.").arg(name, openFailureReason(error.code()));
    } catch (...) {
        m_openFailure = QStringLiteral("%1 cannot be opened.").arg(name);
    }
    return ComPort->connected();
}

bool TqzMeterCom::Connect()
{
    if (!ComPort->connected())
        return false;
    // The rest of a reply that an interrupted program left on the line would spoil the first
    // exchanges: it is read and forgotten first.
    DrainLine(MeterProtocol::StaleQuietMs);
    if (!CommandMode)
        SetCommandMode(true);
    return CommandMode && Identify();
}

// The port is closed on every way out, also when leaving command mode fails.
void TqzMeterCom::Disconnect()
{
    const auto close = qScopeGuard([this] {
        CommandMode = false;
        ComPort->close();
    });
    if (CommandMode && ComPort->connected())
        SetCommandMode(false);
}

bool TqzMeterCom::IsConnected() const
{
    return ComPort->connected();
}

bool TqzMeterCom::ReadEepromByte(quint16 address, quint8 &value)
{
    ClearReceive();
    write(EepromCommand);
    const char addressBytes[2] = {char(address >> 8), char(address & 0xFF)};
    write(QByteArray(addressBytes, 2));
    if (!WaitForBytes(MeterProtocol::EepromPolls, 1))
        return false;
    value = byteAt(RxBuffer, 0);
    return true;
}

bool TqzMeterCom::Identify()
{
    Idle = false;
    struct IdleOnExit {
        bool &idle;
        ~IdleOnExit() { idle = true; }
    } restoreIdle{Idle};

    // The status record, judged once it is complete: a real line delivers it byte by byte.
    ClearReceive();
    write(StatusCommand);
    if (!waitForStatusRecord())
        return false;
    const int length = byteAt(RxBuffer, 0);
    Info.StatusLength = quint8(length);
    if (RxBuffer.size() != length + 2)
        return false;
    const QByteArray record = RxBuffer;
    for (int i = 0; i < 6; ++i)
        Info.StatusBytes[size_t(i)] = byteAt(record, 1 + i);
    Info.StatusFlag = byteAt(record, 7) == 1;
    Info.StatusText3 = QString::fromLatin1(record.constData() + 9, 3);
    Info.McuVersionMajor = byteAt(record, 12);
    Info.McuVersionMinor = byteAt(record, 13);
    Info.StatusByte14 = byteAt(record, 14);
    Info.StatusText12 = QString::fromLatin1(record.constData() + 15, 12);
    Info.SerialNumber = byteAt(record, 27) * 256 + byteAt(record, 28);
    Info.ModelCode = byteAt(record, 29);
    Info.FpgaVersion = byteAt(record, 30);
    const TqzModel &model = modelOf(Info.ModelCode);
    Info.ModelName = QString::fromLatin1(model.name);
    Info.ModelIndex = model.index;
    quint32 sum = 0;
    for (int i = 0; i <= length - 2; ++i)
        sum += byteAt(record, i);
    Info.StatusChecksum = byteAt(record, length - 1);
    Info.StatusChecksumValid = quint8((sum & 0xFF) ^ ChecksumMask) == Info.StatusChecksum;

    // The version line; from here on the instrument counts as identified.
    ClearReceive();
    write(VersionCommand);
    if (WaitForReply(MeterProtocol::VersionPolls))
        Info.Version = QString::fromLatin1(RxBuffer.left(RxBuffer.size() - 2)).left(MeterProtocol::VersionMaxLength);
    // A cancel stops the queries that only fill the record; the instrument is identified.
    if (m_cancelRequested)
        return true;

    ClearReceive();
    write(ChipIdCommand);
    if (WaitForBytes(ReplyTimeout, ChipIdBytes))
        for (int i = 0; i < ChipIdBytes; ++i)
            Info.Spi0Id[size_t(i)] = byteAt(RxBuffer, i);

    ClearReceive();
    write(FlashIdCommand);
    if (WaitForBytes(ReplyTimeout, FlashIdBytes) && byteAt(RxBuffer, 2) == FlashIdMarker) {
        Info.FlashId[0] = byteAt(RxBuffer, 0);
        Info.FlashId[1] = byteAt(RxBuffer, 1);
    }

    auto readWord = [this](quint16 lowAddress, quint16 fallback) -> quint16 {
        quint8 low = 0;
        quint8 high = 0;
        if (ReadEepromByte(lowAddress, low) && ReadEepromByte(lowAddress + 1, high))
            return quint16(low + 256 * high);
        return fallback;
    };
    if (m_cancelRequested)
        return true;
    Info.EepromWord40 = readWord(40, 0);
    Info.EepromWord42 = readWord(42, 0);
    if (m_cancelRequested)
        return true;
    if (!ReadEepromByte(46, Info.EepromByte46) || Info.EepromByte46 == 0 || Info.EepromByte46 > EepromByte46Maximum)
        Info.EepromByte46 = EepromByte46Default;
    Info.PackageId = readWord(64, PackageIdUnknown);
    return true;
}

bool TqzMeterCom::StopDsp()
{
    return SendCommand(StopDspCommand, true);
}

bool TqzMeterCom::StartDsp()
{
    SendCommand(StartDspCommand, false);
    return WaitForOK(MeterProtocol::StartDspPolls);
}

bool TqzMeterCom::ReadDspStatus(int &value)
{
    SendCommand(DspCommand, true);
    QByteArray block(DspCommandBlockSize, '\0');
    block[DspCommandBlockSize - 1] = 0x02;
    if (write(block) < DspCommandBlockSize)
        return false;
    // The acknowledgement of the command, still in the buffer, satisfies this at once.
    if (!WaitForOK(MeterProtocol::AckPolls))
        return false;
    char status[2] = {0, 0};
    if (ReadMemoryBuffer(MeterProtocol::DspStatusAddress, 2, status) != 2)
        return false;
    value = quint8(status[0]) * 256 + quint8(status[1]);
    return true;
}

bool TqzMeterCom::IsCapturableModel(quint8 modelCode)
{
    return modelCode == CorvaneAlvo || modelCode == CorvaneBrenn;
}

bool TqzMeterCom::HasOKTrailer(const QByteArray &data)
{
    return data.size() >= 4 && data.endsWith(OkTrailer);
}

qint64 TqzMeterCom::ReadMemory(quint32 address, quint32 length, QIODevice &stream)
{
    // After a cancel no further read is sent: its reply would only have to be drained.
    if (m_cancelRequested) {
        stream.seek(0);
        return -1;
    }
    if (!CommandMode)
        SetCommandMode(true);
    Idle = false;
    ClearReceive();
    write(ReadCommand);
    write(bigEndian32(address));
    write(bigEndian32(length));
    const bool arrived = collectBytes(MeterProtocol::readMemoryPolls(length), qint64(length) + 4, true);
    // A cancelled read stores nothing, even when draining brought the whole reply.
    if (m_cancelRequested) {
        stream.seek(0);
        Idle = true;
        return -1;
    }
    bool stored = false;
    if (arrived && HasOKTrailer(RxBuffer)) {
        stream.write(RxBuffer.constData(), RxBuffer.size() - 4);
        stored = true;
    }
    stream.seek(0);
    qint64 result = RxBuffer.size() - 4;
    // A reply of the right length that stored nothing (wrong trailer, or completed only during
    // the last poll) must not look like a good read.
    if (!stored && result == qint64(length))
        result = -1;
    Idle = true;
    return result;
}

qint64 TqzMeterCom::ReadMemoryBuffer(quint32 address, quint32 length, char *buffer)
{
    try {
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        const qint64 received = ReadMemory(address, length, stream);
        if (received == qint64(length)) {
            if (stream.size() < qint64(length))
                return -1;
            stream.read(buffer, length);
        } else if (received == -1 && stream.size() == 0) {
            return -1;  // nothing stored: a wrong trailer or a reply that came too late
        }
        return stream.size();
    } catch (const ELineLost &) {
        throw;  // not a failed read but a lost line: the operation ends
    } catch (...) {
        return -1;
    }
}
