#include "UnsavedImages.h"

#include "ImageForm.h"

#include <QBoxLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <utility>

TfrmUnsavedImages *frmUnsavedImages = nullptr;

namespace {

// The dialog's size and the spacing of its parts at 100 %, in pixels.
constexpr QSize ClientSize{448, 217};
constexpr QMargins DialogMargins{8, 8, 7, 8};
constexpr int GroupToButtons = 7;
constexpr QPoint ListOrigin{8, 16};  // in the frame; the list keeps as far from its right side
constexpr int NoteGap = 3;
constexpr int RowHeight = 13;
constexpr QSize ButtonSize{129, 25};
constexpr int ButtonGap = 23;

TfrmUnsavedImages::AnswerHandler &answerHandler()
{
    static TfrmUnsavedImages::AnswerHandler handler;
    return handler;
}

} // namespace

TfrmUnsavedImages::TfrmUnsavedImages(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Unsaved Images."));
    setFixedSize(ClientSize);
    setModal(true);

    // The frame with the list and the note above, the three buttons in a row below.
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(DialogMargins);
    layout->setSpacing(GroupToButtons);

    auto *group = new QGroupBox(QStringLiteral("Unsaved images."), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    // The list starts at (8, 16) in the frame, whatever the style draws around the frame's inside.
    const QMargins frame = group->contentsMargins();
    auto *groupLayout = new QVBoxLayout(group);
    groupLayout->setContentsMargins(qMax(0, ListOrigin.x() - frame.left()), qMax(0, ListOrigin.y() - frame.top()),
                                    qMax(0, ListOrigin.x() - frame.right()), NoteGap);
    groupLayout->setSpacing(NoteGap);
    m_list = new QListWidget(group);
    m_list->setObjectName(QStringLiteral("chkUnsavedImages"));
    m_list->setUniformItemSizes(true);
    groupLayout->addWidget(m_list, 1);
    auto *note = new QLabel(QStringLiteral("Un-checked images will be lost."), group);
    note->setObjectName(QStringLiteral("Label1"));
    groupLayout->addWidget(note);
    layout->addWidget(group, 1);

    auto makeButton = [this](const char *name, const QString &caption) {
        auto *button = new QPushButton(caption, this);
        button->setObjectName(QLatin1String(name));
        button->setFixedSize(ButtonSize);
        return button;
    };
    m_saveSelected = makeButton("Button1", QStringLiteral("Save selected files"));
    auto *closeWithoutSaving = makeButton("Button2", QStringLiteral("Close without saving"));
    m_cancel = makeButton("btnCancel", QStringLiteral("Cancel"));
    m_cancel->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(ButtonGap);
    buttons->addWidget(m_saveSelected);
    buttons->addWidget(closeWithoutSaving);
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    layout->addLayout(buttons);

    setTabOrder(m_saveSelected, closeWithoutSaving);
    setTabOrder(closeWithoutSaving, m_cancel);
    setTabOrder(m_cancel, m_list);

    connect(m_saveSelected, &QPushButton::clicked, this, &TfrmUnsavedImages::saveSelectedClick);
    connect(closeWithoutSaving, &QPushButton::clicked, this, &TfrmUnsavedImages::closeWithoutSavingClick);
    connect(m_cancel, &QPushButton::clicked, this, &TfrmUnsavedImages::cancelClick);
}

void TfrmUnsavedImages::setAnswerHandler(AnswerHandler handler)
{
    answerHandler() = std::move(handler);
}

TfrmImage *TfrmUnsavedImages::windowForRow(int row) const
{
    return row >= 0 && row < m_rowWindows.size() ? m_rowWindows.at(row).data() : nullptr;
}

bool TfrmUnsavedImages::QueryUnsavedImages(const QList<TfrmImage *> &windowsMostRecentFirst)
{
    m_openWindows.clear();
    for (TfrmImage *window : windowsMostRecentFirst) {
        if (window)
            m_openWindows.append(window);
    }
    if (m_openWindows.isEmpty())
        return true;

    m_list->clear();
    m_rowWindows.clear();
    // Rows as tall as the design asks, but never cutting the text of a larger system font.
    const int rowHeight = qMax(RowHeight, m_list->fontMetrics().height());
    for (const QPointer<TfrmImage> &window : std::as_const(m_openWindows)) {
        if (window->saved())
            continue;
        auto *row = new QListWidgetItem(window->imageName(), m_list);
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        row->setCheckState(Qt::Checked);
        row->setSizeHint(QSize(m_list->fontMetrics().horizontalAdvance(row->text()) + 2 * rowHeight,
                               rowHeight));
        m_rowWindows.append(window);
    }
    if (m_rowWindows.isEmpty())
        return true;

    // Each showing starts as a cancel; only the two other buttons change that. It also starts on
    // "Save selected files", wherever the focus was left the last time, so Enter and Space
    // always mean the same.
    m_outcome = CancelClose;
    m_saveSelected->setFocus();
    if (answerHandler())
        answerHandler()(*this);
    else
        exec();

    switch (m_outcome) {
    case CloseWithoutSaving:
        return true;
    case SaveSelected:
        for (int row = 0; row < m_list->count(); ++row) {
            if (m_list->item(row)->checkState() != Qt::Checked)
                continue;
            TfrmImage *window = windowForRow(row);
            if (window && !window->SaveImage()) {
                clearSkipSaveQuery();
                return false;
            }
        }
        return true;
    default:
        clearSkipSaveQuery();
        return false;
    }
}

void TfrmUnsavedImages::saveSelectedClick()
{
    m_outcome = SaveSelected;
    accept();
}

void TfrmUnsavedImages::closeWithoutSavingClick()
{
    m_outcome = CloseWithoutSaving;
    accept();
}

void TfrmUnsavedImages::cancelClick()
{
    m_outcome = CancelClose;
    reject();
}

void TfrmUnsavedImages::keyPressEvent(QKeyEvent *event)
{
    // Esc is the Cancel button, not just a dismissal.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        m_cancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmUnsavedImages::clearSkipSaveQuery()
{
    for (const QPointer<TfrmImage> &window : std::as_const(m_openWindows)) {
        if (window)
            window->setSkipSaveQuery(false);
    }
}
