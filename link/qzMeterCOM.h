#pragma once

#include "ComPort.h"
#include "LinkClock.h"
#include "OpenFailure.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <memory>

// The identification record of the connected instrument. A field whose query fails keeps the
// value it had, except where a default is stated.
struct TqzMeterInfo
{
    QString Version;                 // reply to "@ATVER\r" less its line end, at most 50 characters
    QString ModelName;
    quint8 StatusLength = 0;
    std::array<quint8, 6> StatusBytes{};
    quint8 ModelCode = 0;
    QString StatusText3;
    int ModelIndex = 0;
    bool StatusFlag = false;
    QString StatusText12;
    qint32 SerialNumber = 0;
    quint8 McuVersionMajor = 0;
    quint8 McuVersionMinor = 0;
    quint8 StatusByte14 = 0;
    quint8 StatusChecksum = 0;
    bool StatusChecksumValid = false;
    std::array<quint8, 2> FlashId{};
    std::array<quint8, 20> Spi0Id{};
    quint8 FpgaVersion = 0;
    quint16 EepromWord40 = 0;
    quint16 EepromWord42 = 0;
    quint8 EepromByte46 = 0;
    quint16 PackageId = 0;
};

// The instrument link: the serial port, the instrument's command protocol, identification,
// DSP control and memory reads. Everything runs on the main thread; every wait is a loop of
// polls that process pending events (which is when bytes are received) and sleep 10 ms.
class TqzMeterCom : public QObject
{
    Q_OBJECT
public:
    // The link owns its port; without one it makes the real serial port.
    explicit TqzMeterCom(std::unique_ptr<TCustomComPort> port = nullptr, QObject *parent = nullptr);
    ~TqzMeterCom() override;

    // Connecting and identification.
    bool OpenPort();                 // never raises
    // Why the last OpenPort failed, for the user: "COM5 cannot be opened: it is in use by another
    // program."; empty after a successful one.
    QString openFailure() const { return m_openFailure; }
    OpenFailure::Kind openFailureKind() const { return m_openFailureKind; }
    bool Connect();
    // Leaves command mode when "@AT+++" was ever sent since the port opened (acknowledged, late or
    // not at all), then closes the port. Never leaves the port open.
    void Disconnect();
    // Leaves command mode when "@AT+++" was sent and the port is still open; never raises. For
    // the guards of every way out (CommandModeGuard).
    void LeaveCommandMode();
    // Whether any byte came from the port since it was opened: tells a line where nothing answers
    // from one whose answers were not understood.
    bool HeardAnything() const { return m_heardAnything; }
    bool IsConnected() const;
    bool Identify();
    bool ReadEepromByte(quint16 address, quint8 &value);

    // DSP control and memory reads.
    bool StopDsp();
    bool StartDsp();
    bool ReadDspStatus(int &value);
    // Reads length bytes at address into stream; returns the data bytes received. A read that
    // stored nothing never returns length (-1 then), so no caller takes it for good data.
    qint64 ReadMemory(quint32 address, quint32 length, QIODevice &stream);
    qint64 ReadMemoryBuffer(quint32 address, quint32 length, char *buffer);
    static bool HasOKTrailer(const QByteArray &data);

    // Only these models count as an instrument this program captures from (Corvane Alvo, Brenn).
    static bool IsCapturableModel(quint8 modelCode);

    // Cancelling: a plain call, also from a key handler or a signal while a read runs. The running
    // memory read stops by draining the rest of its reply (bounded by the bytes still due at line
    // speed); reads asked for afterwards are not sent, and identification stops between queries.
    // Halting and restarting the DSP and command mode are not affected, so the way out still
    // restarts the instrument. The request stays until ResetCancel.
    void Cancel() { m_cancelRequested = true; }
    bool CancelRequested() const { return m_cancelRequested; }
    void ResetCancel() { m_cancelRequested = false; }

    // Whether the line went away; if so the port is closed and text names the port and the
    // cause. For a caller outside any wait (the waits end with ELineLost by themselves).
    bool TakeLineLoss(QString *text);

    // Waits ms milliseconds through the link's own poll, so events are processed meanwhile. A
    // cancel ends the pause at once; a line that goes away ends it with ELineLost.
    void Pause(int ms);

    // Reads and forgets what the instrument still sends of an earlier reply, until the line has
    // been quiet for quietMs (and at most for StaleDrainLimitMs).
    void DrainLine(int quietMs);

    // A drain that makes the user wait: the rest of a cancelled memory read, or an earlier reply
    // still arriving when a program connects. Told when it starts, whenever the whole seconds
    // change, and once when it ends (finished).
    struct DrainReport
    {
        enum class Kind { CancelledRead, EarlierReply };
        Kind kind = Kind::CancelledRead;
        int secondsLeft = 0;    // CancelledRead: the bytes still due at line speed; EarlierReply: -1
        int secondsWaited = 0;  // since the drain started
        int limitSeconds = 0;   // the drain stops by then at the latest
        bool finished = false;
    };
    std::function<void(const DrainReport &)> DrainProgress;

    // Command channel.
    void ClearReceive();
    // A reply may start as late as startLimitMs; below zero, as late as the line has shown.
    bool WaitForReply(int polls, qint64 startLimitMs = -1);
    bool WaitForOK(int polls, qint64 startLimitMs = -1);
    bool WaitForBytes(int polls, qint64 minimum);
    bool SendCommand(const QByteArray &text, bool waitForOK);
    void SetCommandMode(bool on);

    // Fields, named as the instrument's documentation names them.
    std::unique_ptr<TCustomComPort> ComPort;
    int PortNumber = 0;
    // When set, OpenPort opens this device node instead of port COM<PortNumber>.
    QString PortPath;
    bool CommandMode = false;
    bool ReplyComplete = false;
    bool Idle = false;
    QByteArray RxBuffer;
    TqzMeterInfo Info;
    // Optional callback, given the number of bytes that arrived between polls.
    std::function<void(qint64 step)> BytesArrived;

    // Milliseconds slept in each poll. Only tests change it, to run out long budgets quickly.
    int PollIntervalMs = 10;
    // The clock every wait reads and every poll sleeps on; the wall clock unless a test or a
    // fuzzer puts a virtual one in its place (LinkClock.h).
    void setClock(std::shared_ptr<LinkClock> clock) { m_clock = std::move(clock); }
    // A memory reply that has started and then stays silent this long has failed.
    int ReplySilenceLimitMs = 10000;

signals:
    // The port noticed a lost line while nothing waited on it; TakeLineLoss closes it.
    void LineLostNoticed();

public slots:
    void CPRxChar(int count);

private:
    // One poll: pending events (which is when bytes arrive), a sleep, pending events again. A
    // line that went away ends it with ELineLost, the port closed.
    void poll();
    void checkLine();
    QString takeLostCause();
    qint64 write(const QByteArray &data);
    bool collectBytes(int polls, qint64 minimum, bool memoryReply);
    bool waitForStatusRecord();
    void beginExchange();
    bool awaitCommandModeAck(const QByteArray &command, bool cancellable, int attempts);
    void settleAcknowledgements(int sent, qint64 tookMs);
    bool awaitBegunReply(int polls, bool cancellable, const std::function<bool()> &complete, qint64 startLimitMs = -1);
    bool awaitFixedReply(int polls, qint64 bytes);
    qint64 startAllowanceMs() const;
    void noteReplyStarted(qint64 delayMs);
    void reportDrain(DrainReport::Kind kind, const LinkStopwatch &since, int secondsLeft, qint64 limitMs, bool finished);

    std::shared_ptr<LinkClock> m_clock = std::make_shared<RealLinkClock>();
    bool m_cancelRequested = false;
    bool m_commandModeSent = false;
    bool m_heardAnything = false;
    // An exchange ended without its whole reply, which may still be on its way: the next
    // exchange first waits for a quiet line.
    bool m_lineUnsettled = false;
    qint64 m_lineDelayMs = 0;   // the longest a reply took to start since the port opened
    qint64 m_sentAtMs = 0;      // when the running exchange's command went out
    bool m_awaitingStart = false;
    DrainReport m_lastDrainReport;
    QString m_openFailure;
    OpenFailure::Kind m_openFailureKind = OpenFailure::Kind::Other;
};

// Instrument numbers the link relies on.
namespace MeterProtocol {
constexpr quint32 DspStatusAddress = 0x1C496;
constexpr int CommandModeAttempts = 5;
constexpr int CommandModePolls = 10;
constexpr int AckPolls = 100;
constexpr int ReplyPolls = 100;
constexpr int StartDspPolls = 300;
constexpr int VersionPolls = 500;
constexpr int EepromPolls = 1000;
constexpr int ReadMemoryPolls = 10000;
constexpr int VersionMaxLength = 50;
constexpr int LineBytesPerSecond = 960;     // 9600 baud, 10 bits a byte
// Slow lines (serial servers across a network, Bluetooth adapters, slow USB settings): every
// reply may start this late, whatever the budget of its exchange; waits only grow by it when
// nothing came.
constexpr int SlowReplyStartMs = 1300;
// A reply that has begun (other than a memory read) is awaited to its end while it pauses less
// than this.
constexpr int ReplyGapLimitMs = 1000;
// A restart's acknowledgement counts within the line's silence limit.
constexpr int StartDspAckLimitMs = 10000;
// The longest a line's reply delay is taken into account; longer delays make no sense on a line
// whose instrument answers within seconds.
constexpr int LineDelayCeilingMs = 5000;
constexpr int StaleQuietMs = 200;           // the line counts as quiet after this long
constexpr int StaleDrainLimitMs = 120000;   // longer than any reply at line speed
constexpr int CancelDrainQuietMs = 1000;    // a cancelled read stops draining after this long quiet
constexpr int CancelDrainMarginMs = 1000;
// A memory read's poll budget: twice the time its bytes need at line speed, at least 10000 polls.
int readMemoryPolls(quint32 length);
}  // namespace MeterProtocol
