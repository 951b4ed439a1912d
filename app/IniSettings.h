#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// The program's settings file, sections of "key=value" lines. Names are matched without regard
// to letter case and the first entry of a key counts; blanks and one pair of quotes around a value
// are dropped. Writing changes only the program's own keys and keeps every other byte as it was
// (a hand-edited file may hold anything, in any encoding), and replaces the file atomically.
class TIniSettings
{
public:
    // Longer values are cut to this many characters when read.
    static constexpr int MaxValueLength = 2047;
    // A larger file is no settings file of ours and reads as absent.
    static constexpr qint64 MaxFileSize = 1024 * 1024;

    // Reads the file once. A missing or unreadable file, one that is not a regular file (a FIFO,
    // a device, a folder) or one larger than MaxFileSize reads as empty.
    explicit TIniSettings(const QString &fileName);

    // The raw text of a key, null when the section or key is missing.
    QString readString(const QString &section, const QString &key) const;
    // An integer in decimal or hexadecimal; the default when missing, not a number, or too large
    // for 32 bits.
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
    // could not be written, or when something other than a regular file stands at its name
    // (that is never replaced); the old file is then left as it was.
    bool commit();

private:
    static QByteArray sectionOf(const QByteArray &line);   // null when the line is no section header
    static QByteArray keyOf(const QByteArray &line);       // null when the line holds no key
    static QByteArray valueOf(const QByteArray &line);     // the value of a key's line, as stored
    void setLine(const QString &section, const QString &key, const QString &value);

    QString m_fileName;
    // The file as read, split at its line feeds; each line keeps its own carriage return and
    // bytes, so whatever the program does not write goes back out exactly as it came in.
    QList<QByteArray> m_lines;
    bool m_endsWithLineFeed = true;  // a file without a final line feed is saved without one
};
