#include "ScreenDecoder.h"

#include "ScreenImage.h"

#include <algorithm>

namespace {

// A row of one strip: 3 bytes, eight 3-bit colour indices, leftmost pixel in the top bits.
inline void decodeRow(const uchar *row, QRgb *pixels, const TPalette &palette)
{
    const quint32 value = (quint32(row[0]) << 16) | (quint32(row[1]) << 8) | quint32(row[2]);
    for (int k = 0; k < ScreenLayout::StripWidth; ++k)
        pixels[k] = palette[(value >> (21 - 3 * k)) & 7u];
}

}  // namespace

quint32 ScreenImageBytes(const ScreenDescription &screen)
{
    return quint32(screen.width / ScreenLayout::StripWidth) * ScreenLayout::StripBytes;
}

QSize UprightScreenSize(const ScreenDescription &screen)
{
    return screen.orientation == 0 ? QSize(screen.height, screen.width) : QSize(screen.width, screen.height);
}

ScreenDecoder::ScreenDecoder(const ScreenDescription &screen)
    : m_screen(screen)
    , m_strips(screen.width / ScreenLayout::StripWidth)
    , m_image(BlankScreenImage(screen.width, screen.height))
{
    // With no rows there is nothing to decode in any strip.
    if (screen.height == 0)
        m_decoded = m_strips;
}

bool ScreenDecoder::isValid() const
{
    return !m_image.isNull() || m_screen.width == 0 || m_screen.height == 0;
}

qint64 ScreenDecoder::bytesNeededFor(int strip) const
{
    return qint64(ScreenLayout::StripBytes) * strip + qint64(ScreenLayout::RowBytes) * m_screen.height;
}

int ScreenDecoder::decodeAvailable(const char *data, qint64 size, const std::function<void()> &afterStrip)
{
    if (!isValid())
        return 0;
    const auto *bytes = reinterpret_cast<const uchar *>(data);
    const int first = m_decoded;
    while (m_decoded < m_strips && bytesNeededFor(m_decoded) <= size) {
        const uchar *strip = bytes + qint64(ScreenLayout::StripBytes) * m_decoded;
        const int column = m_decoded * ScreenLayout::StripWidth;
        for (int r = 0; r < m_screen.height; ++r)
            decodeRow(strip + ScreenLayout::RowBytes * r,
                      reinterpret_cast<QRgb *>(m_image.scanLine(r)) + column, m_screen.palette);
        ++m_decoded;
        if (afterStrip)
            afterStrip();
    }
    return m_decoded - first;
}

QImage ScreenDecoder::upright() const
{
    return TurnUpright(m_image, m_screen.orientation);
}
