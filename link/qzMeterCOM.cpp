#include "qzMeterCOM.h"

#include "OpenFailure.h"
#include "SerialPort.h"
#include "SerialPorts.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <cstdio>
#include <optional>

namespace {

const QByteArray EnterCommandModeCommand = QByteArrayLiteral("@AT+++\r");
const QByteArray LeaveCommandModeCommand = QByteArrayLiteral("@AT---\r");
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

// The sum of bytes 0 to L - 2 modulo 256, exclusive-or 0x55, is byte L - 1.
bool statusChecksumAddsUp(const QByteArray &record)
{
    const int length = byteAt(record, 0);
    quint32 sum = 0;
    for (int i = 0; i <= length - 2; ++i)
        sum += byteAt(record, i);
    return quint8((sum & 0xFF) ^ ChecksumMask) == byteAt(record, length - 1);
}

bool endsWithLineEnd(const QByteArray &data)
{
    return data.endsWith("\r\n") || data.endsWith("\n\r");
}

// The complete lines in data (each ended by CR LF or LF CR), in order.
QList<QByteArray> completeLines(const QByteArray &data)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i + 1 < data.size(); ++i) {
        const char a = data.at(i);
        const char b = data.at(i + 1);
        if ((a == '\r' && b == '\n') || (a == '\n' && b == '\r')) {
            lines.append(data.mid(start, i - start));
            start = i + 2;
            ++i;
        }
    }
    return lines;
}

bool hasAcknowledgement(const QByteArray &data)
{
    for (const QByteArray &line : completeLines(data))
        if (line.startsWith("OK"))
            return true;
    return false;
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
    m_commandModeSent = false;
    ReplyComplete = false;
    RxBuffer.clear();
    Idle = true;
    return cause;
}

qint64 TqzMeterCom::write(const QByteArray &data)
{
    checkLine();
    try {
        const qint64 written = ComPort->writeText(data);
        // The reply's delay counts from the exchange's first write.
        if (!m_awaitingStart) {
            m_awaitingStart = true;
            m_sentAtMs = m_clock->nowMs();
        }
        return written;
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
        if (!bytes.isEmpty()) {
            m_heardAnything = true;
            if (m_awaitingStart) {
                m_awaitingStart = false;
                noteReplyStarted(m_clock->nowMs() - m_sentAtMs);
            }
        }
        RxBuffer += bytes;
        // Only the end of the buffer is looked at, once per receive event.
        if (RxBuffer.endsWith("\r\n") || RxBuffer.endsWith("\n\r")) {
            if (!Idle)
                ReplyComplete = true;
            else
                ClearReceive();  // an unsolicited line
        }
    } catch (...) {
        // Standard error: standard output may carry a picture (snaploom capture -o -).
        std::fputs("DEBUG_COM_ERROR: CPRxChar\n", stderr);
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

// Every exchange starts from a quiet line: when an earlier one ended without its whole reply,
// what is still arriving of it is read and forgotten first.
void TqzMeterCom::beginExchange()
{
    if (m_lineUnsettled)
        DrainLine(int(startAllowanceMs()));
    ClearReceive();
    m_awaitingStart = false;
}

// The longest a reply may take to start: a slow line's allowance, or twice the slowest start
// this line has shown.
qint64 TqzMeterCom::startAllowanceMs() const
{
    return qMax<qint64>(MeterProtocol::SlowReplyStartMs, 2 * m_lineDelayMs + 300);
}

void TqzMeterCom::noteReplyStarted(qint64 delayMs)
{
    m_lineDelayMs = qBound(m_lineDelayMs, delayMs, qint64(MeterProtocol::LineDelayCeilingMs));
}

// Waits for the reply of this exchange: at least its budget of polls, for the reply to start at
// least as long as a slow line may take, and a reply that has begun to its end while it keeps
// coming. False when it did not complete; it may then still be on its way.
bool TqzMeterCom::awaitBegunReply(int polls, bool cancellable, const std::function<bool()> &complete,
                                  qint64 startLimitMs)
{
    if (polls <= 0)
        return false;
    const qint64 startLimit = startLimitMs >= 0 ? startLimitMs : startAllowanceMs();
    const LinkStopwatch waited(*m_clock);
    LinkStopwatch quiet(*m_clock);
    qint64 seen = RxBuffer.size();
    for (int count = 0;; ++count) {
        if (complete())
            return true;
        if (cancellable && m_cancelRequested)
            break;
        if (RxBuffer.size() != seen) {
            seen = RxBuffer.size();
            quiet.restart();
        }
        if (count >= polls
            && (seen == 0 ? waited.elapsed() >= startLimit : quiet.elapsed() >= MeterProtocol::ReplyGapLimitMs))
            break;
        poll();
    }
    m_lineUnsettled = true;
    return false;
}

bool TqzMeterCom::WaitForReply(int polls, qint64 startLimitMs)
{
    return awaitBegunReply(polls, false, [this] { return ReplyComplete; }, startLimitMs);
}

void TqzMeterCom::reportDrain(DrainReport::Kind kind, const LinkStopwatch &since, int secondsLeft, qint64 limitMs,
                              bool finished)
{
    if (!DrainProgress)
        return;
    DrainReport report;
    report.kind = kind;
    report.secondsLeft = secondsLeft;
    report.secondsWaited = int(since.elapsed() / 1000);
    report.limitSeconds = int((limitMs + 999) / 1000);
    report.finished = finished;
    // Told only when something the user sees changes.
    const DrainReport &last = m_lastDrainReport;
    if (!finished && last.kind == kind && !last.finished && last.secondsLeft == secondsLeft
        && (kind == DrainReport::Kind::CancelledRead || last.secondsWaited == report.secondsWaited))
        return;
    m_lastDrainReport = report;
    DrainProgress(report);
}

void TqzMeterCom::DrainLine(int quietMs)
{
    const bool wasIdle = Idle;
    Idle = false;  // nothing of it is a reply, and no line of it may clear the driver's queue
    ClearReceive();
    m_lineUnsettled = false;
    m_awaitingStart = false;
    const LinkStopwatch total(*m_clock);
    LinkStopwatch quiet(*m_clock);
    bool drained = false;
    bool told = false;
    while (quiet.elapsed() < quietMs && total.elapsed() < MeterProtocol::StaleDrainLimitMs) {
        poll();
        if (!RxBuffer.isEmpty()) {
            RxBuffer.clear();
            quiet.restart();
            drained = true;
        }
        // Only a drain that makes the user wait is told.
        if (drained && total.elapsed() >= 1000) {
            reportDrain(DrainReport::Kind::EarlierReply, total, -1, MeterProtocol::StaleDrainLimitMs, false);
            told = true;
        }
    }
    if (told)
        reportDrain(DrainReport::Kind::EarlierReply, total, 0, MeterProtocol::StaleDrainLimitMs, true);
    ClearReceive();
    Idle = wasIdle;
}

void TqzMeterCom::Pause(int ms)
{
    const LinkStopwatch elapsed(*m_clock);
    while (!m_cancelRequested && elapsed.elapsed() < ms)
        poll();
}

bool TqzMeterCom::WaitForOK(int polls, qint64 startLimitMs)
{
    Idle = false;
    const bool result = WaitForReply(polls, startLimitMs) && RxBuffer.startsWith("OK");
    Idle = true;
    return result;
}

bool TqzMeterCom::WaitForBytes(int polls, qint64 minimum)
{
    return collectBytes(polls, minimum, false);
}

// A fixed-length reply counts only when it is exactly its length: more means bytes of another
// reply came with it.
bool TqzMeterCom::awaitFixedReply(int polls, qint64 bytes)
{
    if (!WaitForBytes(polls, bytes))
        return false;
    if (RxBuffer.size() == bytes)
        return true;
    m_lineUnsettled = true;
    return false;
}

// A reply other than a memory read may start late on a slow line and, once begun, is awaited
// while it keeps coming. A memory reply also fails when it started and then stays silent, and a
// cancel turns the wait into draining the rest of the reply, bounded by the time its missing
// bytes need on the line.
bool TqzMeterCom::collectBytes(int polls, qint64 minimum, bool memoryReply)
{
    // Only a wait that had something to wait for can report a reply.
    if (RxBuffer.size() >= minimum)
        return false;
    int count = 0;
    qint64 previous = 0;
    const qint64 startLimit = startAllowanceMs();
    const LinkStopwatch waited(*m_clock);
    LinkStopwatch sinceLastByte(*m_clock);
    std::optional<LinkStopwatch> draining;
    qint64 drainLimitMs = 0;
    const auto unsettled = [this, &draining, &drainLimitMs] {
        m_lineUnsettled = true;
        if (draining)
            reportDrain(DrainReport::Kind::CancelledRead, *draining, 0, drainLimitMs, true);
        return false;
    };
    while (RxBuffer.size() < minimum) {
        ++count;
        const qint64 length = RxBuffer.size();
        if (BytesArrived)
            BytesArrived(length - previous);
        previous = length;
        poll();
        if (RxBuffer.size() != length)
            sinceLastByte.restart();
        if (!memoryReply && m_cancelRequested)
            return unsettled();
        if (count >= polls) {
            const bool slowLine = !memoryReply
                && (RxBuffer.isEmpty() ? waited.elapsed() < startLimit
                                       : sinceLastByte.elapsed() < MeterProtocol::ReplyGapLimitMs);
            if (!slowLine)
                return unsettled();  // even when the last events brought the missing bytes
        }
        if (!memoryReply)
            continue;
        if (!RxBuffer.isEmpty() && sinceLastByte.elapsed() >= ReplySilenceLimitMs)
            return unsettled();
        if (m_cancelRequested && !draining) {
            draining.emplace(*m_clock);
            drainLimitMs = (minimum - RxBuffer.size()) * 1000 / MeterProtocol::LineBytesPerSecond * 2
                           + MeterProtocol::CancelDrainMarginMs;
        }
        if (draining) {
            if (draining->elapsed() >= drainLimitMs || sinceLastByte.elapsed() >= MeterProtocol::CancelDrainQuietMs)
                return unsettled();
            const qint64 due = minimum - RxBuffer.size();
            reportDrain(DrainReport::Kind::CancelledRead, *draining,
                        int((due + MeterProtocol::LineBytesPerSecond - 1) / MeterProtocol::LineBytesPerSecond),
                        drainLimitMs, false);
        }
    }
    if (draining)
        reportDrain(DrainReport::Kind::CancelledRead, *draining, 0, drainLimitMs, true);
    return true;
}

// Complete when the record's own length is in; a record that stops after the 32 bytes every
// record has is awaited while it keeps coming and then judged as it is.
bool TqzMeterCom::waitForStatusRecord()
{
    awaitBegunReply(MeterProtocol::ReplyPolls, true, [this] {
        return RxBuffer.size() >= StatusMinimumBytes && RxBuffer.size() >= byteAt(RxBuffer, 0) + 2;
    });
    return RxBuffer.size() >= StatusMinimumBytes;
}

bool TqzMeterCom::SendCommand(const QByteArray &text, bool waitForOK)
{
    if (!CommandMode)
        SetCommandMode(true);
    Idle = false;
    beginExchange();
    write(text + '\r');
    const bool result = waitForOK ? WaitForOK(MeterProtocol::AckPolls) : true;
    Idle = true;
    return result;
}

void TqzMeterCom::SetCommandMode(bool on)
{
    Idle = false;
    if (on)
        m_commandModeSent = true;  // from now on every way out leaves it (CommandModeGuard)
    // A port where nothing ever answered gets its "@AT---" once, without waiting out a slow
    // line: a search over silent ports stays quick.
    const bool silentPort = !on && !m_heardAnything;
    if (silentPort)
        m_lineUnsettled = false;
    beginExchange();
    const bool ok = awaitCommandModeAck(on ? EnterCommandModeCommand : LeaveCommandModeCommand, on,
                                        silentPort ? 1 : MeterProtocol::CommandModeAttempts);
    CommandMode = on && ok;
    if (!on)
        m_commandModeSent = false;
    ClearReceive();
    Idle = true;
}

// Up to 5 attempts, each waiting twice as long as the one before (10, 20, 40, 80 and 160 polls):
// a fast line answers the first at once, a slow one is given over 3 s. The buffer is kept
// between attempts, so an earlier attempt's acknowledgement that comes late still counts, and a
// line that has begun is awaited to its end.
bool TqzMeterCom::awaitCommandModeAck(const QByteArray &command, bool cancellable, int attempts)
{
    const LinkStopwatch sinceFirst(*m_clock);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        write(command);
        const int polls = MeterProtocol::CommandModePolls << attempt;
        LinkStopwatch quiet(*m_clock);
        qint64 seen = RxBuffer.size();
        for (int count = 0;; ++count) {
            if (ReplyComplete && hasAcknowledgement(RxBuffer)) {
                settleAcknowledgements(attempt + 1, sinceFirst.elapsed());
                return true;
            }
            if (cancellable && m_cancelRequested) {
                m_lineUnsettled = true;
                return false;
            }
            if (RxBuffer.size() != seen) {
                seen = RxBuffer.size();
                quiet.restart();
            }
            const bool lineUnderWay = !ReplyComplete && !RxBuffer.isEmpty()
                                      && quiet.elapsed() < MeterProtocol::ReplyGapLimitMs;
            if (count >= polls && !lineUnderWay)
                break;
            poll();
        }
    }
    m_lineUnsettled = true;  // acknowledgements may still come
    return false;
}

// The attempts before the acknowledged one may still be answered: their answers are awaited (as
// long as the first took, within limits), so none is taken for the reply to the next command.
void TqzMeterCom::settleAcknowledgements(int sent, qint64 tookMs)
{
    if (completeLines(RxBuffer).size() >= sent)
        return;
    const qint64 limit = qBound(qint64(MeterProtocol::StaleQuietMs), tookMs + 200, qint64(MeterProtocol::LineDelayCeilingMs));
    const LinkStopwatch waited(*m_clock);
    while (completeLines(RxBuffer).size() < sent && waited.elapsed() < limit)
        poll();
    if (completeLines(RxBuffer).size() < sent)
        m_lineUnsettled = true;
}

bool TqzMeterCom::OpenPort()
{
    m_openFailure.clear();
    m_commandModeSent = false;
    m_heardAnything = false;
    m_lineUnsettled = false;
    m_lineDelayMs = 0;
    const QString name = PortPath.isEmpty() ? QStringLiteral("COM%1").arg(PortNumber) : PortPath;
    try {
        if (ComPort->connected())
            ComPort->close();
        ComPort->setPortName(name);
        ComPort->open();
    } catch (const EComPort &error) {
        // A port that cannot be opened simply stays closed; the caller reports it, with the reason.
        const OpenFailure failure = OpenFailure::of(
            error, PortPath.isEmpty() ? SerialPorts::devicePathFor(PortNumber) : PortPath);
        m_openFailureKind = failure.kind;
        m_openFailure = QStringLiteral("%1 cannot be opened: %2.").arg(name, failure.reason);
    } catch (...) {
        m_openFailureKind = OpenFailure::Kind::Other;
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
    if ((CommandMode || m_commandModeSent) && ComPort->connected())
        SetCommandMode(false);
}

void TqzMeterCom::LeaveCommandMode()
{
    try {
        if ((CommandMode || m_commandModeSent) && ComPort->connected())
            SetCommandMode(false);
    } catch (...) {
        // A line that went away cannot take it; the way out goes on.
        CommandMode = false;
        m_commandModeSent = false;
    }
}

bool TqzMeterCom::IsConnected() const
{
    return ComPort->connected();
}

bool TqzMeterCom::ReadEepromByte(quint16 address, quint8 &value)
{
    beginExchange();
    write(EepromCommand);
    const char addressBytes[2] = {char(address >> 8), char(address & 0xFF)};
    write(QByteArray(addressBytes, 2));
    if (!awaitFixedReply(MeterProtocol::EepromPolls, 1))
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

    // The status record, judged once it is complete: a real line delivers it byte by byte. It is
    // taken only with its own shape: the length it announces and its line end. A record whose
    // checksum does not add up is asked for once more (a reply of another command may have mixed
    // in); the same again is the instrument's own.
    for (int ask = 1;; ++ask) {
        beginExchange();
        write(StatusCommand);
        if (!waitForStatusRecord())
            return false;
        const int length = byteAt(RxBuffer, 0);
        Info.StatusLength = quint8(length);
        if (RxBuffer.size() != length + 2 || !endsWithLineEnd(RxBuffer)) {
            m_lineUnsettled = true;
            return false;
        }
        if (ask == 2 || statusChecksumAddsUp(RxBuffer))
            break;
        m_lineUnsettled = true;
    }
    const int length = byteAt(RxBuffer, 0);
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
    Info.StatusChecksum = byteAt(record, length - 1);
    Info.StatusChecksumValid = statusChecksumAddsUp(record);

    // The version line, taken when it is one line; from here on the instrument counts as
    // identified.
    beginExchange();
    write(VersionCommand);
    if (awaitBegunReply(MeterProtocol::VersionPolls, true, [this] { return ReplyComplete; })) {
        const QByteArray line = RxBuffer.left(RxBuffer.size() - 2);
        if (!line.contains('\r') && !line.contains('\n'))
            Info.Version = QString::fromLatin1(line).left(MeterProtocol::VersionMaxLength);
        else
            m_lineUnsettled = true;
    }
    // A cancel stops the queries that only fill the record; the instrument is identified.
    if (m_cancelRequested)
        return true;

    beginExchange();
    write(ChipIdCommand);
    if (awaitFixedReply(MeterProtocol::ReplyPolls, ChipIdBytes))
        for (int i = 0; i < ChipIdBytes; ++i)
            Info.Spi0Id[size_t(i)] = byteAt(RxBuffer, i);

    beginExchange();
    write(FlashIdCommand);
    if (awaitFixedReply(MeterProtocol::ReplyPolls, FlashIdBytes) && byteAt(RxBuffer, 2) == FlashIdMarker) {
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

// An acknowledgement that comes late still means the DSP runs: it counts within the line's
// silence limit.
bool TqzMeterCom::StartDsp()
{
    SendCommand(StartDspCommand, false);
    return WaitForOK(MeterProtocol::StartDspPolls, qMax<qint64>(MeterProtocol::StartDspAckLimitMs, startAllowanceMs()));
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
    beginExchange();
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
