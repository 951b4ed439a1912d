// Decoding the instrument's strip layout and turning pictures upright.
#include "ScreenImage.h"
#include "ScriptedMeter.h"

#include <QBuffer>
#include <QtMath>
#include <QtTest>

namespace {

// Distinct colours for the eight indices, none of them the background.
const TPalette TestPalette = {qRgb(1, 2, 3),     qRgb(10, 20, 30),  qRgb(200, 0, 7),  qRgb(60, 60, 60),
                              qRgb(0, 250, 1),   qRgb(17, 34, 51),  qRgb(90, 9, 199), qRgb(254, 254, 253)};

QImage decode(const QByteArray &bytes, int width, int height, bool *ok = nullptr, int *strips = nullptr)
{
    QByteArray copy = bytes;
    QBuffer stream(&copy);
    stream.open(QIODevice::ReadOnly);
    QImage bitmap(width, height, ScreenImageFormat);
    bitmap.fill(Qt::black);
    int count = 0;
    const bool result = DecodeScreenImage(stream, bitmap, quint16(width), quint16(height), TestPalette,
                                          [&count] { ++count; });
    if (ok)
        *ok = result;
    if (strips)
        *strips = count;
    return bitmap;
}

int indexOf(QRgb colour)
{
    for (int i = 0; i < 8; ++i)
        if (TestPalette[size_t(i)] == colour)
            return i;
    return -1;
}

QImage patternImage(int width, int height)
{
    QImage image(width, height, ScreenImageFormat);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, (x * 31 + y * 17) & 0xFF));
    return image;
}

}  // namespace

class TestScreenImage : public QObject
{
    Q_OBJECT
private slots:
    void rowGroups_data()
    {
        QTest::addColumn<QByteArray>("group");
        QTest::addColumn<QList<int>>("indices");
        QTest::newRow("0..7") << QByteArray("\x05\x39\x77", 3) << QList<int>{0, 1, 2, 3, 4, 5, 6, 7};
        QTest::newRow("all 7") << QByteArray("\xFF\xFF\xFF", 3) << QList<int>{7, 7, 7, 7, 7, 7, 7, 7};
        QTest::newRow("all 0") << QByteArray("\x00\x00\x00", 3) << QList<int>{0, 0, 0, 0, 0, 0, 0, 0};
        QTest::newRow("7..0") << QByteArray("\xFA\xC6\x88", 3) << QList<int>{7, 6, 5, 4, 3, 2, 1, 0};
    }
    void rowGroups()
    {
        QFETCH(QByteArray, group);
        QFETCH(QList<int>, indices);
        bool ok = false;
        const QImage image = decode(group + QByteArray(1533, '\0'), 8, 1, &ok);
        QVERIFY(ok);
        for (int k = 0; k < 8; ++k)
            QCOMPARE(indexOf(image.pixel(k, 0)), indices.at(k));
    }

    // Each row comes from 1536 x strip + 3 x row, whatever the height; the rest is ignored.
    void stripLayout_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("one row") << 16 << 1;
        QTest::newRow("far below 512") << 24 << 5;
        QTest::newRow("screen") << 272 << 480;
        QTest::newRow("full strip") << 8 << 512;
        QTest::newRow("width not a multiple of 8") << 20 << 7;
        QTest::newRow("narrower than a strip") << 7 << 3;
    }
    void stripLayout()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        const QVector<quint8> indices = patternIndices(width, height);
        bool ok = false;
        int strips = 0;
        const QImage image = decode(encodeStrips(indices, width, height), width, height, &ok, &strips);
        QVERIFY(ok);
        QCOMPARE(strips, width / 8);
        QCOMPARE(image.size(), QSize(width, height));
        QCOMPARE(image.format(), ScreenImageFormat);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const QRgb expected = x < width / 8 * 8 ? TestPalette[indices[y * width + x]] : ScreenBackground;
                if (image.pixel(x, y) != expected)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            }
    }

    void shortData_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bytes");
        QTest::newRow("empty") << 8 << 1 << 0;
        QTest::newRow("last row missing a byte") << 16 << 10 << 1536 + 29;
        QTest::newRow("screen less one byte") << 272 << 480 << 1536 * 33 + 1439;
    }
    void shortData()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bytes);
        bool ok = true;
        const QImage image = decode(QByteArray(bytes, '\xFF'), width, height, &ok);
        QVERIFY(!ok);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                QCOMPARE(image.pixel(x, y), qRgb(0, 0, 0));
    }

    // The decode reads the stream from its start, wherever it stands.
    void readsFromTheStart()
    {
        QByteArray bytes = QByteArray("\x05\x39\x77", 3) + QByteArray(1533, '\0');
        QBuffer stream(&bytes);
        stream.open(QIODevice::ReadOnly);
        stream.seek(1000);
        QImage bitmap(8, 1, ScreenImageFormat);
        QVERIFY(DecodeScreenImage(stream, bitmap, 8, 1, TestPalette));
        QCOMPARE(bitmap.pixel(7, 0), TestPalette[7]);

        // A null bitmap is given the picture.
        QImage fresh;
        QVERIFY(DecodeScreenImage(stream, fresh, 10, 1, TestPalette));
        QCOMPARE(fresh.size(), QSize(10, 1));
        QCOMPARE(fresh.pixel(0, 0), TestPalette[0]);
        QCOMPARE(fresh.pixel(9, 0), ScreenBackground);
    }

    // Whole quarter turns are exact and lose nothing.
    void quarterTurns_data()
    {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("-90 screen") << -90.0 << 272 << 480;
        QTest::newRow("-90 odd") << -90.0 << 5 << 3;
        QTest::newRow("90") << 90.0 << 7 << 4;
        QTest::newRow("180") << 180.0 << 6 << 9;
        QTest::newRow("0") << 0.0 << 11 << 2;
        QTest::newRow("-270") << -270.0 << 3 << 8;
        QTest::newRow("one pixel") << -90.0 << 1 << 1;
    }
    void quarterTurns()
    {
        QFETCH(double, degrees);
        QFETCH(int, width);
        QFETCH(int, height);
        const QImage source = patternImage(width, height);
        QImage image = source;
        int w = width;
        int h = height;
        RotateBitmap(image, w, h, degrees * M_PI / 180);
        QCOMPARE(source, patternImage(width, height));  // the source is left as it was

        // Where each source pixel must land, written out per turn.
        const int turns = ((qRound(degrees / 90) % 4) + 4) % 4;
        const bool sideways = turns % 2 == 1;
        QCOMPARE(QSize(w, h), sideways ? QSize(height, width) : QSize(width, height));
        QCOMPARE(image.size(), QSize(w, h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                QPoint from;
                switch (turns) {
                case 0: from = QPoint(x, y); break;
                case 1: from = QPoint(y, height - 1 - x); break;
                case 2: from = QPoint(width - 1 - x, height - 1 - y); break;
                default: from = QPoint(width - 1 - y, x); break;
                }
                if (image.pixel(x, y) != source.pixel(from))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            }
    }

    // Other angles keep the nearest-pixel mapping; they only need to hold the picture's corner.
    void otherAngles()
    {
        const QImage source = patternImage(40, 30);
        QImage image = source;
        int w = 40, h = 30;
        RotateBitmap(image, w, h, 30 * M_PI / 180);
        QVERIFY(w >= 40 && h >= 30);
        QCOMPARE(image.size(), QSize(w, h));
        QCOMPARE(image.format(), ScreenImageFormat);

        image = source;
        w = 40, h = 30;
        RotateBitmap(image, w, h, qQNaN());
        QCOMPARE(image, source);
    }
};

QTEST_GUILESS_MAIN(TestScreenImage)
#include "tst_capture_screenimage.moc"
