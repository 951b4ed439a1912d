#pragma once

#include "RecoveryStore.h"

#include <QObject>
#include <QString>
#include <functional>

class QAction;
class ImageWorkspace;
class QImage;
class QMenu;
class TfrmImage;

// The commands on captured pictures beyond one save and one copy: zoom of the active window,
// saving every unsaved picture at once, saving each capture as it completes, and keeping a copy
// of every unsaved picture so that a crash loses none (offered back at the next start).
class TImageCommands : public QObject
{
    Q_OBJECT

public:
    // Opens an image window for a picture found again: a new capture number, placed, shown.
    using WindowOpener = std::function<TfrmImage *(const QImage &picture)>;

    TImageCommands(ImageWorkspace *workspace, WindowOpener openWindow, QObject *parent = nullptr);

    ~TImageCommands() override;

    // The status text after a picture was saved: "Saved as <path>".
    static QString savedAsText(const QString &path);

    // Files › "Save &All Images", Edit › "&Auto-save captures", and the "&View" menu's zoom items.
    QAction *saveAllItem() const { return m_saveAll; }
    QAction *autoSaveItem() const { return m_autoSave; }
    void fillViewMenu(QMenu *menu) const;

    // Items follow what is open: zoom needs an active finished picture, Save All an unsaved one.
    void updateStates();

    // A capture completed into window: its copy is kept at once, and with auto-save on it is saved.
    void captureCompleted(TfrmImage *window, const NameFields &fields);

    // Writes every unsaved picture into the save folder under generated names.
    void saveAll();

    // At start: pictures an earlier run left unsaved are offered back; Yes reopens them as
    // unsaved windows, No deletes them.
    void offerLeftovers();

    // The user decided about every unsaved picture (an exit that goes ahead): copies of those
    // not saved go with them.
    void forgetUnsaved();

signals:
    // A short result for the status bar.
    void statusText(const QString &text);

private:
    void zoomActive(void (TfrmImage::*zoom)());

    ImageWorkspace *m_workspace;
    WindowOpener m_openWindow;
    TRecoveryStore m_recovery;
    QAction *m_saveAll = nullptr;
    QAction *m_autoSave = nullptr;
    QAction *m_zoomIn = nullptr;
    QAction *m_zoomOut = nullptr;
    QAction *m_actualSize = nullptr;
    QAction *m_fitToWindow = nullptr;
};
