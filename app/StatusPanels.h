#pragma once

#include <QWidget>

class QLabel;
class TElidedLabel;
class TCaptureProgress;

// The status bar along the main window's bottom edge: five sunken text panels and the size grip
// in a fixed layout computed from the window's width, the capture's progress in the second panel.
// The panels keep their names (pnlStatus, pnlFile, pnlInfo, pnlConnected, pnlSerial, pnlPort,
// imgCorner) as object names.
class StatusPanels : public QWidget
{
    Q_OBJECT

public:
    explicit StatusPanels(QWidget *parent = nullptr);

    // Progress and result texts of connecting and capturing, in the first panel.
    void setMessage(const QString &text);

    void showConnected(int portNumber, qint32 serialNumber);
    void showDisconnected();
    void showPort(int portNumber);

    TCaptureProgress *captureProgress() const { return m_captureProgress; }

    // Places the panels for a main window of this width; run whenever the window's size changes.
    void layoutFor(int windowWidth);
    // Draws the striped size grip into the corner image, in the current palette's button colour.
    void drawSizeGrip();

signals:
    // Every text written to the first panel, in order, also when it is the same as before.
    void messageChanged(const QString &text);

private:
    QWidget *m_bar = nullptr;
    TElidedLabel *m_message = nullptr;
    QLabel *m_info = nullptr;
    QLabel *m_connected = nullptr;
    QLabel *m_serial = nullptr;
    QLabel *m_port = nullptr;
    QLabel *m_corner = nullptr;
    TCaptureProgress *m_captureProgress = nullptr;
};
