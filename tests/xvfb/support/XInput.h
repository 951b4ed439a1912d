#pragma once

// Real input for tests on an X display: key presses and clicks that the X server delivers as a
// user's own (XTEST, through xdotool), to whichever window holds the keyboard focus. The program
// under test cannot tell them from a person at the keyboard.

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPoint>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <functional>

class XInput
{
public:
    // Keys in xdotool's names, pressed and released one after the other:
    // {"ctrl+n"}, {"Tab", "space"}, {"Return"}, {"Escape"}.
    static bool key(const QStringList &keys) { return xdotool(QStringList{"key", "--delay", "40"} + keys); }

    // Text typed key by key into the focused widget.
    static bool type(const QString &text) { return xdotool({"type", "--delay", "30", text}); }

    // A left click at a point of the screen (global coordinates).
    static bool click(const QPoint &globalPosition)
    {
        return xdotool({"mousemove", QString::number(globalPosition.x()),
                        QString::number(globalPosition.y()), "click", "1"});
    }

    // Gives a window the keyboard focus, as a click on it would, and waits until Qt knows.
    static bool focus(QWidget *window)
    {
        window->activateWindow();
        return QTest::qWaitForWindowActive(window);
    }

    // Runs answer once the next modal window is shown and holds the keyboard focus; for modal
    // dialogs opened with exec(), whose event loop runs the answer. A modal window that the
    // answer leaves open (a check failed, or the keys did not close it) is closed after
    // closeAfterMs, so the test goes on and fails instead of hanging.
    class ModalAnswer
    {
    public:
        ModalAnswer(std::function<void(QWidget *modal)> answer, int timeoutMs = 15000, int closeAfterMs = 15000)
            : m_answer(std::move(answer))
        {
            m_waited.start();
            m_poll.setInterval(20);
            QObject::connect(&m_poll, &QTimer::timeout, [this, timeoutMs] { poll(timeoutMs); });
            m_poll.start();
            m_closer.setSingleShot(true);
            m_closer.setInterval(closeAfterMs);
            QObject::connect(&m_closer, &QTimer::timeout, [this] { closeLeftOpen(); });
        }
        // True when the answer ran and the modal window closed through it.
        bool answered() const { return m_answered && !m_leftOpen; }

    private:
        void poll(int timeoutMs)
        {
            if (m_waited.elapsed() > timeoutMs) {
                m_poll.stop();
                return;
            }
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible())
                return;
            if (QApplication::activeWindow() != modal) {
                if (m_activated != modal) {
                    m_activated = modal;
                    modal->activateWindow();
                }
                return;
            }
            m_poll.stop();
            m_answered = true;
            m_shown = modal;
            m_answer(modal);
            if (QTest::currentTestFailed())
                closeLeftOpen();
            else
                m_closer.start();
        }

        void closeLeftOpen()
        {
            if (!m_shown || !m_shown->isVisible())
                return;
            qWarning("closing a modal window the answer left open");
            m_leftOpen = true;
            if (auto *dialog = qobject_cast<QDialog *>(m_shown.data()))
                dialog->reject();
            else
                m_shown->close();
        }

        std::function<void(QWidget *)> m_answer;
        QTimer m_poll;
        QTimer m_closer;
        QElapsedTimer m_waited;
        QPointer<QWidget> m_activated;
        QPointer<QWidget> m_shown;
        bool m_answered = false;
        bool m_leftOpen = false;
    };

    // The visible top-level windows of another program on this display (X window ids), its
    // main window first.
    static QStringList windowsOf(qint64 processId)
    {
        QProcess process;
        process.start(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--pid", QString::number(processId)});
        process.waitForFinished(10000);
        return QString::fromLatin1(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // Gives another program's window the keyboard focus, as a click on it would.
    static bool focusWindow(const QString &windowId) { return xdotool({"windowfocus", "--sync", windowId}); }

private:
    static bool xdotool(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral("xdotool"), arguments);
        if (!process.waitForFinished(10000) || process.exitCode() != 0) {
            qWarning("xdotool %s failed: %s", qPrintable(arguments.join(' ')),
                     process.readAllStandardError().constData());
            return false;
        }
        return true;
    }
};
