#include "Dialogs.h"
#include "ImageForm.h"
#include "UnsavedImages.h"

#include <QListWidget>
#include <QMdiArea>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "TestHome.h"

// How the user leaves the dialog.
enum class Leave { SaveSelected, CloseWithoutSaving, CancelButton, EscapeKey, CloseBox };
Q_DECLARE_METATYPE(Leave)

class TestUnsavedImages : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dialogLayout();
    void nothingToAskProceedsWithoutShowing_data();
    void nothingToAskProceedsWithoutShowing();
    void listsUnsavedMostRecentFirst();
    void cancellingKeepsEverythingAndClearsExitFlags_data();
    void cancellingKeepsEverythingAndClearsExitFlags();
    void closeWithoutSavingProceeds();
    void savesCheckedRowsOnly();
    void cancelledSaveStopsAtThatRow();
    void failedWriteStopsTheClose();
    void dialogIsReusedWithFreshRows();

private:
    TfrmImage *newWindow(const QString &title);
    // Runs the query with the real modal dialog, answered from the event loop while it is shown.
    bool queryAnswering(const QList<TfrmImage *> &windows, Leave leave, const QList<int> &uncheckRows = {});

    TestHome m_home;
    QTemporaryDir m_dir;
    QMdiArea *m_area = nullptr;
    TfrmUnsavedImages *m_dialog = nullptr;
    QStringList m_rowsShown;
    bool m_dialogShown = false;
    QStringList m_proposedNames;
    QStringList m_fileNames; // answers of the save dialogs, in turn; empty = cancel
    QStringList m_messages;
};

void TestUnsavedImages::init()
{
    m_area = new QMdiArea;
    m_area->resize(800, 600);
    m_area->show();
    m_dialog = new TfrmUnsavedImages(m_area);
    frmUnsavedImages = m_dialog;
    m_rowsShown.clear();
    m_dialogShown = false;
    m_proposedNames.clear();
    m_fileNames.clear();
    m_messages.clear();
    Dialogs::setSaveFileHandler([this](const QString &proposed, const QStringList &, const QString &) {
        m_proposedNames << proposed;
        return m_fileNames.isEmpty() ? QString() : m_fileNames.takeFirst();
    });
    Dialogs::setMessageHandler([this](Dialogs::MessageKind, const QString &text, QMessageBox::StandardButtons) {
        m_messages << text;
        return QMessageBox::Ok;
    });
}

void TestUnsavedImages::cleanup()
{
    for (QMdiSubWindow *window : m_area->subWindowList()) {
        if (auto *image = qobject_cast<TfrmImage *>(window))
            image->SkipSaveQuery = true;
    }
    delete m_area; // and the dialog with it
    m_area = nullptr;
    frmUnsavedImages = nullptr;
    Dialogs::setSaveFileHandler({});
    Dialogs::setMessageHandler({});
}

TfrmImage *TestUnsavedImages::newWindow(const QString &title)
{
    auto *window = new TfrmImage;
    m_area->addSubWindow(window);
    QImage picture(16, 12, QImage::Format_RGB32);
    picture.fill(qRgb(10, 120, 200));
    window->setPicture(picture);
    window->setWindowTitle(title);
    window->show();
    return window;
}

bool TestUnsavedImages::queryAnswering(const QList<TfrmImage *> &windows, Leave leave,
                                       const QList<int> &uncheckRows)
{
    QTimer::singleShot(0, m_dialog, [this, leave, uncheckRows] {
        m_dialogShown = m_dialog->isVisible();
        for (int row = 0; row < m_dialog->chkUnsavedImages->count(); ++row) {
            QListWidgetItem *item = m_dialog->chkUnsavedImages->item(row);
            m_rowsShown << item->text();
            QCOMPARE(item->checkState(), Qt::Checked); // every row starts checked
        }
        for (int row : uncheckRows)
            m_dialog->chkUnsavedImages->item(row)->setCheckState(Qt::Unchecked);
        switch (leave) {
        case Leave::SaveSelected:
            QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
            break;
        case Leave::CloseWithoutSaving:
            QTest::mouseClick(m_dialog->Button2, Qt::LeftButton);
            break;
        case Leave::CancelButton:
            QTest::mouseClick(m_dialog->btnCancel, Qt::LeftButton);
            break;
        case Leave::EscapeKey:
            QTest::keyClick(m_dialog, Qt::Key_Escape);
            break;
        case Leave::CloseBox:
            m_dialog->close();
            break;
        }
    });
    // A dialog left open would hang the test; close it as a last resort.
    QTimer::singleShot(20000, m_dialog, [this] { m_dialog->done(QDialog::Rejected); });
    return m_dialog->QueryUnsavedImages(windows);
}

void TestUnsavedImages::dialogLayout()
{
    // The user cannot resize it; Enter means Cancel unless another button has the focus.
    QCOMPARE(m_dialog->size(), QSize(448, 217));
    QCOMPARE(m_dialog->minimumSize(), m_dialog->maximumSize());
    QVERIFY(m_dialog->btnCancel->isDefault());
    QCOMPARE(m_dialog->Button1->nextInFocusChain(), m_dialog->Button2);
}

void TestUnsavedImages::nothingToAskProceedsWithoutShowing_data()
{
    QTest::addColumn<int>("windows");
    QTest::addColumn<bool>("allSaved");

    QTest::newRow("no image window") << 0 << false;
    QTest::newRow("all saved") << 2 << true;
}

void TestUnsavedImages::nothingToAskProceedsWithoutShowing()
{
    QFETCH(int, windows);
    QFETCH(bool, allSaved);

    QList<TfrmImage *> open;
    for (int i = 0; i < windows; ++i) {
        open << newWindow(QStringLiteral("New image %1").arg(i + 1));
        open.last()->Saved = allSaved;
    }
    bool shown = false;
    TfrmUnsavedImages::setAnswerHandler([&shown](TfrmUnsavedImages &dialog) {
        shown = true;
        dialog.btnCancel->click();
    });

    const bool proceeds = m_dialog->QueryUnsavedImages(open);
    TfrmUnsavedImages::setAnswerHandler({});

    QVERIFY(proceeds);
    QVERIFY(!shown);
    QVERIFY(m_proposedNames.isEmpty());
}

void TestUnsavedImages::listsUnsavedMostRecentFirst()
{
    TfrmImage *first = newWindow(QStringLiteral("New image 1"));
    TfrmImage *second = newWindow(QStringLiteral("/tmp/kept.BMP"));
    second->Saved = true;
    TfrmImage *third = newWindow(QStringLiteral("New image 3"));

    QVERIFY(queryAnswering({third, second, first}, Leave::CloseWithoutSaving));

    QVERIFY(m_dialogShown);
    QCOMPARE(m_rowsShown, (QStringList{QStringLiteral("New image 3"), QStringLiteral("New image 1")}));
    QCOMPARE(m_dialog->windowForRow(0), third);
    QCOMPARE(m_dialog->windowForRow(1), first);
}

void TestUnsavedImages::cancellingKeepsEverythingAndClearsExitFlags_data()
{
    QTest::addColumn<Leave>("leave");

    QTest::newRow("Cancel button") << Leave::CancelButton;
    QTest::newRow("Esc") << Leave::EscapeKey;
    QTest::newRow("close box") << Leave::CloseBox;
}

void TestUnsavedImages::cancellingKeepsEverythingAndClearsExitFlags()
{
    QFETCH(Leave, leave);

    QList<TfrmImage *> open{newWindow(QStringLiteral("New image 2")), newWindow(QStringLiteral("saved.BMP")),
                            newWindow(QStringLiteral("New image 1"))};
    open[1]->Saved = true;
    for (TfrmImage *window : open)
        window->SkipSaveQuery = true; // as the main window sets them while exiting

    QVERIFY(!queryAnswering(open, leave));

    QCOMPARE(m_dialog->Outcome, int(TfrmUnsavedImages::CancelClose));
    for (TfrmImage *window : open) {
        QVERIFY(!window->SkipSaveQuery); // the saved one too: every open window
        QVERIFY(window->isVisible());
    }
    QVERIFY(!open[0]->Saved);
    QVERIFY(m_proposedNames.isEmpty());

    // Closing one by itself asks its own question again.
    open[0]->close();
    QCOMPARE(m_messages, QStringList{QStringLiteral("Would you like to save the image 'New image 2'?")});
}

void TestUnsavedImages::closeWithoutSavingProceeds()
{
    QList<TfrmImage *> open{newWindow(QStringLiteral("New image 2")), newWindow(QStringLiteral("New image 1"))};

    QVERIFY(queryAnswering(open, Leave::CloseWithoutSaving));

    QCOMPARE(m_dialog->Outcome, int(TfrmUnsavedImages::CloseWithoutSaving));
    QVERIFY(m_proposedNames.isEmpty());
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files).size(), 0);
}

void TestUnsavedImages::savesCheckedRowsOnly()
{
    QList<TfrmImage *> open{newWindow(QStringLiteral("New image 3")), newWindow(QStringLiteral("New image 2")),
                            newWindow(QStringLiteral("New image 1"))};
    m_fileNames << m_dir.filePath(QStringLiteral("three")) << m_dir.filePath(QStringLiteral("one"));

    QVERIFY(queryAnswering(open, Leave::SaveSelected, {1}));

    QCOMPARE(m_proposedNames, (QStringList{QStringLiteral("New image 3"), QStringLiteral("New image 1")}));
    QVERIFY(open[0]->Saved);
    QVERIFY(!open[1]->Saved);
    QVERIFY(open[2]->Saved);
    QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("three.BMP"))));
    QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("one.BMP"))));

    // All unchecked: nothing saved, the close goes ahead and the images are lost.
    open[1]->Saved = false;
    m_proposedNames.clear();
    QVERIFY(queryAnswering(open, Leave::SaveSelected, {0}));
    QVERIFY(m_proposedNames.isEmpty());
    QVERIFY(!open[1]->Saved);
}

void TestUnsavedImages::cancelledSaveStopsAtThatRow()
{
    QList<TfrmImage *> open{newWindow(QStringLiteral("New image 3")), newWindow(QStringLiteral("New image 2")),
                            newWindow(QStringLiteral("New image 1"))};
    for (TfrmImage *window : open)
        window->SkipSaveQuery = true;
    m_fileNames << m_dir.filePath(QStringLiteral("first.BMP")) << QString() << m_dir.filePath(QStringLiteral("never.BMP"));

    QVERIFY(!queryAnswering(open, Leave::SaveSelected));

    QCOMPARE(m_proposedNames, (QStringList{QStringLiteral("New image 3"), QStringLiteral("New image 2")}));
    QVERIFY(open[0]->Saved);
    QVERIFY(!open[1]->Saved);
    QVERIFY(!open[2]->Saved);
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("never.BMP"))));
    for (TfrmImage *window : open) {
        QVERIFY(!window->SkipSaveQuery);
        QVERIFY(window->isVisible());
    }
}

void TestUnsavedImages::failedWriteStopsTheClose()
{
    QList<TfrmImage *> open{newWindow(QStringLiteral("New image 2")), newWindow(QStringLiteral("New image 1"))};
    m_fileNames << m_dir.filePath(QStringLiteral("missing folder/x.BMP")) << m_dir.filePath(QStringLiteral("y.BMP"));

    QVERIFY(!queryAnswering(open, Leave::SaveSelected));

    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.first().startsWith(QStringLiteral("Cannot create file \"")));
    QCOMPARE(m_proposedNames.size(), 1);
    QVERIFY(!open[0]->Saved);
    QVERIFY(!open[1]->Saved);
}

void TestUnsavedImages::dialogIsReusedWithFreshRows()
{
    TfrmImage *a = newWindow(QStringLiteral("New image 1"));
    TfrmImage *b = newWindow(QStringLiteral("New image 2"));
    QVERIFY(!queryAnswering({b, a}, Leave::CancelButton));
    QCOMPARE(m_rowsShown.size(), 2);

    b->Saved = true;
    m_rowsShown.clear();
    QVERIFY(queryAnswering({b, a}, Leave::CloseWithoutSaving));
    QCOMPARE(m_rowsShown, QStringList{QStringLiteral("New image 1")});
    QCOMPARE(m_dialog->chkUnsavedImages->count(), 1);
}

QTEST_MAIN(TestUnsavedImages)
#include "tst_unsavedimages.moc"
