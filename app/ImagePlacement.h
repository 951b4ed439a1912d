#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

class QMdiArea;
class QMdiSubWindow;

// Where a new image window starts in the main window's client area. As an MDI client cascades its
// new children, each starts one title-bar step right of and below the last new one; it goes back
// to the top-left corner when at that step its title bar would not lie wholly in the visible
// client area, so it can always be seen, moved and closed. Only its lower part may reach below
// the area (a tall picture), where the client area's scroll bar reaches it.
class TImagePlacement
{
public:
    // The top-left corner for a window of windowSize in the visible area (in the coordinates of
    // the area's windows), after the last new window at last (none: the first).
    static QPoint nextPosition(const QRect &visibleArea, const std::optional<QPoint> &last,
                               const QSize &windowSize, int titleBarHeight);

    // Moves window, already added to area and sized, to its place after the area's newest other
    // window (one closed, or a capture that did not complete, leaves the one before it the last).
    static void place(QMdiArea *area, QMdiSubWindow *window);
};
