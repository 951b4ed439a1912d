#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>

// The client area of an image window: the grey tile pattern from (0, 0) over the whole area,
// the picture on top at its zoom (1:1 at first), centred in each direction where the area is
// larger than the picture and from the area's edge in a direction where it is smaller (the scroll
// bars then reach the rest). Zoomed pixels stay sharp squares.
class TImageView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit TImageView(QWidget *parent = nullptr);

    void setPicture(const QImage &picture);
    const QImage &picture() const { return m_picture; }

    // Where the picture's top-left corner lies in the scrolled area (before scrolling).
    QPoint pictureOrigin() const { return m_origin; }
    // The picture's size on the screen at the current zoom.
    QSize shownSize() const;

    // Zoom: a factor of the picture's size; fit makes the whole picture fill the area and follows
    // its size until another zoom is chosen.
    qreal zoom() const { return m_zoom; }
    bool fitsWindow() const { return m_fit; }
    int zoomPercent() const;
    void zoomIn();
    void zoomOut();
    void actualSize();
    void fitToWindow();
    // The zoom steps, smallest first: whole multiples above 1:1, so every pixel is as wide as the next.
    static const QList<qreal> &zoomSteps();

    // The 12 x 10 background tile.
    static const QImage &backgroundTile();

    // Pixels the vertical scroll position moves per wheel notch.
    static constexpr int WheelStep = 10;

    QSize sizeHint() const override;

signals:
    void zoomChanged();
    // The user dragged the picture away with the left button.
    void dragOutStarted();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void centrePicture();
    void updateScrollRanges();
    void setZoom(qreal zoom, bool fit);
    qreal fittingZoom() const;

    QImage m_picture;
    QPoint m_origin;
    qreal m_zoom = 1.0;
    bool m_fit = false;
    int m_wheelRemainder = 0;
    QPoint m_pressedAt;
    bool m_dragArmed = false;
};
