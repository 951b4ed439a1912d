#pragma once

#include <QMap>
#include <QMutex>
#include <QString>
#include <QTextStream>

class QJsonObject;

// What `snaploom capture` tells its user, from any thread: results and messages on the two
// streams, JSON lines, and the image reads' progress on a terminal. With several instruments at
// once every line is led by its port ("COM5: ...") and one progress line shows every read.
class CaptureReport
{
public:
    // infoOnError: results go to standard error too, because standard output carries the
    // picture or the JSON lines.
    CaptureReport(QTextStream &out, QTextStream &err, bool infoOnError);

    void info(const QString &label, const QString &text);
    void error(const QString &label, const QString &text);
    void json(const QJsonObject &object);   // one line on standard output

    void progressStarted(const QString &label, qint64 maximum);
    void progressStep(const QString &label, qint64 step);
    void progressFinished(const QString &label);

private:
    struct Read
    {
        qint64 done = 0;
        qint64 maximum = 0;
    };

    void writeLines(QTextStream &stream, const QString &label, const QString &text);
    void clearProgress();
    void drawProgress();
    QString progressText() const;

    QMutex m_mutex;
    QTextStream &m_out;
    QTextStream &m_err;
    bool m_infoOnError;
    bool m_terminal;
    QMap<QString, Read> m_reads;   // the running image reads by label
    QString m_shown;               // the progress line on the terminal now
};
