#pragma once

#include "InstrumentMemory.h"

#include <QImage>
#include <functional>

// Bytes of the image read: whole strips of 1536 bytes, however high the picture is.
quint32 ScreenImageBytes(const ScreenDescription &screen);
// The size of the picture as it is shown, after the turn upright.
QSize UprightScreenSize(const ScreenDescription &screen);

// Decodes the stored screen strip by strip, as far as the bytes go. Every decode of the
// instrument's picture goes through here: the finished image read and the picture that builds
// up while the bytes still arrive.
class ScreenDecoder
{
public:
    explicit ScreenDecoder(const ScreenDescription &screen);

    // False when there was no memory for the picture.
    bool isValid() const;
    int strips() const { return m_strips; }
    int stripsDecoded() const { return m_decoded; }
    bool complete() const { return m_decoded == m_strips; }

    // Bytes the data must hold before strip (0-based) can be decoded: its rows, not its unused tail.
    qint64 bytesNeededFor(int strip) const;

    // Decodes every strip that data holds whole and that was not decoded before, left to right;
    // afterStrip runs after each. Data is the image read from its first byte. Returns the number
    // of strips decoded by this call.
    int decodeAvailable(const char *data, qint64 size, const std::function<void()> &afterStrip = {});

    // The picture as stored; columns of strips not decoded yet keep the blank background.
    const QImage &image() const { return m_image; }
    // The picture so far, turned as it is shown.
    QImage upright() const;

private:
    ScreenDescription m_screen;
    int m_strips = 0;
    int m_decoded = 0;
    QImage m_image;
};
