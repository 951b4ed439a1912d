#pragma once

#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QString>
#include <QStringList>

// `snaploom capture`: connects, runs the capture core and writes the picture to a file.
// arguments are those after the word "capture". Returns the exit code (ExitCodes.h).
int runCaptureCommand(const QStringList &arguments);

// The file name used without -o: <model>-<serial>-<YYYYMMDD-HHMMSS>.bmp in folder, with -2,
// -3 ... added before the suffix when the name is taken.
QString freshCaptureFileName(const QDir &folder, const QString &model, qint32 serial, const QDateTime &when);

// Writes image through a temporary file, so a failed write leaves any file at path as it was.
// PNG when path ends in .png, a Windows bitmap otherwise. False with a reason in error.
bool writeCaptureFile(const QImage &image, const QString &path, QString *error);
