#include "Main.h"

#include "CaptureProgress.h"
#include "Dialogs.h"
#include "Icons.h"
#include "ImageForm.h"
#include "ImagePlacement.h"
#include "IniSettings.h"
#include "LiveCapture.h"
#include "SaveFolder.h"
#include "ScreenPlacement.h"
#include "SnaploomApplication.h"
#include "UnsavedImages.h"

#include "ComPort.h"
#include "InstrumentFinder.h"
#include "InstrumentMemory.h"
#include "ProgressBarFix.h"
#include "ScreenCapture.h"
#include "SerialPorts.h"
#include "SettingsFolder.h"
#include "Version.h"
#include "qzMeterCOM.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QScopeGuard>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <utility>

namespace {

// The window's own texts, in one place.
namespace Texts {
const QString CouldNotInitializePort = QStringLiteral("Could not initialize port module.");
const QString CouldNotAllocateMemory = QStringLiteral("Could not allocate memory.");
const QString NotConnected = QStringLiteral("Not Connected");
const QString Connected = QStringLiteral("Connected.");
const QString Disconnected = QStringLiteral("Disconnected.");
const QString SerialPrefix = QStringLiteral("Serial No.: ");
const QString PortPrefix = QStringLiteral("COM");
const QString Connect = QStringLiteral("Connect");
const QString Disconnect = QStringLiteral("Disconnect");
const QString Connecting = QStringLiteral("Connecting...");
const QString TryingToOpen = QStringLiteral("Trying to open COM");
const QString NoInstrumentStatus = QStringLiteral("No instrument detected.");
const QString NoInstrumentMessage = QStringLiteral("No instrument detected.\r\rPlease check the connection.");
const QString NoPortsInstalled = QStringLiteral("No ports installed");
const QString Refresh = QStringLiteral("Refresh");
const QString FindInstrument = QStringLiteral("Find instrument");
const QString FreezeWarning = QStringLiteral("When freezing the image, any ongoing measurements on the "
                                             "instrument will be cleared when the image has been loaded.");
const QString NewImagePrefix = QStringLiteral("New image ");
const QString UnableToWrite = QStringLiteral("Unable to write to %1");
} // namespace Texts

// Status bar geometry, in pixels.
constexpr int MinimumWidth = 800;
constexpr int MinimumHeight = 600;
constexpr int DesignWidth = 800;
constexpr int DesignHeight = 640;
constexpr int FrameAllowance = 8;      // the bar is this much narrower than the window
constexpr int StatusBarHeight = 24;
constexpr int PanelHeight = 20;
constexpr int PanelTop = 2;
constexpr int PanelGap = 2;
constexpr int InfoPercent = 25;
constexpr int ConnectedWidth = 120;
constexpr int SerialWidth = 120;
constexpr int PortWidth = 50;
constexpr int CornerSize = 16;
constexpr int CornerMargin = 3;
constexpr int FileRemainderAllowance = 12;
constexpr int ToolBarHeight = 29;
constexpr int ToolButtonHeight = 23;
constexpr int ToolSeparatorWidth = 8;
constexpr int IconSize = 16;

// Settings file sections and keys, with their defaults.
const QString SectionCom = QStringLiteral("COM");
const QString SectionOptions = QStringLiteral("Options");
const QString SectionWindow = QStringLiteral("Window");
const QString KeySaveFolder = QStringLiteral("SaveFolder");  // where the save dialog opens next
constexpr qint32 DefaultPort = 1;
constexpr qint32 DefaultPlacement = 10;

QString portCaption(int number)
{
    return Texts::PortPrefix + QString::number(number);
}

int tagOf(const QAction *item)
{
    return item->data().toInt();
}

QIcon toolIcon(const QIcon &normal, const QIcon &greyed)
{
    QIcon icon;
    icon.addPixmap(normal.pixmap(IconSize, IconSize), QIcon::Normal);
    icon.addPixmap(greyed.pixmap(IconSize, IconSize), QIcon::Disabled);
    return icon;
}

void showError(QWidget *parent, const QString &text)
{
    Dialogs::message(parent, Dialogs::MessageKind::Error, text);
}

// Holds the client area's redraw lock until released or destroyed, whichever comes first.
class ClientRedrawLock
{
public:
    explicit ClientRedrawLock(TfrmMain &window) : m_window(&window) { window.LockClientRedraw(); }
    ~ClientRedrawLock() { release(); }
    ClientRedrawLock(const ClientRedrawLock &) = delete;
    ClientRedrawLock &operator=(const ClientRedrawLock &) = delete;

    void release()
    {
        if (TfrmMain *window = std::exchange(m_window, nullptr))
            window->UnlockClientRedraw();
    }

private:
    TfrmMain *m_window;
};

} // namespace

TfrmMain *frmMain = nullptr;

TfrmMain::TfrmMain(QWidget *parent)
    : QMainWindow(parent)
    , m_saveIcon{Icons::save(), Icons::saveGreyed()}
    , m_connectIcon{Icons::connect(), Icons::connectGreyed()}
    , m_copyIcon{Icons::copy(), Icons::copyGreyed()}
    , m_captureIcon{Icons::capture(), Icons::captureGreyed()}
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(ApplicationTitle());
    setWindowIcon(Icons::application());
    setMinimumSize(MinimumWidth, MinimumHeight);
    resize(DesignWidth, DesignHeight);

    createClientArea();
    createMenus();
    createToolBar();
    createStatusBar();
    ApplyProgressBarFix(pbMain);
    connectCommands();
    qApp->installEventFilter(this);

    try {
        m_link = std::make_unique<TqzMeterCom>();
    } catch (...) {
        showError(this, Texts::CouldNotInitializePort);
        return;
    }
    try {
        m_memory = std::make_unique<TInstrumentMemory>();
        m_memory->MeterCom = m_link.get();
        m_memory->DirectoryAddress = TInstrumentMemory::DefaultDirectoryAddress;
    } catch (...) {
        showError(this, Texts::CouldNotAllocateMemory);
        return;
    }

    // A line that goes away while nothing runs is shown at once; a running capture or connection
    // attempt ends with its own report.
    connect(m_link.get(), &TqzMeterCom::LineLostNoticed, this, [this] {
        QString text;
        if (!operationRunning() && m_link->TakeLineLoss(&text))
            showLineLost(text);
    });

    IniFileName = SettingsFolder::iniFileName();
    QDir().mkpath(QFileInfo(IniFileName).absolutePath());
    LoadSettings();
    BuildPortMenu();
    m_created = true;
}

TfrmMain::~TfrmMain()
{
    qApp->removeEventFilter(this);
    // Image windows go first, without questions: whatever had to be asked was asked at the close.
    for (TfrmImage *window : imageWindows()) {
        window->SkipSaveQuery = true;
        delete window;
    }
    m_memory.reset();
    m_link.reset();
}

// ---------------------------------------------------------------------------------------------
// Building the window

void TfrmMain::createClientArea()
{
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    ClientArea = new QMdiArea(central);
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    ClientArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ClientArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(ClientArea, 1);

    // The bar is placed by LayoutStatusBar inside this strip, centred like a framed window's.
    auto *strip = new QWidget(central);
    strip->setFixedHeight(StatusBarHeight);
    layout->addWidget(strip);
    pnlStatus = new QWidget(strip);
    pnlStatus->setObjectName(QStringLiteral("pnlStatus"));
    setCentralWidget(central);
}

void TfrmMain::createMenus()
{
    QMenuBar *bar = menuBar();

    mnuFiles = bar->addMenu(QStringLiteral("&Files"));
    mnuCaptureScreen = mnuFiles->addAction(QStringLiteral("Capture screen"));
    mnuCaptureScreen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    mnuCaptureScreen->setEnabled(false);
    mnuSaveImage = mnuFiles->addAction(QStringLiteral("Save Image As..."));
    mnuSaveImage->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    mnuSaveImage->setEnabled(false);
    mnuFiles->addSeparator();
    mnuConnect = mnuFiles->addAction(Texts::Connect);
    // The big Enter key and the keypad's Enter both connect; the menu shows "Ctrl+Enter".
    mnuConnect->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Enter), QKeySequence(Qt::CTRL | Qt::Key_Return)});
    mnuConnect->setShortcutContext(Qt::WindowShortcut);
    mnuConnect->setEnabled(false);
    mnuInterface = mnuFiles->addMenu(QStringLiteral("Interface"));
    mnuFiles->addSeparator();
    mnuExit = mnuFiles->addAction(QStringLiteral("&Exit"));
    mnuExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    mnuExit->setIcon(Icons::exit());

    Edit1 = bar->addMenu(QStringLiteral("&Edit"));
    mnuFreezeImage = Edit1->addAction(QStringLiteral("&Freeze Image"));
    mnuFreezeImage->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    mnuFreezeImage->setCheckable(true);
    mnuCopy = Edit1->addAction(QStringLiteral("&Copy to clipboard"));
    mnuCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    mnuCopy->setEnabled(false);

    // The letter shortcuts are shown in the menus but taken by FormShortCut, which ignores Shift
    // and runs each command once; their own key bindings only act inside an open menu.
    for (QAction *item : {mnuCaptureScreen, mnuSaveImage, mnuExit, mnuFreezeImage, mnuCopy})
        item->setShortcutContext(Qt::WidgetShortcut);

    mnuWindow = bar->addMenu(QStringLiteral("&Window"));
    mnuArrange = mnuWindow->addAction(QStringLiteral("&Arrange"));
    mnuCascade = mnuWindow->addAction(QStringLiteral("&Cascade"));
    mnuTileHorizontally = mnuWindow->addAction(QStringLiteral("Tile &Horizontally"));
    mnuTileVertically = mnuWindow->addAction(QStringLiteral("&Tile Vertically"));
    mnuMinimizeAll = mnuWindow->addAction(QStringLiteral("&Minimize All"));
    mnuWindow->addSeparator();
    mnuClose = mnuWindow->addAction(QStringLiteral("C&lose"));
    mnuCloseAll = mnuWindow->addAction(QStringLiteral("Close All"));
    for (QAction *item : {mnuArrange, mnuCascade, mnuTileHorizontally, mnuTileVertically, mnuMinimizeAll,
                          mnuClose, mnuCloseAll})
        item->setEnabled(false);

    mnuHelp = bar->addMenu(QStringLiteral("&Help"));
    mnuAbout = mnuHelp->addAction(QStringLiteral("&About"));
    mnuAbout->setIcon(Icons::about());

    mnuPopConnect = new QMenu(this);
    mnuPopFindInstrument = mnuPopConnect->addAction(Texts::FindInstrument);
    mnuPopFindInstrument->setData(TagFindInstrument);
}

void TfrmMain::createToolBar()
{
    ToolBar = new QToolBar(QStringLiteral("ToolBar"), this);
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setFixedHeight(ToolBarHeight);
    ToolBar->setIconSize(QSize(IconSize, IconSize));
    ToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, ToolBar);

    auto addGap = [this] {
        auto *gap = new QWidget(ToolBar);
        gap->setFixedWidth(ToolSeparatorWidth);
        ToolBar->addWidget(gap);
    };
    auto addButton = [this](const QString &name, const QIcon &icon, const QString &tip) {
        auto *button = new QToolButton(ToolBar);
        button->setObjectName(name);
        button->setAutoRaise(true);
        button->setFixedHeight(ToolButtonHeight);
        button->setIcon(icon);
        button->setToolTip(tip);
        button->setFocusPolicy(Qt::NoFocus);
        ToolBar->addWidget(button);
        return button;
    };

    addGap();
    btnConnect = addButton(QStringLiteral("btnConnect"), toolIcon(m_connectIcon.normal, m_connectIcon.greyed), {});
    btnConnect->setPopupMode(QToolButton::MenuButtonPopup);
    btnConnect->setMenu(mnuPopConnect);
    addGap();
    btnGrab = addButton(QStringLiteral("btnGrab"), toolIcon(m_captureIcon.normal, m_captureIcon.greyed),
                        QStringLiteral("Capture screen."));
    addGap();
    btnCopy = addButton(QStringLiteral("btnCopy"), toolIcon(m_copyIcon.normal, m_copyIcon.greyed),
                        QStringLiteral("Copy image to clipboard."));
    btnSaveAs = addButton(QStringLiteral("btnSaveAs"), toolIcon(m_saveIcon.normal, m_saveIcon.greyed),
                          QStringLiteral("Save image as..."));
    addGap();
    btnExit = addButton(QStringLiteral("btnExit"), toolIcon(Icons::exit(), Icons::exitGreyed()),
                        QStringLiteral("Exit."));
    btnConnect->setEnabled(false);
    btnGrab->setEnabled(false);
    btnCopy->setEnabled(false);
    btnSaveAs->setEnabled(false);
}

void TfrmMain::createStatusBar()
{
    auto makePanel = [this](const QString &name, Qt::Alignment alignment, const QString &text) {
        auto *panel = new QLabel(text, pnlStatus);
        panel->setObjectName(name);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setAlignment(alignment | Qt::AlignVCenter);
        panel->setFixedHeight(PanelHeight);
        return panel;
    };
    pnlFile = makePanel(QStringLiteral("pnlFile"), Qt::AlignLeft, {});
    pnlInfo = makePanel(QStringLiteral("pnlInfo"), Qt::AlignLeft, {});
    pnlConnected = makePanel(QStringLiteral("pnlConnected"), Qt::AlignHCenter, Texts::NotConnected);
    pnlSerial = makePanel(QStringLiteral("pnlSerial"), Qt::AlignHCenter, {});
    pnlPort = makePanel(QStringLiteral("pnlPort"), Qt::AlignHCenter, portCaption(DefaultPort));
    pnlConnected->setFixedWidth(ConnectedWidth);
    pnlSerial->setFixedWidth(SerialWidth);
    pnlPort->setFixedWidth(PortWidth);

    m_captureProgress = new TCaptureProgress(pnlInfo);
    pbMain = m_captureProgress->bar();
    // The link's cancel path ends the read at once and restarts a halted instrument on the way out.
    connect(m_captureProgress, &TCaptureProgress::cancelRequested, this, [this] {
        if (m_link)
            m_link->Cancel();
    });

    imgCorner = new QLabel(pnlStatus);
    imgCorner->setObjectName(QStringLiteral("imgCorner"));
    imgCorner->setFixedSize(CornerSize, CornerSize);
}

void TfrmMain::connectCommands()
{
    connect(mnuFiles, &QMenu::aboutToShow, this, &TfrmMain::UpdateCommandStates);
    connect(Edit1, &QMenu::aboutToShow, this, &TfrmMain::UpdateCommandStates);
    connect(mnuWindow, &QMenu::aboutToShow, this, &TfrmMain::mnuWindowClick);

    connect(mnuCaptureScreen, &QAction::triggered, this, [this] { runCommand([this] { mnuCaptureScreenClick(); }); });
    connect(mnuSaveImage, &QAction::triggered, this, [this] { runCommand([this] { mnuSaveImageClick(); }); });
    connect(mnuConnect, &QAction::triggered, this, [this] { runCommand([this] { mnuConnectClick(0); }); });
    connect(mnuExit, &QAction::triggered, this, &TfrmMain::mnuExitClick);
    connect(mnuFreezeImage, &QAction::triggered, this, &TfrmMain::mnuFreezeImageClick);
    connect(mnuCopy, &QAction::triggered, this, [this] { runCommand([this] { mnuCopyClick(); }); });
    connect(mnuAbout, &QAction::triggered, this, [this] { runCommand([this] { mnuAboutClick(); }); });
    connect(mnuPopFindInstrument, &QAction::triggered, this, [this] { runCommand([this] { FindInstrument(); }); });
    connect(mnuInterface, &QMenu::triggered, this, [this](QAction *item) {
        const int tag = tagOf(item);
        if (tag == TagFindInstrument)
            runCommand([this] { FindInstrument(); });
        else
            runCommand([this, item] { PortItemClick(item); });
    });

    connect(mnuArrange, &QAction::triggered, this, &TfrmMain::arrangeIcons);
    connect(mnuCascade, &QAction::triggered, ClientArea, &QMdiArea::cascadeSubWindows);
    // "Horizontally" puts the windows one above the other, "Vertically" side by side.
    connect(mnuTileHorizontally, &QAction::triggered, this, [this] { tileImageWindows(Qt::Vertical); });
    connect(mnuTileVertically, &QAction::triggered, this, [this] { tileImageWindows(Qt::Horizontal); });
    connect(mnuMinimizeAll, &QAction::triggered, this, [this] {
        for (TfrmImage *window : imageWindows())
            window->showMinimized();
    });
    connect(mnuClose, &QAction::triggered, this, [this] {
        if (TfrmImage *window = activeImageWindow())
            window->close();
    });
    connect(mnuCloseAll, &QAction::triggered, this, [this] { runCommand([this] { mnuCloseAllClick(); }); });

    // Toolbar buttons choose their menu item, which acts only when enabled.
    auto choose = [](QAction *item) {
        if (item->isEnabled())
            item->trigger();
    };
    connect(btnConnect, &QToolButton::clicked, this, [=] { choose(mnuConnect); });
    connect(btnGrab, &QToolButton::clicked, this, [=] { choose(mnuCaptureScreen); });
    connect(btnCopy, &QToolButton::clicked, this, [=] { choose(mnuCopy); });
    connect(btnSaveAs, &QToolButton::clicked, this, [=] { choose(mnuSaveImage); });
    connect(btnExit, &QToolButton::clicked, this, [=] { choose(mnuExit); });

    // The active-window notification: any change of the active image window refreshes the states.
    connect(ClientArea, &QMdiArea::subWindowActivated, this, &TfrmMain::UpdateCommandStates);
}

void TfrmMain::setFileText(const QString &text)
{
    pnlFile->setText(text);
    emit fileTextChanged(text);
}

void TfrmMain::setAboutBox(QDialog *box)
{
    m_aboutBox = box;
}

// ---------------------------------------------------------------------------------------------
// Command states, shortcuts, status bar

void TfrmMain::UpdateCommandStates()
{
    const TfrmImage *current = activeImageWindow();
    const bool active = current != nullptr;
    // A picture that is still building up has nothing to save or copy yet.
    const bool finished = active && !current->building();
    mnuSaveImage->setEnabled(finished);
    mnuCopy->setEnabled(finished);

    mnuSaveImage->setIcon(m_saveIcon.forState(mnuSaveImage->isEnabled()));
    mnuConnect->setIcon(m_connectIcon.forState(mnuConnect->isEnabled()));
    mnuCopy->setIcon(m_copyIcon.forState(mnuCopy->isEnabled()));
    mnuCaptureScreen->setIcon(m_captureIcon.forState(mnuCaptureScreen->isEnabled()));

    btnConnect->setEnabled(mnuConnect->isEnabled());
    btnGrab->setEnabled(mnuCaptureScreen->isEnabled());
    btnCopy->setEnabled(mnuCopy->isEnabled());
    btnSaveAs->setEnabled(mnuSaveImage->isEnabled());

    // The standard window commands need an image window ("C&lose" an active one).
    const bool any = !imageWindows().isEmpty();
    for (QAction *item : {mnuArrange, mnuCascade, mnuTileHorizontally, mnuTileVertically, mnuMinimizeAll})
        item->setEnabled(any);
    mnuClose->setEnabled(active);
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || (widget != this && !isAncestorOf(widget)))
        return QMainWindow::eventFilter(watched, event);
    return FormShortCut(static_cast<QKeyEvent *>(event));
}

// Ctrl with C, F, N, S or X chooses its menu item whatever Shift and Alt do, once per key press:
// the key is claimed before Qt's shortcut handling sees it, then acted on as a key press.
// Ctrl+Enter is left to the Connect item's own shortcut, after the states are refreshed.
bool TfrmMain::FormShortCut(QKeyEvent *event)
{
    UpdateCommandStates();
    if (!(event->modifiers() & Qt::ControlModifier))
        return false;
    QAction *item = nullptr;
    switch (event->key()) {
    case Qt::Key_C: item = mnuCopy; break;
    case Qt::Key_F: item = mnuFreezeImage; break;
    case Qt::Key_N: item = mnuCaptureScreen; break;
    case Qt::Key_S: item = mnuSaveImage; break;
    case Qt::Key_X: item = mnuExit; break;
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

void TfrmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    DrawSizeGrip();
    LayoutStatusBar();
    UpdateCommandStates();
}

void TfrmMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    LayoutStatusBar();
}

void TfrmMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        UpdateCommandStates();
}

void TfrmMain::LayoutStatusBar()
{
    const int barWidth = width() - FrameAllowance;
    pnlStatus->setGeometry(FrameAllowance / 2, 0, barWidth, StatusBarHeight);

    const int infoWidth = barWidth * InfoPercent / 100;
    const int fileWidth = barWidth - infoWidth - ConnectedWidth - SerialWidth - PortWidth - CornerSize
        - FileRemainderAllowance;
    pnlFile->setGeometry(PanelGap, PanelTop, fileWidth, PanelHeight);
    QLabel *previous = pnlFile;
    for (auto [panel, panelWidth] : {std::pair<QLabel *, int>{pnlInfo, infoWidth}, {pnlConnected, ConnectedWidth},
                                     {pnlSerial, SerialWidth}, {pnlPort, PortWidth}}) {
        panel->setGeometry(previous->x() + previous->width() + PanelGap, PanelTop, panelWidth, PanelHeight);
        previous = panel;
    }
    imgCorner->move(barWidth - CornerSize - CornerMargin, StatusBarHeight - CornerSize - CornerMargin);
    m_captureProgress->setGeometry(pnlInfo->contentsRect());
}

void TfrmMain::DrawSizeGrip()
{
    QImage grip(CornerSize, CornerSize, QImage::Format_RGB32);
    grip.fill(palette().color(QPalette::Button));
    const QRgb white = qRgb(255, 255, 255);
    const QRgb grey = qRgb(128, 128, 128);
    // Three stripes of a white and two grey diagonal lines; the line from x0 on the bottom edge
    // holds the pixels with x + y == x0 + 16, up to the right edge.
    for (int x0 = 1; x0 < 12; ++x0) {
        if (x0 % 4 == 0)
            continue; // the gap between two stripes
        const QRgb colour = x0 % 4 == 1 ? white : grey;
        for (int x = x0 + 1, y = CornerSize - 1; x < CornerSize; ++x, --y)
            grip.setPixel(x, y, colour);
    }
    imgCorner->setPixmap(QPixmap::fromImage(grip));
}

// ---------------------------------------------------------------------------------------------
// Image windows

QList<TfrmImage *> TfrmMain::imageWindows() const
{
    QList<TfrmImage *> windows;
    for (QMdiSubWindow *sub : ClientArea->subWindowList(QMdiArea::CreationOrder))
        if (auto *image = qobject_cast<TfrmImage *>(sub))
            windows.append(image);
    return windows;
}

QList<TfrmImage *> TfrmMain::imageWindowsMostRecentFirst() const
{
    QList<TfrmImage *> windows;
    const QList<QMdiSubWindow *> history = ClientArea->subWindowList(QMdiArea::ActivationHistoryOrder);
    for (auto it = history.crbegin(); it != history.crend(); ++it)
        if (auto *image = qobject_cast<TfrmImage *>(*it))
            windows.append(image);
    return windows;
}

TfrmImage *TfrmMain::activeImageWindow() const
{
    // The current window stays current while the program itself is not the active application.
    return qobject_cast<TfrmImage *>(ClientArea->currentSubWindow());
}

void TfrmMain::mnuWindowClick()
{
    mnuCloseAll->setEnabled(!imageWindows().isEmpty());
    UpdateCommandStates();
    rebuildWindowList();
}

// The Window menu ends with one entry per image window, the active one checked.
void TfrmMain::rebuildWindowList()
{
    qDeleteAll(m_windowListActions);
    m_windowListActions.clear();
    const QList<TfrmImage *> windows = imageWindows();
    if (windows.isEmpty())
        return;
    m_windowListActions.append(mnuWindow->addSeparator());
    TfrmImage *active = activeImageWindow();
    for (int i = 0; i < windows.size(); ++i) {
        TfrmImage *window = windows[i];
        // A saved image's title is its path, which may hold an ampersand of its own.
        QString title = window->windowTitle();
        title.replace(QLatin1Char('&'), QLatin1String("&&"));
        const QString caption = i < 9 ? QStringLiteral("&%1 %2").arg(i + 1).arg(title) : title;
        QAction *entry = mnuWindow->addAction(caption);
        entry->setCheckable(true);
        entry->setChecked(window == active);
        QPointer<TfrmImage> target = window;
        connect(entry, &QAction::triggered, this, [this, target] {
            if (!target)
                return;
            if (target->isMinimized())
                target->showNormal();
            ClientArea->setActiveSubWindow(target);
        });
        m_windowListActions.append(entry);
    }
}

// The image windows share the client area in equal strips, laid out in the given direction.
void TfrmMain::tileImageWindows(Qt::Orientation direction)
{
    const QList<TfrmImage *> windows = imageWindows();
    if (windows.isEmpty())
        return;
    const QRect area = ClientArea->viewport()->rect();
    const bool stacked = direction == Qt::Vertical;
    const int strip = (stacked ? area.height() : area.width()) / windows.size();
    for (int i = 0; i < windows.size(); ++i) {
        windows[i]->showNormal();
        if (stacked)
            windows[i]->setGeometry(0, i * strip, area.width(), strip);
        else
            windows[i]->setGeometry(i * strip, 0, strip, area.height());
    }
}

// Minimised windows line up along the bottom edge of the client area, left to right.
void TfrmMain::arrangeIcons()
{
    const QRect area = ClientArea->viewport()->rect();
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

void TfrmMain::mnuSaveImageClick()
{
    if (TfrmImage *window = activeImageWindow())
        window->SaveImage();
    UpdateCommandStates();
}

void TfrmMain::mnuCopyClick()
{
    if (TfrmImage *window = activeImageWindow())
        QGuiApplication::clipboard()->setImage(window->picture());
}

void TfrmMain::mnuAboutClick()
{
    if (m_aboutBox)
        m_aboutBox->exec();
}

void TfrmMain::setAllSkipSaveQuery(bool skip)
{
    for (TfrmImage *window : imageWindows())
        window->SkipSaveQuery = skip;
}

void TfrmMain::mnuExitClick()
{
    setAllSkipSaveQuery(true);
    close();
}

void TfrmMain::mnuCloseAllClick()
{
    if (imageWindows().isEmpty())
        return;
    // A picture still building up is not offered for saving: closing its window cancels the capture.
    QList<TfrmImage *> offered = imageWindowsMostRecentFirst();
    offered.removeIf([](const TfrmImage *window) { return window->building(); });
    if (frmUnsavedImages && !frmUnsavedImages->QueryUnsavedImages(offered))
        return;
    for (TfrmImage *window : imageWindows()) {
        window->Saved = true;
        window->close();
    }
    UpdateCommandStates();
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // A capture or connection attempt needs this window, the link and the memory reader until it
    // ends; the close is taken up again then.
    if (operationRunning()) {
        m_closePending = true;
        event->ignore();
        return;
    }
    if (!m_created) {
        event->accept();   // start-up failed: there is nothing to keep or save
        return;
    }
    if (m_closing) {
        event->ignore();
        return;
    }
    // The close box behaves like "&Exit": no image window asks its own question.
    setAllSkipSaveQuery(true);
    m_closing = true;
    const auto done = qScopeGuard([this] { m_closing = false; });
    // A cancelled check gives each window its own question back.
    const bool proceed = !frmUnsavedImages || frmUnsavedImages->QueryUnsavedImages(imageWindowsMostRecentFirst());
    if (!proceed) {
        event->ignore();
        return;
    }
    SaveSettings();
    event->accept();
}

void TfrmMain::beginOperation()
{
    ++m_operationDepth;
}

void TfrmMain::endOperation()
{
    if (--m_operationDepth > 0)
        return;
    if (m_endBySignal) {
        QTimer::singleShot(0, this, &TfrmMain::finishEndBySignal);
        return;
    }
    if (!m_closePending)
        return;
    m_closePending = false;
    QTimer::singleShot(0, this, &TfrmMain::mnuExitClick);
}

template <typename Command>
void TfrmMain::runCommand(Command command)
{
    try {
        command();
    } catch (const std::exception &error) {
        TSnaploomApplication::ShowException(error, this);
    }
}

// ---------------------------------------------------------------------------------------------
// Settings

void TfrmMain::LoadSettings()
{
    const TIniSettings settings(IniFileName);
    m_link->PortNumber = settings.readInteger(SectionCom, QStringLiteral("Port"), DefaultPort);
    mnuFreezeImage->setChecked(settings.readBool(SectionOptions, QStringLiteral("FreezeImage"), false));
    TSaveFolder::setLastSaveFolder(settings.readString(SectionOptions, KeySaveFolder));
    const int x = settings.readInteger(SectionWindow, QStringLiteral("X"), DefaultPlacement);
    const int y = settings.readInteger(SectionWindow, QStringLiteral("Y"), DefaultPlacement);
    const int width = settings.readInteger(SectionWindow, QStringLiteral("Width"), DefaultPlacement);
    const int height = settings.readInteger(SectionWindow, QStringLiteral("Height"), DefaultPlacement);
    // A placement left on a screen that is no longer there comes back onto the nearest one.
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens << screen->availableGeometry();
    const QRect placed = TScreenPlacement::ontoScreens(
        QRect(x, y, std::max(width, MinimumWidth), std::max(height, MinimumHeight)), screens);
    move(placed.topLeft());
    resize(placed.size());
    // The stored place is used as it is, not replaced by the window manager's own choice.
    setAttribute(Qt::WA_Moved);
    if (settings.readBool(SectionWindow, QStringLiteral("Maximized"), false))
        setWindowState(windowState() | Qt::WindowMaximized);
}

bool TfrmMain::SaveSettings()
{
    TIniSettings settings(IniFileName);
    settings.writeInteger(SectionCom, QStringLiteral("Port"), m_link->PortNumber);
    settings.writeBool(SectionOptions, QStringLiteral("FreezeImage"), mnuFreezeImage->isChecked());
    // Only once something was saved: a file without the key keeps reading as before.
    if (!TSaveFolder::lastSaveFolder().isEmpty())
        settings.writeString(SectionOptions, KeySaveFolder, TSaveFolder::lastSaveFolder());
    if (isMaximized()) {
        settings.writeBool(SectionWindow, QStringLiteral("Maximized"), true);
    } else {
        settings.writeInteger(SectionWindow, QStringLiteral("X"), x());
        settings.writeInteger(SectionWindow, QStringLiteral("Y"), y());
        settings.writeInteger(SectionWindow, QStringLiteral("Width"), width());
        settings.writeInteger(SectionWindow, QStringLiteral("Height"), height());
        settings.writeBool(SectionWindow, QStringLiteral("Maximized"), false);
    }
    if (settings.commit())
        return true;
    // The program still closes; the old file stays as it was.
    showError(this, Texts::UnableToWrite.arg(QDir::toNativeSeparators(IniFileName)));
    return false;
}

// ---------------------------------------------------------------------------------------------
// Interface menu and connecting

void TfrmMain::BuildPortMenu()
{
    mnuInterface->clear();

    // Ordered by number; names with equal numbers keep the order in which they were listed.
    QList<SerialPortName> ports = SerialPorts::list();
    // A name whose digits make no number names no port.
    ports.removeIf([](const SerialPortName &port) { return port.number < 0; });
    std::stable_sort(ports.begin(), ports.end(), [](const SerialPortName &a, const SerialPortName &b) {
        return a.number < b.number;
    });

    for (const SerialPortName &port : ports) {
        const int number = port.number;
        QAction *item = mnuInterface->addAction(portCaption(number));
        item->setData(number);
        item->setCheckable(true);
        item->setStatusTip(port.devicePath);
        item->setToolTip(port.devicePath);
        if (number == m_link->PortNumber) {
            item->setChecked(true);
            pnlPort->setText(item->text());
        }
    }
    mnuInterface->setToolTipsVisible(true);
    if (mnuInterface->isEmpty()) {
        QAction *placeholder = mnuInterface->addAction(Texts::NoPortsInstalled);
        placeholder->setData(TagPlaceholder);
        placeholder->setEnabled(false);
    }
    mnuInterface->addSeparator()->setData(TagPlaceholder);
    mnuInterface->addAction(Texts::Refresh)->setData(TagRefresh);
    mnuInterface->addAction(Texts::FindInstrument)->setData(TagFindInstrument);
    mnuConnect->setEnabled(true);
}

void TfrmMain::PortItemClick(QAction *item)
{
    const int tag = tagOf(item);
    if (tag == TagRefresh) {
        BuildPortMenu();
        return;
    }
    m_link->Disconnect();
    for (QAction *other : mnuInterface->actions())
        other->setChecked(false);
    item->setChecked(true);
    m_link->PortNumber = tag;
    pnlPort->setText(portCaption(tag));
    mnuConnect->setEnabled(true);   // the chosen item is checked, so a port is selected
    UpdateCommandStates();
}

// Choosing a port or searching is offered only while no attempt runs and nothing is connected.
void TfrmMain::setPortChoiceEnabled(bool enabled)
{
    mnuInterface->menuAction()->setEnabled(enabled);
    mnuPopFindInstrument->setEnabled(enabled);
}

// The window returns to the not-connected state also when leaving command mode fails: the
// link closes the port whatever happens.
void TfrmMain::disconnectLink()
{
    const auto notConnected = qScopeGuard([this] {
        mnuCaptureScreen->setEnabled(false);
        mnuConnect->setText(Texts::Connect);
        pnlSerial->clear();
        pnlConnected->setText(Texts::Disconnected);
        mnuConnect->setEnabled(true);
        setPortChoiceEnabled(true);
    });
    m_link->Disconnect();
}

// The line went away: the link has closed the port already.
void TfrmMain::showLineLost(const QString &text)
{
    disconnectLink();
    setFileText(text);
    showError(this, text);
}

void TfrmMain::endBySignal()
{
    m_endBySignal = true;
    m_link->Cancel();
    if (!operationRunning())
        QTimer::singleShot(0, this, &TfrmMain::finishEndBySignal);
}

void TfrmMain::finishEndBySignal()
{
    try {
        m_link->Disconnect();
    } catch (...) {
        // the program ends all the same; the port is closed
    }
    QCoreApplication::exit(0);
}

bool TfrmMain::connectionAttempt()
{
    return InstrumentFinder::attempt(*m_link) == InstrumentFinder::Attempt::Connected;
}

void TfrmMain::connectAttempt(int senderTag)
{
    const bool searching = senderTag <= TagFindInstrument;
    // A search shows which port it tries; a single attempt says it is connecting.
    if (!searching)
        setFileText(Texts::Connecting);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    setPortChoiceEnabled(false);

    bool found = false;
    try {
        found = connectionAttempt();
    } catch (const ELineLost &lost) {
        showLineLost(lost.text());
        return;
    } catch (...) {
        // An error of the port ends the attempt; it never leaves the port open, and the user can
        // still choose another port.
        try {
            m_link->Disconnect();
        } catch (...) {
            // the first error is the one reported
        }
        setPortChoiceEnabled(true);
        throw;
    }
    if (found) {
        setFileText(QString());
        mnuCaptureScreen->setEnabled(true);
        pnlPort->setText(portCaption(m_link->PortNumber));
        pnlConnected->setText(Texts::Connected);
        pnlSerial->setText(Texts::SerialPrefix + QString::number(m_link->Info.SerialNumber));
        mnuConnect->setText(Texts::Disconnect);
        return;
    }
    m_link->Disconnect();
    setPortChoiceEnabled(true);
    // A port that would not open says why; the message box stays as it is.
    setFileText(m_link->openFailure().isEmpty() ? Texts::NoInstrumentStatus : m_link->openFailure());
    if (!searching)
        Dialogs::message(this, Dialogs::MessageKind::Error, Texts::NoInstrumentMessage);
}

void TfrmMain::mnuConnectClick(int senderTag)
{
    // The link's waits let events through; a second Connect meanwhile must not pull the port
    // out from under the attempt that is running.
    if (m_attemptRunning)
        return;
    m_attemptRunning = true;
    beginOperation();
    const auto finish = qScopeGuard([this] {
        m_attemptRunning = false;
        mnuConnect->setEnabled(true);
        UpdateCommandStates();
        endOperation();
    });
    if (m_link->IsConnected())
        disconnectLink();
    else
        connectAttempt(senderTag);
}

void TfrmMain::FindInstrument()
{
    if (m_attemptRunning || m_searchRunning)
        return;
    m_searchRunning = true;
    beginOperation();
    const auto finish = qScopeGuard([this] {
        m_searchRunning = false;
        endOperation();
    });

    BuildPortMenu();
    for (QAction *item : mnuInterface->actions())
        item->setChecked(false);

    const int found = InstrumentFinder::search([this](int number) {
        m_link->Disconnect();
        m_link->PortNumber = number;
        setFileText(Texts::TryingToOpen + QString::number(number));
        mnuConnectClick(TagFindInstrument);
        return m_link->IsConnected();
    });
    if (found > 0) {
        for (QAction *item : mnuInterface->actions())
            if (tagOf(item) == found) {
                item->setChecked(true);
                break;
            }
        UpdateCommandStates();
        return;
    }
    BuildPortMenu();
    Dialogs::message(this, Dialogs::MessageKind::Error, Texts::NoInstrumentMessage);
}

// ---------------------------------------------------------------------------------------------
// Capturing

void TfrmMain::mnuFreezeImageClick()
{
    // The item's check mark has already been turned by choosing it.
    if (mnuFreezeImage->isChecked())
        Dialogs::message(this, Dialogs::MessageKind::Warning, Texts::FreezeWarning);
}

void TfrmMain::LockClientRedraw()
{
    if (RedrawLockCount == 0)
        ClientArea->setUpdatesEnabled(false);
    ++RedrawLockCount;
}

void TfrmMain::UnlockClientRedraw()
{
    if (--RedrawLockCount > 0)
        return;
    RedrawLockCount = 0;
    ClientArea->setUpdatesEnabled(true);
    ClientArea->update();
    ClientArea->viewport()->update();
    for (QMdiSubWindow *sub : ClientArea->subWindowList())
        sub->update();
}

void TfrmMain::MaximizeChildren()
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

void TfrmMain::mnuCaptureScreenClick()
{
    beginOperation();
    mnuConnect->setEnabled(false);
    mnuCaptureScreen->setEnabled(false);
    UpdateCommandStates();
    // The client area stands still until the picture starts to build up in its window.
    ClientRedrawLock redrawLock(*this);
    TLiveCapture live([this, &redrawLock](const QSize &clientSize) {
        redrawLock.release();
        return openImageWindow(clientSize);
    });
    const auto finish = qScopeGuard([this, &redrawLock] {
        m_captureProgress->finish();
        // A line lost during the capture leaves nothing to capture from.
        mnuCaptureScreen->setEnabled(m_link->IsConnected());
        mnuConnect->setEnabled(true);
        UpdateCommandStates();
        redrawLock.release();
        endOperation();
    });

    m_link->ResetCancel();
    CaptureListener listener;
    listener.status = [this](const QString &text) { setFileText(text); };
    listener.event = [this, &live](CaptureEvent event) {
        if (event == CaptureEvent::ShortRead)
            live.discard();  // the window goes before its message
        showError(this, CaptureTexts::forEvent(event));
    };
    listener.progressStarted = [this](qint64 maximum) { m_captureProgress->start(maximum); };
    listener.progressStep = [this](qint64 step) { m_captureProgress->advance(step); };
    listener.progressFinished = [this] { m_captureProgress->finish(); };
    live.attach(listener);
    // A cancel closes the picture's window at once, while the link still takes in the rest of the
    // reply; closing that window is a cancel too.
    connect(m_captureProgress, &TCaptureProgress::cancelRequested, &live, &TLiveCapture::discard);
    connect(&live, &TLiveCapture::windowClosed, this, [this] { m_link->Cancel(); });

    ScreenCapture capture(*m_link, *m_memory);
    capture.haltPauseMs = CaptureHaltPauseMs;
    capture.restartPauseMs = CaptureRestartPauseMs;
    const CaptureResult result = capture.run([this] { return mnuFreezeImage->isChecked(); }, listener);

    if (result.outcome == CaptureOutcome::Captured) {
        ++CaptureCount;
        if (TfrmImage *window = live.complete(result.image))
            activateImageWindow(window);
        if (!result.errorText.isEmpty())
            showLineLost(result.errorText);  // the picture is in; the line went while the DSP restarted
        return;
    }
    live.discard();
    switch (result.outcome) {
    case CaptureOutcome::Captured:
    case CaptureOutcome::NoScreenInfo:
        break;
    case CaptureOutcome::Cancelled:
        setFileText(QString());
        break;
    case CaptureOutcome::LineLost:
        showLineLost(result.errorText);
        break;
    case CaptureOutcome::Refused:
        Dialogs::message(this, Dialogs::MessageKind::Information, CaptureTexts::Refused);
        break;
    case CaptureOutcome::HaltFailed:
    case CaptureOutcome::NothingReceived:
    case CaptureOutcome::ShortRead:
    case CaptureOutcome::BadGeometry:
        showError(this, CaptureTexts::LoadError);
        break;
    }
}

// The window of the capture that is running: titled with the number it takes if it completes.
TfrmImage *TfrmMain::openImageWindow(const QSize &clientSize)
{
    auto *window = new TfrmImage;
    window->setWindowTitle(Texts::NewImagePrefix + QString::number(CaptureCount + 1));
    ClientArea->addSubWindow(window);
    window->setClientSize(clientSize);
    TImagePlacement::place(ClientArea, window);
    connect(window, &QObject::destroyed, this, &TfrmMain::UpdateCommandStates, Qt::QueuedConnection);
    window->show();
    MaximizeChildren();
    activateImageWindow(window);
    return window;
}

void TfrmMain::activateImageWindow(TfrmImage *window)
{
    ClientArea->setActiveSubWindow(window);
    window->setFocus();
}
