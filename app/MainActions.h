#pragma once

#include "LinkState.h"

#include <QIcon>
#include <QObject>

class QAction;
class QKeyEvent;
class QMainWindow;
class QMenu;
class TImageCommands;

// The main window's commands: the menus, the toolbar, the keyboard shortcuts and the enabled
// state of every command. Menu items and buttons carry their names as object names.
class MainActions : public QObject
{
    Q_OBJECT

public:
    // The menu items and menus, for wiring them to what they do.
    struct Items
    {
        QMenu *files = nullptr;
        QAction *captureScreen = nullptr;
        QAction *saveImage = nullptr;
        QAction *connect = nullptr;
        QMenu *interface = nullptr;
        QAction *exit = nullptr;
        QMenu *edit = nullptr;
        QAction *freezeImage = nullptr;
        QAction *copy = nullptr;
        QMenu *window = nullptr;
        QAction *arrange = nullptr;
        QAction *cascade = nullptr;
        QAction *tileHorizontally = nullptr;
        QAction *tileVertically = nullptr;
        QAction *minimizeAll = nullptr;
        QAction *close = nullptr;
        QAction *closeAll = nullptr;
        QMenu *help = nullptr;
        QAction *about = nullptr;
        QMenu *popConnect = nullptr;
        QAction *popFindInstrument = nullptr;
    };

    // Builds the menus and the toolbar into window and takes the application's key presses that
    // reach it.
    explicit MainActions(QMainWindow &window);
    ~MainActions() override;

    const Items &items() const { return m_items; }

    // Files › "Save &All Images", Edit › "&Auto-save captures" and the "&View" menu's zoom items.
    void addImageCommands(const TImageCommands &commands);

    bool freezeOption() const;
    void setFreezeOption(bool on);

    // Connect, Capture and the port choice as the link's state allows them.
    void showLinkState(LinkState state);

    // The command-state rule: Save and Copy follow the active image window (a picture still
    // building up has nothing to save or copy), icons and toolbar buttons follow their items,
    // and the window commands need an image window ("C&lose" an active one).
    void updateCommandStates(bool imageActive, bool imageFinished, bool anyImage);

signals:
    // A key press reached the window, or a menu that shows command states opens: the states
    // are to be brought up to date first.
    void statesNeeded();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createMenus();
    void createToolBar();
    bool takeShortcut(QKeyEvent *event);

    // A command's picture and its greyed variant, drawn once: the states are refreshed on every key.
    struct CommandIcon
    {
        QIcon normal;
        QIcon greyed;
        const QIcon &forState(bool enabled) const { return enabled ? normal : greyed; }
    };

    QMainWindow &m_window;
    Items m_items;
    const CommandIcon m_saveIcon;
    const CommandIcon m_connectIcon;
    const CommandIcon m_copyIcon;
    const CommandIcon m_captureIcon;
};
