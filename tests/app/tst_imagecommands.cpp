// Save All, auto-save, and the pictures of an earlier run offered back at start.

#include "Dialogs.h"
#include "FolderFiles.h"
#include "FlagRows.h"
#include "ImageCommands.h"
#include "ImageForm.h"
#include "ImageWorkspace.h"
#include "RecoveryStore.h"
#include "SaveFolder.h"
#include "SaveOptions.h"

#include <QAction>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "TestHome.h"

namespace {

QImage testPicture(int seed)
{
    QImage picture(24, 16, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb((x * 9 + seed) & 0xFF, (y * 13) & 0xFF, seed & 0xFF));
    return picture;
}

NameFields fieldsOf(int number)
{
    NameFields fields;
    fields.serialNumber = 4660;
    fields.model = QStringLiteral("Corvane Alvo");
    fields.port = QStringLiteral("COM7");
    fields.capturedAt = QDateTime(QDate(2026, 12, 8), QTime(19, 30, 5));
    fields.captureNumber = number;
    return fields;
}

} // namespace

class TestImageCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void saveAllWritesEveryUnsavedPicture_data();
    void saveAllWritesEveryUnsavedPicture();
    void completedCaptureKeptAndAutoSaved_data();
    void completedCaptureKeptAndAutoSaved();
    void earlierPicturesOfferedBack_data();
    void earlierPicturesOfferedBack();

private:
    TfrmImage *openWindow(const QImage &picture)
    {
        auto *window = new TfrmImage;
        window->setWindowTitle(QStringLiteral("New image %1").arg(++m_opened));
        m_area->addSubWindow(window);
        window->setPicture(picture);
        window->show();
        return window;
    }

    TestHome m_home;
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<ImageWorkspace> m_area;
    std::unique_ptr<TImageCommands> m_commands;
    QStringList m_status;
    QStringList m_questions;
    QMessageBox::StandardButton m_answer = QMessageBox::Yes;
    int m_opened = 0;
};

void TestImageCommands::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    TSaveFolder::setLastSaveFolder(m_folder->path());
    m_area = std::make_unique<ImageWorkspace>();
    m_opened = 0;
    m_status.clear();
    m_questions.clear();
    Dialogs::setMessageHandler([this](Dialogs::MessageKind, const QString &text, QMessageBox::StandardButtons) {
        m_questions << text;
        return m_answer;
    });
    m_commands = std::make_unique<TImageCommands>(m_area.get(), [this](const QImage &picture) { return openWindow(picture); });
    connect(m_commands.get(), &TImageCommands::statusText, this, [this](const QString &text) { m_status << text; });
}

void TestImageCommands::cleanup()
{
    for (QMdiSubWindow *window : m_area->subWindowList())
        static_cast<TfrmImage *>(window)->setSaved(true);
    m_commands.reset();
    m_area.reset();
    QDir(m_home.path() + QStringLiteral("/recovery")).removeRecursively();
    Dialogs::setMessageHandler({});
    TSaveOptions::setAutoSave(false);
    TSaveOptions::setNameTemplate(QString());
    TSaveOptions::setSaveFormat(ImageFile::Format::Bmp);
}

void TestImageCommands::saveAllWritesEveryUnsavedPicture_data()
{
    QTest::addColumn<QString>("nameTemplate");   // empty: the default
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("present");    // files in the save folder before
    QTest::addColumn<QStringList>("written");    // for the two unsaved pictures, in order

    const QString stem = QStringLiteral("snaploom-4660-20261208-193005");
    QTest::newRow("default template, the name taken")
        << QString() << "png" << QStringList{stem + ".png"} << QStringList{stem + "-2.png", stem + "-3.png"};
    QTest::newRow("in the remembered format") << QString() << "jpg" << QStringList() << QStringList{stem + ".jpg", stem + "-2.jpg"};
    QTest::newRow("folders of the template")
        << "{model}/{port}-{n}" << "bmp" << QStringList() << QStringList{"Corvane-Alvo/COM7-1.bmp", "Corvane-Alvo/COM7-3.bmp"};
}

void TestImageCommands::saveAllWritesEveryUnsavedPicture()
{
    QFETCH(QString, nameTemplate);
    QFETCH(QString, format);
    QFETCH(QStringList, present);
    QFETCH(QStringList, written);

    TSaveOptions::setNameTemplate(nameTemplate);
    TSaveOptions::setSaveFormat(*ImageFile::formatOfSuffix(format));
    for (const QString &name : present)
        QVERIFY(writeFile(m_folder->filePath(name), "not to be replaced"));
    QList<TfrmImage *> windows;
    for (int number = 1; number <= 3; ++number) {
        windows << openWindow(testPicture(number));
        windows.last()->setNameFields(fieldsOf(number));
    }
    windows[1]->setSaved(true);   // saved before: not written again
    m_commands->updateStates();
    QVERIFY(m_commands->saveAllItem()->isEnabled());

    m_commands->saveAllItem()->trigger();

    QStringList expected = present + written;
    expected.sort();
    QCOMPARE(filesBelow(m_folder->path()), expected);
    for (const QString &name : present)
        QCOMPARE(contentsOf(m_folder->filePath(name)), QByteArray("not to be replaced"));
    const QList<TfrmImage *> unsaved = {windows[0], windows[2]};
    for (int i = 0; i < unsaved.size(); ++i) {
        const QString path = QFileInfo(m_folder->filePath(written[i])).absoluteFilePath();
        QVERIFY(unsaved[i]->saved());
        QCOMPARE(unsaved[i]->windowTitle(), path);
        const QImage read(path);
        if (format != QLatin1String("jpg"))
            QCOMPARE(read.convertToFormat(QImage::Format_RGB32), testPicture(i == 0 ? 1 : 3));
    }
    QCOMPARE(m_status, QStringList{QStringLiteral("Saved 2 images in %1").arg(m_folder->path())});
    QVERIFY(!m_commands->saveAllItem()->isEnabled());
}

void TestImageCommands::completedCaptureKeptAndAutoSaved_data()
{
    addFlagRows("autoSave", "auto-save off", "auto-save on");
}

// The copy is written the moment a capture completes; with auto-save on the picture is saved at
// once and its copy goes.
void TestImageCommands::completedCaptureKeptAndAutoSaved()
{
    QFETCH(bool, autoSave);

    m_commands->autoSaveItem()->setChecked(autoSave);
    QCOMPARE(TSaveOptions::autoSave(), autoSave);
    TfrmImage *window = openWindow(testPicture(5));
    m_commands->captureCompleted(window, fieldsOf(1));

    const QString kept = window->recoveryFile();
    QCOMPARE(window->saved(), autoSave);
    QCOMPARE(kept.isEmpty(), autoSave);
    const QString saved = m_folder->filePath(QStringLiteral("snaploom-4660-20261208-193005.bmp"));
    QCOMPARE(QFile::exists(saved), autoSave);
    if (autoSave) {
        QCOMPARE(m_status, QStringList{QStringLiteral("Saved as %1").arg(saved)});
        QVERIFY(filesBelow(m_home.path() + QStringLiteral("/recovery")).filter(QStringLiteral(".png")).isEmpty());
        return;
    }
    const QImage copy(kept);
    QCOMPARE(copy.convertToFormat(QImage::Format_RGB32), testPicture(5));
    const std::optional<NameFields> fields = TRecoveryStore::fieldsOf(copy);
    QVERIFY(fields);
    QCOMPARE(fields->port, QStringLiteral("COM7"));
    QCOMPARE(fields->capturedAt, fieldsOf(1).capturedAt);
}

void TestImageCommands::earlierPicturesOfferedBack_data()
{
    QTest::addColumn<bool>("earlierRunEnded");   // false: it still runs, beside this one
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<int>("reopened");

    QTest::newRow("yes reopens") << true << QMessageBox::Yes << 2;
    QTest::newRow("no deletes") << true << QMessageBox::No << 0;
    QTest::newRow("a running program's are not offered") << false << QMessageBox::Yes << 0;
}

void TestImageCommands::earlierPicturesOfferedBack()
{
    QFETCH(bool, earlierRunEnded);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(int, reopened);

    auto earlier = std::make_unique<TRecoveryStore>();
    for (int number = 1; number <= 2; ++number) {
        QImage picture = testPicture(number * 40);
        TRecoveryStore::writeFields(picture, fieldsOf(number));
        QVERIFY(!earlier->keep(picture).isEmpty());
    }
    if (earlierRunEnded)
        earlier.reset();
    m_answer = answer;

    m_commands->offerLeftovers();

    QCOMPARE(m_questions, earlierRunEnded ? QStringList{"2 captures from an earlier session were not saved. Reopen them?"}
                                          : QStringList());
    const QList<QMdiSubWindow *> windows = m_area->subWindowList(QMdiArea::CreationOrder);
    QCOMPARE(windows.size(), reopened);
    for (int i = 0; i < windows.size(); ++i) {
        auto *window = static_cast<TfrmImage *>(windows[i]);
        QCOMPARE(window->picture().convertToFormat(QImage::Format_RGB32), testPicture((i + 1) * 40));
        QVERIFY(!window->saved());
        QCOMPARE(window->nameFields().captureNumber, i + 1);
        QVERIFY(QFile::exists(window->recoveryFile()));
    }
    // Reopened pictures are this run's now; deleted ones are gone with their folder.
    const QStringList left = filesBelow(m_home.path() + QStringLiteral("/recovery")).filter(QStringLiteral(".png"));
    QCOMPARE(left.size(), earlierRunEnded ? reopened : 2);
    // Asked once: the next start of a program finds nothing more.
    m_questions.clear();
    m_commands->offerLeftovers();
    QVERIFY(m_questions.isEmpty());
}

QTEST_MAIN(TestImageCommands)
#include "tst_imagecommands.moc"
