// Decode plus quarter turn of a full 272 x 480 screen, as the capture does it, beside a naive
// version that sets one pixel at a time through QImage::setPixel. Prints time per image.
//   bench_decode_turn [images]
#include "ScreenImage.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtMath>
#include <cstdio>

namespace {

constexpr quint16 Width = 272;
constexpr quint16 Height = 480;

const TPalette Palette = {qRgb(0, 0, 0),     qRgb(0, 0, 160),   qRgb(0, 160, 0),   qRgb(60, 60, 60),
                          qRgb(160, 0, 0),   qRgb(160, 0, 160), qRgb(200, 200, 0), qRgb(255, 255, 255)};

QImage naiveDecodeAndTurn(const QByteArray &data)
{
    QImage decoded(Width, Height, ScreenImageFormat);
    decoded.fill(ScreenBackground);
    for (int s = 0; s < Width / 8; ++s)
        for (int r = 0; r < Height; ++r) {
            const int at = 1536 * s + 3 * r;
            const quint32 v = quint32(quint8(data[at])) << 16 | quint32(quint8(data[at + 1])) << 8 | quint8(data[at + 2]);
            for (int k = 0; k < 8; ++k)
                decoded.setPixel(8 * s + k, r, Palette[(v >> (21 - 3 * k)) & 7]);
        }
    QImage turned(Height, Width, ScreenImageFormat);
    for (int y = 0; y < Width; ++y)
        for (int x = 0; x < Height; ++x)
            turned.setPixel(x, y, decoded.pixel(Width - 1 - y, x));
    return turned;
}

QImage decodeAndTurn(const QByteArray &data)
{
    QByteArray copy = data;
    QBuffer stream(&copy);
    stream.open(QIODevice::ReadOnly);
    QImage bitmap(Width, Height, ScreenImageFormat);
    DecodeScreenImage(stream, bitmap, Width, Height, Palette);
    int w = Width, h = Height;
    RotateBitmap(bitmap, w, h, -90 * M_PI / 180);
    return bitmap;
}

template <typename F>
double microsecondsPerImage(int images, F &&f, QImage &last)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < images; ++i)
        last = f();
    return timer.nsecsElapsed() / 1000.0 / images;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int images = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 200;

    QByteArray data(Width / 8 * 1536, '\0');
    QRandomGenerator random(42);
    for (char &byte : data)
        byte = char(random.bounded(256));

    QImage fast, naive;
    microsecondsPerImage(5, [&] { return decodeAndTurn(data); }, fast);  // warm up
    const double fastUs = microsecondsPerImage(images, [&] { return decodeAndTurn(data); }, fast);
    const double naiveUs = microsecondsPerImage(images, [&] { return naiveDecodeAndTurn(data); }, naive);

    std::printf("decode + turn of a %d x %d screen, %d images each\n", Width, Height, images);
    std::printf("  scan lines (capture core): %9.1f us per image\n", fastUs);
    std::printf("  one setPixel per pixel:    %9.1f us per image\n", naiveUs);
    std::printf("  ratio naive / core:        %9.2f\n", naiveUs / fastUs);
    std::printf("  results equal:             %9s\n", fast == naive ? "yes" : "NO");
    return fast == naive ? 0 : 1;
}
