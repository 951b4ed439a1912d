#pragma once

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <memory>

class QAction;
class QDialog;
class QImage;
class QIODevice;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class QToolBar;
class QToolButton;
class TCaptureProgress;
class TfrmImage;
class TInstrumentMemory;
class TqzMeterCom;

// The program's main window: the image windows live in its client area; its menus, toolbar and
// status bar reach every command; it owns the one instrument link and the one memory reader.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    // Menu item tags: port items carry their port number, the others these.
    static constexpr int TagPlaceholder = 0;
    static constexpr int TagRefresh = -1;
    static constexpr int TagFindInstrument = -2;

    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    // False when the link or memory object could not be made; the program then ends.
    bool created() const { return m_created; }

    // The About box is made by the start-up code; "&About" shows it modally once set.
    void setAboutBox(QDialog *box);

    // Command states: Save and Copy follow the active image window; icons and toolbar buttons
    // follow their menu items.
    void UpdateCommandStates();
    void LayoutStatusBar();
    void DrawSizeGrip();

    // Interface menu and connecting.
    void BuildPortMenu();
    void PortItemClick(QAction *item);
    void mnuConnectClick(int senderTag);
    void FindInstrument();

    // Capturing.
    void mnuCaptureScreenClick();
    void mnuFreezeImageClick();
    void MaximizeChildren();
    void LockClientRedraw();
    void UnlockClientRedraw();

    // Images and closing.
    void mnuSaveImageClick();
    void mnuCopyClick();
    void mnuExitClick();
    void mnuAboutClick();
    void mnuCloseAllClick();

    // Settings file, read at creation and written at the final close.
    void LoadSettings();
    bool SaveSettings();

    // The open image windows in creation order, and the active one (null when none).
    QList<TfrmImage *> imageWindows() const;
    TfrmImage *activeImageWindow() const;
    // Most recently active first, as the unsaved-images check lists them.
    QList<TfrmImage *> imageWindowsMostRecentFirst() const;

    // True while a capture or a connection attempt runs; a close asked for meanwhile waits.
    bool operationRunning() const { return m_operationDepth > 0; }

    TqzMeterCom &link() { return *m_link; }

    // SIGINT, SIGTERM or SIGHUP: a running capture is cancelled (a halted instrument restarted),
    // command mode is left, the port closed and the program ends without questions.
    void endBySignal();

    QString IniFileName;
    qint32 CaptureCount = 0;
    qint32 RedrawLockCount = 0;
    // Fixed pauses of the capture sequence; tests shorten them.
    int CaptureHaltPauseMs = 500;
    int CaptureRestartPauseMs = 250;

    // Menus and items.
    QMenu *mnuFiles = nullptr;
    QAction *mnuCaptureScreen = nullptr;
    QAction *mnuSaveImage = nullptr;
    QAction *mnuConnect = nullptr;
    QMenu *mnuInterface = nullptr;
    QAction *mnuExit = nullptr;
    QMenu *Edit1 = nullptr;
    QAction *mnuFreezeImage = nullptr;
    QAction *mnuCopy = nullptr;
    QMenu *mnuWindow = nullptr;
    QAction *mnuArrange = nullptr;
    QAction *mnuCascade = nullptr;
    QAction *mnuTileHorizontally = nullptr;
    QAction *mnuTileVertically = nullptr;
    QAction *mnuMinimizeAll = nullptr;
    QAction *mnuClose = nullptr;
    QAction *mnuCloseAll = nullptr;
    QMenu *mnuHelp = nullptr;
    QAction *mnuAbout = nullptr;
    QMenu *mnuPopConnect = nullptr;
    QAction *mnuPopFindInstrument = nullptr;

    // Toolbar.
    QToolBar *ToolBar = nullptr;
    QToolButton *btnConnect = nullptr;
    QToolButton *btnGrab = nullptr;
    QToolButton *btnCopy = nullptr;
    QToolButton *btnSaveAs = nullptr;
    QToolButton *btnExit = nullptr;

    // Client area and status bar.
    QMdiArea *ClientArea = nullptr;
    QWidget *pnlStatus = nullptr;
    QLabel *pnlFile = nullptr;
    QLabel *pnlInfo = nullptr;
    QLabel *pnlConnected = nullptr;
    QLabel *pnlSerial = nullptr;
    QLabel *pnlPort = nullptr;
    QLabel *imgCorner = nullptr;
    QProgressBar *pbMain = nullptr;

    // Writes the progress and result text of connecting and capturing into pnlFile.
    void setFileText(const QString &text);

signals:
    // Every text written to pnlFile, in order, also when it is the same as before.
    void fileTextChanged(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void createClientArea();
    void connectCommands();

    bool FormShortCut(QKeyEvent *event);
    void mnuWindowClick();
    void rebuildWindowList();
    void arrangeIcons();
    void tileImageWindows(Qt::Orientation direction);
    bool connectionAttempt();
    void connectAttempt(int senderTag);
    void disconnectLink();
    void showLineLost(const QString &text);
    void finishEndBySignal();
    void setPortChoiceEnabled(bool enabled);
    TfrmImage *openImageWindow(const QSize &clientSize);
    void activateImageWindow(TfrmImage *window);

    // Runs a command so that no exception leaves it into Qt's event loop; an error of the
    // serial port (or any other) is shown in an error box with its text.
    template <typename Command>
    void runCommand(Command command);
    // Counts running operations; a close asked for meanwhile runs when the last one ends.
    void beginOperation();
    void endOperation();
    void setAllSkipSaveQuery(bool skip);

    std::unique_ptr<TqzMeterCom> m_link;
    std::unique_ptr<TInstrumentMemory> m_memory;
    QPointer<QDialog> m_aboutBox;
    TCaptureProgress *m_captureProgress = nullptr;
    QList<QAction *> m_windowListActions;
    bool m_created = false;
    bool m_attemptRunning = false;
    bool m_searchRunning = false;
    int m_operationDepth = 0;
    bool m_closePending = false;
    bool m_closing = false;
    bool m_endBySignal = false;

    // A command's picture and its greyed variant, drawn once: the states are refreshed on every key.
    struct CommandIcon
    {
        QIcon normal;
        QIcon greyed;
        const QIcon &forState(bool enabled) const { return enabled ? normal : greyed; }
    };
    const CommandIcon m_saveIcon;
    const CommandIcon m_connectIcon;
    const CommandIcon m_copyIcon;
    const CommandIcon m_captureIcon;
};

// The program's one main window, set by the program's entry.
extern TfrmMain *frmMain;
