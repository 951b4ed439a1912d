#pragma once

#include <QElapsedTimer>
#include <QWidget>

class QProgressBar;
class QToolButton;

// The image read's progress in the status bar: the bar with the percentage done and the time
// left, and beside it a Cancel button, which Esc also presses, while the read can be cancelled.
class TCaptureProgress : public QWidget
{
    Q_OBJECT

public:
    explicit TCaptureProgress(QWidget *parent = nullptr);

    QProgressBar *bar() const { return m_bar; }

    void start(qint64 maximum);
    void advance(qint64 step);
    void finish();

signals:
    void cancelRequested();

private:
    void updateText();

    QProgressBar *m_bar = nullptr;
    QToolButton *m_cancel = nullptr;
    QElapsedTimer m_sinceFirstBytes;
    qint64 m_firstBytes = 0;
};
