// Capturing from the main window: a virtual instrument over a real pseudo-terminal, the status
// texts and message boxes a user sees, and the image windows that result.

#include "Dialogs.h"
#include "ImageForm.h"
#include "ImageView.h"
#include "Main.h"
#include "UnsavedImages.h"
#include "VirtualMeterThread.h"
#include "qzMeterCOM.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "TestHome.h"

namespace {
using Kind = Dialogs::MessageKind;
using Messages = QList<QPair<Kind, QString>>;
const QString LoadError = QStringLiteral("An error occoured while loading image.\r\rPlease try again.");
constexpr int MeterCom = 81;
constexpr int OtherMeterCom = 82;
// A small stored screen keeps each read short; portrait, as the instrument stores it.
const QSize SmallStored(32, 48);
}

class TestMainWindowCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void capture_data();
    void capture();
    void failures_data();
    void failures();
    void captionsCountSuccessesOnly();
    void orientation_data();
    void orientation();
    void newWindowFollowsMaximisedOnes();
    void closeDuringCaptureWaitsForIt();

private:
    VirtualMeterThread *startMeter(VirtualMeterOptions options);
    void connectTo(int com);

    TestHome m_home;
    std::unique_ptr<TfrmMain> m_main;
    std::vector<std::unique_ptr<VirtualMeterThread>> m_meters;
    Messages m_messages;
    QStringList m_fileTexts;
};

void TestMainWindowCapture::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    frmUnsavedImages = new TfrmUnsavedImages;
}

void TestMainWindowCapture::init()
{
    m_messages.clear();
    m_fileTexts.clear();
    Dialogs::setMessageHandler([this](Kind kind, const QString &text, QMessageBox::StandardButtons) {
        m_messages.append({kind, text});
        return QMessageBox::Ok;
    });
    m_main = std::make_unique<TfrmMain>();
    m_main->CaptureHaltPauseMs = 20;
    m_main->CaptureRestartPauseMs = 20;
    connect(m_main.get(), &TfrmMain::fileTextChanged, this, [this](const QString &text) { m_fileTexts << text; });
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
}

void TestMainWindowCapture::cleanup()
{
    if (m_main)
        for (TfrmImage *window : m_main->imageWindows())
            window->Saved = true;
    m_main.reset();
    m_meters.clear();
    Dialogs::setMessageHandler({});
    TfrmUnsavedImages::setAnswerHandler({});
}

VirtualMeterThread *TestMainWindowCapture::startMeter(VirtualMeterOptions options)
{
    if (options.comNumber == 0)
        options.comNumber = MeterCom;
    if (options.storedSize.isEmpty())
        options.storedSize = SmallStored;
    auto meter = std::make_unique<VirtualMeterThread>();
    QString error;
    if (!meter->start(options, &error))
        qFatal("virtual instrument did not start: %s", qPrintable(error));
    m_meters.push_back(std::move(meter));
    return m_meters.back().get();
}

void TestMainWindowCapture::connectTo(int com)
{
    if (m_main->link().IsConnected())
        m_main->mnuConnect->trigger();
    m_main->link().PortNumber = com;
    m_main->mnuConnect->trigger();
    QVERIFY(m_main->link().IsConnected());
    QVERIFY(m_main->mnuCaptureScreen->isEnabled());
    m_fileTexts.clear();
}

void TestMainWindowCapture::capture_data()
{
    QTest::addColumn<bool>("freeze");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("halts");

    QTest::newRow("freeze off") << false
                                << QStringList{"Reading screen image...", "The image has been loaded correctly."} << 0;
    QTest::newRow("freeze on") << true
                               << QStringList{"Stopping DSP...", "Reading screen image...", "Restarting DSP...",
                                              "The image has been loaded correctly."}
                               << 1;
}

void TestMainWindowCapture::capture()
{
    QFETCH(bool, freeze);
    QFETCH(QStringList, texts);
    QFETCH(int, halts);

    VirtualMeterThread *meter = startMeter({});
    connectTo(MeterCom);
    m_main->mnuFreezeImage->setChecked(freeze);

    // What the user sees while the image comes in.
    struct During
    {
        bool seen = false;
        bool connectEnabled = true;
        bool captureEnabled = true;
        bool grabEnabled = true;
        bool redrawing = true;
        int maximum = 0;
    } during;
    class ShowWatcher : public QObject
    {
    public:
        std::function<void()> onShow;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Show)
                onShow();
            return false;
        }
    } watcher;
    watcher.onShow = [&] {
        during.seen = true;
        during.connectEnabled = m_main->mnuConnect->isEnabled();
        during.captureEnabled = m_main->mnuCaptureScreen->isEnabled();
        during.grabEnabled = m_main->btnGrab->isEnabled();
        during.redrawing = m_main->ClientArea->updatesEnabled();
        during.maximum = m_main->pbMain->maximum();
    };
    m_main->pbMain->installEventFilter(&watcher);

    m_main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    QTest::keyClick(m_main.get(), Qt::Key_N, Qt::ControlModifier);
    m_main->pbMain->removeEventFilter(&watcher);

    QCOMPARE(m_fileTexts, texts);
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(meter->halts(), halts);
    QCOMPARE(meter->restarts(), halts);

    QVERIFY(during.seen);   // the progress bar showed during the read
    QVERIFY(!during.connectEnabled);
    QVERIFY(!during.captureEnabled);
    QVERIFY(!during.grabEnabled);
    QVERIFY(!during.redrawing);
    QCOMPARE(during.maximum, SmallStored.width() / 8 * 1536);

    QCOMPARE(m_main->CaptureCount, 1);
    QCOMPARE(m_main->imageWindows().size(), 1);   // one press, one capture
    TfrmImage *window = m_main->activeImageWindow();
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("New image 1"));
    QCOMPARE(window->picture(), meter->expectedCapture().convertToFormat(window->picture().format()));
    QVERIFY(!window->Saved);

    QVERIFY(!m_main->pbMain->isVisible());
    QVERIFY(m_main->ClientArea->updatesEnabled());
    QCOMPARE(m_main->RedrawLockCount, 0);
    QVERIFY(m_main->mnuCaptureScreen->isEnabled());
    QVERIFY(m_main->mnuConnect->isEnabled());
    QVERIFY(m_main->mnuCopy->isEnabled());
    QVERIFY(m_main->btnSaveAs->isEnabled());
}

void TestMainWindowCapture::failures_data()
{
    QTest::addColumn<QList<MeterFault>>("faults");
    QTest::addColumn<int>("dspStatus");
    QTest::addColumn<bool>("freeze");
    QTest::addColumn<Messages>("messages");
    QTest::addColumn<QString>("lastText");
    QTest::addColumn<bool>("windowOpened");

    QTest::newRow("status 17")
        << QList<MeterFault>{} << 17 << true
        << Messages{{Kind::Information, "Sorry. The Picture Preview can not be uploaded."}} << QString() << false;
    QTest::newRow("halt refused")
        << QList<MeterFault>{MeterFault::HaltRefused} << 0 << true
        << Messages{{Kind::Error, "Could not halt DSP and freeze image."}, {Kind::Error, LoadError}}
        << "Stopping DSP..." << false;
    QTest::newRow("halt refused, freeze off")
        << QList<MeterFault>{MeterFault::HaltRefused} << 0 << false << Messages{}
        << "The image has been loaded correctly." << true;
    QTest::newRow("restart refused")
        << QList<MeterFault>{MeterFault::RestartRefused} << 0 << true
        << Messages{{Kind::Error, "Could not restart DSP and unfreeze image."}}
        << "The image has been loaded correctly." << true;
    // The read waits out its whole budget for the missing bytes, then stores nothing.
    QTest::newRow("image short by 100 bytes")
        << QList<MeterFault>{MeterFault::ShortImage} << 0 << false << Messages{{Kind::Error, LoadError}}
        << QString() << false;
    QTest::newRow("image read without its trailer")
        << QList<MeterFault>{MeterFault::SwappedImageTrailer} << 0 << false << Messages{{Kind::Error, LoadError}}
        << QString() << false;
    QTest::newRow("absurd screen description")
        << QList<MeterFault>{MeterFault::AbsurdGeometry} << 0 << false << Messages{{Kind::Error, LoadError}}
        << QString() << false;
}

void TestMainWindowCapture::failures()
{
    QFETCH(QList<MeterFault>, faults);
    QFETCH(int, dspStatus);
    QFETCH(bool, freeze);
    QFETCH(Messages, messages);
    QFETCH(QString, lastText);
    QFETCH(bool, windowOpened);

    VirtualMeterOptions options;
    options.faults = QSet<MeterFault>(faults.begin(), faults.end());
    options.dspStatus = quint16(dspStatus);
    startMeter(options);
    connectTo(MeterCom);
    m_main->mnuFreezeImage->setChecked(freeze);
    if (options.has(MeterFault::ShortImage))
        m_main->link().PollIntervalMs = 0;   // run the 10000-poll budget out quickly

    m_main->mnuCaptureScreen->trigger();

    QCOMPARE(m_messages, messages);
    QCOMPARE(m_fileTexts.isEmpty() ? QString() : m_fileTexts.last(), lastText);
    QCOMPARE(m_main->imageWindows().size(), windowOpened ? 1 : 0);
    QCOMPARE(m_main->CaptureCount, windowOpened ? 1 : 0);
    // Whatever happened, the commands are back and the client area redraws.
    QVERIFY(m_main->mnuCaptureScreen->isEnabled());
    QVERIFY(m_main->mnuConnect->isEnabled());
    QVERIFY(m_main->btnGrab->isEnabled());
    QVERIFY(!m_main->pbMain->isVisible());
    QVERIFY(m_main->ClientArea->updatesEnabled());
    QCOMPARE(m_main->RedrawLockCount, 0);
}

void TestMainWindowCapture::captionsCountSuccessesOnly()
{
    startMeter({});
    VirtualMeterOptions refusing;
    refusing.comNumber = OtherMeterCom;
    refusing.dspStatus = 17;
    startMeter(refusing);

    connectTo(MeterCom);
    m_main->mnuCaptureScreen->trigger();
    connectTo(OtherMeterCom);
    m_main->mnuCaptureScreen->trigger();   // refused: uses no number
    connectTo(MeterCom);
    m_main->mnuCaptureScreen->trigger();
    QStringList titles;
    for (TfrmImage *window : m_main->imageWindows())
        titles << window->windowTitle();
    QCOMPARE(titles, (QStringList{"New image 1", "New image 2"}));

    // Closing windows never gives a number back.
    for (TfrmImage *window : m_main->imageWindows()) {
        window->Saved = true;
        window->close();
    }
    QTRY_VERIFY(m_main->imageWindows().isEmpty());
    m_main->btnGrab->click();
    QCOMPARE(m_main->imageWindows().size(), 1);
    QCOMPARE(m_main->imageWindows().first()->windowTitle(), QStringLiteral("New image 3"));
}

void TestMainWindowCapture::orientation_data()
{
    QTest::addColumn<bool>("landscape");
    QTest::addColumn<QSize>("clientSize");

    // The instrument's full 272 x 480 store: turned upright unless stored as shown.
    QTest::newRow("orientation 0") << false << QSize(480, 272);
    QTest::newRow("orientation 1") << true << QSize(272, 480);
}

void TestMainWindowCapture::orientation()
{
    QFETCH(bool, landscape);
    QFETCH(QSize, clientSize);

    VirtualMeterOptions options;
    options.storedSize = QSize(272, 480);
    options.landscape = landscape;
    VirtualMeterThread *meter = startMeter(options);
    connectTo(MeterCom);
    m_main->resize(1200, 900);
    m_main->mnuCaptureScreen->trigger();

    TfrmImage *window = m_main->activeImageWindow();
    QVERIFY(window);
    QCOMPARE(window->picture().size(), clientSize);
    QCOMPARE(window->imageView()->size(), clientSize);
    QCOMPARE(window->picture(), meter->expectedCapture().convertToFormat(window->picture().format()));
}

void TestMainWindowCapture::newWindowFollowsMaximisedOnes()
{
    startMeter({});
    connectTo(MeterCom);
    m_main->mnuCaptureScreen->trigger();
    m_main->mnuCaptureScreen->trigger();
    QCOMPARE(m_main->imageWindows().size(), 2);
    QVERIFY(!m_main->imageWindows().at(0)->isMaximized());   // none maximised: normal size

    // With one maximised, the new window opens maximised and active in front.
    m_main->imageWindows().at(0)->showMaximized();
    m_main->mnuCaptureScreen->trigger();
    const QList<TfrmImage *> windows = m_main->imageWindows();
    QCOMPARE(windows.size(), 3);
    QVERIFY(windows.last()->isMaximized());
    QCOMPARE(m_main->activeImageWindow(), windows.last());
}

void TestMainWindowCapture::closeDuringCaptureWaitsForIt()
{
    startMeter({});
    connectTo(MeterCom);
    bool visibleAfterRequest = false;
    connect(m_main.get(), &TfrmMain::fileTextChanged, this, [&](const QString &text) {
        if (text == QStringLiteral("Reading screen image...")) {
            m_main->close();
            visibleAfterRequest = m_main->isVisible();
        }
    });
    QStringList offered;
    TfrmUnsavedImages::setAnswerHandler([&offered](TfrmUnsavedImages &dialog) {
        for (int row = 0; row < dialog.chkUnsavedImages->count(); ++row)
            offered << dialog.chkUnsavedImages->item(row)->text();
        dialog.Button2->click();   // close without saving
    });

    m_main->mnuCaptureScreen->trigger();
    QVERIFY(visibleAfterRequest);
    QTRY_VERIFY(!m_main->isVisible());
    // The picture taken meanwhile was offered before the program closed.
    QCOMPARE(offered, QStringList{"New image 1"});
}

QTEST_MAIN(TestMainWindowCapture)
#include "tst_mainwindow_capture.moc"
