#include "SnaploomApplication.h"

#include "ComPort.h"
#include "Dialogs.h"

#include <exception>

TSnaploomApplication::TSnaploomApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool TSnaploomApplication::notify(QObject *receiver, QEvent *event)
{
    // Commands catch their own errors; this is the last line, so nothing unwinds further into
    // the event loop.
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        ShowException(error);
    } catch (...) {
        ShowException(std::runtime_error("Unknown error."));
    }
    return false;
}

void TSnaploomApplication::ShowException(const std::exception &error, QWidget *parent)
{
    const auto *comError = dynamic_cast<const EComPort *>(&error);
    const QString text = comError ? comError->text() : QString::fromLocal8Bit(error.what());
    Dialogs::message(parent, Dialogs::MessageKind::Error, text);
}
