#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <functional>

class QKeyEvent;
class QListWidget;
class QPushButton;
class TfrmImage;

// Offers every image never saved, when the program exits or all image windows are closed:
// save the checked ones, close without saving, or cancel the close.
class TfrmUnsavedImages : public QDialog
{
    Q_OBJECT

public:
    enum OutcomeValue { CloseWithoutSaving = 0, CancelClose = 1, SaveSelected = 2 };

    explicit TfrmUnsavedImages(QWidget *parent = nullptr);

    // True when the close under way may proceed, false when it is to be abandoned.
    // The caller passes all open image windows, most recently active first.
    bool QueryUnsavedImages(const QList<TfrmImage *> &windowsMostRecentFirst);

    // The image window a row of the list stands for (null when out of range or already gone).
    TfrmImage *windowForRow(int row) const;

    // The outcome of the last showing: 0 close without saving, 1 cancel, 2 save the checked images.
    int outcome() const { return m_outcome; }

    // Test hook: when set, it is called with the filled dialog instead of showing it, and answers
    // as a user would (unchecking rows, clicking a button). An empty function removes the hook.
    using AnswerHandler = std::function<void(TfrmUnsavedImages &dialog)>;
    static void setAnswerHandler(AnswerHandler handler);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void saveSelectedClick();
    void closeWithoutSavingClick();
    void cancelClick();
    void clearSkipSaveQuery();

    // The parts carry the dialog's own names as object names: GroupBox1, chkUnsavedImages,
    // Label1, Button1 (save selected), Button2 (close without saving) and btnCancel.
    QListWidget *m_list = nullptr;
    QPushButton *m_saveSelected = nullptr;
    QPushButton *m_cancel = nullptr;
    int m_outcome = CancelClose;

    // All open image windows of the current query (a cancel clears the flags of each), and the
    // window each row stands for.
    QList<QPointer<TfrmImage>> m_openWindows;
    QList<QPointer<TfrmImage>> m_rowWindows;
};

// Created once at start-up and reused for every showing.
extern TfrmUnsavedImages *frmUnsavedImages;
