// A capture on a real X display, started and cancelled with real key presses: the picture is on
// the screen strip by strip while the instrument sends it at the line's real pace, and Esc ends a
// frozen capture with the instrument running again.

#include "ImageView.h"
#include "MainWindowFixture.h"
#include "ScreenImage.h"
#include "XInput.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>

namespace {

constexpr int MeterCom = 85;
const QString ReadingImage = QStringLiteral("Reading screen image...");

// Where the picture of an image window is on the screen, as the X server has it.
QImage onScreen(TfrmImage *window)
{
    TImageView *view = window->imageView();
    const QPoint corner = view->viewport()->mapToGlobal(view->pictureOrigin());
    const QSize size = view->picture().size();
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, corner.x(), corner.y(), size.width(), size.height())
        .toImage()
        .convertToFormat(ScreenImageFormat);
}

}  // namespace

class TestDisplayLiveCapture : public QObject, MainWindowFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pictureIsOnScreenWhileItArrives();
    void escapeEndsFrozenCaptureWithInstrumentRunning();

private:
    VirtualMeterThread *startPacedMeter(QSize stored)
    {
        VirtualMeterOptions options;
        options.comNumber = MeterCom;
        options.storedSize = stored;
        options.pace = true;
        return startMeter(options);
    }
    bool connectAndFocus() { return connectTo(MeterCom) && XInput::focus(mainWindow.get()); }
};

void TestDisplayLiveCapture::init()
{
    openMainWindow(this);
    mainWindow->capture().setPauses(50, 50);
}

void TestDisplayLiveCapture::cleanup()
{
    closeMainWindow();
}

void TestDisplayLiveCapture::pictureIsOnScreenWhileItArrives()
{
    // Three strips of a portrait screen: about 5 s of image bytes after 1.5 s of tables.
    VirtualMeterThread *meter = startPacedMeter(QSize(24, 480));
    QVERIFY(connectAndFocus());

    QElapsedTimer sinceReadStart;
    connect(mainWindow.get(), &TfrmMain::statusMessageChanged, this, [&](const QString &text) {
        if (text == ReadingImage)
            sinceReadStart.start();
    });
    // Every 100 ms of the read: how much of the finished picture the screen already shows.
    const QImage expected = meter->expectedCapture().convertToFormat(ScreenImageFormat);
    const int stripHeight = 8;   // a stored strip is 8 columns; turned upright, 8 rows
    qint64 firstStripOnScreenMs = -1;
    bool partSeen = false;
    QTimer watch;
    watch.setInterval(100);
    connect(&watch, &QTimer::timeout, this, [&] {
        const QList<TfrmImage *> windows = imageWindows();
        if (!sinceReadStart.isValid() || windows.isEmpty() || !windows.last()->building())
            return;
        const QImage shown = onScreen(windows.last());
        if (shown.size() != expected.size())
            return;
        // Strip 0 holds the stored picture's left columns, which end up as the bottom rows.
        int rows = 0;
        while (rows < expected.height()
               && shown.copy(0, expected.height() - rows - stripHeight, expected.width(), stripHeight)
                      == expected.copy(0, expected.height() - rows - stripHeight, expected.width(), stripHeight))
            rows += stripHeight;
        if (rows > 0 && firstStripOnScreenMs < 0)
            firstStripOnScreenMs = sinceReadStart.elapsed();
        partSeen |= rows > 0 && rows < expected.height();
    });
    watch.start();

    QVERIFY(XInput::key({"ctrl+n"}));
    QTRY_VERIFY_WITH_TIMEOUT(!imageWindows().isEmpty() && !imageWindows().last()->building(), 60000);
    watch.stop();

    QVERIFY2(firstStripOnScreenMs >= 0, "no strip was seen on the screen during the read");
    QVERIFY2(firstStripOnScreenMs <= 5000, qPrintable(QStringLiteral("first strip after %1 ms").arg(firstStripOnScreenMs)));
    QVERIFY2(partSeen, "the picture was never seen part-built");
    QVERIFY(messages.isEmpty());

    TfrmImage *window = imageWindows().last();
    QCOMPARE(window->windowTitle(), QStringLiteral("New image 1"));
    QTRY_COMPARE(onScreen(window), expected);

    // The command-line tool, from the same instrument, gives the very same picture.
    action("mnuConnect")->trigger();   // lets go of the port
    QVERIFY(!mainWindow->link().IsConnected());
    const QString file = home.path() + QStringLiteral("/cli.png");
    QProcess cli;
    cli.start(testBinary(QStringLiteral("snaploom")),
              {QStringLiteral("capture"), QStringLiteral("--port"), QStringLiteral("COM%1").arg(MeterCom),
               QStringLiteral("-o"), file});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(window->picture(), QImage(file).convertToFormat(ScreenImageFormat));
}

void TestDisplayLiveCapture::escapeEndsFrozenCaptureWithInstrumentRunning()
{
    VirtualMeterThread *meter = startPacedMeter(QSize(16, 480));
    QVERIFY(connectAndFocus());
    action("mnuFreezeImage")->setChecked(true);

    // Esc is pressed once the picture has started to build up.
    bool pressed = false;
    bool haltedWhenPressed = false;
    QTimer watch;
    watch.setInterval(50);
    connect(&watch, &QTimer::timeout, this, [&] {
        const QList<TfrmImage *> windows = imageWindows();
        if (pressed || windows.isEmpty() || !windows.last()->building())
            return;
        pressed = true;
        haltedWhenPressed = meter->halted();
        XInput::key({"Escape"});
    });
    watch.start();

    QVERIFY(XInput::key({"ctrl+n"}));
    QTRY_VERIFY_WITH_TIMEOUT(pressed && action("mnuCaptureScreen")->isEnabled(), 30000);
    watch.stop();

    QVERIFY(haltedWhenPressed);
    QTRY_VERIFY(imageWindows().isEmpty());
    QVERIFY(!meter->halted());
    QCOMPARE(meter->restarts(), meter->halts());
    QVERIFY(messages.isEmpty());   // a cancel says nothing
    QCOMPARE(mainWindow->capture().captureCount(), 0);

    // The link is fit for the next capture, which takes the first number.
    QVERIFY(XInput::focus(mainWindow.get()));
    action("mnuFreezeImage")->setChecked(false);
    action("mnuCaptureScreen")->trigger();
    QCOMPARE(imageWindows().size(), 1);
    QCOMPARE(imageWindows().last()->windowTitle(), QStringLiteral("New image 1"));
    QCOMPARE(imageWindows().last()->picture(), meter->expectedCapture().convertToFormat(ScreenImageFormat));
}

QTEST_MAIN(TestDisplayLiveCapture)
#include "tst_display_livecapture.moc"
