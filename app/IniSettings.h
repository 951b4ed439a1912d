#pragma once

#include <QHash>
#include <QString>
#include <QtGlobal>

// The program's settings file, sections of "key=value" lines. Reading looks at the file's raw
// text (as the program has always read it: case-insensitive names, first entry wins, blanks and
// one pair of quotes around a value dropped); writing goes through QSettings, which replaces the
// file atomically.
class TIniSettings
{
public:
    // Longer values are cut to this many characters when read.
    static constexpr int MaxValueLength = 2047;

    // Reads the file once; a missing or unreadable file reads as empty.
    explicit TIniSettings(const QString &fileName);

    QString fileName() const { return m_fileName; }

    // The raw text of a key, null when the section or key is missing.
    QString readString(const QString &section, const QString &key) const;
    // An integer in decimal or hexadecimal; the default when missing or not a number.
    qint32 readInteger(const QString &section, const QString &key, qint32 defaultValue) const;
    // Read as an integer whose default is 1 or 0; anything but 0 is true.
    bool readBool(const QString &section, const QString &key, bool defaultValue) const;

    // The reading rule for integers: optional leading blanks, an optional sign, then decimal
    // digits, or hexadecimal digits after "0x", "0X", "$", "x" or "X". Decimal must fit a signed
    // 32-bit number, hexadecimal 32 bits (so "$FFFFFFFF" is -1). Nothing may follow the digits.
    static bool parseInteger(const QString &text, qint32 &value);

    // Writing: values are collected, then written together by commit().
    void writeInteger(const QString &section, const QString &key, qint32 value);
    void writeBool(const QString &section, const QString &key, bool value);
    // Writes the collected values, keeping the file's other entries. False when the file could
    // not be written; the old file is then left as it was.
    bool commit();

private:
    static QString lookupKey(const QString &section, const QString &key);

    QString m_fileName;
    QHash<QString, QString> m_values;   // "section\nkey" in lower case -> raw value
    QList<std::pair<QString, QString>> m_pendingKeys;  // section, key in write order
    QList<QString> m_pendingValues;
};
