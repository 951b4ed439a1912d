#pragma once

#include "ImageFile.h"

#include <QString>
#include <QStringList>

// Which port a command talks to: --port COM<n> or a device path, --find to try every port, or
// --all for every port where an instrument answers.
struct PortChoice
{
    int number = 0;     // COM<n>
    QString path;       // a device node; used instead of the number when set
    bool find = false;
    bool all = false;
};

// What the command line asks `snaploom` to do, once it has been read.
struct CommandRequest
{
    enum class Action {
        Run,        // run command with the options below
        ShowText,   // print text on standard output and end with success (help, version)
        Refuse,     // print text, one line, on standard error and end with the usage exit code
    };
    Action action = Action::Refuse;
    QString text;
    QString command;   // "ports", "identify", "capture"
    PortChoice port;
    bool json = false;
    bool freeze = false;
    // A file name template (NameTemplate); empty: the default name in the current folder;
    // "-": standard output.
    QString output;
    ImageFile::Format format = ImageFile::Format::Bmp;
    bool overwrite = false;     // a file already at the name is replaced, not numbered
    int count = 1;              // captures in the series; 0: until interrupted
    qint64 intervalMs = 0;      // from the start of one capture to the start of the next
    bool keepGoing = false;     // a failed capture does not end the series
};

// Reads the arguments that follow the program name. Every command answers --help (-h) and
// --version; unknown options, missing or empty values and bad ports are refused.
CommandRequest parseCommandLine(const QStringList &arguments);

// The commands, for the general help and the shell completion.
QStringList commandNames();
