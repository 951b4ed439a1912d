// A capture on a real X display, started and cancelled with real key presses: the picture is on
// the screen strip by strip while the instrument sends it at the line's real pace, and Esc ends a
// frozen capture with the instrument running again.

#include "Dialogs.h"
#include "ImageForm.h"
#include "ImageView.h"
#include "Main.h"
#include "ScreenImage.h"
#include "VirtualMeterThread.h"
#include "XInput.h"
#include "qzMeterCOM.h"

#include <QAction>
#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>
#include <QtTest>
#include <memory>

#include "TestHome.h"

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

class TestDisplayLiveCapture : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pictureIsOnScreenWhileItArrives();
    void escapeEndsFrozenCaptureWithInstrumentRunning();

private:
    VirtualMeterThread *startMeter(QSize stored)
    {
        VirtualMeterOptions options;
        options.comNumber = MeterCom;
        options.storedSize = stored;
        options.pace = true;
        m_meter = std::make_unique<VirtualMeterThread>();
        QString error;
        if (!m_meter->start(options, &error))
            qFatal("virtual instrument did not start: %s", qPrintable(error));
        return m_meter.get();
    }
    bool connectAndFocus()
    {
        m_window->link().PortNumber = MeterCom;
        m_window->mnuConnect->trigger();
        return m_window->link().IsConnected() && XInput::focus(m_window.get());
    }

    TestHome m_home;
    std::unique_ptr<TfrmMain> m_window;
    std::unique_ptr<VirtualMeterThread> m_meter;
    QStringList m_messages;
};

void TestDisplayLiveCapture::init()
{
    m_messages.clear();
    Dialogs::setMessageHandler([this](Dialogs::MessageKind, const QString &text, QMessageBox::StandardButtons) {
        m_messages << text;
        return QMessageBox::Ok;
    });
    m_window = std::make_unique<TfrmMain>();
    m_window->CaptureHaltPauseMs = 50;
    m_window->CaptureRestartPauseMs = 50;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestDisplayLiveCapture::cleanup()
{
    if (m_window)
        for (TfrmImage *image : m_window->imageWindows())
            image->Saved = true;
    m_window.reset();
    m_meter.reset();
    Dialogs::setMessageHandler({});
}

void TestDisplayLiveCapture::pictureIsOnScreenWhileItArrives()
{
    // Three strips of a portrait screen: about 5 s of image bytes after 1.5 s of tables.
    startMeter(QSize(24, 480));
    QVERIFY(connectAndFocus());

    QElapsedTimer sinceReadStart;
    connect(m_window.get(), &TfrmMain::fileTextChanged, this, [&](const QString &text) {
        if (text == ReadingImage)
            sinceReadStart.start();
    });
    // Every 100 ms of the read: how much of the finished picture the screen already shows.
    const QImage expected = m_meter->expectedCapture().convertToFormat(ScreenImageFormat);
    const int stripHeight = 8;   // a stored strip is 8 columns; turned upright, 8 rows
    qint64 firstStripOnScreenMs = -1;
    bool partSeen = false;
    QTimer watch;
    watch.setInterval(100);
    connect(&watch, &QTimer::timeout, this, [&] {
        const QList<TfrmImage *> windows = m_window->imageWindows();
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
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->imageWindows().isEmpty() && !m_window->imageWindows().last()->building(), 60000);
    watch.stop();

    QVERIFY2(firstStripOnScreenMs >= 0, "no strip was seen on the screen during the read");
    QVERIFY2(firstStripOnScreenMs <= 5000, qPrintable(QStringLiteral("first strip after %1 ms").arg(firstStripOnScreenMs)));
    QVERIFY2(partSeen, "the picture was never seen part-built");
    QVERIFY(m_messages.isEmpty());

    TfrmImage *window = m_window->imageWindows().last();
    QCOMPARE(window->windowTitle(), QStringLiteral("New image 1"));
    QTRY_COMPARE(onScreen(window), expected);

    // The command-line tool, from the same instrument, gives the very same picture.
    m_window->mnuConnect->trigger();   // lets go of the port
    QVERIFY(!m_window->link().IsConnected());
    const QString file = m_home.path() + QStringLiteral("/cli.png");
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
    VirtualMeterThread *meter = startMeter(QSize(16, 480));
    QVERIFY(connectAndFocus());
    m_window->mnuFreezeImage->setChecked(true);

    // Esc is pressed once the picture has started to build up.
    bool pressed = false;
    bool haltedWhenPressed = false;
    QTimer watch;
    watch.setInterval(50);
    connect(&watch, &QTimer::timeout, this, [&] {
        const QList<TfrmImage *> windows = m_window->imageWindows();
        if (pressed || windows.isEmpty() || !windows.last()->building())
            return;
        pressed = true;
        haltedWhenPressed = meter->halted();
        XInput::key({"Escape"});
    });
    watch.start();

    QVERIFY(XInput::key({"ctrl+n"}));
    QTRY_VERIFY_WITH_TIMEOUT(pressed && m_window->mnuCaptureScreen->isEnabled(), 30000);
    watch.stop();

    QVERIFY(haltedWhenPressed);
    QTRY_VERIFY(m_window->imageWindows().isEmpty());
    QVERIFY(!meter->halted());
    QCOMPARE(meter->restarts(), meter->halts());
    QVERIFY(m_messages.isEmpty());   // a cancel says nothing
    QCOMPARE(m_window->CaptureCount, 0);

    // The link is fit for the next capture, which takes the first number.
    QVERIFY(XInput::focus(m_window.get()));
    m_window->mnuFreezeImage->setChecked(false);
    m_window->mnuCaptureScreen->trigger();
    QCOMPARE(m_window->imageWindows().size(), 1);
    QCOMPARE(m_window->imageWindows().last()->windowTitle(), QStringLiteral("New image 1"));
    QCOMPARE(m_window->imageWindows().last()->picture(), meter->expectedCapture().convertToFormat(ScreenImageFormat));
}

QTEST_MAIN(TestDisplayLiveCapture)
#include "tst_display_livecapture.moc"
