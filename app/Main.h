#pragma once

#include "MainSettings.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

class CaptureController;
class ConnectionController;
class ImageWorkspace;
class QSessionManager;
class TImageCommands;
class MainActions;
class PortMenu;
class QDialog;
class QScreen;
class StatusPanels;
class TqzMeterCom;

// The program's main window: the image windows live in its client area; its menus, toolbar and
// status bar reach every command; it owns the one instrument link and the one memory reader.
// It wires its rooms together (the commands, the status panels, the client area, the connection
// and the capture) and handles its own window events.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    // False when the link or memory object could not be made; the program then ends.
    bool created() const { return m_created; }

    // The About box is made by the start-up code; "&About" shows it modally once set.
    void setAboutBox(QDialog *box);

    // The rooms, for the start-up code, the tools and the tests.
    TqzMeterCom &link();
    ConnectionController &connection() { return *m_connection; }
    CaptureController &capture() { return *m_capture; }
    ImageWorkspace &workspace() { return *m_workspace; }
    MainSettings &settings() { return m_settings; }

    // Applies the command-state rule to what is open now.
    void UpdateCommandStates();

public slots:
    // At start: pictures an earlier run left unsaved are offered back.
    void offerLeftovers();

    // SIGINT, SIGTERM or SIGHUP: the program ends without questions within 2 s, whatever stands
    // open, once a running capture or attempt has ended (a halted instrument restarted) or, on a
    // line that cannot take that in time, abandoned.
    void endBySignal();

signals:
    // Every text written to the first status panel, in order, also when it is the same as before.
    void statusMessageChanged(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void connectCommands();
    void connectRooms();
    void loadSettings();
    void saveSettings();
    void windowMenuOpening();
    void exitProgram();
    void closeAllImages();
    void resumePendingClose();
    void fitMinimumToScreen(const QScreen *target);
    void commitSessionData(QSessionManager &manager);

    // Runs a command so that no exception leaves it into Qt's event loop; an error of the
    // serial port (or any other) is shown in an error box with its text.
    template <typename Command>
    void runCommand(Command command);

    MainSettings m_settings;
    ImageWorkspace *m_workspace = nullptr;
    StatusPanels *m_status = nullptr;
    MainActions *m_actions = nullptr;
    PortMenu *m_portMenu = nullptr;
    TImageCommands *m_imageCommands = nullptr;
    std::unique_ptr<ConnectionController> m_connection;
    std::unique_ptr<CaptureController> m_capture;
    QPointer<QDialog> m_aboutBox;
    bool m_created = false;
    bool m_closePending = false;
    bool m_closing = false;
    bool m_shownOnce = false;
    bool m_connectAtStart = false;
};
