#include "ImageView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

constexpr int TileWidth = 12;
constexpr int TileHeight = 10;

// Grey levels of the tile, red = green = blue, for the letters 'a' to 'e' of its rows.
constexpr quint8 Greys[] = {239, 242, 246, 247, 248};

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
    return Greys[level - 'a'];
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

// A picture is never drawn smaller than this many screen pixels, nor its zoom beyond the last step.
constexpr int MinimumShownSide = 8;

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
    return m_picture.isNull() ? QAbstractScrollArea::sizeHint() : shownSize();
}

QSize TImageView::shownSize() const
{
    if (m_picture.isNull())
        return QSize(0, 0);
    return QSize(qMax(1, qRound(m_picture.width() * m_zoom)), qMax(1, qRound(m_picture.height() * m_zoom)));
}

const QList<qreal> &TImageView::zoomSteps()
{
    static const QList<qreal> steps = {0.25, 0.5, 1.0, 2.0, 3.0, 4.0, 6.0, 8.0, 12.0, 16.0};
    return steps;
}

int TImageView::zoomPercent() const
{
    return qRound(m_zoom * 100);
}

void TImageView::zoomIn()
{
    for (qreal step : zoomSteps())
        if (step > m_zoom * 1.001) {
            setZoom(step, false);
            return;
        }
    setZoom(zoomSteps().last(), false);
}

void TImageView::zoomOut()
{
    const QList<qreal> &steps = zoomSteps();
    for (auto it = steps.crbegin(); it != steps.crend(); ++it)
        if (*it < m_zoom * 0.999) {
            setZoom(*it, false);
            return;
        }
    setZoom(steps.first(), false);
}

void TImageView::actualSize()
{
    setZoom(1.0, false);
}

void TImageView::fitToWindow()
{
    setZoom(fittingZoom(), true);
}

// The largest zoom at which the whole picture shows without scroll bars.
qreal TImageView::fittingZoom() const
{
    if (m_picture.isNull())
        return 1.0;
    const QSize area = maximumViewportSize();
    return qMin(qreal(area.width()) / m_picture.width(), qreal(area.height()) / m_picture.height());
}

void TImageView::setZoom(qreal zoom, bool fit)
{
    if (!m_picture.isNull()) {
        const qreal smallest = qreal(MinimumShownSide) / qMin(m_picture.width(), m_picture.height());
        zoom = qBound(qMin(smallest, zoomSteps().first()), zoom, zoomSteps().last());
    }
    // The picture's point in the middle of the area stays in the middle, where the area allows.
    const QPoint middle(viewport()->width() / 2, viewport()->height() / 2);
    const QPoint scrolled(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const QPointF inPicture = QPointF(middle + scrolled - m_origin) / m_zoom;
    const bool changed = !qFuzzyCompare(zoom, m_zoom) || fit != m_fit;
    m_zoom = zoom;
    m_fit = fit;
    centrePicture();
    updateScrollRanges();
    const QPoint target = (inPicture * m_zoom).toPoint() + m_origin - middle;
    horizontalScrollBar()->setValue(target.x());
    verticalScrollBar()->setValue(target.y());
    viewport()->update();
    if (changed)
        emit zoomChanged();
}

// Where the area is smaller than the picture, the picture starts at the area's edge and the
// scroll bars reach the rest; an offset kept from an earlier, larger area would show a band of
// background beside a sliver of the picture, with part of it out of reach.
void TImageView::centrePicture()
{
    const QSize client = viewport()->size();
    const QSize shown = shownSize();
    m_origin.setX(client.width() >= shown.width() ? (client.width() - shown.width()) / 2 : 0);
    m_origin.setY(client.height() >= shown.height() ? (client.height() - shown.height()) / 2 : 0);
}

void TImageView::updateScrollRanges()
{
    const QSize shown = shownSize();
    const QSize content(m_origin.x() + shown.width(), m_origin.y() + shown.height());
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
    if (m_fit) {
        setZoom(fittingZoom(), true);
        return;
    }
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
        // Nearest neighbour: a zoomed pixel is a sharp square, as on the instrument's screen.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(QRect(shown, shownSize()), m_picture);
    }
}

void TImageView::wheelEvent(QWheelEvent *event)
{
    // Only the vertical wheel scrolls, 10 pixels per notch; high-resolution wheels add up to notches.
    // With Ctrl held, each notch zooms one step instead.
    m_wheelRemainder += event->angleDelta().y();
    const int notches = m_wheelRemainder / WheelNotch;
    m_wheelRemainder -= notches * WheelNotch;
    if (notches != 0 && (event->modifiers() & Qt::ControlModifier)) {
        for (int i = 0; i < qAbs(notches); ++i)
            notches > 0 ? zoomIn() : zoomOut();
    } else if (notches != 0) {
        QScrollBar *bar = verticalScrollBar();
        bar->setValue(qBound(bar->minimum(), bar->value() - notches * WheelStep, bar->maximum()));
    }
    event->accept();
}

void TImageView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void TImageView::mousePressEvent(QMouseEvent *event)
{
    const QPoint scrolled(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const QRect onScreen(m_origin - scrolled, shownSize());
    m_dragArmed = event->button() == Qt::LeftButton && onScreen.contains(event->position().toPoint());
    m_pressedAt = event->position().toPoint();
    QAbstractScrollArea::mousePressEvent(event);
}

void TImageView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragArmed && (event->buttons() & Qt::LeftButton)
        && (event->position().toPoint() - m_pressedAt).manhattanLength() >= QApplication::startDragDistance()) {
        m_dragArmed = false;
        emit dragOutStarted();
        return;
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}
