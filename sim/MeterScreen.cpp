#include "MeterScreen.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <limits>

namespace {

// The instrument's own colours. Colour 3 must be (60, 60, 60) for a reader to trust the palette.
const MeterScreen::Palette InstrumentPalette = {
    qRgb(0, 0, 0),       qRgb(40, 80, 200),  qRgb(40, 200, 60),  qRgb(60, 60, 60),
    qRgb(220, 40, 40),   qRgb(250, 180, 0),  qRgb(0, 190, 220),  qRgb(255, 255, 255),
};
// The same palette as an instrument that a reader must not trust: colour 3 is off by a little.
const QRgb UntrustedColour3 = qRgb(64, 64, 64);

// Reference layout of the generated screen; other shown sizes scale it.
constexpr int ReferenceWidth = 480;
constexpr int ReferenceHeight = 272;

QString modelText(quint8 code)
{
    switch (code) {
    case 220: return QStringLiteral("Corvane Alvo");
    case 221: return QStringLiteral("Corvane Brenn");
    case 222: return QStringLiteral("Corvane Tazo");
    default: return QStringLiteral("Corvane");
    }
}

// Text needs a GUI application for its fonts; without one the screen keeps only its graphics.
bool canDrawText()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
}

// Seven-segment digits, drawn with rectangles as the instrument's big readings look.
void drawSegmentNumber(QPainter &painter, const QString &text, QPointF origin, qreal height, const QColor &colour)
{
    //  segments: a top, b top right, c bottom right, d bottom, e bottom left, f top left, g middle
    static const char *Segments[10] = {"abcdef", "bc", "abdeg", "abcdg", "bcfg", "acdfg", "acdefg", "abc", "abcdefg", "abcdfg"};
    const qreal w = height * 0.5;
    const qreal t = height * 0.11;
    const qreal half = height / 2;
    qreal x = origin.x();
    const qreal y = origin.y();
    for (const QChar ch : text) {
        if (ch == QLatin1Char('.')) {
            painter.fillRect(QRectF(x, y + height - t, t, t), colour);
            x += t * 2.2;
            continue;
        }
        if (ch == QLatin1Char('-')) {
            painter.fillRect(QRectF(x, y + half - t / 2, w, t), colour);
            x += w + t * 1.6;
            continue;
        }
        if (!ch.isDigit()) {
            x += w + t * 1.6;
            continue;
        }
        for (const char *s = Segments[ch.digitValue()]; *s; ++s) {
            QRectF r;
            switch (*s) {
            case 'a': r = QRectF(x, y, w, t); break;
            case 'b': r = QRectF(x + w - t, y, t, half); break;
            case 'c': r = QRectF(x + w - t, y + half, t, half); break;
            case 'd': r = QRectF(x, y + height - t, w, t); break;
            case 'e': r = QRectF(x, y + half, t, half); break;
            case 'f': r = QRectF(x, y, t, half); break;
            case 'g': r = QRectF(x, y + half - t / 2, w, t); break;
            }
            painter.fillRect(r, colour);
        }
        x += w + t * 1.6;
    }
}

void drawText(QPainter &painter, const QRectF &box, int pixelSize, bool bold, const QColor &colour,
              Qt::Alignment align, const QString &text)
{
    if (!canDrawText())
        return;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(box, align, text);
}

int nearestIndex(QRgb colour, const MeterScreen::Palette &palette)
{
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (int i = 0; i < int(palette.size()); ++i) {
        const int dr = qRed(colour) - qRed(palette[i]);
        const int dg = qGreen(colour) - qGreen(palette[i]);
        const int db = qBlue(colour) - qBlue(palette[i]);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

}  // namespace

const MeterScreen::Palette &MeterScreen::fallbackPalette()
{
    static const Palette palette = {
        qRgb(0, 0, 0),   qRgb(0, 0, 255),   qRgb(0, 255, 0),   qRgb(0, 255, 255),
        qRgb(255, 0, 0), qRgb(255, 0, 255), qRgb(255, 255, 0), qRgb(255, 255, 255),
    };
    return palette;
}

MeterScreen::MeterScreen(const VirtualMeterOptions &options)
    : m_landscape(options.landscape)
{
    const QSize stored = options.storedSizeOrDefault();
    m_storedWidth = stored.width();
    m_storedHeight = stored.height();
    m_storedPalette = InstrumentPalette;
    m_effectivePalette = InstrumentPalette;
    if (options.fallbackPalette) {
        m_storedPalette[3] = UntrustedColour3;
        m_effectivePalette = fallbackPalette();
    }

    const QImage shown = shownPicture(options);
    m_stored.resize(m_storedWidth * m_storedHeight);
    for (int ys = 0; ys < m_storedHeight; ++ys) {
        for (int xs = 0; xs < m_storedWidth; ++xs) {
            // A portrait screen is stored turned a quarter clockwise: shown (x, y) = stored (Ws - 1 - y, x).
            const QPoint shownPoint = m_landscape ? QPoint(xs, ys) : QPoint(ys, m_storedWidth - 1 - xs);
            m_stored[ys * m_storedWidth + xs] = quint8(nearestIndex(shown.pixel(shownPoint), m_storedPalette));
        }
    }
}

QImage MeterScreen::shownPicture(const VirtualMeterOptions &options) const
{
    const QSize size = options.shownSize();
    QImage source = options.screen.isNull() ? QImage() : options.screen.convertToFormat(QImage::Format_RGB32);
    if (source.isNull()) {
        QImage picture = defaultScreen(size);
        if (canDrawText()) {
            // The status line names this instrument.
            QPainter painter(&picture);
            painter.scale(qreal(size.width()) / ReferenceWidth, qreal(size.height()) / ReferenceHeight);
            drawText(painter, QRectF(6, 2, 300, 20), 14, true, QColor(InstrumentPalette[7]), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("%1   SN %2").arg(modelText(options.modelCode)).arg(options.serialNumber));
        }
        return picture;
    }
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::black);
    const QImage scaled = source.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&picture);
    painter.drawImage(QPoint((size.width() - scaled.width()) / 2, (size.height() - scaled.height()) / 2), scaled);
    return picture;
}

QImage MeterScreen::defaultScreen(const QSize &shownSize)
{
    QImage picture(shownSize, QImage::Format_RGB32);
    const auto colour = [](int index) { return QColor(InstrumentPalette[index]); };
    picture.fill(colour(0));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.scale(qreal(shownSize.width()) / ReferenceWidth, qreal(shownSize.height()) / ReferenceHeight);

    // Status line (the model name and serial number are written over it by the caller).
    painter.fillRect(QRectF(0, 0, ReferenceWidth, 24), colour(3));
    drawText(painter, QRectF(300, 2, 174, 20), 13, false, colour(7), Qt::AlignRight | Qt::AlignVCenter,
             QStringLiteral("L1  3~  14:27"));

    // Three big readings with their units.
    struct Reading { const char *value; const char *unit; int colourIndex; };
    const Reading readings[] = {{"230.4", "V", 7}, {"50.01", "Hz", 2}, {"4.87", "A", 5}};
    for (int i = 0; i < 3; ++i) {
        const qreal top = 34 + i * 52;
        painter.fillRect(QRectF(8, top + 44, 272, 1), colour(3));
        drawSegmentNumber(painter, QString::fromLatin1(readings[i].value), QPointF(16, top), 40, colour(readings[i].colourIndex));
        drawText(painter, QRectF(190, top + 8, 80, 32), 26, true, colour(readings[i].colourIndex), Qt::AlignLeft | Qt::AlignVCenter,
                 QString::fromLatin1(readings[i].unit));
    }

    // Waveform of one period over a grid.
    const QRectF scope(292, 34, 180, 104);
    painter.setPen(colour(3));
    for (int k = 0; k <= 4; ++k)
        painter.drawLine(QLineF(scope.left() + k * scope.width() / 4, scope.top(), scope.left() + k * scope.width() / 4, scope.bottom()));
    for (int k = 0; k <= 2; ++k)
        painter.drawLine(QLineF(scope.left(), scope.top() + k * scope.height() / 2, scope.right(), scope.top() + k * scope.height() / 2));
    QPainterPath wave;
    for (int x = 0; x <= int(scope.width()); ++x) {
        const qreal y = scope.center().y() - 0.42 * scope.height() * qSin(2 * M_PI * x / scope.width());
        if (x == 0)
            wave.moveTo(scope.left() + x, y);
        else
            wave.lineTo(scope.left() + x, y);
    }
    painter.setPen(QPen(colour(6), 2));
    painter.drawPath(wave);

    // Harmonics bar graph.
    const qreal bars[] = {1.0, 0.08, 0.31, 0.05, 0.17, 0.03, 0.11, 0.02, 0.06};
    for (int k = 0; k < 9; ++k) {
        const qreal h = 76 * bars[k];
        painter.fillRect(QRectF(296 + k * 20, 224 - h, 14, h), colour(k == 0 ? 2 : (bars[k] > 0.15 ? 4 : 6)));
    }
    painter.fillRect(QRectF(292, 224, 180, 1), colour(7));

    // Soft keys.
    const char *keys[] = {"HOLD", "RANGE", "MENU", "SAVE"};
    for (int k = 0; k < 4; ++k) {
        const QRectF key(4 + k * 119, 236, 114, 32);
        painter.fillRect(key, colour(1));
        drawText(painter, key, 15, true, colour(7), Qt::AlignCenter, QString::fromLatin1(keys[k]));
    }
    return picture;
}

QByteArray MeterScreen::stripData() const
{
    QByteArray data(qsizetype(strips()) * StripBytes, '\0');
    for (int s = 0; s < strips(); ++s) {
        char *strip = data.data() + qsizetype(s) * StripBytes;
        for (int r = 0; r < m_storedHeight; ++r) {
            quint32 v = 0;
            for (int k = 0; k < StripWidth; ++k)
                v |= quint32(storedIndex(StripWidth * s + k, r)) << (21 - 3 * k);
            strip[RowBytes * r] = char(v >> 16);
            strip[RowBytes * r + 1] = char(v >> 8);
            strip[RowBytes * r + 2] = char(v);
        }
        // Junk after the last row, so a reader that decodes past it shows up.
        for (int i = RowBytes * m_storedHeight; i < StripBytes; ++i)
            strip[i] = char(0x80 | ((i * 7 + s) & 0x7F));
    }
    return data;
}

QString MeterScreen::captureDifference(const QImage &captured, const QImage &expected)
{
    if (captured.size() != expected.size())
        return QStringLiteral("picture of %1 x %2").arg(captured.width()).arg(captured.height());
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (qAlpha(expected.pixel(x, y)) != 0 && (captured.pixel(x, y) & 0xFFFFFF) != (expected.pixel(x, y) & 0xFFFFFF))
                return QStringLiteral("pixel %1,%2").arg(x).arg(y);
    return QString();
}

QImage MeterScreen::expectedCapture() const
{
    const int storedColumns = strips() * StripWidth;
    const int width = m_landscape ? m_storedWidth : m_storedHeight;
    const int height = m_landscape ? m_storedHeight : m_storedWidth;
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int xs = m_landscape ? x : m_storedWidth - 1 - y;
            const int ys = m_landscape ? y : x;
            image.setPixel(x, y, xs < storedColumns ? m_effectivePalette[storedIndex(xs, ys)] : qRgba(0, 0, 0, 0));
        }
    }
    return image;
}
