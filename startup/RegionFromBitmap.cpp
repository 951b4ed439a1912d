#include "RegionFromBitmap.h"

#include <algorithm>

namespace {
constexpr int ChannelMax = 255;

int cappedHigh(int key, int tolerance)
{
    // Summed in int, so 255 + 255 is 510 before the cap and never wraps as 8-bit would.
    return std::min(key + tolerance, ChannelMax);
}
} // namespace

TColourRange TColourRange::fromKey(const QColor &keyColour, const QColor &tolerance)
{
    return {keyColour.red(),   cappedHigh(keyColour.red(), tolerance.red()),
            keyColour.green(), cappedHigh(keyColour.green(), tolerance.green()),
            keyColour.blue(),  cappedHigh(keyColour.blue(), tolerance.blue())};
}

bool TColourRange::contains(QRgb pixel) const
{
    const int r = qRed(pixel);
    const int g = qGreen(pixel);
    const int b = qBlue(pixel);
    return r >= redLow && r <= redHigh && g >= greenLow && g <= greenHigh && b >= blueLow && b <= blueHigh;
}

QVector<QRect> CollectOpaqueRuns(const QImage &bitmap, const QColor &keyColour, const QColor &tolerance)
{
    QVector<QRect> runs;
    if (bitmap.isNull())
        return runs;
    // One 32-bit copy, so every source format is read the same way.
    const QImage pixels = bitmap.convertToFormat(QImage::Format_RGB32);
    const TColourRange background = TColourRange::fromKey(keyColour, tolerance);
    const int width = pixels.width();
    const int height = pixels.height();
    for (int y = 0; y < height; ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
        int x = 0;
        while (x < width) {
            const int x0 = x;
            while (x < width && !background.contains(row[x]))
                ++x;
            if (x > x0)
                runs.append(QRect(QPoint(x0, y), QPoint(x - 1, y)));
            ++x; // past the background pixel that ended the run
        }
    }
    return runs;
}

std::optional<QRegion> CreateRegionFromBitmap(const QImage &bitmap, const QColor &keyColour,
                                              const QColor &tolerance, int batchSize)
{
    if (bitmap.isNull())
        return std::nullopt;
    batchSize = std::max(batchSize, 1);
    const QVector<QRect> runs = CollectOpaqueRuns(bitmap, keyColour, tolerance);
    // Each batch becomes one region at once; uniting region by region keeps each union small.
    QRegion result;
    for (int start = 0; start < runs.size(); start += batchSize) {
        const int count = std::min(batchSize, int(runs.size()) - start);
        QRegion batch;
        batch.setRects(runs.constData() + start, count);
        result = result.united(batch);
    }
    return result;
}
