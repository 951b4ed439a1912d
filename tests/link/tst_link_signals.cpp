// The signal handling as a Unix program is expected to have it: what it finds ignored stays
// ignored, one handled signal holds the others back while it runs, and what it found is put
// back when the handling ends.
#include "InterruptSignals.h"

#include <QtTest>
#include <csignal>

namespace {

enum class Found { Default, Ignored, OwnHandler };

void ownHandler(int) {}

using Handler = void (*)(int);

Handler handlerOf(Found found)
{
    switch (found) {
    case Found::Default: return SIG_DFL;
    case Found::Ignored: return SIG_IGN;
    case Found::OwnHandler: return ownHandler;
    }
    return SIG_DFL;
}

struct sigaction currentAction(int number)
{
    struct sigaction action {};
    ::sigaction(number, nullptr, &action);
    return action;
}

}  // namespace

Q_DECLARE_METATYPE(Found)

class TestLinkSignals : public QObject
{
    Q_OBJECT
private slots:
    void dispositionsFoundAtStart_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<Found>("found");
        for (int number : {SIGINT, SIGTERM, SIGHUP}) {
            const QByteArray name = number == SIGINT ? "SIGINT" : number == SIGTERM ? "SIGTERM" : "SIGHUP";
            QTest::newRow(name + " default") << number << Found::Default;
            QTest::newRow(name + " ignored") << number << Found::Ignored;
            QTest::newRow(name + " another handler") << number << Found::OwnHandler;
        }
    }
    void dispositionsFoundAtStart()
    {
        QFETCH(int, number);
        QFETCH(Found, found);
        const Handler before = handlerOf(found);
        std::signal(number, before);
        {
            InterruptSignals interrupts;
            QSignalSpy delivered(&interrupts, &InterruptSignals::interrupted);
            const struct sigaction installed = currentAction(number);
            if (found == Found::Ignored) {
                QVERIFY(installed.sa_handler == SIG_IGN);
                ::raise(number);
                QTest::qWait(50);
                QVERIFY(!InterruptSignals::received());
                QCOMPARE(delivered.size(), 0);
            } else {
                QVERIFY(installed.sa_handler != before);
                for (int other : {SIGINT, SIGTERM, SIGHUP})
                    QVERIFY2(sigismember(&installed.sa_mask, other) == 1, "another handled signal may interrupt the handler");
                ::raise(number);
                QTRY_COMPARE(delivered.size(), 1);
                QCOMPARE(delivered.first().first().toInt(), number);
            }
        }
        QVERIFY2(currentAction(number).sa_handler == before, "the disposition found at start was not put back");
        std::signal(number, SIG_DFL);
    }
};

QTEST_GUILESS_MAIN(TestLinkSignals)
#include "tst_link_signals.moc"
