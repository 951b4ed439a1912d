#include "Artwork.h"
#include "Splash.h"

#include "FlagRows.h"
#include "TestHome.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>

class TestSplash : public QObject
{
    Q_OBJECT

private:
    TestHome home;

    // Creates the window as start-up does, with its timer held so the test counts the ticks.
    static QPointer<TfrmSplash> heldSplash(bool shown)
    {
        frmSplash = new TfrmSplash;
        frmSplash->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
        if (shown)
            frmSplash->show();
        return frmSplash;
    }

private slots:
    void createdWithItsPanel()
    {
        QPointer<TfrmSplash> splash = heldSplash(false);
        QCOMPARE(splash->size(), QSize(568, 465));
        QVERIFY(splash->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(splash->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(splash->pnlSplash->geometry(), QRect(342, 415, 200, 50));
        QCOMPARE(splash->SplashProgress->geometry(), QRect(4, 36, 193, 10));
        QCOMPARE(splash->SplashProgress->minimum(), 0);
        QCOMPARE(splash->SplashProgress->maximum(), 2047);
        QCOMPARE(splash->SplashProgress->value(), 0);
        QCOMPARE(splash->lblTitle->text(), QStringLiteral("Corvane Snaploom"));
        QCOMPARE(splash->opacity(), quint8(255));
        QCOMPARE(splash->imgSplash->pixmap().size(), QSize(542, 465));
        delete splash;
        QVERIFY(!frmSplash);
    }

    void showingShapesTheWindow()
    {
        QPointer<TfrmSplash> splash = heldSplash(true);
        QCOMPARE(splash->BuildLabel->text(), QStringLiteral("Build.: 1.2.0.3"));
        const QRegion shape = splash->mask();
        QVERIFY(!shape.isEmpty());
        // The panel's block is inside the shape, the picture's corners and the strip right of it are not.
        QVERIFY(shape.contains(QRect(342, 415, 200, 50)));
        QVERIFY(!shape.contains(QPoint(0, 0)));
        QVERIFY(!shape.contains(QPoint(560, 10)));
        delete splash;
    }

    // At start-up the window is shown before the event loop runs; its ticks wait for the loop.
    void shownAtStartUpWithoutTicking()
    {
        frmSplash = new TfrmSplash;
        QPointer<TfrmSplash> splash = frmSplash;
        splash->ShowAndPaint();
        QVERIFY(splash->isVisible());
        QCOMPARE(splash->tickCount(), 0);
        QVERIFY(splash->findChild<QTimer *>(QStringLiteral("Timer1"))->isActive());
        delete splash;
    }

    // Where the desktop composes windows the picture's own edges make the shape: drawn for the
    // screen's pixels, soft, and the same outline as the two-colour picture's.
    void smoothPictureKeepsTheShape_data()
    {
        QTest::addColumn<qreal>("scale");
        QTest::newRow("100 %") << 1.0;
        QTest::newRow("150 %") << 1.5;
        QTest::newRow("200 %") << 2.0;
    }
    void smoothPictureKeepsTheShape()
    {
        QFETCH(qreal, scale);
        const QImage sharp = Artwork::splashPicture();
        const QImage smooth = Artwork::smoothSplashPicture(scale);
        QCOMPARE(smooth.deviceIndependentSize().toSize(), sharp.size());
        QCOMPARE(smooth.devicePixelRatio(), scale);
        int soft = 0;
        int differ = 0;
        for (int y = 0; y < sharp.height(); ++y)
            for (int x = 0; x < sharp.width(); ++x) {
                const QRgb pixel = smooth.pixel(int((x + 0.5) * scale), int((y + 0.5) * scale));
                soft += qAlpha(pixel) > 0 && qAlpha(pixel) < 255;
                const bool ink = sharp.pixelColor(x, y) == Artwork::SplashLogoColour;
                differ += ink != (qAlpha(pixel) >= 128);
            }
        QVERIFY(soft > 100);
        QVERIFY2(differ < sharp.width() * sharp.height() / 200, qPrintable(QString::number(differ)));
        QCOMPARE(QColor::fromRgba(smooth.pixel(int(400 * scale), int(440 * scale))), Artwork::SplashLogoColour);
    }

    void neverShownKeepsItsDesignLook()
    {
        QPointer<TfrmSplash> splash = heldSplash(false);
        QVERIFY(splash->BuildLabel->text().isEmpty());
        QVERIFY(splash->mask().isEmpty());
        delete splash;
    }

    void timerSchedule_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("barValue");
        QTest::addColumn<int>("opacity");
        struct Row { int ticks, barValue, opacity; };
        const Row rows[] = {{20, 0, 255}, {21, 128, 255}, {36, 2047, 255}, {80, 2047, 255},
                            {81, 2047, 250}, {127, 2047, 20}};
        for (bool shown : {true, false})
            for (const Row &row : rows)
                QTest::addRow("%s, tick %d", shown ? "shown" : "never shown", row.ticks)
                    << shown << row.ticks << row.barValue << row.opacity;
    }
    void timerSchedule()
    {
        QFETCH(bool, shown);
        QFETCH(int, ticks);
        QFETCH(int, barValue);
        QFETCH(int, opacity);
        QPointer<TfrmSplash> splash = heldSplash(shown);
        for (int i = 0; i < ticks; ++i)
            splash->tick();
        QCOMPARE(splash->tickCount(), ticks);
        QCOMPARE(splash->SplashProgress->value(), barValue);
        QCOMPARE(int(splash->opacity()), opacity);
        QCOMPARE(splash->windowOpacity(), opacity / 255.0);
        QCOMPARE(splash->isVisible(), shown);
        delete splash;
    }

    // The window behaves the same whether start-up showed it or not.
    void releasedAtTick128_data() { addFlagRows("shown", "never shown", "shown"); }
    void releasedAtTick128()
    {
        QFETCH(bool, shown);
        QPointer<TfrmSplash> splash = heldSplash(shown);
        for (int i = 0; i < 127; ++i)
            splash->tick();
        QCOMPARE(frmSplash, splash.data());
        splash->tick();
        QCOMPARE(int(splash->opacity()), 15);
        QVERIFY(!splash->isVisible());
        QVERIFY(!splash->findChild<QTimer *>(QStringLiteral("Timer1"))->isActive());
        QVERIFY(!frmSplash);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(splash.isNull());
    }

    // Left to its own timer, the window goes away by itself, seen or not.
    void fadesAndReleasesItselfOnItsOwnTimer_data() { addFlagRows("shown", "never shown", "shown"); }
    void fadesAndReleasesItselfOnItsOwnTimer()
    {
        QFETCH(bool, shown);
        frmSplash = new TfrmSplash;
        QPointer<TfrmSplash> splash = frmSplash;
        QVERIFY(splash->findChild<QTimer *>(QStringLiteral("Timer1"))->isActive());
        if (shown)
            splash->show();
        QTRY_VERIFY_WITH_TIMEOUT(splash.isNull(), 30000);
        QVERIFY(!frmSplash);
    }
};

QTEST_MAIN(TestSplash)
#include "tst_splash.moc"
