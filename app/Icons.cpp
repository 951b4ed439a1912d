#include "Icons.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace Icons {

namespace {

// Every picture is drawn on a 16 x 16 grid and scaled for larger sizes.
constexpr int GridSize = 16;

using Artwork = std::function<void(QPainter &)>;

// inset leaves that many pixels clear along every edge (room for a rim).
void paintOn(QPaintDevice &device, const Artwork &draw, int size, int inset = 0)
{
    QPainter painter(&device);
    const int drawn = size - 2 * inset;
    painter.setRenderHint(QPainter::Antialiasing, drawn > GridSize || inset > 0);
    painter.translate(inset, inset);
    painter.scale(qreal(drawn) / GridSize, qreal(drawn) / GridSize);
    draw(painter);
}

QPixmap render(const Artwork &draw, int size, int inset = 0)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    paintOn(pixmap, draw, size, inset);
    return pixmap;
}

// How wide the rim of a dark desktop's icons is at size pixels.
int rimWidth(int size)
{
    return std::max(1, size / GridSize);
}

// The disabled look: the same shapes in light grey, so the outline is still recognisable.
QPixmap greyed(const QPixmap &source)
{
    QImage image = source.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 128 + qGray(line[x]) / 2;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) * 3 / 4);
        }
    }
    return QPixmap::fromImage(image);
}

bool darkDesktop()
{
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

// The artwork's dark outlines vanish on a dark desktop: a light rim around the whole shape, in
// the palette's writing colour, keeps it readable there. On a light desktop it stands as drawn.
QPixmap withRim(const QPixmap &source)
{
    const QImage picture = source.toImage().convertToFormat(QImage::Format_ARGB32);
    const int reach = rimWidth(picture.width());
    QColor rimColour = QGuiApplication::palette().color(QPalette::WindowText);
    rimColour.setAlpha(200);
    QImage rim(picture.size(), QImage::Format_ARGB32);
    rim.fill(Qt::transparent);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            bool near = false;
            for (int dy = -reach; dy <= reach && !near; ++dy)
                for (int dx = -reach; dx <= reach && !near; ++dx)
                    near = picture.valid(x + dx, y + dy) && qAlpha(picture.pixel(x + dx, y + dy)) >= 128;
            if (near)
                rim.setPixelColor(x, y, rimColour);
        }
    QPainter painter(&rim);
    painter.drawImage(0, 0, picture);
    painter.end();
    return QPixmap::fromImage(rim);
}

QIcon iconOf(const Artwork &draw, bool grey)
{
    QIcon icon;
    const bool rimmed = darkDesktop();
    for (int size : {16, 24, 32}) {
        // With a rim the picture is drawn a little smaller, so the rim fits all around it.
        const QPixmap pixmap = rimmed ? withRim(render(draw, size, rimWidth(size))) : render(draw, size);
        const QPixmap disabled = greyed(pixmap);
        icon.addPixmap(grey ? disabled : pixmap, QIcon::Normal);
        icon.addPixmap(disabled, QIcon::Disabled);
    }
    return icon;
}

void outlinedRect(QPainter &p, const QRectF &r, const QColor &fill, const QColor &line)
{
    p.setPen(QPen(line, 1));
    p.setBrush(fill);
    p.drawRect(r);
}

// A floppy disk: blue body, metal shutter at the top, white label below.
void drawSave(QPainter &p)
{
    outlinedRect(p, QRectF(1.5, 1.5, 13, 13), QColor(52, 101, 164), QColor(32, 60, 110));
    outlinedRect(p, QRectF(4.5, 1.5, 7, 5), QColor(200, 205, 212), QColor(110, 115, 125));
    p.fillRect(QRectF(9, 2.5, 2, 3), QColor(52, 101, 164));
    outlinedRect(p, QRectF(3.5, 8.5, 9, 6), Qt::white, QColor(150, 150, 150));
    p.setPen(QColor(170, 170, 170));
    p.drawLine(QPointF(5, 10.5), QPointF(11, 10.5));
    p.drawLine(QPointF(5, 12.5), QPointF(11, 12.5));
}

// An instrument screen with a trace on it and a camera lens in the corner.
void drawCapture(QPainter &p)
{
    outlinedRect(p, QRectF(0.5, 1.5, 13, 10), QColor(60, 64, 72), QColor(30, 30, 34));
    p.fillRect(QRectF(2, 3, 10, 7), QColor(20, 40, 30));
    p.setPen(QPen(QColor(90, 230, 120), 1));
    p.drawPolyline(QPolygonF({QPointF(2, 8.5), QPointF(4, 8.5), QPointF(5.5, 4.5), QPointF(7, 8.5),
                              QPointF(8.5, 6.5), QPointF(12, 6.5)}));
    p.setPen(QPen(QColor(30, 30, 34), 1));
    p.setBrush(QColor(230, 230, 235));
    p.drawEllipse(QRectF(8.5, 8.5, 7, 7));
    p.setBrush(QColor(52, 101, 164));
    p.drawEllipse(QRectF(10.5, 10.5, 3, 3));
}

// A plug with its cable: the serial connection.
void drawConnect(QPainter &p)
{
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable;
    cable.moveTo(1, 15);
    cable.cubicTo(3, 11, 5, 12, 6.5, 9.5);
    p.drawPath(cable);
    p.save();
    p.translate(9.5, 6.5);
    p.rotate(45);
    outlinedRect(p, QRectF(-3.5, -2.5, 7, 6), QColor(235, 190, 60), QColor(120, 85, 10));
    p.fillRect(QRectF(-2.5, -6, 1.5, 3.5), QColor(150, 150, 155));
    p.fillRect(QRectF(1, -6, 1.5, 3.5), QColor(150, 150, 155));
    p.restore();
}

// Two pages, one over the other.
void drawCopy(QPainter &p)
{
    outlinedRect(p, QRectF(1.5, 1.5, 8, 10), Qt::white, QColor(90, 90, 100));
    outlinedRect(p, QRectF(6.5, 4.5, 8, 10), Qt::white, QColor(52, 101, 164));
    p.setPen(QColor(150, 170, 200));
    for (qreal y : {7.5, 9.5, 11.5})
        p.drawLine(QPointF(8, y), QPointF(13, y));
}

// An open door with an arrow leaving through it.
void drawExit(QPainter &p)
{
    outlinedRect(p, QRectF(1.5, 1.5, 8, 13), QColor(235, 235, 235), QColor(80, 80, 80));
    QPolygonF door({QPointF(2, 2), QPointF(6.5, 3.5), QPointF(6.5, 15.5), QPointF(2, 14)});
    p.setPen(QPen(QColor(110, 60, 20), 1));
    p.setBrush(QColor(170, 100, 45));
    p.drawPolygon(door);
    p.setPen(QPen(QColor(200, 40, 30), 2));
    p.drawLine(QPointF(8, 8.5), QPointF(13, 8.5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 40, 30));
    p.drawPolygon(QPolygonF({QPointF(12, 5), QPointF(16, 8.5), QPointF(12, 12)}));
}

// An "i" in a blue disc.
void drawAbout(QPainter &p)
{
    p.setPen(QPen(QColor(32, 60, 110), 1));
    p.setBrush(QColor(52, 101, 164));
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(7, 3, 2, 2));
    p.drawRect(QRectF(7, 6, 2, 7));
    p.drawRect(QRectF(6, 12, 4, 1));
}

// The program: an instrument screen with a trace, in a rounded case.
void drawApplication(QPainter &p)
{
    p.setPen(QPen(QColor(30, 45, 70), 0.75));
    p.setBrush(QColor(52, 101, 164));
    p.drawRoundedRect(QRectF(0.5, 1.5, 15, 13), 2, 2);
    p.fillRect(QRectF(2, 3, 12, 8), QColor(20, 40, 30));
    p.setPen(QPen(QColor(90, 230, 120), 0.9));
    p.drawPolyline(QPolygonF({QPointF(2, 8), QPointF(5, 8), QPointF(6.5, 4.5), QPointF(8, 9.5),
                              QPointF(9.5, 6.5), QPointF(14, 6.5)}));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 230, 235));
    for (qreal x : {3.0, 6.0, 9.0, 12.0})
        p.drawEllipse(QRectF(x, 12, 1.5, 1.5));
}

} // namespace

QIcon save() { return iconOf(drawSave, false); }
QIcon saveGreyed() { return iconOf(drawSave, true); }
QIcon capture() { return iconOf(drawCapture, false); }
QIcon captureGreyed() { return iconOf(drawCapture, true); }
QIcon connect() { return iconOf(drawConnect, false); }
QIcon connectGreyed() { return iconOf(drawConnect, true); }
QIcon copy() { return iconOf(drawCopy, false); }
QIcon copyGreyed() { return iconOf(drawCopy, true); }
QIcon exit() { return iconOf(drawExit, false); }
QIcon exitGreyed() { return iconOf(drawExit, true); }
QIcon about() { return iconOf(drawAbout, false); }

QIcon application()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addPixmap(render(drawApplication, size));
    return icon;
}

QImage applicationPicture(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    paintOn(image, drawApplication, size);
    return image;
}

} // namespace Icons
