#include "ImageWorkspace.h"

#include "ImageForm.h"
#include "ImagePlacement.h"
#include "UnsavedImages.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <algorithm>
#include <utility>

ImageWorkspace::RedrawLock::RedrawLock(ImageWorkspace &workspace)
    : m_workspace(&workspace)
{
    workspace.lockRedraw();
}

void ImageWorkspace::RedrawLock::release()
{
    if (ImageWorkspace *workspace = std::exchange(m_workspace, nullptr))
        workspace->unlockRedraw();
}

ImageWorkspace::ImageWorkspace(QWidget *parent)
    : QMdiArea(parent)
{
    setObjectName(QStringLiteral("ClientArea"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(this, &QMdiArea::subWindowActivated, this, &ImageWorkspace::windowsChanged);
}

QList<TfrmImage *> ImageWorkspace::imageWindows() const
{
    QList<TfrmImage *> windows;
    for (QMdiSubWindow *sub : subWindowList(QMdiArea::CreationOrder))
        if (auto *image = qobject_cast<TfrmImage *>(sub))
            windows.append(image);
    return windows;
}

QList<TfrmImage *> ImageWorkspace::finishedWindowsMostRecentFirst() const
{
    QList<TfrmImage *> windows;
    const QList<QMdiSubWindow *> history = subWindowList(QMdiArea::ActivationHistoryOrder);
    for (auto it = history.crbegin(); it != history.crend(); ++it)
        if (auto *image = qobject_cast<TfrmImage *>(*it); image && !image->building())
            windows.append(image);
    return windows;
}

TfrmImage *ImageWorkspace::activeImageWindow() const
{
    // The current window stays current while the program itself is not the active application.
    return qobject_cast<TfrmImage *>(currentSubWindow());
}

TfrmImage *ImageWorkspace::openImageWindow(const QSize &clientSize, const QString &title)
{
    auto *window = new TfrmImage;
    window->setWindowTitle(title);
    addSubWindow(window);
    window->setClientSize(clientSize);
    TImagePlacement::place(this, window);
    connect(window, &QObject::destroyed, this, &ImageWorkspace::windowsChanged, Qt::QueuedConnection);
    connect(window, &TfrmImage::copyRequested, this, [this, window] {
        activate(window);
        emit copyWanted();
    });
    connect(window, &TfrmImage::saveRequested, this, [this, window] {
        activate(window);
        emit saveWanted();
    });
    window->show();
    maximizeChildren();
    activate(window);
    return window;
}

void ImageWorkspace::activate(TfrmImage *window)
{
    setActiveSubWindow(window);
    window->setFocus();
}

void ImageWorkspace::maximizeChildren()
{
    const QList<TfrmImage *> windows = imageWindows();
    const bool anyMaximized = std::any_of(windows.crbegin(), windows.crend(),
                                          [](TfrmImage *window) { return window->isMaximized(); });
    if (!anyMaximized)
        return;
    for (auto it = windows.crbegin(); it != windows.crend(); ++it)
        if (!(*it)->isMaximized())
            (*it)->showMaximized();
}

void ImageWorkspace::lockRedraw()
{
    if (m_redrawLockCount == 0)
        setUpdatesEnabled(false);
    ++m_redrawLockCount;
}

void ImageWorkspace::unlockRedraw()
{
    if (--m_redrawLockCount > 0)
        return;
    m_redrawLockCount = 0;
    setUpdatesEnabled(true);
    update();
    viewport()->update();
    for (QMdiSubWindow *sub : subWindowList())
        sub->update();
}

// Minimised windows line up along the bottom edge of the client area, left to right.
void ImageWorkspace::arrangeIcons()
{
    const QRect area = viewport()->rect();
    int x = 0;
    int y = area.bottom();
    for (TfrmImage *window : imageWindows()) {
        if (!window->isMinimized())
            continue;
        const QSize size = window->size();
        if (x > 0 && x + size.width() > area.width()) {
            x = 0;
            y -= size.height();
        }
        window->move(x, y - size.height() + 1);
        x += size.width();
    }
}

// The image windows share the client area in equal strips, laid out in the given direction.
void ImageWorkspace::tileImageWindows(Qt::Orientation direction)
{
    const QList<TfrmImage *> windows = imageWindows();
    if (windows.isEmpty())
        return;
    const QRect area = viewport()->rect();
    const bool stacked = direction == Qt::Vertical;
    const int strip = (stacked ? area.height() : area.width()) / int(windows.size());
    for (int i = 0; i < windows.size(); ++i) {
        windows[i]->showNormal();
        if (stacked)
            windows[i]->setGeometry(0, i * strip, area.width(), strip);
        else
            windows[i]->setGeometry(i * strip, 0, strip, area.height());
    }
}

// Minimised windows join the cascade too, restored first, as every window is meant to be seen.
void ImageWorkspace::cascade()
{
    for (TfrmImage *window : imageWindows())
        if (window->isMinimized())
            window->showNormal();
    cascadeSubWindows();
}

void ImageWorkspace::minimizeAll()
{
    for (TfrmImage *window : imageWindows())
        window->showMinimized();
}

void ImageWorkspace::closeActive()
{
    if (TfrmImage *window = activeImageWindow())
        window->close();
}

void ImageWorkspace::closeAll()
{
    if (imageWindows().isEmpty())
        return;
    if (frmUnsavedImages && !frmUnsavedImages->QueryUnsavedImages(finishedWindowsMostRecentFirst()))
        return;
    for (TfrmImage *window : imageWindows()) {
        window->setSaved(true);
        window->close();
    }
}

void ImageWorkspace::fillWindowList(QMenu &menu)
{
    qDeleteAll(m_windowListActions);
    m_windowListActions.clear();
    const QList<TfrmImage *> windows = imageWindows();
    if (windows.isEmpty())
        return;
    m_windowListActions.append(menu.addSeparator());
    TfrmImage *active = activeImageWindow();
    for (int i = 0; i < windows.size(); ++i) {
        TfrmImage *window = windows[i];
        // A saved image's title is its path, which may hold an ampersand of its own.
        QString title = window->windowTitle();
        title.replace(QLatin1Char('&'), QLatin1String("&&"));
        const QString caption = i < 9 ? QStringLiteral("&%1 %2").arg(i + 1).arg(title) : title;
        QAction *entry = menu.addAction(caption);
        entry->setCheckable(true);
        entry->setChecked(window == active);
        QPointer<TfrmImage> target = window;
        connect(entry, &QAction::triggered, this, [this, target] {
            if (!target)
                return;
            if (target->isMinimized())
                target->showNormal();
            setActiveSubWindow(target);
        });
        m_windowListActions.append(entry);
    }
}

QString ImageWorkspace::saveActive()
{
    TfrmImage *window = activeImageWindow();
    // A saved picture's name is its file's full path.
    return window && window->SaveImage() ? window->imageName() : QString();
}

bool ImageWorkspace::copyActive() const
{
    TfrmImage *window = activeImageWindow();
    if (!window)
        return false;
    QGuiApplication::clipboard()->setImage(window->picture());
    return true;
}

void ImageWorkspace::setAllSkipSaveQuery(bool skip)
{
    for (TfrmImage *window : imageWindows())
        window->setSkipSaveQuery(skip);
}

void ImageWorkspace::closeAllQuietly()
{
    for (TfrmImage *window : imageWindows()) {
        window->setSkipSaveQuery(true);
        delete window;
    }
}
