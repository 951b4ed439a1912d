#pragma once

#include <QString>

// What the desktop program keeps from one run to the next, as values.
struct MainSettingsValues
{
    qint32 port = 1;
    bool freezeImage = false;
    QString saveFolder;             // of the last save; empty when nothing was saved yet
    // The window's placement in screen pixels, as stored (the window raises it to its minimum).
    qint32 x = 10;
    qint32 y = 10;
    qint32 width = 10;
    qint32 height = 10;
    bool maximized = false;
};

// The settings file of the desktop program: read once when the main window is made, written
// once when it closes for good. The keys and sections are the file's own names.
class MainSettings
{
public:
    // Works out the file's name in the settings folder and makes the folder when it is missing.
    MainSettings();

    QString fileName() const { return m_fileName; }
    void setFileName(const QString &fileName) { m_fileName = fileName; }

    MainSettingsValues load() const;
    // False when the file could not be written; the old file then stays as it was. A placement
    // is written only when the window is not maximised.
    bool save(const MainSettingsValues &values) const;

private:
    QString m_fileName;
};
