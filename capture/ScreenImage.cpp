#include "ScreenImage.h"

#include "ScreenDecoder.h"

#include <QtMath>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

inline const QRgb *constLine(const QImage &image, int y)
{
    return reinterpret_cast<const QRgb *>(image.constScanLine(y));
}

inline QRgb *line(QImage &image, int y)
{
    return reinterpret_cast<QRgb *>(image.scanLine(y));
}

// Copies source into target at (0, 0) over the size both share.
void copyInto(const QImage &source, QImage &target)
{
    if (target.isNull() || target.size() == source.size()) {
        target = source;
        return;
    }
    if (target.format() != ScreenImageFormat)
        target = target.convertToFormat(ScreenImageFormat);
    const int width = std::min(source.width(), target.width());
    const int height = std::min(source.height(), target.height());
    for (int y = 0; y < height; ++y)
        std::memcpy(line(target, y), constLine(source, y), size_t(width) * sizeof(QRgb));
}

// Turns by a whole number of quarter turns (anticlockwise on screen for negative turns),
// so that every source pixel lands on exactly one result pixel.
QImage quarterTurns(const QImage &source, int turns)
{
    const int w = source.width();
    const int h = source.height();
    switch (turns) {
    case 0:
        return source.copy();
    case 1: {  // +90 degrees: result H x W, (x, y) = source (y, H - 1 - x)
        QImage result = BlankScreenImage(h, w);
        for (int y = 0; y < w; ++y) {
            QRgb *out = line(result, y);
            for (int x = 0; x < h; ++x)
                out[x] = constLine(source, h - 1 - x)[y];
        }
        return result;
    }
    case 2: {  // 180 degrees: (x, y) = source (W - 1 - x, H - 1 - y)
        QImage result = BlankScreenImage(w, h);
        for (int y = 0; y < h; ++y) {
            const QRgb *in = constLine(source, h - 1 - y);
            QRgb *out = line(result, y);
            for (int x = 0; x < w; ++x)
                out[x] = in[w - 1 - x];
        }
        return result;
    }
    default: {  // -90 degrees: result H x W, (x, y) = source (W - 1 - y, x)
        QImage result = BlankScreenImage(h, w);
        for (int y = 0; y < w; ++y) {
            QRgb *out = line(result, y);
            const int sx = w - 1 - y;
            for (int x = 0; x < h; ++x)
                out[x] = constLine(source, x)[sx];
        }
        return result;
    }
    }
}

// Nearest integer, halves to the even neighbour.
inline int roundEven(double t)
{
    return int(std::nearbyint(t));
}

QImage generalTurn(const QImage &source, double angle)
{
    const int w = source.width();
    const int h = source.height();
    const double s = std::sin(angle);
    const double c = std::cos(angle);
    const int xs[] = {0, roundEven(-h * s), roundEven(w * c - h * s), roundEven(w * c)};
    const int ys[] = {0, roundEven(h * c), roundEven(h * c + w * s), roundEven(w * s)};
    const int minX = *std::min_element(std::begin(xs), std::end(xs));
    const int maxX = *std::max_element(std::begin(xs), std::end(xs));
    const int minY = *std::min_element(std::begin(ys), std::end(ys));
    const int maxY = *std::max_element(std::begin(ys), std::end(ys));
    QImage result = BlankScreenImage(maxX - minX, maxY - minY);
    for (int y = 0; y < result.height(); ++y) {
        QRgb *out = line(result, y);
        const double v = minY + y;
        for (int x = 0; x < result.width(); ++x) {
            const double u = minX + x;
            const int sx = roundEven(u * c + v * s);
            const int sy = roundEven(v * c - u * s);
            if (sx >= 0 && sx < w && sy >= 0 && sy < h)
                out[x] = constLine(source, sy)[sx];
        }
    }
    return result;
}

}  // namespace

QImage BlankScreenImage(int width, int height)
{
    QImage image(width, height, ScreenImageFormat);
    if (!image.isNull())
        image.fill(ScreenBackground);
    return image;
}

bool DecodeScreenImage(QIODevice &stream, QImage &bitmap, quint16 width, quint16 height,
                       const TPalette &palette, const std::function<void()> &afterStrip)
{
    try {
        if (!stream.seek(0))
            return false;
        const QByteArray data = stream.readAll();
        ScreenDecoder decoder({width, height, 0, 0, palette});
        if (decoder.strips() > 0 && height > 0 && data.size() < decoder.bytesNeededFor(decoder.strips() - 1))
            return false;
        if (!decoder.isValid())
            return false;  // no memory for the picture
        decoder.decodeAvailable(data.constData(), data.size(), afterStrip);
        copyInto(decoder.image(), bitmap);
        return true;
    } catch (...) {
        return false;
    }
}

void RotateBitmap(QImage &image, int &width, int &height, double angle)
{
    QImage source = image;
    if (source.format() != ScreenImageFormat)
        source = source.convertToFormat(ScreenImageFormat);
    if (source.width() != width || source.height() != height)
        source = source.copy(0, 0, width, height);

    // Multiples of a quarter turn are done exactly: the general nearest-pixel mapping would
    // shift the picture by one pixel and drop a row or column of the source.
    if (!std::isfinite(angle))
        angle = 0;  // no turn can be made of it; the picture stays as it is
    const double quarters = angle / (M_PI / 2);
    const double nearest = std::round(quarters);
    if (std::abs(quarters - nearest) < 1e-9) {
        const int turns = int(std::fmod(std::fmod(nearest, 4.0) + 4.0, 4.0));
        image = quarterTurns(source, turns);
    } else {
        image = generalTurn(source, angle);
    }
    width = image.width();
    height = image.height();
}

QImage TurnUpright(const QImage &stored, quint16 orientation)
{
    constexpr double UprightAngle = -90 * M_PI / 180;
    QImage image = stored;
    if (orientation == 0) {
        int width = image.width();
        int height = image.height();
        RotateBitmap(image, width, height, UprightAngle);
    }
    return image;
}
