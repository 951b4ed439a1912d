#include "AllPortsCapture.h"

#include "CaptureReport.h"
#include "CaptureSeries.h"
#include "CommandLine.h"
#include "ExitCodes.h"
#include "InstrumentFinder.h"
#include "InterruptSignals.h"
#include "qzMeterCOM.h"

#include <QEventLoop>
#include <QThread>
#include <vector>

namespace {

constexpr int NothingAnswered = -1;

// SIGINT, SIGTERM and SIGHUP cancel what link runs, on the thread it lives on.
void cancelOnInterrupt(TqzMeterCom &link)
{
    // Queued to the link's thread, where its polls deliver it.
    if (InterruptSignals *interrupts = InterruptSignals::instance())
        QObject::connect(interrupts, &InterruptSignals::interrupted, &link, [&link] { link.Cancel(); });
    if (InterruptSignals::received())
        link.Cancel();
}

// Runs on the port's own thread: connect, and when an instrument this program captures from
// answers, its series. NothingAnswered when none did.
int captureOnPort(const CommandRequest &request, CaptureReport &report, int number)
{
    const QString label = QStringLiteral("COM%1").arg(number);
    // An error of the port while connecting is told: something was there.
    int connectFailure = NothingAnswered;
    const auto connect = [&]() -> std::unique_ptr<TqzMeterCom> {
        auto link = std::make_unique<TqzMeterCom>();
        link->PortNumber = number;
        cancelOnInterrupt(*link);
        try {
            const InstrumentFinder::Attempt attempt = InstrumentFinder::attempt(*link);
            if (attempt == InstrumentFinder::Attempt::Connected)
                return link;
            // Led by "COM<n>:" as every line of this port is.
            if (attempt == InstrumentFinder::Attempt::NotCapturable && !link->CancelRequested())
                report.error(QString(), InstrumentFinder::failureText(attempt, *link, label + QLatin1Char(':')));
            link->Disconnect();
        } catch (const EComPort &e) {
            report.error(label, e.text());
            connectFailure = ExitCode::forPortError(e);
        }
        return nullptr;
    };
    std::unique_ptr<TqzMeterCom> link = connect();
    if (!link)
        return connectFailure;
    CaptureSeries series(request, report, label);
    return series.run(std::move(link), connect);
}

}  // namespace

int captureOnAllPorts(const CommandRequest &request, CaptureReport &report)
{
    QObject context;
    if (InterruptSignals *interrupts = InterruptSignals::instance()) {
        interrupts->setAbandonText(QByteArrayLiteral("\nAbandoned at once. The instruments may still be sending, halted "
                                                     "and in command mode; to restart one, run: snaploom unfreeze --port "
                                                     "COM<n>\n"),
                                   ExitCode::Interrupted);
        QObject::connect(interrupts, &InterruptSignals::interrupted, &context, [&report] {
            report.error(QString(), QStringLiteral("Interrupted: finishing the running reads and leaving the instruments "
                                                   "running. Press Ctrl+C again to abandon at once."));
        });
    }

    const QList<int> ports = InstrumentFinder::searchOrder();
    std::vector<int> codes(size_t(ports.size()), NothingAnswered);   // each written by its own thread
    std::vector<std::unique_ptr<QThread>> threads;
    QEventLoop loop;
    int running = int(ports.size());
    for (int i = 0; i < int(ports.size()); ++i) {
        const int number = ports.at(i);
        int *code = &codes[size_t(i)];
        threads.emplace_back(QThread::create([&request, &report, number, code] { *code = captureOnPort(request, report, number); }));
        QObject::connect(threads.back().get(), &QThread::finished, &loop, [&running, &loop] {
            if (--running == 0)
                loop.quit();
        });
        threads.back()->start();
    }
    // The main thread only waits, and hands the signals on meanwhile.
    if (running > 0)
        loop.exec();
    for (const auto &thread : threads)
        thread->wait();

    int worst = ExitCode::Success;
    bool answered = false;
    for (int code : codes) {
        if (code == NothingAnswered)
            continue;
        answered = true;
        worst = ExitCode::worse(worst, code);
    }
    if (answered)
        return worst;
    report.error(QString(), InterruptSignals::received() ? QStringLiteral("Interrupted.") : QStringLiteral("No instrument detected."));
    return InterruptSignals::received() ? ExitCode::Interrupted : ExitCode::NoInstrument;
}
