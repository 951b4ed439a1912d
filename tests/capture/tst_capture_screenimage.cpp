// Decoding the instrument's strip layout and turning pictures upright.
#include "ScreenDecoder.h"
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

    // Bytes handed over as they arrive decode each strip once its rows are in, never before, and
    // end in the picture of one decode of the whole read, turned as it is shown.
    void decodeWhileArriving_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<int>("piece");
        QTest::newRow("screen, turned, line-sized pieces") << QSize(272, 480) << 0 << 397;
        QTest::newRow("as stored, byte by byte") << QSize(24, 5) << 1 << 1;
        QTest::newRow("full strips, strip-sized pieces") << QSize(16, 512) << 0 << 1536;
        QTest::newRow("width not a multiple of 8, all at once") << QSize(20, 7) << 0 << 100000;
    }
    void decodeWhileArriving()
    {
        QFETCH(QSize, size);
        QFETCH(int, orientation);
        QFETCH(int, piece);
        const int width = size.width();
        const int height = size.height();
        const QByteArray bytes = ScriptedMeter::encodeStrips(ScriptedMeter::patternIndices(width, height), width, height)
                                 + QByteArray("OK\n\r");
        bool ok = false;
        const QImage whole = decode(bytes, width, height, &ok);
        QVERIFY(ok);

        ScreenDecoder decoder({quint16(width), quint16(height), quint16(orientation), 0, Palette});
        QVERIFY(decoder.isValid());
        for (qint64 offered = 0;; offered += piece) {
            const qint64 received = std::min<qint64>(offered, bytes.size());
            decoder.decodeAvailable(bytes.constData(), received);
            const int strips = decoder.stripsDecoded();
            const qint64 rowsEnd = qint64(1536) * strips + 3 * height;   // where the next strip's rows end
            QVERIFY2(strips == width / 8 || received < rowsEnd, qPrintable(QStringLiteral("at %1").arg(received)));
            QVERIFY(strips == 0 || received >= decoder.bytesNeededFor(strips - 1));
            const QImage shown = decoder.image();
            const int done = strips * 8;
            QCOMPARE(shown.copy(0, 0, done, height), whole.copy(0, 0, done, height));
            QImage blank(width - done, height, ScreenImageFormat);
            blank.fill(ScreenBackground);
            QCOMPARE(shown.copy(done, 0, width - done, height), blank);
            if (received == bytes.size())
                break;
        }
        QVERIFY(decoder.complete());
        QCOMPARE(decoder.image(), whole);
        QCOMPARE(decoder.upright(), TurnUpright(whole, quint16(orientation)));
        QCOMPARE(decoder.upright().size(), UprightScreenSize({quint16(width), quint16(height), quint16(orientation), 0, {}}));
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
