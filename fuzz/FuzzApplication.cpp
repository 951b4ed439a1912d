// Every fuzzer's start: the application object the Qt classes under test expect, made once.
//
// The link's waits process events at every poll, and a run that waits out its timeouts polls
// thousands of times. The system's event dispatcher asks the kernel at each of them; the fuzzers
// have no descriptors or timers to watch (their port is scripted and hands its bytes over as
// posted events), so theirs only delivers posted events.
#include <QAbstractEventDispatcher>
#include <QCoreApplication>

namespace {

class PostedEventsDispatcher : public QAbstractEventDispatcher
{
public:
    bool processEvents(QEventLoop::ProcessEventsFlags) override
    {
        emit awake();
        QCoreApplication::sendPostedEvents();
        return false;
    }
    void registerSocketNotifier(QSocketNotifier *) override {}
    void unregisterSocketNotifier(QSocketNotifier *) override {}
    void registerTimer(int, qint64, Qt::TimerType, QObject *) override {}
    bool unregisterTimer(int) override { return true; }
    bool unregisterTimers(QObject *) override { return true; }
    QList<TimerInfo> registeredTimers(QObject *) const override { return {}; }
    int remainingTime(int) override { return -1; }
    void wakeUp() override {}
    void interrupt() override {}
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    QCoreApplication::setEventDispatcher(new PostedEventsDispatcher);
    static QCoreApplication app(*argc, *argv);
    return 0;
}
