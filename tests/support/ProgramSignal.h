#pragma once

#include "ProgramRun.h"

#include <csignal>
#include <sys/types.h>

// Runs program like runProgram, but sends it signalNumber once its standard output has shown
// text `times` times (or it ended first); output then holds everything it printed there.
inline ProgramRun runAndSignal(const QString &program, const QStringList &arguments, const QByteArray &text, int times,
                               int signalNumber, const ProgramSetup &setup = {})
{
    QProcess process;
    QElapsedTimer clock;
    launchProgram(process, program, arguments, setup, clock);
    ProgramRun run;
    while (run.output.count(text) < times && process.state() != QProcess::NotRunning && clock.elapsed() < setup.timeoutMs) {
        process.waitForReadyRead(100);
        run.output += process.readAllStandardOutput();
    }
    if (process.state() != QProcess::NotRunning)
        ::kill(pid_t(process.processId()), signalNumber);
    finishRun(process, setup, clock, run);
    return run;
}
