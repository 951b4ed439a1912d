#include "ElidedLabel.h"

#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace {

QString oneLine(QString text)
{
    // Line breaks of a message show as blanks on the one line there is.
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

} // namespace

TElidedLabel::TElidedLabel(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    // The panel keeps the width the layout gives it, whatever the text's length.
    setMinimumWidth(0);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void TElidedLabel::setText(const QString &text)
{
    QLabel::setText(text);
    updateToolTip();
}

void TElidedLabel::clear()
{
    setText(QString());
}

// The text's room: inside the frame, less the label's margin and its indent (as QLabel works it
// out: half an "x" beside a frame when none is set).
QRect TElidedLabel::textRoom() const
{
    const int pad = margin() + (indent() >= 0 ? indent()
                                : frameWidth() > 0 ? fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 : 0);
    return contentsRect().adjusted(pad, margin(), -pad, -margin());
}

QString TElidedLabel::shownText() const
{
    return fontMetrics().elidedText(oneLine(text()), Qt::ElideRight, std::max(textRoom().width(), 0));
}

bool TElidedLabel::elided() const
{
    return shownText() != oneLine(text());
}

void TElidedLabel::updateToolTip()
{
    setToolTip(elided() ? text() : QString());
}

void TElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    updateToolTip();
}

void TElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, textRoom(), int(alignment()), palette(), isEnabled(), shownText(), foregroundRole());
}
