#include "IniSettings.h"

#include <QFile>
#include <QSettings>
#include <QStringList>
#include <limits>

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
    QString section;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const int close = line.indexOf(QLatin1Char(']'));
            section = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = lookupKey(section, line.left(equals).trimmed());
        if (m_values.contains(key))
            continue; // the first entry of a key is the one that counts
        m_values.insert(key, unquoted(line.mid(equals + 1).trimmed()).left(MaxValueLength));
    }
}

QString TIniSettings::lookupKey(const QString &section, const QString &key)
{
    return section.toLower() + QLatin1Char('\n') + key.toLower();
}

QString TIniSettings::readString(const QString &section, const QString &key) const
{
    return m_values.value(lookupKey(section, key));
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
    m_pendingKeys.append({section, key});
    m_pendingValues.append(QString::number(value));
}

void TIniSettings::writeBool(const QString &section, const QString &key, bool value)
{
    m_pendingKeys.append({section, key});
    m_pendingValues.append(value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool TIniSettings::commit()
{
    QSettings settings(m_fileName, QSettings::IniFormat);
    for (int i = 0; i < m_pendingKeys.size(); ++i) {
        const QString &section = m_pendingKeys.at(i).first;
        const QString &key = m_pendingKeys.at(i).second;
        // A key written by hand in another letter case would otherwise stay ahead of ours.
        for (const QString &group : settings.childGroups()) {
            if (group.compare(section, Qt::CaseInsensitive) != 0)
                continue;
            settings.beginGroup(group);
            for (const QString &existing : settings.childKeys())
                if (existing.compare(key, Qt::CaseInsensitive) == 0 && (existing != key || group != section))
                    settings.remove(existing);
            settings.endGroup();
        }
        settings.setValue(section + QLatin1Char('/') + key, m_pendingValues.at(i));
    }
    m_pendingKeys.clear();
    m_pendingValues.clear();
    settings.sync();
    return settings.status() == QSettings::NoError;
}
