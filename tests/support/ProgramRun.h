#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// How a test starts a program: where, with what environment, and how long it may take.
struct ProgramSetup
{
    QString folder;                   // working folder; empty: the test's own
    QProcessEnvironment environment;  // empty: the test's own
    int timeoutMs = 120000;           // then it is killed, and exitCode says so
    QString standardOutputFile = {};  // where its standard output goes; empty: into the run
};

// One finished run of a program.
struct ProgramRun
{
    int exitCode = -1;  // -1 when it crashed or was killed
    QByteArray output;  // standard output as written (a picture, say)
    QString out;        // the same as text
    QString err;
    qint64 elapsedMs = 0;
};

// Starts program in setup's folder and environment; clock counts from the start.
inline void launchProgram(QProcess &process, const QString &program, const QStringList &arguments,
                          const ProgramSetup &setup, QElapsedTimer &clock)
{
    if (!setup.folder.isEmpty())
        process.setWorkingDirectory(setup.folder);
    if (!setup.environment.isEmpty())
        process.setProcessEnvironment(setup.environment);
    clock.start();
    process.start(program, arguments);
}

// Waits for the program to end (killing it after setup's timeout) and adds what it left to run.
inline void finishRun(QProcess &process, const ProgramSetup &setup, const QElapsedTimer &clock, ProgramRun &run)
{
    if (!process.waitForFinished(setup.timeoutMs))
        process.kill();
    process.waitForFinished();
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.output += process.readAllStandardOutput();
    run.out = QString::fromLocal8Bit(run.output);
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    run.elapsedMs = clock.elapsed();
}

inline ProgramRun runProgram(const QString &program, const QStringList &arguments, const ProgramSetup &setup = {})
{
    QProcess process;
    if (!setup.standardOutputFile.isEmpty())
        process.setStandardOutputFile(setup.standardOutputFile);
    QElapsedTimer clock;
    launchProgram(process, program, arguments, setup, clock);
    ProgramRun run;
    finishRun(process, setup, clock, run);
    return run;
}
