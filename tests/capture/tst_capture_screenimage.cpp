// Decoding the instrument's strip layout and turning pictures upright.
#include "ScreenImage.h"
#include "ScriptedMeter.h"

#include <QBuffer>
#include <QtMath>
#include <QtTest>

namespace {

const TPalette &Palette = ScriptedMeter::Palette;

QImage decode(QByteArray bytes, int width, int height, bool *ok, int *strips = nullptr)
{
    QBuffer stream(&bytes);
    stream.open(QIODevice::ReadOnly);
    QImage bitmap(width, height, ScreenImageFormat);
    bitmap.fill(Qt::white);
    int count = 0;
    *ok = DecodeScreenImage(stream, bitmap, quint16(width), quint16(height), Palette, [&count] { ++count; });
    if (strips)
        *strips = count;
    return bitmap;
}

}  // namespace

class TestScreenImage : public QObject
{
    Q_OBJECT
private slots:
    void rowGroup()
    {
        bool ok = false;
        const QImage image = decode(QByteArray("\x05\x39\x77", 3) + QByteArray(1533, '\0'), 8, 1, &ok);
        QVERIFY(ok);
        for (int k = 0; k < 8; ++k)
            QCOMPARE(image.pixel(k, 0), Palette[size_t(k)]);
    }

    // Each row comes from 1536 x strip + 3 x row, whatever the height; the rest is ignored.
    void stripLayout_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("one row") << QSize(16, 1);
        QTest::newRow("screen") << QSize(272, 480);
        QTest::newRow("full strip") << QSize(8, 512);
        QTest::newRow("width not a multiple of 8") << QSize(20, 7);
        QTest::newRow("narrower than a strip") << QSize(7, 3);
    }
    void stripLayout()
    {
        QFETCH(QSize, size);
        const int width = size.width();
        const QVector<quint8> indices = ScriptedMeter::patternIndices(width, size.height());
        bool ok = false;
        int strips = 0;
        const QImage image = decode(ScriptedMeter::encodeStrips(indices, width, size.height()), width, size.height(), &ok, &strips);
        QVERIFY(ok);
        QCOMPARE(strips, width / 8);
        QCOMPARE(image.size(), size);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < width; ++x)
                if (image.pixel(x, y) != (x < width / 8 * 8 ? Palette[indices[y * width + x]] : ScreenBackground))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
    }

    // Data that falls short fails and leaves the bitmap as it was.
    void shortData_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("bytes");
        QTest::newRow("empty") << QSize(8, 1) << 0;
        QTest::newRow("last row missing a byte") << QSize(16, 10) << 1536 + 29;
        QTest::newRow("screen less one byte") << QSize(272, 480) << 1536 * 33 + 1439;
    }
    void shortData()
    {
        QFETCH(QSize, size);
        QFETCH(int, bytes);
        bool ok = true;
        const QImage image = decode(QByteArray(bytes, '\0'), size.width(), size.height(), &ok);
        QVERIFY(!ok);
        QImage untouched(size, ScreenImageFormat);
        untouched.fill(Qt::white);
        QCOMPARE(image, untouched);
    }

    // The quarter turn that shows a portrait screen upright is exact: (x, y) is source (W-1-y, x).
    void quarterTurn_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("screen") << QSize(272, 480);
        QTest::newRow("odd") << QSize(5, 3);
    }
    void quarterTurn()
    {
        QFETCH(QSize, size);
        QImage source(size, ScreenImageFormat);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                source.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, (x * 31 + y * 17) & 0xFF));
        QImage image = source;
        int w = size.width();
        int h = size.height();
        RotateBitmap(image, w, h, -M_PI / 2);
        QCOMPARE(QSize(w, h), size.transposed());
        QCOMPARE(image.size(), size.transposed());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (image.pixel(x, y) != source.pixel(size.width() - 1 - y, x))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
    }
};

QTEST_GUILESS_MAIN(TestScreenImage)
#include "tst_capture_screenimage.moc"
