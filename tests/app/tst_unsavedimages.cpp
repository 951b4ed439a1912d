// The unsaved images dialog, shown for real and answered from the event loop as a user would.

#include "Dialogs.h"
#include "ImageForm.h"
#include "UnsavedImages.h"

#include <QListWidget>
#include <QMdiArea>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "FlagRows.h"
#include "TestHome.h"

class TestUnsavedImages : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void saveSelected_data();
    void saveSelected();
    void escapeCancelsAndClearsExitFlags();
    void closeBoxCancels_data();
    void closeBoxCancels();
    void partsAtTheDesignSize_data();
    void partsAtTheDesignSize();

private:
    QList<TfrmImage *> threeWindows();

    TestHome m_home;
    std::unique_ptr<QTemporaryDir> m_dir;  // fresh for each test
    QMdiArea *m_area = nullptr;
    TfrmUnsavedImages *m_dialog = nullptr;
    QStringList m_fileNames;  // typed into the save dialogs, in turn; empty = cancel
    QStringList m_messages;
};

void TestUnsavedImages::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_area = new QMdiArea;
    m_area->show();
    m_dialog = new TfrmUnsavedImages(m_area);
    frmUnsavedImages = m_dialog;
    m_fileNames.clear();
    m_messages.clear();
    Dialogs::setSaveFileHandler([this](const QString &, const QStringList &, const QString &) {
        return m_fileNames.isEmpty() ? QString() : m_fileNames.takeFirst();
    });
    Dialogs::setMessageHandler([this](Dialogs::MessageKind, const QString &text, QMessageBox::StandardButtons) {
        m_messages << text;
        return QMessageBox::Ok;
    });
}

void TestUnsavedImages::cleanup()
{
    delete m_area;  // and the dialog with it
    frmUnsavedImages = nullptr;
    Dialogs::setSaveFileHandler({});
    Dialogs::setMessageHandler({});
}

// Three unsaved windows, flagged as the main window flags them while it exits.
QList<TfrmImage *> TestUnsavedImages::threeWindows()
{
    QList<TfrmImage *> windows;
    for (int number = 3; number >= 1; --number) {
        auto *window = new TfrmImage;
        m_area->addSubWindow(window);
        QImage picture(16, 12, QImage::Format_RGB32);
        picture.fill(qRgb(10, 120, 200));
        window->setPicture(picture);
        window->setWindowTitle(QStringLiteral("New image %1").arg(number));
        window->setSkipSaveQuery(true);
        window->show();
        windows << window;
    }
    return windows;
}

void TestUnsavedImages::saveSelected_data()
{
    QTest::addColumn<QList<int>>("unchecked");
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<bool>("proceeds");
    QTest::addColumn<QList<bool>>("saved");

    QTest::newRow("second unchecked") << QList<int>{1} << QStringList{"three", "one"} << true
                                      << QList<bool>{true, false, true};
    QTest::newRow("all unchecked") << QList<int>{0, 1, 2} << QStringList{} << true
                                   << QList<bool>{false, false, false};
    QTest::newRow("second save cancelled") << QList<int>{} << QStringList{"three", "", "never"} << false
                                           << QList<bool>{true, false, false};
    QTest::newRow("second save fails") << QList<int>{} << QStringList{"three", "no folder/x", "never"} << false
                                       << QList<bool>{true, false, false};
}

void TestUnsavedImages::saveSelected()
{
    QFETCH(QList<int>, unchecked);
    QFETCH(QStringList, typed);
    QFETCH(bool, proceeds);
    QFETCH(QList<bool>, saved);

    const QList<TfrmImage *> open = threeWindows();
    for (const QString &name : typed)
        m_fileNames << (name.isEmpty() ? QString() : m_dir->filePath(name));
    TfrmUnsavedImages::setAnswerHandler([&unchecked](TfrmUnsavedImages &dialog) {
        for (int row : unchecked)
            dialog.findChild<QListWidget *>(QStringLiteral("chkUnsavedImages"))->item(row)->setCheckState(Qt::Unchecked);
        dialog.findChild<QPushButton *>(QStringLiteral("Button1"))->click();
    });

    QCOMPARE(m_dialog->QueryUnsavedImages(open), proceeds);
    TfrmUnsavedImages::setAnswerHandler({});

    for (int row = 0; row < open.size(); ++row)
        QCOMPARE(open[row]->saved(), saved[row]);
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("never.BMP"))));
    if (!proceeds) {  // nothing closes, and each window asks its own question again
        for (TfrmImage *window : open)
            QVERIFY(window->isVisible() && !window->skipSaveQuery());
    }
}

// Esc in the real modal dialog is Cancel, not just a dismissal.
void TestUnsavedImages::escapeCancelsAndClearsExitFlags()
{
    const QList<TfrmImage *> open = threeWindows();
    open[1]->setSaved(true);
    bool closedByEsc = false;
    QTimer::singleShot(0, m_dialog, [this, &closedByEsc] {
        QTest::keyClick(m_dialog, Qt::Key_Escape);
        closedByEsc = !m_dialog->isVisible();
        m_dialog->done(QDialog::Rejected);  // never hang
    });

    QVERIFY(!m_dialog->QueryUnsavedImages(open));
    QVERIFY(closedByEsc);

    for (TfrmImage *window : open)  // the saved one too: every open window
        QVERIFY(window->isVisible() && !window->skipSaveQuery());
    open[0]->close();
    QCOMPARE(m_messages, QStringList{QStringLiteral("Would you like to save the image 'New image 3'?")});
}

// Closing the dialog by its close box is a cancel on every showing, whatever the last one ended
// in: nothing is discarded.
void TestUnsavedImages::closeBoxCancels_data()
{
    addFlagRows("discardedBefore", "first showing", "after a close without saving");
}

void TestUnsavedImages::closeBoxCancels()
{
    QFETCH(bool, discardedBefore);
    const QList<TfrmImage *> open = threeWindows();
    if (discardedBefore) {
        TfrmUnsavedImages::setAnswerHandler(
            [](TfrmUnsavedImages &dialog) { dialog.findChild<QPushButton *>(QStringLiteral("Button2"))->click(); });
        QVERIFY(m_dialog->QueryUnsavedImages(open));
        TfrmUnsavedImages::setAnswerHandler({});
    }
    QTimer::singleShot(0, m_dialog, [this] {
        m_dialog->close();
        m_dialog->done(QDialog::Rejected);  // never hang
    });

    QVERIFY(!m_dialog->QueryUnsavedImages(open));
    for (TfrmImage *window : open)
        QVERIFY(window->isVisible() && !window->skipSaveQuery());
}

void TestUnsavedImages::partsAtTheDesignSize_data()
{
    QTest::addColumn<QString>("part");
    QTest::addColumn<QRect>("geometry");   // in the dialog, or in the frame for the list

    QTest::newRow("frame") << "GroupBox1" << QRect(8, 8, 433, 169);
    QTest::newRow("save") << "Button1" << QRect(8, 184, 129, 25);
    QTest::newRow("close without saving") << "Button2" << QRect(160, 184, 129, 25);
    QTest::newRow("cancel") << "btnCancel" << QRect(312, 184, 129, 25);
}

void TestUnsavedImages::partsAtTheDesignSize()
{
    QFETCH(QString, part);
    QFETCH(QRect, geometry);

    TfrmUnsavedImages::setAnswerHandler([&](TfrmUnsavedImages &dialog) {
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.size(), QSize(448, 217));
        QCOMPARE(dialog.findChild<QWidget *>(part)->geometry(), geometry);
        // The list fills the frame's width less its margins, above the note.
        const QWidget *list = dialog.findChild<QWidget *>(QStringLiteral("chkUnsavedImages"));
        QCOMPARE(list->x(), 8);
        QCOMPARE(list->width(), 417);
        QVERIFY(list->geometry().bottom() < dialog.findChild<QWidget *>(QStringLiteral("Label1"))->y());
        dialog.findChild<QPushButton *>(QStringLiteral("btnCancel"))->click();
    });
    QVERIFY(!m_dialog->QueryUnsavedImages(threeWindows()));
    TfrmUnsavedImages::setAnswerHandler({});
}

QTEST_MAIN(TestUnsavedImages)
#include "tst_unsavedimages.moc"
