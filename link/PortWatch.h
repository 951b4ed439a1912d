#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// Watches for a serial port that went away to come back: its COM link or device node appears
// again, or its link now leads to another node (an instrument restarted on a new terminal).
// The port is looked at every PollIntervalMs; nothing is opened.
class TPortWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int PollIntervalMs = 500;

    explicit TPortWatch(QObject *parent = nullptr);

    // Watches port number; lostDevicePath is the node the line was lost on (empty: any node
    // that is present counts as back).
    void start(int number, const QString &lostDevicePath);
    void stop();
    bool watching() const { return m_timer.isActive(); }
    int portNumber() const { return m_number; }

signals:
    // The port is there again; the watch has stopped.
    void returned(int number);

private:
    void poll();

    QTimer m_timer;
    int m_number = -1;
    QString m_lostDevicePath;
    bool m_goneSinceLoss = false;
};
