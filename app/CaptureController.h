#pragma once

#include <QObject>
#include <functional>

#include "NameTemplate.h"

class ConnectionController;
class TfrmImage;
class ImageWorkspace;
class StatusPanels;
class QImage;
class QWidget;

// The capture command of the desktop program: runs the capture sequence on the connected
// instrument, shows the picture building up in a new image window with its progress and a way
// out in the status bar, and turns the outcome into the window's messages.
class CaptureController : public QObject
{
    Q_OBJECT

public:
    CaptureController(ConnectionController &connection, StatusPanels &status, ImageWorkspace &workspace,
                      std::function<bool()> freezeOption, QWidget &dialogParent, QObject *parent = nullptr);

    void capture();

    // Successful captures since start; each one's window is titled with its number.
    qint32 captureCount() const { return m_captureCount; }
    // A picture found again counts as a capture of this run: it opens in a window of the next
    // capture number, placed and shown.
    TfrmImage *openFoundPicture(const QImage &picture);

    // The sequence's fixed pauses after a halt and after the restart step; tests shorten them.
    void setPauses(int haltPauseMs, int restartPauseMs);

    // The program is asked to close while a capture runs: it closes when the capture ends, and
    // the status bar says so.
    void closeAsked();

signals:
    // The part of the picture read so far, in percent, while a capture runs; -1 once it ended.
    void progressChanged(int percent);
    // A capture completed into window; fields are what its file names are made of.
    void captured(TfrmImage *window, const NameFields &fields);

private:
    ConnectionController &m_connection;
    StatusPanels &m_status;
    ImageWorkspace &m_workspace;
    std::function<bool()> m_freezeOption;
    QWidget &m_dialogParent;
    int percentDone() const;
    QString cancellingText() const;

    qint32 m_captureCount = 0;
    qint64 m_progressMaximum = 0;
    qint64 m_progressDone = 0;
    bool m_cancelling = false;
    int m_secondsLeft = 0;
    bool m_closeAsked = false;
    int m_haltPauseMs = 500;
    int m_restartPauseMs = 250;
};
