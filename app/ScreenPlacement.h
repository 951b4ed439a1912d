#pragma once

#include <QList>
#include <QMargins>
#include <QRect>
#include <QSize>

// Keeps a stored window placement within reach: one whose title strip lies on no screen (a
// screen since removed, another arrangement of monitors) moves onto the nearest screen.
class TScreenPlacement
{
public:
    // The strip along the window's top edge that a user grabs to move it.
    static constexpr int TitleStripHeight = 24;
    // How much of that strip must lie on one screen for the window to count as reachable.
    static constexpr int MinimumGrip = 48;

    // The placement to use for window, given the screens' available areas; window unchanged
    // when it is reachable or there is no screen at all.
    static QRect ontoScreens(const QRect &window, const QList<QRect> &screens);

    // The designed minimum size, bounded by a screen's available area less the window's frame:
    // on a small or highly scaled screen the whole window, status bar included, still fits.
    static QSize minimumSizeOn(const QSize &designed, const QRect &available, const QMargins &frame);

    // A window at least as wide (or high) as the screen's room takes exactly the room in that
    // direction, so it lies inside the screen; otherwise it stays as it is.
    static QRect insideScreen(const QRect &window, const QRect &available, const QMargins &frame);
};
