// The picture of a capture builds up in its window while the instrument sends it, with the
// progress, the time left and a way out in the status bar.

#include "MainWindowTest.h"
#include "ScreenImage.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

namespace {
const QString LoadError = QStringLiteral("An error occoured while loading image.\r\rPlease try again.");
constexpr int MeterCom = 83;

// What the user could see at one moment of a capture.
struct Sight
{
    int windows = 0;
    QString title;
    bool building = false;
    QImage picture;
    QString progress;
    bool cancelShown = false;
};
}  // namespace

class TestLiveCapture : public MainWindowTest
{
    Q_OBJECT

private slots:
    void pictureBuildsUpWhileTheBytesArrive();
    void captureWithoutPictureClosesItsWindow_data();
    void captureWithoutPictureClosesItsWindow();

private:
    VirtualMeterThread *connectToMeter(QSize stored, bool pace, QList<MeterFault> faults = {})
    {
        VirtualMeterOptions options;
        options.comNumber = MeterCom;
        options.storedSize = stored;
        options.pace = pace;
        options.faults = QSet<MeterFault>(faults.begin(), faults.end());
        if (mainWindow->link().IsConnected())
            action("mnuConnect")->trigger();
        meters.clear();
        VirtualMeterThread *meter = startMeter(options);
        [&] { QVERIFY(connectTo(MeterCom)); }();
        mainWindow->capture().setPauses(500, 20);
        return meter;
    }

    // Captures, looking at the image windows and the status bar every few milliseconds meanwhile.
    QList<Sight> captureWatching()
    {
        QList<Sight> sights;
        QTimer watch;
        watch.setInterval(20);
        connect(&watch, &QTimer::timeout, this, [&] { sights << look(); });
        watch.start();
        action("mnuCaptureScreen")->trigger();
        return sights;
    }

    Sight look() const
    {
        Sight sight;
        const QList<TfrmImage *> windows = imageWindows();
        sight.windows = int(windows.size());
        if (!windows.isEmpty()) {
            sight.title = windows.last()->windowTitle();
            sight.building = windows.last()->building();
            sight.picture = windows.last()->picture();
        }
        if (part<QProgressBar>("pbMain")->isVisible())
            sight.progress = part<QProgressBar>("pbMain")->text();
        auto *cancel = mainWindow->findChild<QToolButton *>(QStringLiteral("btnCancelCapture"));
        sight.cancelShown = cancel && cancel->isVisible();
        return sight;
    }
};

void TestLiveCapture::pictureBuildsUpWhileTheBytesArrive()
{
    // Two strips of a portrait screen at the line's real pace: about 3 s.
    VirtualMeterThread *meter = connectToMeter(QSize(16, 48), true);
    const QImage expected = meter->expectedCapture().convertToFormat(ScreenImageFormat);
    const QList<Sight> sights = captureWatching();

    QImage blank(expected.size(), ScreenImageFormat);
    blank.fill(ScreenBackground);
    bool partShown = false;
    bool timeLeftShown = false;
    for (const Sight &sight : sights) {
        if (!sight.building)
            continue;
        QCOMPARE(sight.windows, 1);
        QCOMPARE(sight.title, QStringLiteral("New image 1"));
        QCOMPARE(sight.picture.size(), expected.size());   // turned from the start
        QVERIFY(sight.cancelShown);
        QVERIFY2(sight.progress.contains(QLatin1Char('%')), qPrintable(sight.progress));
        timeLeftShown |= sight.progress.contains(QStringLiteral("left"));
        // Every pixel is either the finished picture's or not there yet.
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x)
                if (sight.picture.pixel(x, y) != expected.pixel(x, y) && sight.picture.pixel(x, y) != ScreenBackground)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is neither").arg(x).arg(y)));
        partShown |= sight.picture != expected && sight.picture != blank;
    }
    QVERIFY2(partShown, "no picture was seen half built");
    QVERIFY(timeLeftShown);

    const Sight after = look();
    QCOMPARE(after.windows, 1);
    QVERIFY(!after.building);
    QVERIFY(!after.cancelShown);
    QCOMPARE(after.title, QStringLiteral("New image 1"));
    QCOMPARE(after.picture, expected);
    QVERIFY(action("mnuSaveImage")->isEnabled());
    QVERIFY(messages.isEmpty());
}

// Whatever ends a capture without a picture, its window goes at once (before any message), a
// halted instrument runs again, and the next picture still takes the first number.
enum class UserAction { None, CancelButton, EscapeKey, CloseWindow };

void TestLiveCapture::captureWithoutPictureClosesItsWindow_data()
{
    QTest::addColumn<QList<MeterFault>>("faults");
    QTest::addColumn<UserAction>("action");
    QTest::addColumn<QStringList>("messageStarts");

    using F = QList<MeterFault>;
    QTest::newRow("reply without its trailer") << F{MeterFault::SwappedImageTrailer} << UserAction::None
                                               << QStringList{LoadError};
    QTest::newRow("line hung up mid-reply") << F{MeterFault::HangUpInImage} << UserAction::None
                                            << QStringList{"The connection to COM83"};
    QTest::newRow("Cancel button") << F{} << UserAction::CancelButton << QStringList{};
    QTest::newRow("Esc") << F{} << UserAction::EscapeKey << QStringList{};
    QTest::newRow("building window closed") << F{} << UserAction::CloseWindow << QStringList{};
}

void TestLiveCapture::captureWithoutPictureClosesItsWindow()
{
    QFETCH(QList<MeterFault>, faults);
    QFETCH(UserAction, action);
    QFETCH(QStringList, messageStarts);
    // The user's way out is taken in the middle of a read at the line's pace, with the instrument halted.
    const bool byUser = action != UserAction::None;
    VirtualMeterThread *meter = connectToMeter(QSize(16, 48), byUser, faults);
    this->action("mnuFreezeImage")->setChecked(byUser);
    mainWindow->activateWindow();   // keys reach shortcuts of the active window only
    QVERIFY(QTest::qWaitForWindowActive(mainWindow.get()));
    mainWindow->capture().setPauses(20, 20);
    QList<int> windowsAtMessage;
    Dialogs::setMessageHandler([&](Kind kind, const QString &text, QMessageBox::StandardButtons) {
        messages.append({kind, text});
        windowsAtMessage << int(imageWindows().size());
        return QMessageBox::Ok;
    });

    bool opened = false;
    // A window that opens and goes between two looks still counts.
    const QMetaObject::Connection openWatch = connect(part<QMdiArea>("ClientArea"), &QMdiArea::subWindowActivated,
                                                      this, [&](QMdiSubWindow *window) { opened |= window != nullptr; });
    int windowsAfterAction = -1;
    QTimer watch;
    watch.setInterval(20);
    connect(&watch, &QTimer::timeout, this, [&] {
        const QList<TfrmImage *> windows = imageWindows();
        opened |= !windows.isEmpty();
        if (action == UserAction::None || windowsAfterAction >= 0 || windows.isEmpty() || part<QProgressBar>("pbMain")->value() == 0)
            return;
        switch (action) {
        case UserAction::CancelButton:
            mainWindow->findChild<QToolButton *>(QStringLiteral("btnCancelCapture"))->click();
            break;
        case UserAction::EscapeKey:
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : mainWindow.get(), Qt::Key_Escape);
            break;
        default:
            windows.last()->close();
            break;
        }
        windowsAfterAction = int(imageWindows().size());
    });
    watch.start();

    this->action("mnuCaptureScreen")->trigger();
    watch.stop();
    disconnect(openWatch);

    QVERIFY(opened);
    if (action != UserAction::None)
        QCOMPARE(windowsAfterAction, 0);
    QCOMPARE(messages.size(), messageStarts.size());
    for (int i = 0; i < messages.size(); ++i)
        QVERIFY2(messages[i].second.startsWith(messageStarts[i]), qPrintable(messages[i].second));
    QCOMPARE(windowsAtMessage, QList<int>(messageStarts.size(), 0));
    QTRY_VERIFY(imageWindows().isEmpty());
    QCOMPARE(meter->restarts(), meter->halts());
    QVERIFY(!meter->halted());

    connectToMeter(QSize(16, 48), false);
    this->action("mnuCaptureScreen")->trigger();
    QCOMPARE(imageWindows().size(), 1);
    QCOMPARE(activeImageWindow()->windowTitle(), QStringLiteral("New image 1"));
}

QTEST_MAIN(TestLiveCapture)
#include "tst_livecapture.moc"
