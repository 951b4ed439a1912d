#include "Artwork.h"
#include "RegionFromBitmap.h"

#include <QSet>
#include <QtTest>

// Pictures are written as rows of text: '.' is magenta (outside the window), any other
// character an opaque pixel of the logo colour.
static QImage pictureOf(const QStringList &rows)
{
    const int width = rows.isEmpty() ? 0 : int(rows.first().size());
    QImage image(width, int(rows.size()), QImage::Format_RGB32);
    for (int y = 0; y < rows.size(); ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, rows[y][x] == QLatin1Char('.') ? Artwork::SplashKeyColour
                                                                      : Artwork::SplashLogoColour);
    return image;
}

static const QColor Magenta(255, 0, 255);

// Two regions are the same shape when nothing lies in one and not the other.
static bool sameShape(const QRegion &a, const QRegion &b)
{
    return a.xored(b).isEmpty();
}

class TestRegionFromBitmap : public QObject
{
    Q_OBJECT

private slots:
    void runsPerRow_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QVector<QRect>>("runs");

        QTest::newRow("all background") << QStringList{"....", "....", "...."} << QVector<QRect>{};
        QTest::newRow("no background, one full-width run per row")
            << QStringList{"####", "####", "####"}
            << QVector<QRect>{QRect(0, 0, 4, 1), QRect(0, 1, 4, 1), QRect(0, 2, 4, 1)};
        QTest::newRow("several runs in a row")
            << QStringList{"#.##.#"} << QVector<QRect>{QRect(0, 0, 1, 1), QRect(2, 0, 2, 1), QRect(5, 0, 1, 1)};
        QTest::newRow("background at both ends") << QStringList{".##."} << QVector<QRect>{QRect(1, 0, 2, 1)};
        QTest::newRow("two background pixels together") << QStringList{"#..#"}
                                                        << QVector<QRect>{QRect(0, 0, 1, 1), QRect(3, 0, 1, 1)};
        QTest::newRow("rows differ")
            << QStringList{"..#", "#..", "..."} << QVector<QRect>{QRect(2, 0, 1, 1), QRect(0, 1, 1, 1)};
    }
    void runsPerRow()
    {
        QFETCH(QStringList, rows);
        QFETCH(QVector<QRect>, runs);
        const QImage picture = pictureOf(rows);
        QCOMPARE(CollectOpaqueRuns(picture, Magenta, Magenta), runs);

        const auto region = CreateRegionFromBitmap(picture, Magenta, Magenta);
        QVERIFY(region.has_value());
        QRegion expected;
        for (const QRect &run : runs)
            expected += run;
        QVERIFY(sameShape(*region, expected));
        QCOMPARE(region->isEmpty(), runs.isEmpty());
    }

    void noPictureGivesNoRegion()
    {
        QVERIFY(!CreateRegionFromBitmap(QImage(), Magenta, Magenta).has_value());
        QVERIFY(CollectOpaqueRuns(QImage(), Magenta, Magenta).isEmpty());
    }

    void backgroundRange_data()
    {
        QTest::addColumn<QColor>("key");
        QTest::addColumn<QColor>("tolerance");
        QTest::addColumn<QColor>("pixel");
        QTest::addColumn<bool>("background");

        QTest::newRow("exact magenta") << Magenta << Magenta << QColor(255, 0, 255) << true;
        QTest::newRow("blue one short") << Magenta << Magenta << QColor(255, 0, 254) << false;
        QTest::newRow("red one short") << Magenta << Magenta << QColor(254, 0, 255) << false;
        QTest::newRow("green one over") << Magenta << Magenta << QColor(255, 1, 255) << false;
        QTest::newRow("logo colour") << Magenta << Magenta << QColor(Artwork::SplashLogoColour) << false;
        // 250 + 10 would wrap to 4 in 8 bits and leave an empty range; capped, it reaches 255.
        QTest::newRow("high bound capped, top") << QColor(250, 0, 250) << QColor(10, 0, 10) << QColor(255, 0, 255) << true;
        QTest::newRow("high bound capped, low end") << QColor(250, 0, 250) << QColor(10, 0, 10) << QColor(250, 0, 250) << true;
        QTest::newRow("below the low bound") << QColor(250, 0, 250) << QColor(10, 0, 10) << QColor(249, 0, 250) << false;
        QTest::newRow("just past the range") << QColor(100, 100, 100) << QColor(20, 20, 20) << QColor(121, 110, 100) << false;
    }
    void backgroundRange()
    {
        QFETCH(QColor, key);
        QFETCH(QColor, tolerance);
        QFETCH(QColor, pixel);
        QFETCH(bool, background);
        QImage picture(1, 1, QImage::Format_RGB32);
        picture.setPixelColor(0, 0, pixel);
        QCOMPARE(CollectOpaqueRuns(picture, key, tolerance).isEmpty(), background);
    }

    void batchesUniteToTheSameShape_data()
    {
        QTest::addColumn<int>("batchSize");
        QTest::newRow("the usual 2000") << RegionBatchSize;
        QTest::newRow("tiny batches") << 7;
        QTest::newRow("batch of exactly one row") << 50;
    }
    void batchesUniteToTheSameShape()
    {
        QFETCH(int, batchSize);
        // 100 x 60 with a staggered pattern: 50 runs a row, 3000 in all, so it takes two batches of 2000.
        QImage picture(100, 60, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixelColor(x, y, (x + y / 3) % 2 ? Artwork::SplashKeyColour : Artwork::SplashLogoColour);
        QVERIFY(CollectOpaqueRuns(picture, Magenta, Magenta).size() > RegionBatchSize);

        const auto batched = CreateRegionFromBitmap(picture, Magenta, Magenta, batchSize);
        const auto single = CreateRegionFromBitmap(picture, Magenta, Magenta, std::numeric_limits<int>::max());
        QVERIFY(batched && single);
        QVERIFY(sameShape(*batched, *single));
        // And the shape is the picture's: every opaque pixel in, every magenta pixel out.
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                QCOMPARE(batched->contains(QPoint(x, y)), picture.pixelColor(x, y) != Artwork::SplashKeyColour);
    }

    void splashPictureIsTwoColoursWithASolidPanelBlock()
    {
        const QImage picture = Artwork::splashPicture();
        QCOMPARE(picture.size(), QSize(542, 465));
        QSet<QRgb> colours;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                colours.insert(picture.pixel(x, y) & RGB_MASK);
        QCOMPARE(colours, (QSet<QRgb>{Artwork::SplashKeyColour.rgb() & RGB_MASK,
                                      Artwork::SplashLogoColour.rgb() & RGB_MASK}));

        const auto shape = CreateRegionFromBitmap(picture, Magenta, Magenta);
        QVERIFY(shape);
        const QRect block(342, 415, 200, 50);
        QVERIFY(sameShape(shape->intersected(block), QRegion(block)));
        // A real shape: the corners are outside it and it stays within the picture.
        QVERIFY(!shape->contains(QPoint(0, 0)));
        QVERIFY(!shape->contains(QPoint(541, 0)));
        QVERIFY(QRect(0, 0, 542, 465).contains(shape->boundingRect()));
    }

    // The About box takes the bottom-left pixel as the logo's transparent colour: it must be the
    // black ground. (The box's test checks the pictures' sizes.)
    void aboutLogoCornerIsTheBlackGround()
    {
        const QImage logo = Artwork::brannocLogo();
        QCOMPARE(logo.pixelColor(0, logo.height() - 1), QColor(Qt::black));
    }
};

QTEST_MAIN(TestRegionFromBitmap)
#include "tst_regionfrombitmap.moc"
