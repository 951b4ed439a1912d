// `snaploom capture --all` against several virtual instruments at real 9600-baud pace, beside
// one capture from one of them: several instruments at once should take hardly longer than one.
//   bench_capture_all [--instruments N] [--width N]
// The default stored width of 32 pixels reads 6144 image bytes a picture (about 8 s in all).
#include "BenchOptions.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int FirstCom = 51;
constexpr int DefaultInstruments = 3;
constexpr int DefaultWidth = 32;

struct Timed
{
    int exitCode = -1;
    double seconds = 0;
};

Timed runSnaploom(const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/snaploom"), arguments);
    process.waitForFinished(-1);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, clock.nsecsElapsed() / 1e9};
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    BenchOptions arguments(app.arguments(), "bench_capture_all [--instruments N] [--width N]");
    const int instruments = arguments.number("--instruments", DefaultInstruments, 1, 16);
    const int width = arguments.storedWidth(DefaultWidth);
    if (!arguments.ok())
        return 2;

    std::vector<std::unique_ptr<VirtualMeterThread>> meters;
    for (int i = 0; i < instruments; ++i) {
        VirtualMeterOptions options;
        options.serialNumber = quint16(1000 + i);
        options.pace = true;
        options.latencyMs = 5;
        meters.push_back(std::make_unique<VirtualMeterThread>());
        if (!startBenchMeter(*meters.back(), options, FirstCom + i, width))
            return 1;
    }

    const Timed one = runSnaploom({QStringLiteral("capture"), QStringLiteral("--port"), QStringLiteral("COM%1").arg(FirstCom),
                                   QStringLiteral("-o"), QStringLiteral("one.bmp")},
                                  benchHome());
    const Timed all = runSnaploom({QStringLiteral("capture"), QStringLiteral("--all"), QStringLiteral("-o"),
                                   QStringLiteral("all/{port}.bmp")},
                                  benchHome());

    std::printf("\npaced captures, stored %d x %d (%d image bytes each)\n", width, StoredHeight, width / 8 * 1536);
    std::printf("  one instrument (--port):      %8.2f s  exit code %d\n", one.seconds, one.exitCode);
    std::printf("  %2d instruments (--all):       %8.2f s  exit code %d\n", instruments, all.seconds, all.exitCode);
    std::printf("  all / one:                    %8.3f  (target at most 1.2)\n", all.seconds / one.seconds);
    return one.exitCode == 0 && all.exitCode == 0 ? 0 : 1;
}
