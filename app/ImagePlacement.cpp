#include "ImagePlacement.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStyle>

QPoint TImagePlacement::nextPosition(const QRect &visibleArea, const std::optional<QPoint> &last,
                                     const QSize &windowSize, int titleBarHeight)
{
    const QPoint first = visibleArea.topLeft();
    if (!last)
        return first;
    const QPoint next = *last + QPoint(titleBarHeight, titleBarHeight);
    // A window wider than the area starts at its left edge, as far in as it can be seen.
    const int rightmost = visibleArea.left() + std::max(0, visibleArea.width() - windowSize.width());
    const bool titleBarInside = visibleArea.contains(next) && next.x() <= rightmost
        && next.y() + titleBarHeight <= visibleArea.top() + visibleArea.height();
    return titleBarInside ? next : first;
}

void TImagePlacement::place(QMdiArea *area, QMdiSubWindow *window)
{
    // The newest window cascades on only while it lies where a new one can follow it.
    std::optional<QPoint> last;
    const QList<QMdiSubWindow *> windows = area->subWindowList(QMdiArea::CreationOrder);
    for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
        if (*it == window)
            continue;
        if (!(*it)->isMinimized() && !(*it)->isMaximized())
            last = (*it)->pos();
        break;
    }

    window->ensurePolished();
    int titleBarHeight = window->contentsMargins().top();
    if (titleBarHeight <= 0)
        titleBarHeight = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);

    // The windows of the area are placed in the coordinates of its viewport, which is what shows.
    window->move(nextPosition(area->viewport()->rect(), last, window->size(), titleBarHeight));
}
