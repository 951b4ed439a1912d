// A whole `snaploom capture` against the virtual instrument at real 9600-baud pace. Prints the
// wall time against the line's own limit (bytes the instrument sent x 10 bits / 9600 baud) and
// the CPU time the command used, which should be almost nothing while it waits for the line.
//   bench_capture_paced [--width N] [--freeze]
// The default stored width of 32 pixels reads 6144 image bytes (about 8 s in all); --width 272
// reads a full screen (about 55 s).
#include "BenchOptions.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

constexpr int Com = 41;
constexpr int DefaultWidth = 32;

struct ChildRun
{
    int status = -1;
    double wallSeconds = 0;
    double cpuSeconds = 0;
};

ChildRun runChild(const QString &program, const QStringList &arguments)
{
    std::vector<QByteArray> storage{program.toLocal8Bit()};
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    ChildRun run;
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return run;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.wallSeconds = timer.nsecsElapsed() / 1e9;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
                     + usage.ru_stime.tv_usec / 1e6;
    return run;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    BenchOptions arguments(app.arguments(), "bench_capture_paced [--width N] [--freeze]");
    const int width = arguments.storedWidth(DefaultWidth);
    const bool freeze = arguments.flag("--freeze");
    if (!arguments.ok())
        return 2;

    VirtualMeterThread meter;
    if (!startBenchMeter(meter, Com, width))
        return 1;

    QStringList captureArguments{QStringLiteral("capture"), QStringLiteral("--port"), QStringLiteral("COM%1").arg(Com),
                                 QStringLiteral("-o"), benchHome() + QStringLiteral("/bench.bmp")};
    if (freeze)
        captureArguments << QStringLiteral("--freeze");
    const ChildRun run = runChild(QCoreApplication::applicationDirPath() + QStringLiteral("/snaploom"), captureArguments);
    const qint64 sent = meter.meter()->bytesSent();
    meter.stop();

    const double lineLimit = lineSeconds(sent);
    std::printf("\npaced capture, stored %d x %d%s: exit code %d\n", width, StoredHeight, freeze ? ", frozen" : "", run.status);
    std::printf("  image bytes:              %10d\n", width / 8 * 1536);
    std::printf("  bytes the instrument sent:%10lld\n", static_cast<long long>(sent));
    std::printf("  line limit:               %10.2f s\n", lineLimit);
    std::printf("  wall time:                %10.2f s\n", run.wallSeconds);
    std::printf("  wall / line limit:        %10.3f  (target within 1.02%s)\n", run.wallSeconds / lineLimit,
                freeze ? ", plus the 0.5 s pause after the halt" : "");
    std::printf("  CPU used by snaploom:     %10.3f s  (%.2f %% of a core)\n", run.cpuSeconds,
                100 * run.cpuSeconds / run.wallSeconds);
    return run.status == 0 ? 0 : 1;
}
