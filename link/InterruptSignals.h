#pragma once

#include <QByteArray>
#include <QObject>
#include <memory>

class QSocketNotifier;

// SIGINT, SIGTERM and SIGHUP as a request to stop what runs: the first one sets a flag and is
// delivered as interrupted() while the program processes events (every poll of the link does),
// so the program can cancel its link and leave the instrument running. A second one abandons
// at once: it writes the abandon text (how to recover the instrument) and ends the process.
// One object per process; the handlers are installed while it lives, and the dispositions it
// found are put back when it goes. A signal found ignored stays ignored (nohup, background jobs).
class InterruptSignals : public QObject
{
    Q_OBJECT
public:
    explicit InterruptSignals(QObject *parent = nullptr);
    ~InterruptSignals() override;

    // The object of this process, or null when none lives.
    static InterruptSignals *instance();
    // Whether a signal has come since the object was made; safe to ask at any time.
    static bool received();

    // Milliseconds since the first signal came (not since it was delivered); -1 before one.
    static qint64 msSinceFirstSignal();

    // What a second signal writes to standard error before the process ends with exitCode.
    void setAbandonText(const QByteArray &text, int exitCode);
    // Ends the process now as a second signal would, with the abandon text.
    [[noreturn]] static void abandonNow();

signals:
    void interrupted(int signalNumber);

private:
    void onPipeReadable();

    struct FoundDispositions;

    std::unique_ptr<FoundDispositions> m_found;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
