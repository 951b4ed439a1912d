#include "IniSettings.h"

#include <QFile>
#include <QSaveFile>
#include <utility>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray ByteOrderMark("\xEF\xBB\xBF");  // left at the start by some text editors

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

int hexDigit(QChar c)
{
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
        return c.unicode() - '0';
    if (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        return c.unicode() - 'a' + 10;
    if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
        return c.unicode() - 'A' + 10;
    return -1;
}

// A value surrounded by one pair of matching quotes is read without them.
QByteArray unquoted(const QByteArray &value)
{
    if (value.size() >= 2) {
        const char first = value.front();
        if ((first == '"' || first == '\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// A line as the parser sees it: without surrounding blanks, its carriage return and a mark.
QByteArray significant(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    return trimmed.startsWith(ByteOrderMark) ? trimmed.mid(ByteOrderMark.size()).trimmed() : trimmed;
}

bool sameName(const QByteArray &a, const QString &b)
{
    return a.compare(b.toUtf8(), Qt::CaseInsensitive) == 0;
}

// The whole of a regular file of at most limit bytes. Opened without waiting, so a FIFO or a
// device at the name neither blocks nor streams for ever; anything else reads as absent.
bool readRegularFile(const QString &fileName, qint64 limit, QByteArray &contents)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > limit)
        return false;
    // One byte more than allowed is asked for, so a file that grew meanwhile is still refused.
    QByteArray data(qsizetype(limit + 1), Qt::Uninitialized);
    qint64 total = 0;
    while (total <= limit) {
        const ssize_t n = ::read(fd, data.data() + total, size_t(limit + 1 - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        total += n;
    }
    if (total > limit)
        return false;
    data.truncate(qsizetype(total));
    contents = std::move(data);
    return true;
}

// Only a regular file (or nothing yet) may be replaced by the saved settings.
bool replaceable(const QString &fileName)
{
    struct stat info {};
    if (::stat(QFile::encodeName(fileName).constData(), &info) != 0)
        return errno == ENOENT;
    return S_ISREG(info.st_mode);
}

} // namespace

TIniSettings::TIniSettings(const QString &fileName)
    : m_fileName(fileName)
{
    QByteArray text;
    if (!readRegularFile(fileName, MaxFileSize, text) || text.isEmpty())
        return;
    m_lines = text.split('\n');
    // split() leaves an empty piece after a final line feed; it is no line of the file.
    m_endsWithLineFeed = text.endsWith('\n');
    if (m_endsWithLineFeed)
        m_lines.removeLast();
}

QByteArray TIniSettings::sectionOf(const QByteArray &line)
{
    const QByteArray text = significant(line);
    if (!text.startsWith('['))
        return {};
    const int close = text.indexOf(']');
    // A header's name is never null, even when empty, so it still starts a section.
    QByteArray name = text.mid(1, close < 0 ? -1 : close - 1).trimmed();
    return name.isNull() ? QByteArray("") : name;
}

QByteArray TIniSettings::keyOf(const QByteArray &line)
{
    const QByteArray text = significant(line);
    if (text.startsWith(';'))
        return {};
    const int equals = text.indexOf('=');
    if (equals <= 0)
        return {};
    return text.left(equals).trimmed();
}

QByteArray TIniSettings::valueOf(const QByteArray &line)
{
    const QByteArray text = significant(line);
    return unquoted(text.mid(text.indexOf('=') + 1).trimmed());
}

// The first entry of a key counts; a section whose header appears twice reads as one.
QString TIniSettings::readString(const QString &section, const QString &key) const
{
    QByteArray current;
    for (const QByteArray &line : m_lines) {
        const QByteArray header = sectionOf(line);
        if (!header.isNull()) {
            current = header;
            continue;
        }
        const QByteArray lineKey = keyOf(line);
        if (!lineKey.isNull() && !current.isNull() && sameName(current, section) && sameName(lineKey, key))
            return QString::fromUtf8(valueOf(line)).left(MaxValueLength);
    }
    return {};
}

qint32 TIniSettings::readInteger(const QString &section, const QString &key, qint32 defaultValue) const
{
    qint32 value = 0;
    return parseInteger(readString(section, key), value) ? value : defaultValue;
}

bool TIniSettings::readBool(const QString &section, const QString &key, bool defaultValue) const
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TIniSettings::parseInteger(const QString &text, qint32 &value)
{
    int i = 0;
    const int n = text.size();
    while (i < n && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }

    int base = 10;
    if (i < n && text[i] == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == QLatin1Char('0')
               && (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    } else if (i < n && (text[i] == QLatin1Char('x') || text[i] == QLatin1Char('X'))) {
        base = 16;
        ++i;
    }

    if (i >= n)
        return false;
    // Decimal may reach 2^31 only as the negative limit; hexadecimal may use all 32 bits.
    const quint64 limit = base == 16 ? 0xFFFFFFFFull
                                     : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    quint64 magnitude = 0;
    for (; i < n; ++i) {
        const int digit = base == 16 ? hexDigit(text[i])
                                     : (text[i].isDigit() && text[i].unicode() < 128 ? text[i].unicode() - '0' : -1);
        if (digit < 0)
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return false;
    }
    const auto bits = static_cast<quint32>(magnitude);
    value = static_cast<qint32>(negative ? 0u - bits : bits);
    return true;
}

void TIniSettings::writeInteger(const QString &section, const QString &key, qint32 value)
{
    setLine(section, key, QString::number(value));
}

void TIniSettings::writeBool(const QString &section, const QString &key, bool value)
{
    setLine(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool TIniSettings::writeString(const QString &section, const QString &key, const QString &value)
{
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        return false;
    const bool needsQuotes = value != value.trimmed() || value.startsWith(QLatin1Char('"'))
        || value.startsWith(QLatin1Char('\''));
    setLine(section, key, needsQuotes ? QLatin1Char('"') + value + QLatin1Char('"') : value);
    return true;
}

// Replaces the key's first entry in its section, or adds it at the end of the section (and the
// section at the end of the file when it is missing). An entry that already holds the value is
// left as it is, so an unchanged file is saved byte for byte.
void TIniSettings::setLine(const QString &section, const QString &key, const QString &value)
{
    const QByteArray bytes = value.toUtf8();
    // New lines end as the file's lines do.
    const QByteArray lineEnd = !m_lines.isEmpty() && m_lines.first().endsWith('\r') ? "\r" : "";
    const QByteArray entry = key.toUtf8() + '=' + bytes + lineEnd;
    int sectionStart = -1;
    int insertAt = -1;
    for (int i = 0; i < m_lines.size(); ++i) {
        const QByteArray header = sectionOf(m_lines.at(i));
        if (!header.isNull()) {
            if (sectionStart >= 0)
                break; // past the end of our section
            if (sameName(header, section)) {
                sectionStart = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (sectionStart < 0)
            continue;
        const QByteArray lineKey = keyOf(m_lines.at(i));
        if (!lineKey.isNull() && sameName(lineKey, key)) {
            if (valueOf(m_lines.at(i)) != bytes)
                m_lines[i] = entry;
            return;
        }
        if (!m_lines.at(i).trimmed().isEmpty())
            insertAt = i + 1;
    }
    if (sectionStart < 0) {
        if (!m_lines.isEmpty() && !m_lines.last().trimmed().isEmpty())
            m_lines.append(lineEnd);
        m_lines.append('[' + section.toUtf8() + ']' + lineEnd);
        insertAt = int(m_lines.size());
        m_endsWithLineFeed = true;
    }
    m_lines.insert(insertAt, entry);
}

bool TIniSettings::commit()
{
    // A FIFO, a device or a folder at the name is someone else's; it is never replaced.
    if (!replaceable(m_fileName))
        return false;
    // QSaveFile writes a temporary file and renames it over the old one only when all went well.
    QSaveFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text = m_lines.join('\n');
    if (m_endsWithLineFeed && !m_lines.isEmpty())
        text += '\n';
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
