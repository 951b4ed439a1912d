#include "ImageView.h"

#include <QPainter>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

constexpr int TileWidth = 12;
constexpr int TileHeight = 10;

// Grey levels of the tile, red = green = blue.
constexpr quint8 GreyA = 239;
constexpr quint8 GreyB = 242;
constexpr quint8 GreyC = 246;
constexpr quint8 GreyD = 247;
constexpr quint8 GreyE = 248;

const char *const TileRows[TileHeight] = {
    "aeeeeeaeeeee",
    "aeeeeeaeeeee",
    "aeeeeeaeeeee",
    "abeeebabeeeb",
    "eebaacdcaabe",
    "eeeacdddcaee",
    "eeeadddddaee",
    "eeeacdddcaee",
    "eebaacdcaabe",
    "abeeebabeeeb",
};

quint8 greyOf(char level)
{
    switch (level) {
    case 'a': return GreyA;
    case 'b': return GreyB;
    case 'c': return GreyC;
    case 'd': return GreyD;
    default: return GreyE;
    }
}

QImage makeTile()
{
    QImage tile(TileWidth, TileHeight, QImage::Format_RGB32);
    for (int y = 0; y < TileHeight; ++y) {
        for (int x = 0; x < TileWidth; ++x) {
            const quint8 grey = greyOf(TileRows[y][x]);
            tile.setPixel(x, y, qRgb(grey, grey, grey));
        }
    }
    return tile;
}

constexpr int WheelNotch = 120; // angle delta of one notch, in eighths of a degree

} // namespace

TImageView::TImageView(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The paint rule covers every pixel, so the system need not erase first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
}

const QImage &TImageView::backgroundTile()
{
    static const QImage tile = makeTile();
    return tile;
}

void TImageView::setPicture(const QImage &picture)
{
    m_picture = picture;
    m_origin = QPoint(0, 0);
    centrePicture();
    updateScrollRanges();
    viewport()->update();
    updateGeometry();
}

QSize TImageView::sizeHint() const
{
    return m_picture.isNull() ? QAbstractScrollArea::sizeHint() : m_picture.size();
}

// Where the area is smaller than the picture, the picture starts at the area's edge and the
// scroll bars reach the rest; an offset kept from an earlier, larger area would show a band of
// background beside a sliver of the picture, with part of it out of reach.
void TImageView::centrePicture()
{
    const QSize client = viewport()->size();
    m_origin.setX(client.width() >= m_picture.width() ? (client.width() - m_picture.width()) / 2 : 0);
    m_origin.setY(client.height() >= m_picture.height() ? (client.height() - m_picture.height()) / 2 : 0);
}

void TImageView::updateScrollRanges()
{
    const QSize content(m_origin.x() + m_picture.width(), m_origin.y() + m_picture.height());
    // Judge by the area without scroll bars first, or bars shown once would keep themselves
    // needed by the room they take.
    const QSize whole = maximumViewportSize();
    const bool fits = content.width() <= whole.width() && content.height() <= whole.height();
    const QSize client = fits ? whole : viewport()->size();
    horizontalScrollBar()->setPageStep(client.width());
    verticalScrollBar()->setPageStep(client.height());
    horizontalScrollBar()->setRange(0, qMax(0, content.width() - client.width()));
    verticalScrollBar()->setRange(0, qMax(0, content.height() - client.height()));
}

void TImageView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    centrePicture();
    updateScrollRanges();
}

void TImageView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    // The tile stays fixed to the client area's corner; only the picture scrolls.
    static const QPixmap tile = QPixmap::fromImage(backgroundTile());
    const QRect area = event->rect();
    painter.drawTiledPixmap(area, tile, QPoint(area.left() % TileWidth, area.top() % TileHeight));
    if (!m_picture.isNull()) {
        const QPoint shown = m_origin - QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
        painter.drawImage(shown, m_picture);
    }
}

void TImageView::wheelEvent(QWheelEvent *event)
{
    // Only the vertical wheel scrolls, 10 pixels per notch; high-resolution wheels add up to notches.
    m_wheelRemainder += event->angleDelta().y();
    const int notches = m_wheelRemainder / WheelNotch;
    m_wheelRemainder -= notches * WheelNotch;
    if (notches != 0) {
        QScrollBar *bar = verticalScrollBar();
        bar->setValue(qBound(bar->minimum(), bar->value() - notches * WheelStep, bar->maximum()));
    }
    event->accept();
}

void TImageView::scrollContentsBy(int, int)
{
    viewport()->update();
}
