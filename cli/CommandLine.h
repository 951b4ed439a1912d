#pragma once

#include "ImageFile.h"

#include <QString>
#include <QStringList>

// Which port a command talks to: --port COM<n> or a device path, or --find to try every port.
struct PortChoice
{
    int number = 0;     // COM<n>
    QString path;       // a device node; used instead of the number when set
    bool find = false;
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
    QString output;    // empty: a fresh name in the current folder; "-": standard output
    ImageFile::Format format = ImageFile::Format::Bmp;
};

// Reads the arguments that follow the program name. Every command answers --help (-h) and
// --version; unknown options, missing or empty values and bad ports are refused.
CommandRequest parseCommandLine(const QStringList &arguments);

// The commands, for the general help and the shell completion.
QStringList commandNames();
