// Identification over slow lines: replies that start 0 to 1000 ms after their request, then
// come at 960 bytes a second, byte by byte or in a USB adapter's 62-byte pieces. For each step
// the success count (the right instrument, never another's answer) and the median time.
//   bench_identify_latency [--runs N]
#include "TimedIdentification.h"

#include <QCoreApplication>
#include <cstdio>
#include <vector>

namespace {

constexpr int Com = 44;
constexpr int DefaultRuns = 3;
const int Latencies[] = {0, 50, 100, 200, 500, 1000};
const int Chunks[] = {0, 62};  // 0: byte by byte

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    BenchOptions arguments(app.arguments(), "bench_identify_latency [--runs N]");
    const int runs = arguments.number("--runs", DefaultRuns, 1, 100000);
    if (!arguments.ok())
        return 2;

    std::printf("identification over a paced line (960 bytes/s), %d runs a step\n", runs);
    std::printf("  latency   delivery        right   wrong   median time\n");
    int wrongTotal = 0;
    for (int chunk : Chunks) {
        for (int latency : Latencies) {
            std::vector<double> times;
            int right = 0;
            int wrong = 0;
            for (int run = 0; run < runs; ++run) {
                VirtualMeterOptions options;
                options.latencyMs = latency;
                options.chunk = chunk;
                const std::optional<TimedIdentification> once = identifyOnce(options, Com);
                if (!once)
                    return 1;
                if (once->right) {
                    ++right;
                    times.push_back(once->seconds);
                } else if (once->identified) {
                    ++wrong;
                }
            }
            wrongTotal += wrong;
            std::printf("  %4d ms   %-14s  %2d/%-2d   %5d   %8.2f s\n", latency,
                        chunk ? "62-byte pieces" : "byte by byte", right, runs, wrong, median(times));
            std::fflush(stdout);
        }
    }
    return wrongTotal == 0 ? 0 : 1;
}
