#pragma once

#include <QList>
#include <QRect>

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
};
