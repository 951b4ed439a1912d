// Captures on a real X display, taken with real key presses over the virtual instrument: every new
// image window starts inside the client area, each one cascaded from the one before.

#include "MainWindowFixture.h"
#include "XInput.h"

#include <QMdiArea>
#include <QMdiSubWindow>

namespace {
constexpr int MeterCom = 57;
}

class TestDisplayPlacement : public QObject, MainWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { startProgram(); }
    void cleanup() { closeMainWindow(); }
    void tenCapturesStartInsideTheClientArea_data();
    void tenCapturesStartInsideTheClientArea();
};

void TestDisplayPlacement::tenCapturesStartInsideTheClientArea_data()
{
    QTest::addColumn<QSize>("stored");
    QTest::newRow("the instrument's screen") << QSize();
    QTest::newRow("taller than the client area") << QSize(560, 96);  // shown turned: 96 x 560
}

void TestDisplayPlacement::tenCapturesStartInsideTheClientArea()
{
    QFETCH(QSize, stored);
    QVERIFY(home.writeSettings("[COM]\nPort=" + QByteArray::number(MeterCom)
                               + "\n[Window]\nX=0\nY=0\nWidth=800\nHeight=600\n"));

    VirtualMeterOptions options;
    options.comNumber = MeterCom;
    options.storedSize = stored;
    startMeter(options);
    openMainWindow(this);
    QVERIFY(XInput::focus(mainWindow.get()));

    QLabel *connected = panel("pnlConnected");
    QToolButton *grab = button("btnGrab");
    auto *area = part<QMdiArea>("ClientArea");
    QVERIFY(XInput::key({"ctrl+Return"}));
    QTRY_COMPARE_WITH_TIMEOUT(connected->text(), QStringLiteral("Connected."), 20000);
    QTRY_VERIFY(grab->isEnabled());

    QList<QPoint> starts;
    for (int capture = 1; capture <= 10; ++capture) {
        QVERIFY(XInput::key({"ctrl+n"}));
        QTRY_COMPARE_WITH_TIMEOUT(area->subWindowList().size(), capture, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(grab->isEnabled(), 30000);
        const QList<QMdiSubWindow *> windows = area->subWindowList(QMdiArea::CreationOrder);
        QMdiSubWindow *window = windows.last();
        const QRect visible = area->viewport()->rect();
        const int titleBar = window->contentsMargins().top();
        QVERIFY(titleBar > 0);
        // The whole title bar is in view: the window can be seen, moved and closed at once.
        QVERIFY2(visible.contains(QRect(window->pos(), QSize(window->width(), titleBar))),
                 qPrintable(QStringLiteral("capture %1 at %2,%3 size %4x%5 in %6x%7").arg(capture).arg(window->x())
                                .arg(window->y()).arg(window->width()).arg(window->height()).arg(visible.width()).arg(visible.height())));
        QVERIFY(!starts.contains(window->pos()));  // not on top of an earlier one
        starts << window->pos();
    }
    QVERIFY2(messages.isEmpty(), qPrintable(messages.value(0).second));
    QCOMPARE(starts.first(), QPoint(0, 0));
}

QTEST_MAIN(TestDisplayPlacement)
#include "tst_display_placement.moc"
