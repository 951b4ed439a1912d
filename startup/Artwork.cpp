#include "Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace Artwork {
namespace {

QPointF onCircle(const QPointF &centre, qreal radius, qreal degrees)
{
    const qreal a = qDegreesToRadians(degrees);
    return centre + QPointF(radius * qCos(a), -radius * qSin(a));
}

// The dial outline in ink; everything cut out of it (ring, scale, needle, name) is made clear,
// so what lies behind the picture shows through the cuts.
void paintMark(QPainter &p, const QPointF &c, qreal r, const QColor &ink)
{
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(c, r, r);

    p.setCompositionMode(QPainter::CompositionMode_Clear);
    QPainterPath ring;
    ring.addEllipse(c, 0.92 * r, 0.92 * r);
    ring.addEllipse(c, 0.88 * r, 0.88 * r);
    p.fillPath(ring, Qt::black);

    // The scale: 13 ticks over 240 degrees across the top, every third one long.
    constexpr int Ticks = 13;
    for (int i = 0; i < Ticks; ++i) {
        const qreal angle = 210.0 - i * 240.0 / (Ticks - 1);
        const bool major = i % 3 == 0;
        QPen pen(Qt::black, (major ? 0.040 : 0.022) * r, Qt::SolidLine, Qt::FlatCap);
        p.setPen(pen);
        p.drawLine(onCircle(c, (major ? 0.64 : 0.69) * r, angle), onCircle(c, 0.80 * r, angle));
    }
    p.setPen(Qt::NoPen);

    // The needle, from the hub towards the upper right.
    constexpr qreal NeedleAngle = 52.0;
    QPainterPath needle;
    needle.moveTo(onCircle(c, 0.74 * r, NeedleAngle));
    needle.lineTo(onCircle(c, 0.055 * r, NeedleAngle + 90.0));
    needle.lineTo(onCircle(c, 0.12 * r, NeedleAngle + 180.0));
    needle.lineTo(onCircle(c, 0.055 * r, NeedleAngle - 90.0));
    needle.closeSubpath();
    p.fillPath(needle, Qt::black);
    p.drawEllipse(c, 0.11 * r, 0.11 * r);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(qMax(6, qRound(0.17 * r)));
    font.setLetterSpacing(QFont::PercentageSpacing, 115);
    p.setFont(font);
    p.setPen(Qt::black);
    const QRectF nameBox(c.x() - r, c.y() + 0.28 * r, 2 * r, 0.26 * r);
    p.drawText(nameBox, Qt::AlignCenter, QStringLiteral("BRANNOC"));

    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(c, 0.055 * r, 0.055 * r); // the needle's pivot
}

} // namespace

namespace {

// The mark on its stand in white on clear, antialiased, at scale times the logical size.
QImage splashCoverage(qreal scale)
{
    QImage coverage(qCeil(SplashWidth * scale), qCeil(SplashHeight * scale), QImage::Format_ARGB32_Premultiplied);
    coverage.fill(Qt::transparent);
    {
        QPainter p(&coverage);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        const QPointF centre(228.0, 200.0);
        const qreal radius = 196.0;

        // The stand: a neck under the dial and a base that ends in the panel's block.
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        QPainterPath neck;
        neck.moveTo(centre.x() - 58, centre.y() + radius - 30);
        neck.lineTo(centre.x() + 58, centre.y() + radius - 30);
        neck.lineTo(centre.x() + 96, PanelBlockTop + 1);
        neck.lineTo(centre.x() - 96, PanelBlockTop + 1);
        neck.closeSubpath();
        p.drawPath(neck);
        const qreal baseLeft = 96.0;
        const qreal half = PanelBlockHeight / 2.0;
        QPainterPath base;
        base.moveTo(SplashWidth, PanelBlockTop);
        base.lineTo(baseLeft + half, PanelBlockTop);
        base.arcTo(QRectF(baseLeft, PanelBlockTop, 2 * half, PanelBlockHeight), 90, 180);
        base.lineTo(SplashWidth, SplashHeight);
        base.closeSubpath();
        p.drawPath(base);

        // A slot across the base, left of the panel, echoes the dial's ring.
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.fillRect(QRectF(baseLeft + 30, PanelBlockTop + 23, PanelBlockLeft - baseLeft - 46, 4), Qt::black);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);

        paintMark(p, centre, radius, Qt::white);
    }
    return coverage;
}

} // namespace

QImage splashPicture()
{
    // Drawn smooth first, then cut to two colours: a window shape has no half-covered pixels.
    const QImage coverage = splashCoverage(1.0);
    QImage picture(SplashWidth, SplashHeight, QImage::Format_RGB32);
    const QRgb ink = SplashLogoColour.rgb();
    const QRgb key = SplashKeyColour.rgb();
    for (int y = 0; y < SplashHeight; ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(coverage.constScanLine(y));
        auto *out = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < SplashWidth; ++x)
            out[x] = qAlpha(in[x]) >= 128 ? ink : key;
    }
    // The panel must sit on solid ground whatever the drawing above left there.
    QPainter p(&picture);
    p.fillRect(PanelBlockLeft, PanelBlockTop, PanelBlockWidth, PanelBlockHeight, SplashLogoColour);
    return picture;
}

QImage smoothSplashPicture(qreal scale)
{
    QImage picture = splashCoverage(scale);
    QPainter p(&picture);
    // The white coverage takes the logo's colour, its alpha kept; the panel's block stays solid.
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(picture.rect(), SplashLogoColour);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.scale(scale, scale);
    p.fillRect(QRectF(PanelBlockLeft, PanelBlockTop, PanelBlockWidth, PanelBlockHeight), SplashLogoColour);
    p.end();
    picture.setDevicePixelRatio(scale);
    return picture;
}

QImage brannocBanner()
{
    QImage banner(BannerWidth, BannerHeight, QImage::Format_RGB32);
    QPainter p(&banner);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient ground(0, 0, BannerWidth, 0);
    ground.setColorAt(0.0, QColor(6, 12, 26));
    ground.setColorAt(0.55, QColor(24, 50, 96));
    ground.setColorAt(1.0, QColor(10, 22, 46));
    p.fillRect(banner.rect(), ground);

    QLinearGradient sheen(0, 0, 0, BannerHeight);
    sheen.setColorAt(0.0, QColor(255, 255, 255, 28));
    sheen.setColorAt(0.5, QColor(255, 255, 255, 0));
    p.fillRect(banner.rect(), sheen);
    p.fillRect(QRect(0, BannerHeight - 3, BannerWidth, 2), QColor(214, 170, 72));

    QFont name(QStringLiteral("DejaVu Sans"));
    name.setStyleHint(QFont::SansSerif);
    name.setBold(true);
    name.setPixelSize(38);
    name.setLetterSpacing(QFont::PercentageSpacing, 118);
    p.setFont(name);
    p.setPen(QColor(240, 244, 250));
    p.drawText(QRect(140, 12, 380, 46), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("BRANNOC"));

    QFont line(QStringLiteral("DejaVu Sans"));
    line.setStyleHint(QFont::SansSerif);
    line.setPixelSize(13);
    line.setLetterSpacing(QFont::PercentageSpacing, 108);
    p.setFont(line);
    p.setPen(QColor(170, 188, 214));
    p.drawText(QRect(142, 58, 380, 22), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Measurement and Test Instruments"));
    return banner;
}

QImage brannocLogo()
{
    QImage mark(LogoWidth, LogoHeight, QImage::Format_ARGB32_Premultiplied);
    mark.fill(Qt::transparent);
    {
        QPainter p(&mark);
        p.setRenderHint(QPainter::Antialiasing);
        paintMark(p, QPointF(LogoWidth / 2.0, LogoHeight / 2.0), 43.0, QColor(226, 182, 80));
    }
    QImage logo(LogoWidth, LogoHeight, QImage::Format_RGB32);
    logo.fill(Qt::black);
    QPainter p(&logo);
    p.drawImage(0, 0, mark);
    return logo;
}

} // namespace Artwork
