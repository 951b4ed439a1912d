#include "Connection.h"

#include "ExitCodes.h"
#include "InterruptSignals.h"
#include "SerialPorts.h"
#include "qzMeterCOM.h"

#include <algorithm>
#include <cstdio>

namespace {

bool tryPort(TqzMeterCom &link, int number, bool tellOpenFailure, QTextStream &err)
{
    link.Disconnect();
    link.PortNumber = number;
    if (!link.OpenPort()) {
        if (tellOpenFailure)
            err << link.openFailure() << '\n';
        return false;
    }
    const bool identified = link.Connect();
    if (identified && TqzMeterCom::IsCapturableModel(link.Info.ModelCode))
        return true;
    // A failed identification leaves no model to name.
    if (identified && !link.CancelRequested())
        err << QStringLiteral("COM%1 answers as \"%2\" (model code %3), which cannot be captured.\n")
                   .arg(number)
                   .arg(link.Info.ModelName)
                   .arg(link.Info.ModelCode);
    else if (link.CommandMode && !link.CancelRequested())
        err << QStringLiteral("COM%1 answers commands but did not identify itself.\n").arg(number);
    link.Disconnect();
    return false;
}

// Lets SIGINT, SIGTERM and SIGHUP cancel what the link runs, and tells how to recover when a
// second one abandons the program at once.
void watchInterrupts(TqzMeterCom &link, const PortChoice &choice)
{
    InterruptSignals *interrupts = InterruptSignals::instance();
    if (!interrupts)
        return;
    const QString port = choice.find ? QStringLiteral("--find") : QStringLiteral("--port COM%1").arg(choice.number);
    interrupts->setAbandonText(QStringLiteral("\nAbandoned at once. The instrument may still be sending, halted and in "
                                              "command mode; to restart it, run: snaploom unfreeze %1\n")
                                   .arg(port)
                                   .toLocal8Bit(),
                               ExitCode::Interrupted);
    QObject::connect(interrupts, &InterruptSignals::interrupted, &link, [&link] {
        link.Cancel();
        std::fputs("\nInterrupted: finishing the running read and leaving the instrument running. "
                   "Press Ctrl+C again to abandon at once.\n",
                   stderr);
        std::fflush(stderr);
    });
}

}  // namespace

bool takePortChoice(QStringList &arguments, PortChoice &choice, QString &error)
{
    bool havePort = false;
    for (int i = 0; i < arguments.size();) {
        const QString argument = arguments.at(i);
        if (argument == QLatin1String("--find")) {
            choice.find = true;
            arguments.removeAt(i);
        } else if (argument == QLatin1String("--port") || argument.startsWith(QLatin1String("--port="))) {
            QString value;
            if (argument == QLatin1String("--port")) {
                if (i + 1 >= arguments.size()) {
                    error = QStringLiteral("--port needs a port such as COM5.");
                    return false;
                }
                value = arguments.at(i + 1);
                arguments.removeAt(i + 1);
            } else {
                value = argument.mid(7);
            }
            arguments.removeAt(i);
            const QString digits = value.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) ? value.mid(3) : value;
            bool ok = false;
            choice.number = digits.toInt(&ok);
            if (!ok || choice.number < 0 || digits.isEmpty()) {
                error = QStringLiteral("\"%1\" is not a port; give one such as COM5.").arg(value);
                return false;
            }
            havePort = true;
        } else {
            ++i;
        }
    }
    if (havePort == choice.find) {
        error = QStringLiteral("Give either --port COM<n> or --find.");
        return false;
    }
    return true;
}

std::unique_ptr<TqzMeterCom> connectInstrument(const PortChoice &choice, QTextStream &err)
{
    auto link = std::make_unique<TqzMeterCom>();
    watchInterrupts(*link, choice);
    if (InterruptSignals::received())
        link->Cancel();
    if (choice.find) {
        QList<int> numbers;
        for (const SerialPortName &port : SerialPorts::list())
            if (port.number > 0)
                numbers.append(port.number);
        std::stable_sort(numbers.begin(), numbers.end());
        for (int number : numbers) {
            if (link->CancelRequested())
                break;
            if (tryPort(*link, number, false, err))
                return link;
        }
    } else if (tryPort(*link, choice.number, true, err)) {
        return link;
    }
    if (link->CancelRequested()) {
        err << "Interrupted.\n";
        err.flush();
        return nullptr;
    }
    err << "No instrument detected.\n";
    err.flush();
    return nullptr;
}
