#pragma once

#include "ImageFile.h"

#include <QDateTime>
#include <QDir>
#include <QString>
#include <QTextStream>

struct CommandRequest;

// `snaploom capture`: checks the output, connects, runs the capture core and writes the picture
// to a file or to standard output. Returns the exit code (ExitCodes.h).
int runCaptureCommand(const CommandRequest &request, QTextStream &out, QTextStream &err);

// The file name used without -o: <model>-<serial>-<YYYYMMDD-HHMMSS> and the format's suffix in
// folder, with -2, -3 ... added before the suffix when the name is taken.
QString freshCaptureFileName(const QDir &folder, const QString &model, qint32 serial, const QDateTime &when,
                             ImageFile::Format format);
