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
    QString standardOutputFile;       // where its standard output goes; empty: into the run
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

inline ProgramRun runProgram(const QString &program, const QStringList &arguments, const ProgramSetup &setup = {})
{
    QProcess process;
    if (!setup.folder.isEmpty())
        process.setWorkingDirectory(setup.folder);
    if (!setup.environment.isEmpty())
        process.setProcessEnvironment(setup.environment);
    if (!setup.standardOutputFile.isEmpty())
        process.setStandardOutputFile(setup.standardOutputFile);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForFinished(setup.timeoutMs))
        process.kill();
    process.waitForFinished();
    ProgramRun run;
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.output = process.readAllStandardOutput();
    run.out = QString::fromLocal8Bit(run.output);
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    run.elapsedMs = clock.elapsed();
    return run;
}
