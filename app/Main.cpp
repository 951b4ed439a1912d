#include "Main.h"

#include "CaptureController.h"
#include "ConnectionController.h"
#include "DesktopNotifier.h"
#include "Dialogs.h"
#include "Icons.h"
#include "ImageCommands.h"
#include "ImageForm.h"
#include "ImageWorkspace.h"
#include "MainActions.h"
#include "PortMenu.h"
#include "SaveFolder.h"
#include "SaveOptions.h"
#include "ScreenPlacement.h"
#include "SnaploomApplication.h"
#include "StatusPanels.h"
#include "UnsavedImages.h"
#include "Version.h"

#include "qzMeterCOM.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QMenu>
#include <QScopeGuard>
#include <QScreen>
#include <QSessionManager>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <exception>

namespace {

const QString UnableToWrite = QStringLiteral("Unable to write to %1");
const QString ProgressTitle = QStringLiteral("%1 % \u2013 %2");
const QString CaptureComplete = QStringLiteral("Capture complete");
const QString Copied = QStringLiteral("Copied to the clipboard.");

// The window manager's frame around the window, once it has one (none before the first showing).
QMargins frameMarginsOf(const QWidget &window)
{
    const QRect frame = window.frameGeometry();
    const QRect inner = window.geometry();
    return QMargins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                    frame.bottom() - inner.bottom());
}

constexpr QSize MinimumSize{800, 600};
constexpr QSize DesignSize{800, 640};

} // namespace

TfrmMain::TfrmMain(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(ApplicationTitle());
    setWindowIcon(Icons::application());
    fitMinimumToScreen(screen());
    resize(DesignSize);

    // The client area above, the status bar's strip below it.
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_workspace = new ImageWorkspace(central);
    layout->addWidget(m_workspace, 1);
    m_status = new StatusPanels(central);
    layout->addWidget(m_status);
    setCentralWidget(central);

    m_actions = new MainActions(*this);
    // A picture found again takes the next capture number, as a new capture would.
    m_imageCommands = new TImageCommands(
        m_workspace, [this](const QImage &picture) { return m_capture->openFoundPicture(picture); }, this);
    m_actions->addImageCommands(*m_imageCommands);
    m_portMenu = new PortMenu(*m_actions->items().interface, this);
    m_connection = std::make_unique<ConnectionController>(*m_portMenu, *this);
    m_capture = std::make_unique<CaptureController>(
        *m_connection, *m_status, *m_workspace, [this] { return m_actions->freezeOption(); }, *this);
    connectCommands();
    connectRooms();
    if (!m_connection->ready())
        return;   // its error box has been shown

    loadSettings();
    m_connection->refreshPorts();
    m_actions->showLinkState(m_connection->state());
    m_created = true;
}

TfrmMain::~TfrmMain()
{
    // Image windows go first, without questions: whatever had to be asked was asked at the close.
    m_workspace->closeAllQuietly();
    // The rooms that go with the window's widgets no longer call back into it.
    disconnect(m_workspace, nullptr, this, nullptr);
    disconnect(m_actions, nullptr, this, nullptr);
    m_capture.reset();
    m_connection.reset();
}

TqzMeterCom &TfrmMain::link()
{
    return m_connection->link();
}

void TfrmMain::setAboutBox(QDialog *box)
{
    m_aboutBox = box;
}

// Every command of the menus, and so of the toolbar and the shortcuts, in one place.
void TfrmMain::connectCommands()
{
    const MainActions::Items &m = m_actions->items();
    connect(m.captureScreen, &QAction::triggered, this, [this] { runCommand([this] { m_capture->capture(); }); });
    connect(m.saveImage, &QAction::triggered, this, [this] {
        runCommand([this] {
            const QString file = m_workspace->saveActive();
            if (!file.isEmpty())
                m_status->setMessage(TImageCommands::savedAsText(file));
            UpdateCommandStates();
        });
    });
    connect(m.connect, &QAction::triggered, this,
            [this] { runCommand([this] { m_connection->connectOrDisconnect(); }); });
    connect(m.exit, &QAction::triggered, this, &TfrmMain::exitProgram);
    connect(m.copy, &QAction::triggered, this, [this] {
        runCommand([this] {
            if (m_workspace->copyActive())
                m_status->setMessage(Copied);
        });
    });
    connect(m.about, &QAction::triggered, this, [this] {
        runCommand([this] {
            if (m_aboutBox)
                m_aboutBox->exec();
        });
    });
    connect(m.popFindInstrument, &QAction::triggered, this,
            [this] { runCommand([this] { m_connection->findInstrument(); }); });
    connect(m_portMenu, &PortMenu::findChosen, this, [this] { runCommand([this] { m_connection->findInstrument(); }); });
    connect(m_portMenu, &PortMenu::refreshChosen, this, [this] { runCommand([this] { m_connection->refreshPorts(); }); });
    connect(m_portMenu, &PortMenu::portChosen, this,
            [this](int number) { runCommand([this, number] { m_connection->choosePort(number); }); });

    connect(m.window, &QMenu::aboutToShow, this, &TfrmMain::windowMenuOpening);
    connect(m.arrange, &QAction::triggered, m_workspace, &ImageWorkspace::arrangeIcons);
    connect(m.cascade, &QAction::triggered, m_workspace, &ImageWorkspace::cascade);
    // "Horizontally" puts the windows one above the other, "Vertically" side by side.
    connect(m.tileHorizontally, &QAction::triggered, this, [this] { m_workspace->tileImageWindows(Qt::Vertical); });
    connect(m.tileVertically, &QAction::triggered, this, [this] { m_workspace->tileImageWindows(Qt::Horizontal); });
    connect(m.minimizeAll, &QAction::triggered, m_workspace, &ImageWorkspace::minimizeAll);
    connect(m.close, &QAction::triggered, m_workspace, &ImageWorkspace::closeActive);
    connect(m.closeAll, &QAction::triggered, this, [this] { runCommand([this] { closeAllImages(); }); });
}

// What one room tells the others.
void TfrmMain::connectRooms()
{
    connect(m_actions, &MainActions::statesNeeded, this, &TfrmMain::UpdateCommandStates);
    // Any change of the active image window refreshes the states.
    connect(m_workspace, &ImageWorkspace::windowsChanged, this, &TfrmMain::UpdateCommandStates);
    connect(m_status, &StatusPanels::messageChanged, this, &TfrmMain::statusMessageChanged);
    connect(m_imageCommands, &TImageCommands::statusText, m_status, &StatusPanels::setMessage);
    connect(m_capture.get(), &CaptureController::captured, m_imageCommands, &TImageCommands::captureCompleted);
    // The picture's context menu runs the main window's own commands on it.
    connect(m_workspace, &ImageWorkspace::copyWanted, this, [this] {
        UpdateCommandStates();
        if (m_actions->items().copy->isEnabled())
            m_actions->items().copy->trigger();
    });
    connect(m_workspace, &ImageWorkspace::saveWanted, this, [this] {
        UpdateCommandStates();
        if (m_actions->items().saveImage->isEnabled())
            m_actions->items().saveImage->trigger();
    });
    // A logout asks about unsaved pictures through the session manager.
    connect(qApp, &QGuiApplication::commitDataRequest, this, &TfrmMain::commitSessionData);

    ConnectionController *connection = m_connection.get();
    connect(connection, &ConnectionController::stateChanged, this, [this](LinkState state) {
        m_actions->showLinkState(state);
        UpdateCommandStates();
    });
    connect(connection, &ConnectionController::message, m_status, &StatusPanels::setMessage);
    connect(connection, &ConnectionController::connectedTo, m_status, &StatusPanels::showConnected);
    connect(connection, &ConnectionController::disconnected, m_status, &StatusPanels::showDisconnected);
    connect(connection, &ConnectionController::portShown, m_status, &StatusPanels::showPort);
    connect(connection, &ConnectionController::idle, this, &TfrmMain::resumePendingClose);

    // A capture shows its progress in the title, seen in the task bar too, and one that ends
    // while the user works elsewhere asks for attention.
    connect(m_capture.get(), &CaptureController::progressChanged, this, [this](int percent) {
        setWindowTitle(percent < 0 ? ApplicationTitle() : ProgressTitle.arg(percent).arg(ApplicationTitle()));
    });
    connect(m_capture.get(), &CaptureController::captured, this, [this](TfrmImage *window, const NameFields &) {
        if (isActiveWindow())
            return;
        QApplication::alert(this);
        DesktopNotifier::notify(CaptureComplete, window->imageName());
    });
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

void TfrmMain::UpdateCommandStates()
{
    const TfrmImage *current = m_workspace->activeImageWindow();
    m_actions->updateCommandStates(current != nullptr, current && !current->building(),
                                   !m_workspace->imageWindows().isEmpty());
    m_imageCommands->updateStates();
}

void TfrmMain::windowMenuOpening()
{
    UpdateCommandStates();
    m_workspace->fillWindowList(*m_actions->items().window);
}

void TfrmMain::closeAllImages()
{
    m_workspace->closeAll();
    UpdateCommandStates();
}

void TfrmMain::endBySignal()
{
    m_connection->endBySignal();
}

// ---------------------------------------------------------------------------------------------
// The window's own events

// The designed minimum, unless the screen's available area (less the window's frame) is
// smaller, as a 1280 x 800 screen at 200 % is: the whole window then still fits on it.
void TfrmMain::fitMinimumToScreen(const QScreen *target)
{
    const QRect available = target ? target->availableGeometry() : QRect();
    setMinimumSize(TScreenPlacement::minimumSizeOn(MinimumSize, available, frameMarginsOf(*this)));
}

void TfrmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        // A window moved to another screen (or a screen whose panels change) keeps fitting it.
        if (QWindow *window = windowHandle())
            connect(window, &QWindow::screenChanged, this, &TfrmMain::fitMinimumToScreen);
        if (m_connectAtStart)
            QTimer::singleShot(0, this, [this] { runCommand([this] { m_connection->connectQuietly(); }); });
    }
    m_status->drawSizeGrip();
    m_status->layoutFor(width());
    UpdateCommandStates();
}

void TfrmMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    m_status->layoutFor(width());
}

void TfrmMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        UpdateCommandStates();
}

// "&Exit": no image window asks its own question.
void TfrmMain::exitProgram()
{
    m_workspace->setAllSkipSaveQuery(true);
    close();
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // A capture or connection attempt needs this window, the link and the memory reader until it
    // ends; the close is taken up again then.
    if (m_connection->busy()) {
        m_closePending = true;
        if (m_connection->state() == LinkState::Capturing)
            m_capture->closeAsked();
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
    m_workspace->setAllSkipSaveQuery(true);
    m_closing = true;
    const auto done = qScopeGuard([this] { m_closing = false; });
    // A cancelled check gives each window its own question back.
    const bool proceed =
        !frmUnsavedImages || frmUnsavedImages->QueryUnsavedImages(m_workspace->finishedWindowsMostRecentFirst());
    if (!proceed) {
        event->ignore();
        return;
    }
    // Every unsaved picture was saved or given up on purpose: no copy is kept for the next start.
    m_imageCommands->forgetUnsaved();
    saveSettings();
    m_connection->disconnectForExit();
    event->accept();
}

void TfrmMain::offerLeftovers()
{
    m_imageCommands->offerLeftovers();
    UpdateCommandStates();
}

// A session that ends asks about unsaved pictures as an exit does, where the session manager lets
// the program ask; a Cancel there keeps the session going. Without a question the kept copies
// stay, and the next start offers them.
void TfrmMain::commitSessionData(QSessionManager &manager)
{
    if (!m_created || !manager.allowsInteraction())
        return;
    const QList<TfrmImage *> offered = m_workspace->finishedWindowsMostRecentFirst();
    const bool proceed = !frmUnsavedImages || frmUnsavedImages->QueryUnsavedImages(offered);
    manager.release();
    if (!proceed) {
        manager.cancel();
        return;
    }
    for (TfrmImage *window : offered)
        window->setSaved(true);   // saved, or given up on purpose
    m_imageCommands->forgetUnsaved();
}

void TfrmMain::resumePendingClose()
{
    if (!m_closePending)
        return;
    m_closePending = false;
    QTimer::singleShot(0, this, &TfrmMain::exitProgram);
}

// ---------------------------------------------------------------------------------------------
// Settings

void TfrmMain::loadSettings()
{
    const MainSettingsValues values = m_settings.load();
    link().PortNumber = values.port;
    m_actions->setFreezeOption(values.freezeImage);
    TSaveFolder::setLastSaveFolder(values.saveFolder);
    m_connectAtStart = values.connectAtStart;
    m_imageCommands->autoSaveItem()->setChecked(TSaveOptions::autoSave());
    // A placement left on a screen that is no longer there comes back onto the nearest one. On a
    // screen with less room than the designed minimum (a scaled one) it shrinks into that room;
    // elsewhere it is used as stored.
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens << screen->availableGeometry();
    QRect placed = TScreenPlacement::ontoScreens(
        QRect(QPoint(values.x, values.y), QSize(values.width, values.height).expandedTo(MinimumSize)),
        screens);
    const QScreen *target = QGuiApplication::screenAt(placed.center());
    if (!target)
        target = QGuiApplication::primaryScreen();
    if (target) {
        fitMinimumToScreen(target);
        if (minimumSize() != MinimumSize)
            placed = TScreenPlacement::insideScreen(placed, target->availableGeometry(), frameMarginsOf(*this));
    }
    move(placed.topLeft());
    resize(placed.size());
    // The stored place is used as it is, not replaced by the window manager's own choice.
    setAttribute(Qt::WA_Moved);
    if (values.maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TfrmMain::saveSettings()
{
    MainSettingsValues values;
    values.port = link().PortNumber;
    values.freezeImage = m_actions->freezeOption();
    values.saveFolder = TSaveFolder::lastSaveFolder();
    values.x = x();
    values.y = y();
    values.width = width();
    values.height = height();
    values.maximized = isMaximized();
    if (m_settings.save(values))
        return;
    // The program still closes; the old file stays as it was.
    Dialogs::message(this, Dialogs::MessageKind::Error,
                     UnableToWrite.arg(QDir::toNativeSeparators(m_settings.fileName())));
}
