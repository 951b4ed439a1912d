#include "IniSettings.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <utility>

namespace {

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
QString unquoted(const QString &value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

} // namespace

TIniSettings::TIniSettings(const QString &fileName)
    : m_fileName(fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);   // a byte-order mark left by a text editor
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    m_lines = text.split(QLatin1Char('\n'));
    if (!m_lines.isEmpty() && m_lines.last().isEmpty())
        m_lines.removeLast();
}

QString TIniSettings::sectionOf(const QString &line)
{
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith(QLatin1Char('[')))
        return {};
    const int close = trimmed.indexOf(QLatin1Char(']'));
    return trimmed.mid(1, close < 0 ? -1 : close - 1).trimmed();
}

QString TIniSettings::keyOf(const QString &line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.startsWith(QLatin1Char(';')))
        return {};
    const int equals = trimmed.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return {};
    return trimmed.left(equals).trimmed();
}

QString TIniSettings::valueOf(const QString &line)
{
    const QString trimmed = line.trimmed();
    return unquoted(trimmed.mid(trimmed.indexOf(QLatin1Char('=')) + 1).trimmed()).left(MaxValueLength);
}

// The first entry of a key counts; a section whose header appears twice reads as one.
QString TIniSettings::readString(const QString &section, const QString &key) const
{
    QString current;
    for (const QString &line : m_lines) {
        const QString header = sectionOf(line);
        if (!header.isNull()) {
            current = header;
            continue;
        }
        const QString lineKey = keyOf(line);
        if (!lineKey.isNull() && current.compare(section, Qt::CaseInsensitive) == 0
            && lineKey.compare(key, Qt::CaseInsensitive) == 0)
            return valueOf(line);
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
// section at the end of the file when it is missing).
void TIniSettings::setLine(const QString &section, const QString &key, const QString &value)
{
    const QString entry = key + QLatin1Char('=') + value;
    int sectionStart = -1;
    int insertAt = -1;
    for (int i = 0; i < m_lines.size(); ++i) {
        const QString header = sectionOf(m_lines.at(i));
        if (!header.isNull()) {
            if (sectionStart >= 0)
                break; // past the end of our section
            if (header.compare(section, Qt::CaseInsensitive) == 0) {
                sectionStart = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (sectionStart < 0)
            continue;
        if (keyOf(m_lines.at(i)).compare(key, Qt::CaseInsensitive) == 0) {
            m_lines[i] = entry;
            return;
        }
        if (!m_lines.at(i).trimmed().isEmpty())
            insertAt = i + 1;
    }
    if (sectionStart < 0) {
        if (!m_lines.isEmpty() && !m_lines.last().trimmed().isEmpty())
            m_lines.append(QString());
        m_lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        insertAt = m_lines.size();
    }
    m_lines.insert(insertAt, entry);
}

bool TIniSettings::commit()
{
    // QSaveFile writes a temporary file and renames it over the old one only when all went well.
    QSaveFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text;
    for (const QString &line : std::as_const(m_lines))
        text += line.toUtf8() + '\n';
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
