#pragma once

#include <QList>
#include <QMdiArea>

class QMenu;
class QAction;
class TfrmImage;

// The main window's client area (object name ClientArea): opening, placing and arranging the
// image windows, the list of them at the end of the Window menu, the commands on the active one,
// and the redraw lock a capture holds.
class ImageWorkspace : public QMdiArea
{
    Q_OBJECT

public:
    // Holds the client area's redraw lock until released or destroyed, whichever comes first.
    class RedrawLock
    {
    public:
        explicit RedrawLock(ImageWorkspace &workspace);
        ~RedrawLock() { release(); }
        RedrawLock(const RedrawLock &) = delete;
        RedrawLock &operator=(const RedrawLock &) = delete;
        void release();

    private:
        ImageWorkspace *m_workspace;
    };

    explicit ImageWorkspace(QWidget *parent = nullptr);

    // The open image windows in creation order, and the active one (null when none).
    QList<TfrmImage *> imageWindows() const;
    TfrmImage *activeImageWindow() const;
    // What the unsaved-images check offers: most recently active first, without a picture still
    // building up (closing its window cancels the capture).
    QList<TfrmImage *> finishedWindowsMostRecentFirst() const;

    // A new image window of this client size, placed after the last one, shown and active.
    TfrmImage *openImageWindow(const QSize &clientSize, const QString &title);
    void activate(TfrmImage *window);
    // When any image window is maximised, every other one is maximised too.
    void maximizeChildren();

    // Nested switch-off and switch-on of redrawing; only the outermost pair switches.
    void lockRedraw();
    void unlockRedraw();

    // The Window menu's commands.
    void arrangeIcons();
    void tileImageWindows(Qt::Orientation direction);
    void cascade();
    void minimizeAll();
    void closeActive();
    // Offers the unsaved pictures, then closes every image window unless the user cancelled.
    void closeAll();
    // The Window menu ends with one entry per image window, the active one checked.
    void fillWindowList(QMenu &menu);

    // The file the active picture was saved as; empty when it was not saved.
    QString saveActive();
    // True when there was a picture to copy.
    bool copyActive() const;

    // While the program exits no image window asks its own question.
    void setAllSkipSaveQuery(bool skip);
    // The image windows go without questions: whatever had to be asked was asked.
    void closeAllQuietly();

signals:
    // An image window opened, was activated or went: the command states are to follow.
    void windowsChanged();
    // The context menu of an image window, which is now the active one, asked for Copy or Save.
    void copyWanted();
    void saveWanted();

private:
    QList<QAction *> m_windowListActions;
    int m_redrawLockCount = 0;
};
