// The save dialog and the unsaved-images dialog on a real X display, answered with real key
// presses and clicks as a user would.

#include "Dialogs.h"
#include "FolderFiles.h"
#include "ImageForm.h"
#include "SaveFolder.h"
#include "SaveOptions.h"
#include "UnsavedImages.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QImageReader>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMdiArea>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "TestHome.h"
#include "XInput.h"

class TestDisplayDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void saveDialogKeepsTheTypedName_data();
    void saveDialogKeepsTheTypedName();
    void unsavedDialogStartsOnSave_data();
    void unsavedDialogStartsOnSave();

private:
    TfrmImage *newWindow(const QString &title);

    TestHome m_home;
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<QMdiArea> m_area;
};

namespace {

// The names the file dialog lists in its current folder.
QStringList listedNames(QFileDialog *dialog)
{
    auto *view = dialog->findChild<QListView *>(QStringLiteral("listView"));
    QStringList names;
    for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
        names << view->model()->index(row, 0, view->rootIndex()).data().toString();
    return names;
}

} // namespace

void TestDisplayDialogs::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    m_area = std::make_unique<QMdiArea>();
    m_area->resize(800, 600);
    m_area->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_area.get()));
}

void TestDisplayDialogs::cleanup()
{
    m_area.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Dialogs::setSaveFileHandler({});
    Dialogs::setMessageHandler({});
    TSaveFolder::setLastSaveFolder(QString());
    TSaveOptions::setSaveFormat(ImageFile::Format::Bmp);
}

TfrmImage *TestDisplayDialogs::newWindow(const QString &title)
{
    auto *window = new TfrmImage;
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(qRgb(20, 120, 200));
    window->setPicture(picture);
    window->setWindowTitle(title);
    m_area->addSubWindow(window);
    window->setClientSize(picture.size());
    window->show();
    return window;
}

void TestDisplayDialogs::saveDialogKeepsTheTypedName_data()
{
    QTest::addColumn<QString>("title");     // the window's title, proposed as the name
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("chosenType"); // picked from the list with the keyboard; empty: as offered
    QTest::addColumn<QString>("written");
    QTest::addColumn<QByteArray>("format");   // as the image reader finds it from the bytes

    const QString fresh = QStringLiteral("New image 4");
    QTest::newRow("bitmap type, no extension") << fresh << "plain" << "" << "plain.BMP" << QByteArray("bmp");
    QTest::newRow("png typed is PNG") << fresh << "shot.png" << "" << "shot.png" << QByteArray("png");
    QTest::newRow("jpg typed is JPEG") << fresh << "photo.jpg" << "" << "photo.jpg" << QByteArray("jpeg");
    QTest::newRow("PNG type, no extension") << fresh << "plain" << "Home" << "plain.png" << QByteArray("png");
    QTest::newRow("all files, png extension") << fresh << "shot.png" << "End" << "shot.png" << QByteArray("png");
    QTest::newRow("all files, bitmap extension") << fresh << "img4.BMP" << "End" << "img4.BMP" << QByteArray("bmp");
    QTest::newRow("all files, no extension") << fresh << "plain" << "End" << "plain.BMP" << QByteArray("bmp");
    // An image saved before proposes its own path; the dialog opens in that folder.
    QTest::newRow("saved before") << "earlier/old.BMP" << "again" << "" << "earlier/again.BMP" << QByteArray("bmp");
}

void TestDisplayDialogs::saveDialogKeepsTheTypedName()
{
    QFETCH(QString, title);
    QFETCH(QString, typed);
    QFETCH(QString, chosenType);
    QFETCH(QString, written);
    QFETCH(QByteArray, format);

    const QDir folder(m_folder->path());
    QVERIFY(folder.mkdir(QStringLiteral("earlier")));
    const QFileInfo proposed(folder.filePath(title));
    const QString opensIn = title.contains('/') ? proposed.absolutePath() : folder.path();
    const QStringList present = {"README", "lower.bmp", "notes.txt"};
    for (const QString &name : present)
        QVERIFY(writeFile(folder.filePath(name)));
    TSaveFolder::setLastSaveFolder(folder.path());
    TfrmImage *window = newWindow(title.contains('/') ? proposed.absoluteFilePath() : title);

    bool typedNameKept = false;
    XInput::ModalAnswer answer([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        QVERIFY(name && types);
        QCOMPARE(QDir(dialog->directory()).canonicalPath(), QDir(opensIn).canonicalPath());
        QCOMPARE(name->text(), proposed.fileName());
        const QStringList offered = {"PNG Images (*.PNG)", "Windows Bitmap Files (*.BMP)", "JPEG Images (*.JPG)",
                                     "All Files (*.*)"};
        for (int i = 0; i < offered.size(); ++i)
            QCOMPARE(types->itemText(i), offered[i]);
        // The first run offers the bitmap type.
        QCOMPARE(types->currentIndex(), 1);
        if (opensIn == folder.path()) {
            QTRY_VERIFY(listedNames(dialog).contains(QStringLiteral("lower.bmp")));
            QVERIFY(!listedNames(dialog).contains(QStringLiteral("README")));
        }

        QVERIFY(XInput::key({"ctrl+a"}));
        QVERIFY(XInput::type(typed));
        QTRY_COMPARE(name->text(), typed);
        if (!chosenType.isEmpty()) {
            QVERIFY(XInput::click(types->mapToGlobal(types->rect().center())));
            QTRY_VERIFY(QApplication::activePopupWidget());
            QVERIFY(XInput::key({chosenType, "Return"}));
            QTRY_COMPARE(types->currentIndex(), chosenType == QLatin1String("End") ? 3 : 0);
        }
        if (chosenType == QLatin1String("End")) {
            // Every file is listed, with a dot or without.
            QTRY_VERIFY(listedNames(dialog).contains(QStringLiteral("README")));
            QVERIFY(listedNames(dialog).contains(QStringLiteral("notes.txt")));
        }
        typedNameKept = name->text() == typed;
        QVERIFY(XInput::key({"Return"}));
    });

    QVERIFY(window->SaveImage());
    QVERIFY(answer.answered());
    QVERIFY(typedNameKept);
    const QFileInfo result(folder.filePath(written));
    QStringList expected = present + QStringList{written};
    expected.sort();
    QCOMPARE(filesBelow(folder.path()), expected);
    QImageReader reader(result.filePath());
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), format);
    QCOMPARE(reader.read().size(), QSize(40, 30));
    QCOMPARE(window->windowTitle(), result.absoluteFilePath());
    QCOMPARE(TSaveFolder::lastSaveFolder(), result.absolutePath());
    // The next dialog offers the type chosen; after "All Files", the format written.
    const QString remembered = chosenType == QLatin1String("Home") ? QStringLiteral("png")
        : chosenType == QLatin1String("End")                       ? QString::fromLatin1(format)
                                                                   : QStringLiteral("bmp");
    QCOMPARE(TSaveOptions::formatKey(TSaveOptions::saveFormat()), remembered);
}

void TestDisplayDialogs::unsavedDialogStartsOnSave_data()
{
    QTest::addColumn<QStringList>("earlierKeys");  // a showing before, ended with these keys
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("outcome");

    const int save = TfrmUnsavedImages::SaveSelected;
    const int cancel = TfrmUnsavedImages::CancelClose;
    const int discard = TfrmUnsavedImages::CloseWithoutSaving;
    QTest::newRow("Enter saves") << QStringList() << QStringList{"Return"} << save;
    QTest::newRow("Space saves, the list untouched") << QStringList() << QStringList{"space"} << save;
    QTest::newRow("Esc cancels") << QStringList() << QStringList{"Escape"} << cancel;
    QTest::newRow("Tab goes to close without saving") << QStringList() << QStringList{"Tab", "Return"} << discard;
    QTest::newRow("Enter saves after Tab, Tab, Esc")
        << QStringList{"Tab", "Tab", "Escape"} << QStringList{"Return"} << save;
    QTest::newRow("Space saves after the list had the focus")
        << QStringList{"shift+Tab", "Escape"} << QStringList{"space"} << save;
}

void TestDisplayDialogs::unsavedDialogStartsOnSave()
{
    QFETCH(QStringList, earlierKeys);
    QFETCH(QStringList, keys);
    QFETCH(int, outcome);

    // Every save dialog that opens is cancelled, so the images stay where they are.
    Dialogs::setSaveFileHandler([](const QString &, const QStringList &, const QString &) { return QString(); });
    const QList<TfrmImage *> windows = {newWindow(QStringLiteral("New image 2")),
                                        newWindow(QStringLiteral("New image 1"))};
    TfrmUnsavedImages dialog(m_area.get());
    auto *save = dialog.findChild<QPushButton *>(QStringLiteral("Button1"));
    auto *cancel = dialog.findChild<QPushButton *>(QStringLiteral("btnCancel"));
    auto *list = dialog.findChild<QListWidget *>(QStringLiteral("chkUnsavedImages"));
    QVERIFY(save && cancel && list);

    auto showWith = [&](const QStringList &pressed) {
        XInput::ModalAnswer answer([&](QWidget *) {
            QCOMPARE(QApplication::focusWidget(), save);
            QVERIFY(XInput::key(pressed));
        });
        dialog.QueryUnsavedImages(windows);
        QVERIFY(answer.answered());
    };
    if (!earlierKeys.isEmpty())
        showWith(earlierKeys);
    showWith(keys);

    QCOMPARE(dialog.outcome(), outcome);
    QCOMPARE(list->item(0)->checkState(), Qt::Checked);
    QVERIFY(cancel->isDefault());
}

QTEST_MAIN(TestDisplayDialogs)
#include "tst_display_dialogs.moc"
