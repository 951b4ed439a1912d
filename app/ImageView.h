#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>

// The client area of an image window: the grey tile pattern from (0, 0) over the whole area,
// the picture on top at 1:1, centred in each direction where the area is larger than the picture
// and from the area's edge in a direction where it is smaller (the scroll bars then reach the rest).
class TImageView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit TImageView(QWidget *parent = nullptr);

    void setPicture(const QImage &picture);
    const QImage &picture() const { return m_picture; }

    // Where the picture's top-left corner lies in the scrolled area (before scrolling).
    QPoint pictureOrigin() const { return m_origin; }

    // The 12 x 10 background tile.
    static const QImage &backgroundTile();

    // Pixels the vertical scroll position moves per wheel notch.
    static constexpr int WheelStep = 10;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void centrePicture();
    void updateScrollRanges();

    QImage m_picture;
    QPoint m_origin;
    int m_wheelRemainder = 0;
};
