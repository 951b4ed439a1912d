#pragma once

#include <QLabel>

// A one-line status panel that never cuts a message off: a text too long for the panel ends in
// "…" and the whole text is the panel's tooltip. text() is always the whole text.
class TElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit TElidedLabel(QWidget *parent = nullptr);

    // Hides QLabel::setText: every write goes through here, so the tooltip follows the text.
    void setText(const QString &text);
    void clear();
    bool elided() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QRect textRoom() const;
    QString shownText() const;
    void updateToolTip();
};
