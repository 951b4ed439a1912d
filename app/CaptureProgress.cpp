#include "CaptureProgress.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QShortcut>
#include <QToolButton>
#include <algorithm>
#include <climits>

namespace {

const QString CancelCaption = QStringLiteral("Cancel");
const QString TimeLeft = QStringLiteral("%1% - %2:%3 left");
const QString PercentOnly = QStringLiteral("%1%");

// The rate is judged once the bytes have run this long; the first ones come after the
// instrument's reply delay and say little about the line's speed.
constexpr qint64 EstimateAfterMs = 1000;

// The bar's text for a part done and the seconds left (negative while unknown).
QString progressText(int percent, qint64 secondsLeft)
{
    if (secondsLeft < 0)
        return PercentOnly.arg(percent);
    return TimeLeft.arg(percent).arg(secondsLeft / 60).arg(secondsLeft % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

TCaptureProgress::TCaptureProgress(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("CaptureProgress"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("pbMain"));
    m_bar->setTextVisible(true);
    m_bar->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_bar, 1);

    m_cancel = new QToolButton(this);
    m_cancel->setObjectName(QStringLiteral("btnCancelCapture"));
    m_cancel->setText(CancelCaption);
    m_cancel->setToolTip(CancelCaption + QStringLiteral(" (Esc)"));
    m_cancel->setFocusPolicy(Qt::NoFocus);
    // A window shortcut acts only while its widget is shown, so Esc cancels only a read. It
    // clicks at once; the button's own shortcut would click only after its press animation.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, m_cancel, &QToolButton::click);
    layout->addWidget(m_cancel);
    // The read ends once the instrument has sent the rest of its reply; one request is enough.
    connect(m_cancel, &QToolButton::clicked, this, [this] {
        m_cancel->setEnabled(false);
        emit cancelRequested();
    });

    hide();
}

void TCaptureProgress::start(qint64 maximum)
{
    m_bar->setRange(0, int(std::clamp<qint64>(maximum, 1, INT_MAX)));
    m_bar->setValue(0);
    m_firstBytes = 0;
    m_sinceFirstBytes.invalidate();
    updateText();
    m_cancel->show();
    m_cancel->setEnabled(true);
    show();
}

void TCaptureProgress::advance(qint64 step)
{
    if (step <= 0)
        return;
    const qint64 value = std::min<qint64>(m_bar->maximum(), qint64(m_bar->value()) + step);
    m_bar->setValue(int(value));
    if (!m_sinceFirstBytes.isValid()) {
        m_sinceFirstBytes.start();
        m_firstBytes = value;
    }
    updateText();
}

void TCaptureProgress::finish()
{
    m_bar->setValue(m_bar->maximum());
    m_cancel->hide();
    hide();
}

void TCaptureProgress::updateText()
{
    const qint64 maximum = m_bar->maximum();
    const qint64 value = m_bar->value();
    const int percent = int(value * 100 / std::max<qint64>(maximum, 1));
    qint64 secondsLeft = -1;
    const qint64 elapsedMs = m_sinceFirstBytes.isValid() ? m_sinceFirstBytes.elapsed() : 0;
    const qint64 since = value - m_firstBytes;
    if (elapsedMs >= EstimateAfterMs && since > 0)
        secondsLeft = ((maximum - value) * elapsedMs / since + 999) / 1000;
    // The text holds no placeholder of the bar's own format ("%p", "%v", "%m").
    m_bar->setFormat(progressText(percent, secondsLeft));
}
