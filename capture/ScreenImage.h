#pragma once

#include "InstrumentMemory.h"

#include <QImage>
#include <QIODevice>
#include <functional>

// The instrument's stored screen: vertical strips 8 pixels wide, 1536 bytes a strip, 3 bytes a
// row holding eight 3-bit colour indices, leftmost pixel in the top bits.
namespace ScreenLayout {
constexpr quint32 ImageOffset = 1440;   // the data starts this far before ImageAddress
constexpr int StripBytes = 1536;
constexpr int RowBytes = 3;
constexpr int StripWidth = 8;
constexpr int MaxRows = StripBytes / RowBytes;  // 512
}  // namespace ScreenLayout

// Images are held as QImage::Format_RGB32, which keeps the palette's 24-bit colours exactly.
constexpr QImage::Format ScreenImageFormat = QImage::Format_RGB32;
// What the pixels that no strip covers show (columns past the last whole strip).
constexpr QRgb ScreenBackground = 0xFFFFFFFFu;

// A picture of the stored screen's format with nothing decoded into it yet.
QImage BlankScreenImage(int width, int height);

// Decodes the stored image read from the instrument into bitmap (width x height, or null to
// be given the decoded picture).
// afterStrip, when set, runs after each strip so the caller can process pending events.
// Returns false, leaving bitmap untouched, when the data is shorter than the geometry needs.
bool DecodeScreenImage(QIODevice &stream, QImage &bitmap, quint16 width, quint16 height,
                       const TPalette &palette, const std::function<void()> &afterStrip = {});

// Turns image by angle (radians) about its top-left corner; image, width and height become the
// turned picture. A quarter turn (-90 degrees) is exact: result pixel (x, y) = source (W-1-y, x).
void RotateBitmap(QImage &image, int &width, int &height, double angle);

// The stored picture as it is shown: orientation 0 means it is stored turned and is given a
// quarter turn (-90 degrees); any other orientation is shown as stored.
QImage TurnUpright(const QImage &stored, quint16 orientation);
