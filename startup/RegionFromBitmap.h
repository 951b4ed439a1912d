#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QRegion>
#include <QVector>
#include <optional>

// Turns a picture into a window shape: every pixel whose colour lies within the key colour's
// range is background, everything else belongs to the window.

// The per-channel range of the background colour: from the key's component up to the key's
// component plus the tolerance's, capped at 255 so a wide tolerance cannot wrap round to 0.
struct TColourRange
{
    int redLow, redHigh;
    int greenLow, greenHigh;
    int blueLow, blueHigh;

    static TColourRange fromKey(const QColor &keyColour, const QColor &tolerance);
    bool contains(QRgb pixel) const;
};

// The opaque runs of the picture, one rectangle one pixel high per run, row by row from the top
// and left to right within a row. Empty for a null picture.
QVector<QRect> CollectOpaqueRuns(const QImage &bitmap, const QColor &keyColour, const QColor &tolerance);

// Most rectangles handed to the window system as one region; larger shapes are united from batches.
constexpr int RegionBatchSize = 2000;

// The window shape of the picture, or none when there is no picture. A picture that is all
// background gives an empty region.
std::optional<QRegion> CreateRegionFromBitmap(const QImage &bitmap, const QColor &keyColour,
                                              const QColor &tolerance, int batchSize = RegionBatchSize);
