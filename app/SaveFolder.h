#pragma once

#include <QString>

// Where the save dialog opens: the folder of the last save, else the user's Pictures folder,
// else the home folder. The last save's folder is kept in the settings file from run to run.
class TSaveFolder
{
public:
    // The folder the next save dialog starts in; always one that exists.
    static QString startFolder();

    // The folder of the last save (read from the settings file at start-up), empty when none.
    static QString lastSaveFolder();
    static void setLastSaveFolder(const QString &folder);
};
