#include "MainActions.h"

#include "Dialogs.h"
#include "Icons.h"
#include "ImageCommands.h"
#include "PortMenu.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>

namespace {

const QString Connect = QStringLiteral("C&onnect");
const QString Disconnect = QStringLiteral("Disc&onnect");
const QString FreezeWarning = QStringLiteral("When freezing the image, any ongoing measurements on the "
                                             "instrument will be cleared when the image has been loaded.");

constexpr int ToolBarHeight = 29;
constexpr int ToolButtonHeight = 23;
constexpr int ToolSeparatorWidth = 8;
constexpr int IconSize = 16;

QIcon toolIcon(const QIcon &normal, const QIcon &greyed)
{
    QIcon icon;
    icon.addPixmap(normal.pixmap(IconSize, IconSize), QIcon::Normal);
    icon.addPixmap(greyed.pixmap(IconSize, IconSize), QIcon::Disabled);
    return icon;
}

QAction *addItem(QMenu *menu, const char *name, const QString &caption, const QKeySequence &shortcut = {})
{
    QAction *item = menu->addAction(caption);
    item->setObjectName(QLatin1String(name));
    item->setShortcut(shortcut);
    return item;
}

QMenu *addMenu(QMenuBar *bar, const char *name, const QString &caption)
{
    QMenu *menu = bar->addMenu(caption);
    menu->setObjectName(QLatin1String(name));
    return menu;
}

} // namespace

MainActions::MainActions(QMainWindow &window)
    : QObject(&window)
    , m_window(window)
    , m_saveIcon{Icons::save(), Icons::saveGreyed()}
    , m_connectIcon{Icons::connect(), Icons::connectGreyed()}
    , m_copyIcon{Icons::copy(), Icons::copyGreyed()}
    , m_captureIcon{Icons::capture(), Icons::captureGreyed()}
{
    setObjectName(QStringLiteral("MainActions"));
    createMenus();
    createToolBar();
    connect(m_items.files, &QMenu::aboutToShow, this, &MainActions::statesNeeded);
    connect(m_items.edit, &QMenu::aboutToShow, this, &MainActions::statesNeeded);
    connect(m_items.freezeImage, &QAction::triggered, this, [this] {
        // The item's check mark has already been turned by choosing it.
        if (m_items.freezeImage->isChecked())
            Dialogs::message(&m_window, Dialogs::MessageKind::Warning, FreezeWarning);
    });
    qApp->installEventFilter(this);
}

MainActions::~MainActions()
{
    qApp->removeEventFilter(this);
}

void MainActions::createMenus()
{
    QMenuBar *bar = m_window.menuBar();
    Items &m = m_items;

    m.files = addMenu(bar, "mnuFiles", QStringLiteral("&Files"));
    m.captureScreen = addItem(m.files, "mnuCaptureScreen", QStringLiteral("&Capture screen"), Qt::CTRL | Qt::Key_N);
    m.captureScreen->setEnabled(false);
    m.saveImage = addItem(m.files, "mnuSaveImage", QStringLiteral("&Save Image As..."), Qt::CTRL | Qt::Key_S);
    m.saveImage->setEnabled(false);
    m.files->addSeparator();
    m.connect = addItem(m.files, "mnuConnect", Connect);
    // The big Enter key and the keypad's Enter both connect; the menu shows "Ctrl+Enter".
    m.connect->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Enter), QKeySequence(Qt::CTRL | Qt::Key_Return)});
    m.connect->setShortcutContext(Qt::WindowShortcut);
    m.connect->setEnabled(false);
    m.interface = m.files->addMenu(QStringLiteral("&Interface"));
    m.interface->setObjectName(QStringLiteral("mnuInterface"));
    m.files->addSeparator();
    m.exit = addItem(m.files, "mnuExit", QStringLiteral("&Exit"));
    // Ctrl+Q as on every Linux desktop; the menu shows Ctrl+X.
    m.exit->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::CTRL | Qt::Key_Q)});
    m.exit->setIcon(Icons::exit());

    m.edit = addMenu(bar, "mnuEdit", QStringLiteral("&Edit"));
    m.freezeImage = addItem(m.edit, "mnuFreezeImage", QStringLiteral("&Freeze Image"), Qt::CTRL | Qt::Key_F);
    m.freezeImage->setCheckable(true);
    m.copy = addItem(m.edit, "mnuCopy", QStringLiteral("&Copy to clipboard"), Qt::CTRL | Qt::Key_C);
    m.copy->setEnabled(false);

    // The letter shortcuts are shown in the menus but taken by takeShortcut, which ignores Shift
    // and runs each command once; their own key bindings only act inside an open menu.
    for (QAction *item : {m.captureScreen, m.saveImage, m.exit, m.freezeImage, m.copy})
        item->setShortcutContext(Qt::WidgetShortcut);

    m.window = addMenu(bar, "mnuWindow", QStringLiteral("&Window"));
    m.arrange = addItem(m.window, "mnuArrange", QStringLiteral("&Arrange"));
    m.cascade = addItem(m.window, "mnuCascade", QStringLiteral("&Cascade"));
    m.tileHorizontally = addItem(m.window, "mnuTileHorizontally", QStringLiteral("Tile &Horizontally"));
    m.tileVertically = addItem(m.window, "mnuTileVertically", QStringLiteral("&Tile Vertically"));
    m.minimizeAll = addItem(m.window, "mnuMinimizeAll", QStringLiteral("&Minimize All"));
    m.window->addSeparator();
    m.close = addItem(m.window, "mnuClose", QStringLiteral("C&lose"));
    m.closeAll = addItem(m.window, "mnuCloseAll", QStringLiteral("Clos&e All"));
    for (QAction *item : {m.arrange, m.cascade, m.tileHorizontally, m.tileVertically, m.minimizeAll, m.close,
                          m.closeAll})
        item->setEnabled(false);

    m.help = addMenu(bar, "mnuHelp", QStringLiteral("&Help"));
    m.about = addItem(m.help, "mnuAbout", QStringLiteral("&About"));
    m.about->setIcon(Icons::about());

    m.popConnect = new QMenu(&m_window);
    m.popConnect->setObjectName(QStringLiteral("mnuPopConnect"));
    m.popFindInstrument = addItem(m.popConnect, "mnuPopFindInstrument", PortMenu::findInstrumentCaption());
    // The pop-up's search item carries the same tag as the Interface menu's.
    m.popFindInstrument->setData(PortMenu::TagFindInstrument);
}

void MainActions::createToolBar()
{
    auto *toolBar = new QToolBar(QStringLiteral("ToolBar"), &m_window);
    toolBar->setObjectName(QStringLiteral("ToolBar"));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setFixedHeight(ToolBarHeight);
    toolBar->setIconSize(QSize(IconSize, IconSize));
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_window.addToolBar(Qt::TopToolBarArea, toolBar);

    auto addGap = [toolBar] {
        auto *gap = new QWidget(toolBar);
        gap->setFixedWidth(ToolSeparatorWidth);
        toolBar->addWidget(gap);
    };
    // A toolbar button chooses its menu item, which acts only when enabled.
    auto addButton = [this, toolBar](const QString &name, const QIcon &icon, const QString &tip, QAction *item) {
        auto *button = new QToolButton(toolBar);
        button->setObjectName(name);
        button->setAutoRaise(true);
        button->setFixedHeight(ToolButtonHeight);
        button->setIcon(icon);
        button->setToolTip(tip);
        button->setFocusPolicy(Qt::NoFocus);
        toolBar->addWidget(button);
        connect(button, &QToolButton::clicked, this, [item] {
            if (item->isEnabled())
                item->trigger();
        });
        // The button follows its item's state at all times, whoever changes it, not only when
        // the command states are next brought up to date.
        button->setEnabled(item->isEnabled());
        connect(item, &QAction::changed, button, [button, item] { button->setEnabled(item->isEnabled()); });
        return button;
    };

    const Items &m = m_items;
    addGap();
    QToolButton *connectButton = addButton(QStringLiteral("btnConnect"),
                                           toolIcon(m_connectIcon.normal, m_connectIcon.greyed), {}, m.connect);
    connectButton->setPopupMode(QToolButton::MenuButtonPopup);
    connectButton->setMenu(m.popConnect);
    addGap();
    addButton(QStringLiteral("btnGrab"), toolIcon(m_captureIcon.normal, m_captureIcon.greyed),
              QStringLiteral("Capture screen."), m.captureScreen);
    addGap();
    addButton(QStringLiteral("btnCopy"), toolIcon(m_copyIcon.normal, m_copyIcon.greyed),
              QStringLiteral("Copy image to clipboard."), m.copy);
    addButton(QStringLiteral("btnSaveAs"), toolIcon(m_saveIcon.normal, m_saveIcon.greyed),
              QStringLiteral("Save image as..."), m.saveImage);
    addGap();
    addButton(QStringLiteral("btnExit"), toolIcon(Icons::exit(), Icons::exitGreyed()), QStringLiteral("Exit."), m.exit);
}

void MainActions::addImageCommands(const TImageCommands &commands)
{
    Items &m = m_items;
    // Right after "Save Image As...".
    const QList<QAction *> files = m.files->actions();
    m.files->insertAction(files.value(files.indexOf(m.saveImage) + 1), commands.saveAllItem());
    m.edit->addAction(commands.autoSaveItem());
    QMenu *view = new QMenu(QStringLiteral("&View"), &m_window);
    view->setObjectName(QStringLiteral("mnuView"));
    commands.fillViewMenu(view);
    m_window.menuBar()->insertMenu(m.window->menuAction(), view);
    connect(view, &QMenu::aboutToShow, this, &MainActions::statesNeeded);
}

bool MainActions::freezeOption() const
{
    return m_items.freezeImage->isChecked();
}

void MainActions::setFreezeOption(bool on)
{
    m_items.freezeImage->setChecked(on);
}

void MainActions::showLinkState(LinkState state)
{
    const Items &m = m_items;
    // Connect stays available while an attempt runs; it only waits out a capture.
    m.connect->setEnabled(state != LinkState::Capturing);
    m.captureScreen->setEnabled(state == LinkState::Connected);
    if (state == LinkState::Connected)
        m.connect->setText(Disconnect);
    else if (state == LinkState::Disconnected)
        m.connect->setText(Connect);
    // Choosing a port or searching is offered only while no attempt runs and nothing is connected.
    const bool portChoice = state == LinkState::Disconnected;
    m.interface->menuAction()->setEnabled(portChoice);
    m.popFindInstrument->setEnabled(portChoice);
}

void MainActions::updateCommandStates(bool imageActive, bool imageFinished, bool anyImage)
{
    const Items &m = m_items;
    m.saveImage->setEnabled(imageActive && imageFinished);
    m.copy->setEnabled(imageActive && imageFinished);

    m.saveImage->setIcon(m_saveIcon.forState(m.saveImage->isEnabled()));
    m.connect->setIcon(m_connectIcon.forState(m.connect->isEnabled()));
    m.copy->setIcon(m_copyIcon.forState(m.copy->isEnabled()));
    m.captureScreen->setIcon(m_captureIcon.forState(m.captureScreen->isEnabled()));

    for (QAction *item : {m.arrange, m.cascade, m.tileHorizontally, m.tileVertically, m.minimizeAll, m.closeAll})
        item->setEnabled(anyImage);
    m.close->setEnabled(imageActive);
}

bool MainActions::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || (widget != &m_window && !m_window.isAncestorOf(widget)))
        return false;
    return takeShortcut(static_cast<QKeyEvent *>(event));
}

// Ctrl with C, F, N, S or X (and Q, Exit as on every Linux desktop) chooses its menu item whatever
// Shift and Alt do, once per key press:
// the key is claimed before Qt's shortcut handling sees it, then acted on as a key press.
// Ctrl+Enter is left to the Connect item's own shortcut, after the states are refreshed.
// Every shortcut of the window takes Ctrl, so only those keys refresh the states, once, when the
// key is first seen (its ShortcutOverride comes before the shortcut and the key press).
bool MainActions::takeShortcut(QKeyEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier))
        return false;
    if (event->type() == QEvent::ShortcutOverride)
        emit statesNeeded();
    QAction *item = nullptr;
    switch (event->key()) {
    case Qt::Key_C: item = m_items.copy; break;
    case Qt::Key_F: item = m_items.freezeImage; break;
    case Qt::Key_N: item = m_items.captureScreen; break;
    case Qt::Key_S: item = m_items.saveImage; break;
    case Qt::Key_X: item = m_items.exit; break;
    case Qt::Key_Q: item = m_items.exit; break;
    default: return false;
    }
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();   // deliver it as a key press, not as a shortcut
        return true;
    }
    event->accept();
    if (!event->isAutoRepeat() && item->isEnabled())
        item->trigger();
    return true;
}
