#include "UnsavedImages.h"

#include "ImageForm.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <utility>

TfrmUnsavedImages *frmUnsavedImages = nullptr;

namespace {

const QString DialogTitle = QStringLiteral("Unsaved Images.");
const QString GroupCaption = QStringLiteral("Unsaved images.");
const QString NoteCaption = QStringLiteral("Un-checked images will be lost.");
const QString SaveCaption = QStringLiteral("Save selected files");
const QString DiscardCaption = QStringLiteral("Close without saving");
const QString CancelCaption = QStringLiteral("Cancel");

constexpr int ClientWidth = 448;
constexpr int ClientHeight = 217;
constexpr int RowHeight = 13;

TfrmUnsavedImages::AnswerHandler &answerHandler()
{
    static TfrmUnsavedImages::AnswerHandler handler;
    return handler;
}

} // namespace

TfrmUnsavedImages::TfrmUnsavedImages(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(DialogTitle);
    setFixedSize(ClientWidth, ClientHeight);
    setModal(true);

    GroupBox1 = new QGroupBox(GroupCaption, this);
    GroupBox1->setGeometry(8, 8, 433, 169);

    chkUnsavedImages = new QListWidget(GroupBox1);
    chkUnsavedImages->setGeometry(8, 16, 417, 129);
    chkUnsavedImages->setUniformItemSizes(true);

    Label1 = new QLabel(NoteCaption, GroupBox1);
    Label1->move(8, 148);
    Label1->adjustSize();

    Button1 = new QPushButton(SaveCaption, this);
    Button1->setGeometry(8, 184, 129, 25);
    Button2 = new QPushButton(DiscardCaption, this);
    Button2->setGeometry(160, 184, 129, 25);
    btnCancel = new QPushButton(CancelCaption, this);
    btnCancel->setGeometry(312, 184, 129, 25);
    btnCancel->setDefault(true);

    setTabOrder(Button1, Button2);
    setTabOrder(Button2, btnCancel);
    setTabOrder(btnCancel, chkUnsavedImages);

    // Found by these names, as the windows' parts are.
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    chkUnsavedImages->setObjectName(QStringLiteral("chkUnsavedImages"));
    Label1->setObjectName(QStringLiteral("Label1"));
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2->setObjectName(QStringLiteral("Button2"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    connect(Button1, &QPushButton::clicked, this, &TfrmUnsavedImages::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TfrmUnsavedImages::Button2Click);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmUnsavedImages::btnCancelClick);
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

    chkUnsavedImages->clear();
    m_rowWindows.clear();
    // Rows as tall as the design asks, but never cutting the text of a larger system font.
    const int rowHeight = qMax(RowHeight, chkUnsavedImages->fontMetrics().height());
    for (const QPointer<TfrmImage> &window : std::as_const(m_openWindows)) {
        if (window->Saved)
            continue;
        auto *row = new QListWidgetItem(window->imageName(), chkUnsavedImages);
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        row->setCheckState(Qt::Checked);
        row->setSizeHint(QSize(chkUnsavedImages->fontMetrics().horizontalAdvance(row->text()) + 2 * rowHeight,
                               rowHeight));
        m_rowWindows.append(window);
    }
    if (m_rowWindows.isEmpty())
        return true;

    // Each showing starts as a cancel; only the two other buttons change that. It also starts on
    // "Save selected files", wherever the focus was left the last time, so Enter and Space
    // always mean the same.
    Outcome = CancelClose;
    Button1->setFocus();
    if (answerHandler())
        answerHandler()(*this);
    else
        exec();

    switch (Outcome) {
    case CloseWithoutSaving:
        return true;
    case SaveSelected:
        for (int row = 0; row < chkUnsavedImages->count(); ++row) {
            if (chkUnsavedImages->item(row)->checkState() != Qt::Checked)
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

void TfrmUnsavedImages::Button1Click()
{
    Outcome = SaveSelected;
    accept();
}

void TfrmUnsavedImages::Button2Click()
{
    Outcome = CloseWithoutSaving;
    accept();
}

void TfrmUnsavedImages::btnCancelClick()
{
    Outcome = CancelClose;
    reject();
}

void TfrmUnsavedImages::keyPressEvent(QKeyEvent *event)
{
    // Esc is the Cancel button, not just a dismissal.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        btnCancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmUnsavedImages::clearSkipSaveQuery()
{
    for (const QPointer<TfrmImage> &window : std::as_const(m_openWindows)) {
        if (window)
            window->SkipSaveQuery = false;
    }
}
