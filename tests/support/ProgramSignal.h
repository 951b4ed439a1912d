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
    if (!setup.folder.isEmpty())
        process.setWorkingDirectory(setup.folder);
    if (!setup.environment.isEmpty())
        process.setProcessEnvironment(setup.environment);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    ProgramRun run;
    while (run.output.count(text) < times && process.state() != QProcess::NotRunning && clock.elapsed() < setup.timeoutMs) {
        process.waitForReadyRead(100);
        run.output += process.readAllStandardOutput();
    }
    if (process.state() != QProcess::NotRunning)
        ::kill(pid_t(process.processId()), signalNumber);
    if (!process.waitForFinished(setup.timeoutMs))
        process.kill();
    process.waitForFinished();
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.output += process.readAllStandardOutput();
    run.out = QString::fromLocal8Bit(run.output);
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    run.elapsedMs = clock.elapsed();
    return run;
}
