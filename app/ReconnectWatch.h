#pragma once

#include "PortWatch.h"

#include <QObject>
#include <QString>

// After a line lost while connected, watches for its port to come back and then asks for a
// connect attempt; the user's Disconnect (or choice of another port) ends the watch. A port that
// came back but would not open yet (its permissions are still being set) is tried again a few
// times; one where no instrument answered waits until it goes and comes back once more.
class TReconnectWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int OpenRetries = 5;

    explicit TReconnectWatch(QObject *parent = nullptr);

    void lineLost(int portNumber, const QString &devicePath);
    void stop();
    bool watching() const { return m_watching; }

    // The outcome of the attempt asked for by portReturned.
    void attemptSucceeded();
    void attemptFailed(bool portWouldNotOpen);

    // The status-bar texts of the watch.
    static QString waitingText(int portNumber);
    static QString returnedText(int portNumber);
    static QString reconnectedText(int portNumber);

signals:
    // The port is back: the owner makes a connect attempt without message boxes and reports it.
    void portReturned(int portNumber);

private:
    // The port watch stops when the port is back; this watch lasts until the attempt succeeds.
    TPortWatch m_watch;
    bool m_watching = false;
    int m_openRetries = 0;
};
