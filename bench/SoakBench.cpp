// Many captures in one process against the virtual instrument on a pseudo-terminal: first through
// the capture core, then through the desktop program's main window, closing each image window as
// it goes. Prints the failures, the spread of capture times, and the resident memory and open
// files at the start, the middle and the end of each part; figures that keep climbing are a leak.
//   bench_soak [--core N] [--desktop N] [--width W] [--paced]
// The instrument answers unpaced unless --paced; every other capture is frozen, with the
// sequence's fixed pauses shortened to keep the soak about the link, the reads and the decode.
// The instrument runs in this process too; its record of what it received is emptied after each
// capture, so the figures are the programs' own.
#include "BenchOptions.h"
#include "Dialogs.h"
#include "ImageForm.h"
#include "InstrumentMemory.h"
#include "CaptureController.h"
#include "ImageWorkspace.h"
#include "Main.h"
#include "ScreenCapture.h"
#include "UnsavedImages.h"
#include "qzMeterCOM.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Com = 61;
constexpr int ShortPauseMs = 20;
constexpr int WindowCloseWaitMs = 5000;

double residentMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return 0;
    return fields[1].toDouble() * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

int openFiles()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

// The figures of one part: each capture's time, the failures and the memory as it went.
class SoakFigures
{
public:
    SoakFigures(const char *name, int captures) : m_name(name), m_captures(captures) { take(0); }

    void captured(double seconds) { m_seconds.push_back(seconds); }
    void failed(int number, const QString &why)
    {
        ++m_failures;
        std::printf("  capture %d failed: %s\n", number, qPrintable(why));
    }
    // After each capture: the memory is taken once half of them are done, and at the end.
    void done(int number)
    {
        if (number == m_captures / 2)
            take(1);
        if (number == m_captures)
            take(2);
    }

    void print() const
    {
        std::vector<double> sorted = m_seconds;
        std::sort(sorted.begin(), sorted.end());
        const auto at = [&sorted](double fraction) {
            return sorted.empty() ? 0.0 : sorted[std::min(sorted.size() - 1, size_t(fraction * double(sorted.size())))];
        };
        double sum = 0;
        for (double seconds : sorted)
            sum += seconds;
        std::printf("\n%s: %d captures, %d failed\n", m_name, m_captures, m_failures);
        std::printf("  capture time (s): min %.3f  median %.3f  p90 %.3f  max %.3f  mean %.3f\n", at(0), at(0.5), at(0.9),
                    sorted.empty() ? 0.0 : sorted.back(), sorted.empty() ? 0.0 : sum / double(sorted.size()));
        std::printf("  resident memory (MiB): start %.1f  middle %.1f  end %.1f\n", m_memory[0], m_memory[1], m_memory[2]);
        std::printf("  open files:            start %d  middle %d  end %d\n", m_files[0], m_files[1], m_files[2]);
        std::fflush(stdout);
    }
    int failures() const { return m_failures; }

private:
    void take(int when)
    {
        m_memory[when] = residentMiB();
        m_files[when] = openFiles();
    }

    const char *m_name;
    int m_captures;
    int m_failures = 0;
    std::vector<double> m_seconds;
    double m_memory[3] = {0, 0, 0};
    int m_files[3] = {0, 0, 0};
};

int soakCore(int captures, VirtualMeterThread &meter)
{
    const QImage expected = meter.expectedCapture();
    TqzMeterCom link;
    link.PortNumber = Com;
    if (!link.OpenPort() || !link.Connect()) {
        std::printf("core: no instrument on COM%d\n", Com);
        return 1;
    }
    TInstrumentMemory memory(link);
    SoakFigures figures("capture core", captures);
    for (int number = 1; number <= captures; ++number) {
        ScreenCapture capture(link, memory);
        capture.haltPauseMs = ShortPauseMs;
        capture.restartPauseMs = ShortPauseMs;
        const bool freeze = number % 2 == 0;
        QElapsedTimer clock;
        clock.start();
        try {
            const CaptureResult result = capture.run([freeze] { return freeze; });
            const double seconds = clock.elapsed() / 1000.0;
            const QString difference = result.outcome == CaptureOutcome::Captured ? MeterScreen::captureDifference(result.image, expected)
                                                                                 : QStringLiteral("not captured");
            if (difference.isEmpty())
                figures.captured(seconds);
            else
                figures.failed(number, difference);
        } catch (const std::exception &error) {
            figures.failed(number, QString::fromLocal8Bit(error.what()));
        }
        meter.clearReceived();
        figures.done(number);
    }
    link.Disconnect();
    figures.print();
    return figures.failures();
}

int soakDesktop(int captures, VirtualMeterThread &meter)
{
    const QImage expected = meter.expectedCapture();
    QStringList errors;
    Dialogs::setMessageHandler([&errors](Dialogs::MessageKind kind, const QString &text, QMessageBox::StandardButtons) {
        // The question when an unsaved image window closes: discard it. Anything else is told.
        if (kind == Dialogs::MessageKind::Confirmation)
            return QMessageBox::No;
        errors << text;
        return QMessageBox::Ok;
    });
    frmUnsavedImages = new TfrmUnsavedImages;
    int failures = 0;
    {
        TfrmMain window;
        auto item = [&window](const char *name) { return window.findChild<QAction *>(QLatin1String(name)); };
        window.capture().setPauses(ShortPauseMs, ShortPauseMs);
        window.show();
        window.link().PortNumber = Com;
        item("mnuConnect")->trigger();
        if (!window.link().IsConnected() || !item("mnuCaptureScreen")->isEnabled()) {
            std::printf("desktop: no instrument on COM%d\n", Com);
            return 1;
        }
        SoakFigures figures("desktop program", captures);
        for (int number = 1; number <= captures; ++number) {
            errors.clear();
            item("mnuFreezeImage")->setChecked(number % 2 == 0);
            QElapsedTimer clock;
            clock.start();
            item("mnuCaptureScreen")->trigger();
            const double seconds = clock.elapsed() / 1000.0;
            TfrmImage *image = window.workspace().activeImageWindow();
            const QString difference = !errors.isEmpty() ? errors.join(QLatin1Char(' '))
                                       : image ? MeterScreen::captureDifference(image->picture(), expected)
                                               : QStringLiteral("no image window");
            if (difference.isEmpty())
                figures.captured(seconds);
            else
                figures.failed(number, difference);

            // Closed as a user closes it: Window > Close, and the picture is not kept. The window
            // goes when the event loop next runs; here that is done by hand.
            const QPointer<TfrmImage> closed = image;
            item("mnuClose")->trigger();
            QElapsedTimer closing;
            closing.start();
            while (closed && closing.elapsed() < WindowCloseWaitMs) {
                QCoreApplication::processEvents();
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            }
            if (closed || !window.workspace().imageWindows().isEmpty())
                figures.failed(number, QStringLiteral("its image window did not close"));
            meter.clearReceived();
            figures.done(number);
        }
        item("mnuConnect")->trigger();  // disconnects
        figures.print();
        failures = figures.failures();
    }
    delete frmUnsavedImages;
    frmUnsavedImages = nullptr;
    Dialogs::setMessageHandler({});
    return failures;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    BenchOptions arguments(application.arguments(), "bench_soak [--core N] [--desktop N] [--width W] [--paced]");
    const int coreCaptures = arguments.number("--core", 200, 0, 1000000);
    const int desktopCaptures = arguments.number("--desktop", 50, 0, 1000000);
    const int width = arguments.storedWidth(FullWidth);
    const bool paced = arguments.flag("--paced");
    if (!arguments.ok())
        return 2;

    VirtualMeterThread meter;
    if (!startBenchMeter(meter, Com, width, paced))
        return 1;
    std::printf("soak against a %d x %d stored screen, %s line; resident memory before: %.1f MiB\n", width, StoredHeight,
                paced ? "paced" : "unpaced", residentMiB());

    int failures = 0;
    if (coreCaptures > 0)
        failures += soakCore(coreCaptures, meter);
    if (desktopCaptures > 0)
        failures += soakDesktop(desktopCaptures, meter);
    std::printf("\ninstrument left %s\n", meter.halted() ? "halted" : "running");
    meter.stop();
    return failures == 0 ? 0 : 1;
}
