#pragma once

#include "VirtualMeterThread.h"

#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

// A benchmark's command line: numbers given as "--name N" and switches given as "--name". Anything
// else, or a number out of its range, makes the command line unusable (ok() is false) and prints
// the usage once.
class BenchOptions
{
public:
    BenchOptions(const QStringList &arguments, const char *usage) : m_arguments(arguments.mid(1)), m_usage(usage) {}

    int number(const char *name, int fallback, int minimum, int maximum)
    {
        const qsizetype at = m_arguments.indexOf(QLatin1String(name));
        if (at < 0)
            return fallback;
        m_used.insert(at);
        bool valid = at + 1 < m_arguments.size();
        const int value = valid ? m_arguments.at(at + 1).toInt(&valid) : 0;
        if (valid) {
            m_used.insert(at + 1);
            if (value >= minimum && value <= maximum)
                return value;
        }
        std::fprintf(stderr, "%s takes a number from %d to %d\n", name, minimum, maximum);
        m_failed = true;
        return fallback;
    }

    // "--width N": the stored screen's width the instrument is started with.
    int storedWidth(int fallback) { return number("--width", fallback, 8, 4096); }

    bool flag(const char *name)
    {
        const qsizetype at = m_arguments.indexOf(QLatin1String(name));
        if (at >= 0)
            m_used.insert(at);
        return at >= 0;
    }

    // Call after reading every option.
    bool ok() const
    {
        if (m_failed || m_used.size() != size_t(m_arguments.size())) {
            std::fprintf(stderr, "usage: %s\n", m_usage);
            return false;
        }
        return true;
    }

private:
    QStringList m_arguments;
    const char *m_usage;
    std::set<qsizetype> m_used;
    bool m_failed = false;
};

// The line the benchmarks compare with: 9600 baud, a start bit, 8 data bits and a stop bit.
constexpr double LineBitsPerSecond = 9600;
constexpr double BitsPerByte = 10;
// The stored screens the benchmarks read are this tall, and as wide as their --width asks; a
// whole screen is FullWidth wide.
constexpr int StoredHeight = 480;
constexpr int FullWidth = 272;

// The middle of the figures, or the mean of the two middle ones; 0 for none.
inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

inline double lineSeconds(qint64 bytes)
{
    return bytes * BitsPerByte / LineBitsPerSecond;
}

// The benchmark's own settings folder, where its instrument links its port; made on first use.
inline QString benchHome()
{
    static QTemporaryDir home;
    qputenv("SNAPLOOM_HOME", home.path().toLocal8Bit());
    return home.path();
}

// Starts a benchmark's instrument with a stored screen of the given width; false, with the
// reason printed, when it would not start.
inline bool startBenchMeter(VirtualMeterThread &meter, VirtualMeterOptions options, int com, int width)
{
    benchHome();
    options.comNumber = com;
    options.storedSize = QSize(width, StoredHeight);
    QString error;
    if (meter.start(options, &error))
        return true;
    std::fprintf(stderr, "virtual instrument: %s\n", qPrintable(error));
    return false;
}

// The same with the instrument's default settings, on a line paced as a real one or not.
inline bool startBenchMeter(VirtualMeterThread &meter, int com, int width, bool paced = true)
{
    VirtualMeterOptions options;
    options.pace = paced;
    return startBenchMeter(meter, options, com, width);
}
