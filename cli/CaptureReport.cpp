#include "CaptureReport.h"

#include "qzMeterCOM.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <unistd.h>

namespace {

constexpr int BarWidth = 30;

// Seconds the rest of a read takes at the line's speed.
int secondsLeft(qint64 done, qint64 maximum)
{
    return int(double(maximum - done) / MeterProtocol::LineBytesPerSecond + 0.5);
}

QString minutesAndSeconds(int seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

CaptureReport::CaptureReport(QTextStream &out, QTextStream &err, bool infoOnError)
    : m_out(out), m_err(err), m_infoOnError(infoOnError), m_terminal(::isatty(STDERR_FILENO) == 1)
{
}

void CaptureReport::info(const QString &label, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    writeLines(m_infoOnError ? m_err : m_out, label, text);
}

void CaptureReport::error(const QString &label, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    writeLines(m_err, label, text);
}

void CaptureReport::json(const QJsonObject &object)
{
    QMutexLocker lock(&m_mutex);
    clearProgress();
    m_out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
    m_out.flush();
    drawProgress();
}

void CaptureReport::progressStarted(const QString &label, qint64 maximum)
{
    QMutexLocker lock(&m_mutex);
    m_reads.insert(label, {0, maximum});
    drawProgress();
}

void CaptureReport::progressStep(const QString &label, qint64 step)
{
    QMutexLocker lock(&m_mutex);
    const auto read = m_reads.find(label);
    if (read == m_reads.end())
        return;
    read->done = qMin(read->maximum, read->done + step);
    drawProgress();
}

// The last read leaves its full bar on the terminal; an earlier one leaves the shared line.
void CaptureReport::progressFinished(const QString &label)
{
    QMutexLocker lock(&m_mutex);
    if (!m_reads.contains(label))
        return;
    if (m_reads.size() == 1) {
        if (m_terminal && !m_shown.isEmpty()) {
            m_err << '\n';
            m_err.flush();
        }
        m_shown.clear();
    }
    m_reads.remove(label);
    drawProgress();
}

// Each line of a labelled text is led by its label, so a port's lines can be picked out.
void CaptureReport::writeLines(QTextStream &stream, const QString &label, const QString &text)
{
    if (text.isEmpty())
        return;
    clearProgress();
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (!label.isEmpty() && !line.isEmpty())
            stream << label << ": ";
        stream << line << '\n';
    }
    stream.flush();
    drawProgress();
}

void CaptureReport::clearProgress()
{
    if (!m_terminal || m_shown.isEmpty())
        return;
    m_err << "\r\x1b[K";
    m_err.flush();
    m_shown.clear();
}

void CaptureReport::drawProgress()
{
    if (!m_terminal || m_reads.isEmpty())
        return;
    const QString text = progressText();
    if (text == m_shown)
        return;
    m_shown = text;
    m_err << '\r' << text << "\x1b[K";
    m_err.flush();
}

// One read: a bar with bytes, percent and time left. Several: each port's percent and the
// longest time left.
QString CaptureReport::progressText() const
{
    if (m_reads.size() == 1 && m_reads.firstKey().isEmpty()) {
        const Read read = m_reads.first();
        if (read.maximum <= 0)
            return QString();
        const int filled = int(BarWidth * read.done / read.maximum);
        return QStringLiteral("[%1%2] %3/%4 bytes %5% %6 left")
            .arg(QString(filled, QLatin1Char('#')), QString(BarWidth - filled, QLatin1Char('.')))
            .arg(read.done)
            .arg(read.maximum)
            .arg(int(100 * read.done / read.maximum), 3)
            .arg(minutesAndSeconds(secondsLeft(read.done, read.maximum)));
    }
    QStringList parts;
    int longest = 0;
    for (auto read = m_reads.cbegin(); read != m_reads.cend(); ++read) {
        if (read->maximum <= 0)
            continue;
        parts.append(QStringLiteral("%1 %2%").arg(read.key()).arg(int(100 * read->done / read->maximum), 3));
        longest = qMax(longest, secondsLeft(read->done, read->maximum));
    }
    return parts.join(QStringLiteral("  ")) + QStringLiteral("  %1 left").arg(minutesAndSeconds(longest));
}
