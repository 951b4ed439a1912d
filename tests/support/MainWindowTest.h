#pragma once

// A test class whose every test starts with a fresh main window and ends with it closed.

#include "MainWindowFixture.h"

#include <QObject>

class MainWindowTest : public QObject, protected MainWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { startProgram(); }
    void init() { openMainWindow(this); }
    void cleanup() { closeMainWindow(); }
};
