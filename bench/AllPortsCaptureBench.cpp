// `snaploom capture --all` against several virtual instruments at real 9600-baud pace, beside
// one capture from one of them: several instruments at once should take hardly longer than one.
//   bench_capture_all [--instruments N] [--width N]
// The default stored width of 32 pixels reads 6144 image bytes a picture (about 8 s in all).
#include "VirtualMeterThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int FirstCom = 51;
constexpr int DefaultInstruments = 3;
constexpr int DefaultWidth = 32;
constexpr int StoredHeight = 480;

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
    const QStringList arguments = app.arguments().mid(1);
    int instruments = DefaultInstruments;
    int width = DefaultWidth;
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--instruments") && i + 1 < arguments.size())
            instruments = arguments[++i].toInt();
        else if (arguments[i] == QLatin1String("--width") && i + 1 < arguments.size())
            width = arguments[++i].toInt();
        else {
            std::fprintf(stderr, "usage: bench_capture_all [--instruments N] [--width N]\n");
            return 2;
        }
    }
    if (instruments < 1 || instruments > 16 || width < 8 || width > 4096) {
        std::fprintf(stderr, "1 to 16 instruments, widths of 8 to 4096\n");
        return 2;
    }

    QTemporaryDir home;
    qputenv("SNAPLOOM_HOME", home.path().toLocal8Bit());  // the instruments make their ports folder there
    std::vector<std::unique_ptr<VirtualMeterThread>> meters;
    for (int i = 0; i < instruments; ++i) {
        VirtualMeterOptions options;
        options.comNumber = FirstCom + i;
        options.serialNumber = quint16(1000 + i);
        options.pace = true;
        options.latencyMs = 5;
        options.storedSize = QSize(width, StoredHeight);
        meters.push_back(std::make_unique<VirtualMeterThread>());
        QString error;
        if (!meters.back()->start(options, &error)) {
            std::fprintf(stderr, "virtual instrument: %s\n", qPrintable(error));
            return 1;
        }
    }

    const Timed one = runSnaploom({QStringLiteral("capture"), QStringLiteral("--port"), QStringLiteral("COM%1").arg(FirstCom),
                                   QStringLiteral("-o"), QStringLiteral("one.bmp")},
                                  home.path());
    const Timed all = runSnaploom({QStringLiteral("capture"), QStringLiteral("--all"), QStringLiteral("-o"),
                                   QStringLiteral("all/{port}.bmp")},
                                  home.path());

    std::printf("\npaced captures, stored %d x %d (%d image bytes each)\n", width, StoredHeight, width / 8 * 1536);
    std::printf("  one instrument (--port):      %8.2f s  exit code %d\n", one.seconds, one.exitCode);
    std::printf("  %2d instruments (--all):       %8.2f s  exit code %d\n", instruments, all.seconds, all.exitCode);
    std::printf("  all / one:                    %8.3f  (target at most 1.2)\n", all.seconds / one.seconds);
    return one.exitCode == 0 && all.exitCode == 0 ? 0 : 1;
}
