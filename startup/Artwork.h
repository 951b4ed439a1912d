#pragma once

#include <QColor>
#include <QImage>

// The program's own pictures for the splash window and the About box, drawn in code so they need
// no image files or plug-ins. The distributor is Brannoc; its mark is a meter dial.
namespace Artwork {

// Marks what is not part of the splash window.
inline const QColor SplashKeyColour(255, 0, 255);
// The one opaque colour of the splash picture.
inline const QColor SplashLogoColour(31, 63, 119);

constexpr int SplashWidth = 542;
constexpr int SplashHeight = 465;
// The solid block under the splash window's status panel.
constexpr int PanelBlockLeft = 342;
constexpr int PanelBlockTop = 415;
constexpr int PanelBlockWidth = 200;
constexpr int PanelBlockHeight = 50;

constexpr int BannerWidth = 577;
constexpr int BannerHeight = 98;
constexpr int LogoWidth = 124;
constexpr int LogoHeight = 98;

// 542 x 465, exactly two colours: the mark on its stand in SplashLogoColour on SplashKeyColour.
QImage splashPicture();
// The same picture drawn for a screen of the given device pixel ratio (542 x 465 logical pixels,
// that many times as many device pixels), its edges smooth: SplashLogoColour with the coverage as
// alpha, on a clear ground. For a window that the desktop composes with what lies beneath.
QImage smoothSplashPicture(qreal scale);
// 577 x 98: a dark gradient strip with the distributor's name.
QImage brannocBanner();
// 124 x 98: the distributor's mark on black; black is its transparent colour.
QImage brannocLogo();

} // namespace Artwork
