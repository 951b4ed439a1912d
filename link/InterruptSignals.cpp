#include "InterruptSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int HandledSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int HandledCount = int(sizeof HandledSignals / sizeof HandledSignals[0]);
constexpr int DefaultAbandonExitCode = 130;  // as a shell reports a program ended by Ctrl+C

InterruptSignals *theInstance = nullptr;
int signalPipe[2] = {-1, -1};
volatile sig_atomic_t signalCount = 0;
// When the first signal came (CLOCK_MONOTONIC); written by the handler before it wakes the pipe.
struct timespec firstSignalAt {};
// Read by the handler: replaced only as a whole, and an old text is never freed.
std::atomic<const char *> abandonText{nullptr};
std::atomic<int> abandonExitCode{DefaultAbandonExitCode};

// Async-signal-safe: called from the handler too.
[[noreturn]] void abandon()
{
    if (const char *text = abandonText.load()) {
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, std::strlen(text));
    }
    ::_exit(abandonExitCode.load());
}

void onSignal(int number)
{
    const int savedErrno = errno;
    if (signalCount == 0)
        ::clock_gettime(CLOCK_MONOTONIC, &firstSignalAt);
    signalCount = signalCount + 1;
    if (signalCount >= 2)
        abandon();
    const char byte = char(number);
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

struct InterruptSignals::FoundDispositions
{
    struct sigaction actions[HandledCount];
    bool taken[HandledCount] = {};
};

InterruptSignals::InterruptSignals(QObject *parent)
    : QObject(parent), m_found(std::make_unique<FoundDispositions>())
{
    theInstance = this;
    signalCount = 0;
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // without the pipe the default handling stays: the signal ends the program
    // A signal an earlier object took in but never delivered is not this one's.
    char stale[16];
    while (::read(signalPipe[0], stale, sizeof stale) > 0) {
    }
    m_notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &InterruptSignals::onPipeReadable);
    struct sigaction action {};
    action.sa_handler = onSignal;
    // While one signal is handled the others wait, so a second one always finds the first done.
    sigemptyset(&action.sa_mask);
    for (int number : HandledSignals)
        sigaddset(&action.sa_mask, number);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < HandledCount; ++i) {
        struct sigaction &found = m_found->actions[i];
        if (::sigaction(HandledSignals[i], nullptr, &found) != 0)
            continue;
        // Whoever started us asked for this signal to be ignored: nohup for SIGHUP, a shell
        // without job control for SIGINT in a background job.
        if (found.sa_handler == SIG_IGN)
            continue;
        m_found->taken[i] = ::sigaction(HandledSignals[i], &action, nullptr) == 0;
    }
}

InterruptSignals::~InterruptSignals()
{
    for (int i = 0; i < HandledCount; ++i) {
        if (m_found->taken[i])
            ::sigaction(HandledSignals[i], &m_found->actions[i], nullptr);
    }
    theInstance = nullptr;
}

InterruptSignals *InterruptSignals::instance()
{
    return theInstance;
}

bool InterruptSignals::received()
{
    return signalCount > 0;
}

qint64 InterruptSignals::msSinceFirstSignal()
{
    if (!received())
        return -1;
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec - firstSignalAt.tv_sec) * 1000 + (now.tv_nsec - firstSignalAt.tv_nsec) / 1000000;
}

void InterruptSignals::abandonNow()
{
    abandon();
}

void InterruptSignals::setAbandonText(const QByteArray &text, int exitCode)
{
    abandonText.store(qstrdup(text.constData()));
    abandonExitCode.store(exitCode);
}

void InterruptSignals::onPipeReadable()
{
    char bytes[16];
    const ssize_t n = ::read(signalPipe[0], bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i)
        emit interrupted(int(bytes[i]));
}
