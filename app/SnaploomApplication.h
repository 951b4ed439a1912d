#pragma once

#include <QApplication>

// The application object with the program's general error report: an exception that leaves a
// command is shown as an error box with its text instead of ending the program.
class TSnaploomApplication : public QApplication
{
    Q_OBJECT

public:
    TSnaploomApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // Shows the error box for an exception: an error of the serial port with its own text, any
    // other with its description. The box belongs to the active window unless a parent is given.
    static void ShowException(const std::exception &error, QWidget *parent = QApplication::activeWindow());
};
