// One capture in the desktop program's main window from the virtual instrument at the line's real
// pace, started by Ctrl+N. Prints the time from the key to the image read's start and to the first
// strip painted in the image window, the whole capture against the line's own limit (bytes the
// instrument sent x 10 bits / 9600 baud), and the longest the event loop went without running.
//   bench_live_capture [--width N] [--freeze]
// Runs on any display; QT_QPA_PLATFORM=offscreen works without one. The default stored width of
// 32 pixels reads 6144 image bytes (about 7 s in all); --width 272 reads a full screen (about 55 s).
#include "BenchOptions.h"
#include "Dialogs.h"
#include "ImageForm.h"
#include "ImageWorkspace.h"
#include "Main.h"
#include "ScreenImage.h"
#include "qzMeterCOM.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>
#include <QtTest>
#include <cstdio>

namespace {

constexpr int Com = 43;
constexpr int DefaultWidth = 32;

double seconds(qint64 nanoseconds)
{
    return nanoseconds / 1e9;
}

bool anythingDrawn(const QImage &picture)
{
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixel(x, y) != ScreenBackground)
                return true;
    return false;
}

// Notes when a building image window first paints a picture with a strip in it.
class FirstStripWatch : public QObject
{
public:
    explicit FirstStripWatch(const QElapsedTimer &clock) : m_clock(clock) {}
    qint64 at = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (at < 0 && event->type() == QEvent::Paint) {
            for (QObject *o = watched; o; o = o->parent()) {
                auto *window = qobject_cast<TfrmImage *>(o);
                if (window && window->building() && anythingDrawn(window->picture())) {
                    at = m_clock.nsecsElapsed();
                    break;
                }
            }
        }
        return false;
    }

private:
    const QElapsedTimer &m_clock;
};

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    BenchOptions arguments(app.arguments(), "bench_live_capture [--width N] [--freeze]");
    const int width = arguments.storedWidth(DefaultWidth);
    const bool freeze = arguments.flag("--freeze");
    if (!arguments.ok())
        return 2;

    Dialogs::setMessageHandler([](Dialogs::MessageKind, const QString &text, QMessageBox::StandardButtons) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return QMessageBox::Ok;
    });

    VirtualMeterThread meter;
    if (!startBenchMeter(meter, Com, width))
        return 1;

    TfrmMain window;
    auto item = [&window](const char *name) { return window.findChild<QAction *>(QLatin1String(name)); };
    window.link().PortNumber = Com;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "the main window was never shown\n");
        return 1;
    }
    window.activateWindow();
    (void)QTest::qWaitForWindowActive(&window);  // a display without a window manager may never activate it
    item("mnuFreezeImage")->setChecked(freeze);
    item("mnuConnect")->trigger();
    if (!window.link().IsConnected()) {
        std::fprintf(stderr, "could not connect to the virtual instrument\n");
        return 1;
    }

    QElapsedTimer clock;
    FirstStripWatch firstStrip(clock);
    app.installEventFilter(&firstStrip);
    qint64 readStart = -1;
    QObject::connect(&window, &TfrmMain::statusMessageChanged, [&](const QString &text) {
        if (readStart < 0 && text == QStringLiteral("Reading screen image..."))
            readStart = clock.nsecsElapsed();
    });
    // The event loop's heartbeat: the longest gap between two runs of a 1 ms timer.
    qint64 lastBeat = 0;
    qint64 longestStall = 0;
    qint64 longestStallEnd = 0;
    int stallsOver100Ms = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (now - lastBeat > 100'000'000)
            ++stallsOver100Ms;
        if (now - lastBeat > longestStall) {
            longestStall = now - lastBeat;
            longestStallEnd = now;
        }
        lastBeat = now;
    });

    const qint64 sentBefore = meter.meter()->bytesSent();
    clock.start();
    heartbeat.start();
    QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
    const qint64 total = clock.nsecsElapsed();
    // One more turn of the event loop, so the gap at the capture's end (its last pause) counts too.
    QTest::qWait(5);
    heartbeat.stop();
    const qint64 sent = meter.meter()->bytesSent() - sentBefore;
    const bool captured = !window.workspace().imageWindows().isEmpty() && !window.workspace().imageWindows().last()->building();

    const double lineLimit = lineSeconds(sent);
    std::printf("\nlive capture in the desktop program, stored %d x %d%s: %s\n", width, StoredHeight,
                freeze ? ", frozen" : "", captured ? "picture complete" : "NO PICTURE");
    std::printf("  bytes the instrument sent:     %10lld\n", static_cast<long long>(sent));
    std::printf("  Ctrl+N to image read start:    %10.3f s\n", seconds(readStart));
    std::printf("  Ctrl+N to first strip shown:   %10.3f s\n", seconds(firstStrip.at));
    std::printf("  read start to first strip:     %10.3f s  (first strip's rows: %d bytes, %.3f s of line)\n",
                seconds(firstStrip.at - readStart), 3 * StoredHeight, lineSeconds(3 * StoredHeight));
    std::printf("  whole capture:                 %10.2f s\n", seconds(total));
    std::printf("  line limit:                    %10.2f s\n", lineLimit);
    std::printf("  capture / line limit:          %10.3f%s\n", seconds(total) / lineLimit,
                freeze ? "  (includes the 0.5 s pause after the halt and 0.25 s after the restart)"
                       : "  (includes the 0.25 s pause after the read)");
    std::printf("  longest event-loop stall:      %10.1f ms  (ending %.2f s after Ctrl+N)\n", longestStall / 1e6,
                seconds(longestStallEnd));
    std::printf("  stalls over 100 ms:            %10d  (the fixed pauses of the sequence let events through)\n",
                stallsOver100Ms);

    item("mnuConnect")->trigger();
    for (TfrmImage *image : window.workspace().imageWindows())
        image->setSaved(true);
    return captured ? 0 : 1;
}
