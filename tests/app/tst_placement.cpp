// Where windows start: new image windows in the client area, the main window on the screens.

#include "ImagePlacement.h"
#include "ScreenPlacement.h"

#include <QtTest>
#include <optional>

using OptionalPoint = std::optional<QPoint>;
Q_DECLARE_METATYPE(OptionalPoint)

class TestPlacement : public QObject
{
    Q_OBJECT

private slots:
    void imageWindowCascade_data();
    void imageWindowCascade();
    void mainWindowOntoScreens_data();
    void mainWindowOntoScreens();
    void mainWindowFitsAScaledScreen_data();
    void mainWindowFitsAScaledScreen();
};

namespace {
const QRect Area(0, 0, 780, 500);
constexpr int TitleBar = 22;
const QSize Portrait(280, 506);  // taller than the area, as an upright instrument screen is
const QSize Landscape(488, 298);
} // namespace

void TestPlacement::imageWindowCascade_data()
{
    QTest::addColumn<OptionalPoint>("last");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("expected");

    QTest::newRow("first window") << OptionalPoint() << Landscape << QPoint(0, 0);
    QTest::newRow("cascades from the last") << OptionalPoint(QPoint(44, 44)) << Landscape << QPoint(66, 66);
    QTest::newRow("tall window cascades below the edge") << OptionalPoint(QPoint(0, 0)) << Portrait
                                                         << QPoint(22, 22);
    QTest::newRow("right edge reached exactly") << OptionalPoint(QPoint(270, 10)) << Landscape << QPoint(292, 32);
    QTest::newRow("past the right edge wraps") << OptionalPoint(QPoint(271, 10)) << Landscape << QPoint(0, 0);
    QTest::newRow("title bar at the bottom edge") << OptionalPoint(QPoint(10, 456)) << Landscape << QPoint(32, 478);
    QTest::newRow("title bar past the bottom wraps") << OptionalPoint(QPoint(10, 457)) << Landscape << QPoint(0, 0);
    QTest::newRow("last moved out of sight") << OptionalPoint(QPoint(-300, 900)) << Landscape << QPoint(0, 0);
    QTest::newRow("wider than the area") << OptionalPoint(QPoint(0, 0)) << QSize(900, 200) << QPoint(0, 0);
}

void TestPlacement::imageWindowCascade()
{
    QFETCH(OptionalPoint, last);
    QFETCH(QSize, size);
    QFETCH(QPoint, expected);
    QCOMPARE(TImagePlacement::nextPosition(Area, last, size, TitleBar), expected);
}

void TestPlacement::mainWindowOntoScreens_data()
{
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<QRect>("expected");

    // Two screens side by side, the right one lower, less a panel along the left one's top.
    QTest::newRow("on the first screen") << QRect(10, 40, 800, 600) << QRect(10, 40, 800, 600);
    QTest::newRow("title strip partly on a screen") << QRect(1800, 40, 800, 600) << QRect(1800, 40, 800, 600);
    QTest::newRow("on the second screen") << QRect(2000, 300, 800, 600) << QRect(2000, 300, 800, 600);
    QTest::newRow("under a panel") << QRect(10, -20, 800, 600) << QRect(10, 32, 800, 600);
    QTest::newRow("far right of both") << QRect(6000, 400, 800, 600) << QRect(2880, 400, 800, 600);
    QTest::newRow("far left") << QRect(-5000, 100, 800, 600) << QRect(0, 100, 800, 600);
    QTest::newRow("below the left screen") << QRect(100, 1500, 800, 600) << QRect(100, 480, 800, 600);
    QTest::newRow("larger than the screen") << QRect(-3000, -3000, 2500, 1400) << QRect(0, 32, 2500, 1400);
}

void TestPlacement::mainWindowOntoScreens()
{
    QFETCH(QRect, stored);
    QFETCH(QRect, expected);
    const QList<QRect> screens = {QRect(0, 32, 1920, 1048), QRect(1920, 200, 1760, 1200)};
    QCOMPARE(TScreenPlacement::ontoScreens(stored, screens), expected);
}

// A 1280 x 800 screen at 200 % offers 640 x 400 logical pixels (less a panel here); the window
// with its frame never needs more, while a large screen keeps the designed minimum.
void TestPlacement::mainWindowFitsAScaledScreen_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QRect>("placed");

    QTest::newRow("100 %, designed size") << QRect(0, 0, 1280, 1024) << QRect(10, 10, 800, 640) << QSize(800, 600)
                                          << QRect(10, 10, 800, 640);
    QTest::newRow("200 %, first run") << QRect(0, 16, 640, 384) << QRect(10, 10, 800, 600) << QSize(636, 358)
                                      << QRect(2, 40, 636, 358);
    QTest::newRow("200 %, fits") << QRect(0, 16, 640, 384) << QRect(100, 60, 500, 300) << QSize(636, 358)
                                 << QRect(100, 60, 500, 300);
    QTest::newRow("200 %, too wide only") << QRect(0, 16, 640, 384) << QRect(50, 60, 700, 300) << QSize(636, 358)
                                          << QRect(2, 60, 636, 300);
}

void TestPlacement::mainWindowFitsAScaledScreen()
{
    QFETCH(QRect, available);
    QFETCH(QRect, stored);
    QFETCH(QSize, minimum);
    QFETCH(QRect, placed);
    const QMargins frame(2, 24, 2, 2);
    QCOMPARE(TScreenPlacement::minimumSizeOn(QSize(800, 600), available, frame), minimum);
    QCOMPARE(TScreenPlacement::insideScreen(stored, available, frame), placed);
}

QTEST_MAIN(TestPlacement)
#include "tst_placement.moc"
