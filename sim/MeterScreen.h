#pragma once

#include "VirtualMeterOptions.h"

#include <QByteArray>
#include <QImage>
#include <QVector>
#include <array>

// The virtual instrument's screen: the picture as shown, reduced to the 8-colour palette, and
// the same picture as the instrument stores it (turned for a portrait screen) in its strip layout.
class MeterScreen
{
public:
    using Palette = std::array<QRgb, 8>;

    explicit MeterScreen(const VirtualMeterOptions &options);

    // The palette the instrument keeps in memory; colour 3 is (60, 60, 60) unless the options
    // ask for one the reader must refuse.
    const Palette &storedPalette() const { return m_storedPalette; }

    int storedWidth() const { return m_storedWidth; }
    int storedHeight() const { return m_storedHeight; }
    quint16 orientation() const { return m_landscape ? 1 : 0; }
    int strips() const { return m_storedWidth / StripWidth; }

    // The stored image in the instrument's format: strips() strips of 1536 bytes, 3 bytes a row
    // (eight 3-bit indices, leftmost pixel in the top bits); the bytes after the last row of a
    // strip are non-zero filler.
    QByteArray stripData() const;

    // What a correct capture shows (ARGB32, shown size): every pixel whose stored column was
    // stored is opaque and holds its effective palette colour; pixels from stored columns
    // 8 * (storedWidth div 8) and beyond, which the instrument does not store, are fully
    // transparent (qAlpha 0) so a comparison can skip them.
    QImage expectedCapture() const;
    // Where a captured picture differs from an expected capture ("pixel 3,7"), skipping its
    // transparent pixels; empty when they agree.
    static QString captureDifference(const QImage &captured, const QImage &expected);

    // The palette index of each stored pixel, row by row.
    quint8 storedIndex(int x, int y) const { return m_stored.at(y * m_storedWidth + x); }

    static const Palette &fallbackPalette();
    static QImage defaultScreen(const QSize &shownSize);

    static constexpr int StripWidth = 8;
    static constexpr int StripBytes = 1536;
    static constexpr int RowBytes = 3;
    static constexpr int MaxStoredHeight = StripBytes / RowBytes;  // 512

private:
    QImage shownPicture(const VirtualMeterOptions &options) const;

    bool m_landscape = false;
    int m_storedWidth = 0;
    int m_storedHeight = 0;
    Palette m_storedPalette{};
    // The colours a correct reader ends up with: the stored palette, or the reader's fixed
    // fallback when colour 3 is not (60, 60, 60).
    Palette m_effectivePalette{};
    QVector<quint8> m_stored;  // palette indices, storedWidth x storedHeight
};
