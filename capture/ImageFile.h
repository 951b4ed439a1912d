#pragma once

#include <QImage>
#include <QString>
#include <optional>

class QIODevice;

// Pictures as files, for both programs: the formats they write, the check of a path before
// anything else is done, and a writer that never leaves half a file behind.
namespace ImageFile {

enum class Format { Bmp, Png, Jpeg };

// Every format a picture is written in, by its file suffix: "bmp", "png", "jpg" or "jpeg", in any
// letter case.
std::optional<Format> formatOfSuffix(const QString &suffix);

// The command line's formats, lossless only: "bmp" or "png", in any letter case.
std::optional<Format> formatNamed(const QString &name);

// The format a file name's suffix asks for (".bmp", ".png", in any letter case); a name without
// a suffix gets noSuffix, any other suffix no format.
std::optional<Format> formatOfPath(const QString &path, Format noSuffix);

QString suffix(Format format);   // ".bmp", ".png" or ".jpg"
QString formatNames();           // "bmp, png", the command line's, for messages

// Why path cannot be written, found without touching it: its folder is missing or closed to
// us, it is a folder, or it is a file we may not write. Empty when it can be written.
QString whyNotWritable(const QString &path);
// The same for a new file in folder: missing, not a folder, or closed to us.
QString whyFolderNotWritable(const QString &folder);

// Writes image to path. A new or regular file is written through a temporary file that
// replaces it only when complete; anything else already there (a FIFO, a device) is written
// into and stays what it is. False with the reason in error.
bool write(const QImage &image, const QString &path, Format format, QString *error);

// Writes image to a device that is already open, such as standard output.
bool write(const QImage &image, QIODevice &device, Format format, QString *error);

}  // namespace ImageFile
