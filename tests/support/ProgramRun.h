#pragma once

#include "TestHome.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <csignal>

// One run of one of the built programs, as a user or a script starts it: what it printed on each
// stream, how it ended, and how long it took.
struct ProgramRun
{
    int exitCode = -1;      // -1 when it crashed or had to be killed
    QByteArray out;
    QString err;
    qint64 elapsedMs = 0;

    QString outText() const { return QString::fromLocal8Bit(out); }
};

// Runs program (a name testBinary() knows) in folder (the current one when empty) and waits
// for it; one that outlives timeoutMs is killed.
inline ProgramRun runProgram(const QString &program, const QStringList &arguments, const QString &folder = QString(),
                             int timeoutMs = 120000)
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    QElapsedTimer clock;
    clock.start();
    process.start(testBinary(program), arguments);
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished();
    ProgramRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    run.elapsedMs = clock.elapsed();
    return run;
}

// Runs program like runProgram, but sends it signalNumber once its standard output has shown
// text `times` times (or it ended first); out then holds everything it printed there.
inline ProgramRun runAndSignal(const QString &program, const QStringList &arguments, const QString &folder,
                               const QByteArray &text, int times, int signalNumber, int timeoutMs = 120000)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    QElapsedTimer clock;
    clock.start();
    process.start(testBinary(program), arguments);
    ProgramRun run;
    while (run.out.count(text) < times && process.state() != QProcess::NotRunning && clock.elapsed() < timeoutMs) {
        process.waitForReadyRead(100);
        run.out += process.readAllStandardOutput();
    }
    if (process.state() != QProcess::NotRunning)
        ::kill(pid_t(process.processId()), signalNumber);
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out += process.readAllStandardOutput();
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    run.elapsedMs = clock.elapsed();
    return run;
}
