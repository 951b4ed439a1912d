#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The program's settings file, sections of "key=value" lines. Names are matched without regard
// to letter case and the first entry of a key counts; blanks and one pair of quotes around a value
// are dropped. Writing changes only the program's own keys, keeps every other line as it was
// (a hand-edited file may hold anything), and replaces the file atomically.
class TIniSettings
{
public:
    // Longer values are cut to this many characters when read.
    static constexpr int MaxValueLength = 2047;

    // Reads the file once; a missing or unreadable file reads as empty.
    explicit TIniSettings(const QString &fileName);

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
    // A text such as a folder; quoted when blanks or quotes at its ends would be lost in reading.
    // False, and nothing written, for a text with a line break, which would break the file.
    bool writeString(const QString &section, const QString &key, const QString &value);
    // Writes the collected values into the file as read at construction. False when the file
    // could not be written; the old file is then left as it was.
    bool commit();

private:
    static QString sectionOf(const QString &line);   // null when the line is no section header
    static QString keyOf(const QString &line);       // null when the line holds no key
    static QString valueOf(const QString &line);     // the value of a key's line, as read
    void setLine(const QString &section, const QString &key, const QString &value);

    QString m_fileName;
    QStringList m_lines;   // the file as read, line by line, with the values written since
};
