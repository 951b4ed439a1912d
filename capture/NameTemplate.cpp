#include "NameTemplate.h"

#include "SystemError.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Field { Serial, Model, Port, Date, Time, Number, Unknown };

const QStringList FieldNames{QStringLiteral("serial"), QStringLiteral("model"), QStringLiteral("port"),
                             QStringLiteral("date"),   QStringLiteral("time"),  QStringLiteral("n")};

Field fieldNamed(const QString &name)
{
    const int index = FieldNames.indexOf(name);
    return index < 0 ? Field::Unknown : Field(index);
}

// One piece of a template: literal text, or a field between braces.
struct Piece
{
    QString text;          // the literal text, or the field's name
    Field field = Field::Unknown;
    bool isField = false;
};

// A brace without its partner, or with a brace inside, is literal text.
QList<Piece> piecesOf(const QString &component)
{
    QList<Piece> pieces;
    int from = 0;
    while (from < component.size()) {
        const int open = component.indexOf(QLatin1Char('{'), from);
        const int close = open < 0 ? -1 : component.indexOf(QLatin1Char('}'), open + 1);
        const int reopen = open < 0 ? -1 : component.indexOf(QLatin1Char('{'), open + 1);
        if (open < 0 || close < 0) {
            pieces.append({component.mid(from), Field::Unknown, false});
            break;
        }
        if (reopen >= 0 && reopen < close) {
            pieces.append({component.mid(from, reopen - from), Field::Unknown, false});
            from = reopen;
            continue;
        }
        if (open > from)
            pieces.append({component.mid(from, open - from), Field::Unknown, false});
        const QString name = component.mid(open + 1, close - open - 1);
        pieces.append({name, fieldNamed(name), true});
        from = close + 1;
    }
    return pieces;
}

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7F;
}

// A field's value may come from the instrument: it never separates folders and holds nothing a
// file name on a removable disk or a Windows share cannot hold either.
QString fileNamePart(QString value)
{
    static const QString Forbidden = QStringLiteral("/\\:*?\"<>|");
    for (QChar &c : value)
        if (isControl(c) || Forbidden.contains(c))
            c = QLatin1Char('_');
    return value.isEmpty() ? QStringLiteral("_") : value;
}

QString valueOf(Field field, const NameFields &fields)
{
    const QDateTime when = (fields.capturedAt.isValid() ? fields.capturedAt : QDateTime::currentDateTime()).toLocalTime();
    switch (field) {
    case Field::Serial: return QString::number(fields.serialNumber);
    case Field::Model: return QString(fields.model.trimmed()).replace(QLatin1Char(' '), QLatin1Char('-'));
    case Field::Port: return fields.port;
    case Field::Date: return when.toString(QStringLiteral("yyyyMMdd"));
    case Field::Time: return when.toString(QStringLiteral("HHmmss"));
    case Field::Number: return QString::number(fields.captureNumber);
    case Field::Unknown: break;
    }
    return QString();
}

bool isDotsOnly(const QString &name)
{
    return name == QLatin1String(".") || name == QLatin1String("..");
}

// A file, or a link (even one that leads nowhere), is never written over by a generated name.
bool isTaken(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(native.constData(), &status) != 0)
        return false;
    if (S_ISLNK(status.st_mode) && ::stat(native.constData(), &status) != 0)
        return true;
    return S_ISREG(status.st_mode);
}

bool exists(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

}  // namespace

NameTemplate::NameTemplate(const QString &text) : m_text(text) {}

QString NameTemplate::problem() const
{
    if (m_text.isEmpty())
        return QStringLiteral("the file name is empty");
    for (const Piece &piece : piecesOf(m_text))
        if (piece.isField && piece.field == Field::Unknown)
            return QStringLiteral("{%1} in '%2' is not a field; the fields are %3").arg(piece.text, m_text, fieldNames());
    const QString last = m_text.section(QLatin1Char('/'), -1);
    if (last.isEmpty() || isDotsOnly(last))
        return QStringLiteral("'%1' names a folder, not a file").arg(m_text);
    return QString();
}

bool NameTemplate::namesEachInstrument() const
{
    for (const Piece &piece : piecesOf(m_text))
        if (piece.isField && (piece.field == Field::Port || piece.field == Field::Serial))
            return true;
    return false;
}

QString NameTemplate::expand(const NameFields &fields) const
{
    QStringList components;
    for (const QString &component : m_text.split(QLatin1Char('/'))) {
        QString name;
        bool hasField = false;
        for (const Piece &piece : piecesOf(component)) {
            if (piece.isField && piece.field != Field::Unknown) {
                name += fileNamePart(valueOf(piece.field, fields));
                hasField = true;
            } else if (piece.isField) {
                name += QLatin1Char('{') + piece.text + QLatin1Char('}');
            } else {
                name += piece.text;
            }
        }
        for (QChar &c : name)
            if (isControl(c))
                c = QLatin1Char('_');
        // Fields that make "." or ".." would lead out of the folder the template names.
        if (hasField && isDotsOnly(name))
            name.fill(QLatin1Char('_'));
        components.append(name);
    }
    return components.join(QLatin1Char('/'));
}

QString NameTemplate::fieldNames()
{
    QStringList names;
    for (const QString &name : FieldNames)
        names.append(QLatin1Char('{') + name + QLatin1Char('}'));
    return names.join(QStringLiteral(", "));
}

QString NameTemplate::numbered(const QString &path, int number)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    // A name's leading dot hides it; it starts no suffix.
    const int at = dot > slash + 1 ? dot : path.size();
    return path.left(at) + QLatin1Char('-') + QString::number(number) + path.mid(at);
}

QString NameTemplate::freePath(const QString &path)
{
    QString candidate = path;
    for (int number = 2; isTaken(candidate); ++number)
        candidate = numbered(path, number);
    return candidate;
}

QString NameTemplate::claimFreePath(const QString &path, QString *error)
{
    for (int number = 1;; ++number) {
        const QString candidate = number == 1 ? path : numbered(path, number);
        if (isTaken(candidate))
            continue;
        if (exists(candidate))
            return candidate;   // a FIFO, a device or a folder: not claimed, the writer decides
        const int fd = ::open(QFile::encodeName(candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        if (errno != EEXIST) {
            *error = QStringLiteral("%1: %2").arg(candidate, systemError(errno));
            return QString();
        }
        // Another writer took it a moment ago: the next number.
    }
}

void NameTemplate::releaseClaim(const QString &path)
{
    const QFileInfo file(path);
    if (file.isFile() && !file.isSymLink() && file.size() == 0)
        QFile::remove(path);
}

bool NameTemplate::makeFolders(const QString &path, QString *error)
{
    const QString folder = QFileInfo(path).absolutePath();
    QString made;
    for (const QString &part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        made += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(made);
        if (::mkdir(native.constData(), 0777) == 0)
            continue;
        const int code = errno;
        struct stat status {};
        if (::stat(native.constData(), &status) == 0) {
            if (S_ISDIR(status.st_mode))
                continue;
            *error = QStringLiteral("%1 is not a folder").arg(made);
            return false;
        }
        *error = QStringLiteral("the folder %1 cannot be made: %2").arg(made, systemError(code));
        return false;
    }
    return true;
}
