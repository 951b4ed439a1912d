#include "ScreenPlacement.h"

#include <algorithm>
#include <limits>

namespace {

// Distance from a point to the nearest point of a rectangle, 0 inside it.
qint64 squaredDistance(const QPoint &point, const QRect &rect)
{
    const qint64 dx = point.x() < rect.left() ? rect.left() - point.x()
                    : point.x() > rect.right() ? point.x() - rect.right() : 0;
    const qint64 dy = point.y() < rect.top() ? rect.top() - point.y()
                    : point.y() > rect.bottom() ? point.y() - rect.bottom() : 0;
    return dx * dx + dy * dy;
}

// Start of a span of length size inside [low, low + room): as given when it fits, else pushed
// in; one longer than the room starts at low.
int fitted(int start, int size, int low, int room)
{
    return std::max(low, std::min(start, low + room - size));
}

} // namespace

QRect TScreenPlacement::ontoScreens(const QRect &window, const QList<QRect> &screens)
{
    const QRect strip(window.left(), window.top(), window.width(), TitleStripHeight);
    const bool reachable = std::any_of(screens.cbegin(), screens.cend(), [&](const QRect &screen) {
        const QRect shared = strip.intersected(screen);
        return shared.width() >= std::min(MinimumGrip, window.width()) && !shared.isEmpty();
    });
    if (reachable || screens.isEmpty())
        return window;

    const QPoint centre = window.center();
    const QRect nearest = *std::min_element(screens.cbegin(), screens.cend(), [&](const QRect &a, const QRect &b) {
        return squaredDistance(centre, a) < squaredDistance(centre, b);
    });
    QRect placed = window;
    placed.moveTo(fitted(window.left(), window.width(), nearest.left(), nearest.width()),
                  fitted(window.top(), window.height(), nearest.top(), nearest.height()));
    return placed;
}

QSize TScreenPlacement::minimumSizeOn(const QSize &designed, const QRect &available, const QMargins &frame)
{
    if (available.isEmpty())
        return designed;
    return designed.boundedTo(available.marginsRemoved(frame).size().expandedTo(QSize(1, 1)));
}

QRect TScreenPlacement::insideScreen(const QRect &window, const QRect &available, const QMargins &frame)
{
    if (available.isEmpty())
        return window;
    const QRect room = available.marginsRemoved(frame);
    QRect placed = window;
    if (window.width() >= room.width()) {
        placed.setLeft(room.left());
        placed.setWidth(room.width());
    }
    if (window.height() >= room.height()) {
        placed.setTop(room.top());
        placed.setHeight(room.height());
    }
    return placed;
}
