#include "ImageFile.h"
#include "SystemError.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString NotEncoded = QStringLiteral("The image could not be written.");

QByteArray formatName(ImageFile::Format format)
{
    switch (format) {
    case ImageFile::Format::Png: return QByteArrayLiteral("PNG");
    case ImageFile::Format::Jpeg: return QByteArrayLiteral("JPEG");
    case ImageFile::Format::Bmp: break;
    }
    return QByteArrayLiteral("BMP");
}

// The instrument's screen is a few flat colours with sharp edges; JPEG's default quality smears
// them, so the highest is used.
constexpr int JpegQuality = 100;

// The whole file is made in memory first, so a picture that cannot be encoded touches no file.
bool encode(const QImage &image, ImageFile::Format format, QByteArray &bytes, QString *error)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, formatName(format));
    if (format == ImageFile::Format::Jpeg)
        writer.setQuality(JpegQuality);
    if (image.isNull() || !writer.write(image)) {
        *error = NotEncoded;
        return false;
    }
    return true;
}

// The system's own reason for a failed write ("No space left on device", "Read-only file
// system", "Disk quota exceeded"): Qt's text for a file that recorded one, else errno's.
QString failureReason(const QIODevice &device, int code)
{
    const auto *file = qobject_cast<const QFileDevice *>(&device);
    if (file && file->error() != QFileDevice::NoError && !file->errorString().isEmpty())
        return file->errorString();
    return systemError(code != 0 ? code : EIO);
}

// A write the disk takes only in part is repeated for the rest, so the call that fails is the
// one that carries the reason; a device never says why it took only some of the bytes.
bool writeAll(QIODevice &device, const QByteArray &bytes, QString *error)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        errno = 0;
        const qint64 written = device.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            *error = failureReason(device, errno);
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace

namespace ImageFile {

std::optional<Format> formatOfSuffix(const QString &suffix)
{
    const QString name = suffix.toLower();
    if (name == QLatin1String("bmp"))
        return Format::Bmp;
    if (name == QLatin1String("png"))
        return Format::Png;
    if (name == QLatin1String("jpg") || name == QLatin1String("jpeg"))
        return Format::Jpeg;
    return std::nullopt;
}

std::optional<Format> formatNamed(const QString &name)
{
    const std::optional<Format> format = formatOfSuffix(name);
    if (format == Format::Jpeg)
        return std::nullopt;
    return format;
}

std::optional<Format> formatOfPath(const QString &path, Format noSuffix)
{
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return noSuffix;
    return formatNamed(name.mid(dot + 1));
}

QString suffix(Format format)
{
    switch (format) {
    case Format::Png: return QStringLiteral(".png");
    case Format::Jpeg: return QStringLiteral(".jpg");
    case Format::Bmp: break;
    }
    return QStringLiteral(".bmp");
}

QString formatNames()
{
    return QStringLiteral("bmp, png");
}

QString whyNotWritable(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat status {};
    if (::stat(native.constData(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            return QStringLiteral("%1 is a folder").arg(path);
        if (::access(native.constData(), W_OK) != 0)
            return QStringLiteral("%1: %2").arg(path, systemError(errno));
        if (!S_ISREG(status.st_mode))
            return QString();   // written into, so its folder does not matter
    }
    // A new or regular file is made beside its final name and renamed.
    return whyFolderNotWritable(QFileInfo(path).absolutePath());
}

QString whyFolderNotWritable(const QString &folder)
{
    const QByteArray nativeFolder = QFile::encodeName(folder);
    struct stat folderStatus {};
    if (::stat(nativeFolder.constData(), &folderStatus) != 0)
        return QStringLiteral("the folder %1 does not exist").arg(folder);
    if (!S_ISDIR(folderStatus.st_mode))
        return QStringLiteral("%1 is not a folder").arg(folder);
    if (::access(nativeFolder.constData(), W_OK | X_OK) != 0)
        return QStringLiteral("the folder %1 cannot be written: %2").arg(folder, systemError(errno));
    return QString();
}

bool write(const QImage &image, const QString &path, Format format, QString *error)
{
    QByteArray bytes;
    if (!encode(image, format, bytes, error))
        return false;

    const QByteArray native = QFile::encodeName(path);
    struct stat status {};
    if (::stat(native.constData(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
        // A FIFO or a device: whoever made it reads from it, so it is written into, never replaced.
        const int fd = ::open(native.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            *error = systemError(errno);
            return false;
        }
        QFile file;
        if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
            *error = failureReason(file, errno);
            ::close(fd);
            return false;
        }
        return writeAll(file, bytes, error);
    }

    // Unbuffered, so a full disk fails the write that meets it, with its reason; a buffered
    // write would fail only in commit(), which forgets why.
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = failureReason(file, errno);
        return false;
    }
    if (!writeAll(file, bytes, error)) {
        file.cancelWriting();
        return false;
    }
    errno = 0;
    if (!file.commit()) {
        *error = failureReason(file, errno);
        return false;
    }
    return true;
}

bool write(const QImage &image, QIODevice &device, Format format, QString *error)
{
    QByteArray bytes;
    return encode(image, format, bytes, error) && writeAll(device, bytes, error);
}

}  // namespace ImageFile
