#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// What a picture's file name is made from: the instrument, its port, when and which capture.
struct NameFields
{
    qint32 serialNumber = 0;
    QString model;           // the instrument's type, such as "Corvane Alvo"
    QString port;            // "COM5"; the device's name where no COM number names the port
    QDateTime capturedAt;    // the end of the capture; named in local time
    int captureNumber = 1;   // from 1
};

// A file name with fields, shared by the desktop program's proposed names, Save All, auto-save and
// `snaploom capture -o`: {serial}, {model} (spaces as '-'), {port}, {date} (YYYYMMDD), {time}
// (HHMMSS) and {n}. A '/' in the template separates folders; whatever the instrument or the user
// puts into a field stays inside its one file name.
class NameTemplate
{
public:
    explicit NameTemplate(const QString &text);

    // Why the template cannot make names (an unknown field, no file name at its end); empty when
    // it can.
    QString problem() const;
    // Whether names made from it tell one instrument's pictures from another's ({port} or {serial}).
    bool namesEachInstrument() const;

    // The path for one capture: relative paths stay relative.
    QString expand(const NameFields &fields) const;

    // The fields as they are written, for messages: "{serial}, {model}, ...".
    static QString fieldNames();

    // path itself when nothing is there, else the first of path-2, path-3 ... (before the suffix)
    // that is free. Only a file, or a link, counts as taken: a FIFO or a device is written into,
    // and a folder is reported by whoever writes.
    static QString freePath(const QString &path);
    // The same, and the free name is claimed at once by creating it empty, so two writers at the
    // same time (threads or programs) never pick one name. The caller replaces the empty file or
    // removes it. Empty, with the reason in error, when nothing could be claimed.
    static QString claimFreePath(const QString &path, QString *error);
    // Takes back a claim whose picture did not follow: the empty file goes; anything else there
    // (a picture after all, a FIFO, a link) stays.
    static void releaseClaim(const QString &path);
    // Makes the folders path lies in. False with the reason in error.
    static bool makeFolders(const QString &path, QString *error);

    // path with "-number" before its suffix: "shots/a.png" -> "shots/a-2.png".
    static QString numbered(const QString &path, int number);

private:
    QString m_text;
};
