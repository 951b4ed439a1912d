#include "InterruptSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int HandledSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int DefaultAbandonExitCode = 130;  // as a shell reports a program ended by Ctrl+C

InterruptSignals *theInstance = nullptr;
int signalPipe[2] = {-1, -1};
volatile sig_atomic_t signalCount = 0;
// Read by the handler: replaced only as a whole, and an old text is never freed.
std::atomic<const char *> abandonText{nullptr};
std::atomic<int> abandonExitCode{DefaultAbandonExitCode};

void onSignal(int number)
{
    const int savedErrno = errno;
    signalCount = signalCount + 1;
    if (signalCount >= 2) {
        if (const char *text = abandonText.load()) {
            [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, std::strlen(text));
        }
        ::_exit(abandonExitCode.load());
    }
    const char byte = char(number);
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

InterruptSignals::InterruptSignals(QObject *parent)
    : QObject(parent)
{
    theInstance = this;
    signalCount = 0;
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // without the pipe the default handling stays: the signal ends the program
    m_notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &InterruptSignals::onPipeReadable);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : HandledSignals)
        ::sigaction(number, &action, nullptr);
}

InterruptSignals::~InterruptSignals()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : HandledSignals)
        ::sigaction(number, &action, nullptr);
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
