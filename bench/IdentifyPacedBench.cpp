// Identification over a line that delivers byte by byte at 960 bytes a second, after a reply
// latency of 0 to 12 ms: 40 identifications, the success count and the median time.
//   bench_identify_paced [--runs N]
#include "TimedIdentification.h"

#include <QCoreApplication>
#include <cstdio>
#include <vector>

namespace {

constexpr int Com = 43;
constexpr int DefaultRuns = 40;
const int Latencies[] = {0, 4, 8, 12};

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    BenchOptions arguments(app.arguments(), "bench_identify_paced [--runs N]");
    const int runs = arguments.number("--runs", DefaultRuns, 1, 100000);
    if (!arguments.ok())
        return 2;

    const int latencyCount = int(std::size(Latencies));
    std::vector<std::vector<double>> times(latencyCount);
    std::vector<int> successes(latencyCount, 0);
    for (int run = 0; run < runs; ++run) {
        const int which = run % latencyCount;
        VirtualMeterOptions options;
        options.latencyMs = Latencies[which];
        const std::optional<TimedIdentification> once = identifyOnce(options, Com);
        if (!once)
            return 1;
        if (once->right) {
            ++successes[which];
            times[which].push_back(once->seconds);
        }
    }

    std::vector<double> all;
    int total = 0;
    std::printf("\nidentification over a byte-paced line (960 bytes/s), %d runs\n", runs);
    std::printf("  latency   identified rightly   median time\n");
    for (int i = 0; i < latencyCount; ++i) {
        const int tried = runs / latencyCount + (i < runs % latencyCount ? 1 : 0);
        std::printf("  %4d ms   %4d of %-4d          %8.3f s\n", Latencies[i], successes[i], tried, median(times[i]));
        total += successes[i];
        all.insert(all.end(), times[i].begin(), times[i].end());
    }
    std::printf("  all       %4d of %-4d          %8.3f s\n", total, runs, median(all));
    return total == runs ? 0 : 1;
}
