#pragma once

#include "MeterCommandParser.h"
#include "MeterMemoryMap.h"
#include "MeterScreen.h"
#include "VirtualMeterOptions.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <atomic>
#include <memory>

class LineReleaser;
class QSocketNotifier;
class QTimer;

// One memory read as the instrument received it.
struct MeterMemoryRead
{
    quint32 address = 0;
    quint32 length = 0;
};

// A Corvane meter that answers its command protocol over a pseudo-terminal. It keeps its own
// descriptor of the terminal's slave side open, so the line never hangs up when a program
// closes the port, and it links the slave as COM<n> in the ports folder while it runs.
// Lives on one thread; the accessors marked thread-safe may be called from any thread.
class VirtualMeter : public QObject
{
    Q_OBJECT
public:
    explicit VirtualMeter(const VirtualMeterOptions &options, QObject *parent = nullptr);
    ~VirtualMeter() override;

    // Opens the terminal and makes the COM link; false with a message in error on failure.
    bool start(QString *error = nullptr);
    // Removes the link and closes the terminal. Also done by the destructor.
    void stop();

    QString devicePath() const { return m_devicePath; }  // the slave's node, e.g. /dev/pts/7
    QImage expectedCapture() const { return m_screen.expectedCapture(); }
    QByteArray statusRecord() const;  // the reply to "@ATSTAT"

    // What the instrument remembers of its requests: only the latest, so a long run does not
    // grow its memory.
    static constexpr qsizetype RecentBytes = 4096;
    static constexpr qsizetype RecentCommands = 64;
    static constexpr qsizetype RecentReads = 64;

    // Thread-safe.
    QByteArray received() const;             // the last RecentBytes bytes received since the start or clear
    void clearReceived();                    // also forgets the commands and reads
    QList<QByteArray> commands() const;      // the last command lines parsed, without their CR
    QList<MeterMemoryRead> memoryReads() const;  // the last memory reads
    bool halted() const { return m_halted; }
    bool commandMode() const { return m_commandMode; }
    int halts() const { return m_halts; }
    int restarts() const { return m_restarts; }
    qint64 bytesSent() const { return m_bytesSent; }

    static constexpr int BytesPerSecond = 960;  // 9600 baud, 10 bits a byte

signals:
    // The instrument dropped its line on purpose (a hang-up or unplug fault).
    void hungUp();

private:
    // A stretch of reply bytes; a pause goes before it, an action after it has gone out.
    struct Outgoing
    {
        QByteArray bytes;
        qsizetype sent = 0;  // how much of bytes is already out
        int pauseBeforeMs = 0;    // after the item before it has gone out
        qint64 readyAtMs = 0;     // on m_clock: not before its request plus the latency
        bool hangUpAfter = false;
    };

    void onReadable();
    void onWritable();
    void onPaceTick();
    void answer(const MeterRequest &request);
    void answerMemoryRead(const MeterRequest &request);
    void send(const QByteArray &bytes, int pauseBeforeMs = 0, bool hangUpAfter = false);
    void acknowledge(bool ok, int lateByMs = 0);
    QByteArray garbage();
    void pump();
    void hangUpWhenTaken();
    void hangUp();
    void closeTerminal();
    void removeLink();

    VirtualMeterOptions m_options;
    MeterScreen m_screen;
    MeterMemoryMap m_memoryMap;
    MeterCommandParser m_parser;
    QRandomGenerator m_random{0x5eed};
    std::atomic<bool> m_commandMode{false};

    int m_master = -1;
    int m_slave = -1;  // held open so the master never sees a hang-up
    QString m_devicePath;
    QString m_linkPath;  // <ports folder>/COM<n>; empty without a link
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    std::unique_ptr<LineReleaser> m_releaser;
    QTimer *m_paceTimer = nullptr;
    QTimer *m_pauseTimer = nullptr;
    QTimer *m_hangUpTimer = nullptr;  // waits for the last bytes to be taken before a hang-up
    QElapsedTimer m_hangUpClock;
    QElapsedTimer m_clock;  // since the instrument was made

    QList<Outgoing> m_queue;
    bool m_paused = false;
    bool m_pauseDone = false;     // the head item's pause has passed
    QElapsedTimer m_paceClock;    // running while paced bytes are being sent
    qint64 m_pacedSent = 0;       // bytes sent since m_paceClock started

    mutable QMutex m_mutex;
    QByteArray m_received;
    QList<QByteArray> m_commands;
    QList<MeterMemoryRead> m_reads;
    std::atomic<bool> m_halted{false};
    std::atomic<int> m_halts{0};
    std::atomic<int> m_restarts{0};
    std::atomic<qint64> m_bytesSent{0};
};
