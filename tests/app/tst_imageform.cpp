// An image window: saving, the close question, and the picture centred on the background tile.

#include "Dialogs.h"
#include "ImageForm.h"
#include "ImageView.h"
#include "SaveFolder.h"

#include <QFile>
#include <QMdiArea>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "TestHome.h"

class TestImageForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void save_data();
    void save();
    void failedWriteKeepsWindowUnsaved_data();
    void failedWriteKeepsWindowUnsaved();
    void closeQuestion_data();
    void closeQuestion();
    void backgroundTileAroundCentredPicture();
    void saveDialogStartFolder_data();
    void saveDialogStartFolder();
    void smallerAreaShowsPictureFromItsEdge_data();
    void smallerAreaShowsPictureFromItsEdge();

private:
    TfrmImage *newWindow(const QImage &picture);
    void writeFile(const QString &name, const QByteArray &contents)
    {
        QFile file(m_folder->filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }
    QByteArray fileContents(const QString &name) const
    {
        QFile file(m_folder->filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    TestHome m_home;
    std::unique_ptr<QTemporaryDir> m_folder;  // fresh for each test
    QMdiArea *m_area = nullptr;
    // The user's answers to message boxes and save dialogs (empty = cancel), and what was said.
    QList<QMessageBox::StandardButton> m_answers;
    QStringList m_typed;
    QList<QPair<Dialogs::MessageKind, QString>> m_messages;
};

// A picture with distinct pixels everywhere, so a shifted or mirrored copy shows.
static QImage testPicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb((x * 7) & 0xFF, (y * 5) & 0xFF, ((x + y) * 3) & 0xFF));
    return picture;
}

static void processDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

void TestImageForm::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    m_area = new QMdiArea;
    m_area->resize(800, 600);
    m_area->show();
    m_answers.clear();
    m_typed.clear();
    m_messages.clear();
    Dialogs::setMessageHandler([this](Dialogs::MessageKind kind, const QString &text, QMessageBox::StandardButtons) {
        m_messages.append({kind, text});
        return m_answers.isEmpty() ? QMessageBox::Cancel : m_answers.takeFirst();
    });
    Dialogs::setSaveFileHandler([this](const QString &, const QStringList &, const QString &) {
        return m_typed.isEmpty() ? QString() : m_typed.takeFirst();
    });
}

void TestImageForm::cleanup()
{
    delete m_area;
    processDeletes();
    Dialogs::setMessageHandler({});
    Dialogs::setSaveFileHandler({});
}

TfrmImage *TestImageForm::newWindow(const QImage &picture)
{
    auto *window = new TfrmImage;
    m_area->addSubWindow(window);
    window->setPicture(picture);
    window->setWindowTitle(QStringLiteral("New image 1"));
    window->setClientSize(picture.size());
    window->show();
    QCoreApplication::processEvents();
    return window;
}

void TestImageForm::save_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QMessageBox::StandardButton>("replaceAnswer");  // NoButton: no file there yet
    QTest::addColumn<bool>("saved");

    QTest::newRow("no extension gets .BMP") << "New image 3" << "New image 3.BMP" << QMessageBox::NoButton << true;
    QTest::newRow("png name still a bitmap") << "shot.png" << "shot.png" << QMessageBox::NoButton << true;
    QTest::newRow("overwrite accepted") << "existing.BMP" << "existing.BMP" << QMessageBox::Yes << true;
    QTest::newRow("overwrite declined") << "existing.BMP" << "existing.BMP" << QMessageBox::No << false;
}

void TestImageForm::save()
{
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QFETCH(QMessageBox::StandardButton, replaceAnswer);
    QFETCH(bool, saved);

    if (replaceAnswer != QMessageBox::NoButton) {
        writeFile(written, "an earlier file");
        m_answers << replaceAnswer;
    }
    const QImage picture = testPicture(48, 30);
    TfrmImage *window = newWindow(picture);
    m_typed << m_folder->filePath(typed);

    QCOMPARE(window->SaveImage(), saved);

    const QString path = m_folder->filePath(written);
    QCOMPARE(m_messages.size(), replaceAnswer == QMessageBox::NoButton ? 0 : 1);
    QCOMPARE(window->saved(), saved);
    QCOMPARE(window->windowTitle(), saved ? QFileInfo(path).absoluteFilePath() : QStringLiteral("New image 1"));
    const QByteArray contents = fileContents(written);
    if (saved) {  // a Windows bitmap whatever the name says
        QVERIFY(contents.startsWith("BM"));
        QCOMPARE(QImage::fromData(contents, "BMP").convertToFormat(QImage::Format_RGB32), picture);
    } else {
        QCOMPARE(contents, QByteArray("an earlier file"));
    }
}

void TestImageForm::failedWriteKeepsWindowUnsaved_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("emptyPicture");  // a picture that cannot be written at all

    // Root ignores folder permissions, so the failures are ones that stop everybody.
    QTest::newRow("parent is a file") << "plain file/x.BMP" << false;
    QTest::newRow("write fails over existing file") << "precious.BMP" << true;
}

void TestImageForm::failedWriteKeepsWindowUnsaved()
{
    QFETCH(QString, target);
    QFETCH(bool, emptyPicture);

    writeFile(QStringLiteral("plain file"), QByteArray());
    writeFile(QStringLiteral("precious.BMP"), "keep me");
    QPointer<TfrmImage> window = newWindow(emptyPicture ? QImage() : testPicture(8, 8));
    const QString path = m_folder->filePath(target);
    // Saved through the close question, as a user closing the window would.
    m_answers << QMessageBox::Yes << QMessageBox::Yes << QMessageBox::Ok;
    m_typed << path;

    window->close();
    processDeletes();

    QVERIFY(window && window->isVisible());
    QVERIFY(!window->saved());
    QCOMPARE(m_messages.last().first, Dialogs::MessageKind::Error);
    const QString start = "Cannot create file \"" + QFileInfo(path).absoluteFilePath() + "\". ";
    QVERIFY2(m_messages.last().second.startsWith(start) && m_messages.last().second.size() > start.size(),
             qPrintable(m_messages.last().second));  // with the system's reason
    QCOMPARE(fileContents(QStringLiteral("precious.BMP")), QByteArray("keep me"));
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);  // no leftovers
}

void TestImageForm::closeQuestion_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QString>("typed");  // in the save dialog, if one opens; empty = cancel
    QTest::addColumn<bool>("closes");

    QTest::newRow("yes and saved") << QMessageBox::Yes << "closing.BMP" << true;
    QTest::newRow("yes but dialog cancelled") << QMessageBox::Yes << "" << false;
    QTest::newRow("no accepts the loss") << QMessageBox::No << "" << true;
    QTest::newRow("cancel keeps it") << QMessageBox::Cancel << "" << false;
}

void TestImageForm::closeQuestion()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, typed);
    QFETCH(bool, closes);

    QPointer<TfrmImage> window = newWindow(testPicture(16, 16));
    m_answers << answer;
    m_typed << (typed.isEmpty() ? QString() : m_folder->filePath(typed));

    window->close();
    processDeletes();

    QCOMPARE(m_messages.first().first, Dialogs::MessageKind::Confirmation);
    QCOMPARE(m_messages.first().second, QStringLiteral("Would you like to save the image 'New image 1'?"));
    QCOMPARE(window.isNull(), closes);
    QCOMPARE(QFile::exists(m_folder->filePath(QStringLiteral("closing.BMP"))), !typed.isEmpty());
}

void TestImageForm::backgroundTileAroundCentredPicture()
{
    const QImage picture = testPicture(41, 31);
    TfrmImage *window = newWindow(picture);
    window->setClientSize(QSize(12 * 17, 10 * 15));  // 204 x 150: whole 12 x 10 tiles
    QCoreApplication::processEvents();

    const QImage shown = window->imageView()->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    // Centred with the remainder dropped: (204 - 41) / 2 = 81, (150 - 31) / 2 = 59.
    QCOMPARE(shown.copy(QRect(QPoint(81, 59), picture.size())), picture);
    QCOMPARE(shown.pixel(0, 0), qRgb(239, 239, 239));             // the tile's corner
    QCOMPARE(shown.pixel(12 * 15 + 6, 10 * 13 + 6), qRgb(247, 247, 247));  // a far tile's centre
}

void TestImageForm::saveDialogStartFolder_data()
{
    QTest::addColumn<bool>("lastSaveThere");  // the folder of the last save still exists
    QTest::addColumn<bool>("picturesThere");
    QTest::addColumn<QString>("start");       // below the user's home

    QTest::newRow("last save") << true << true << "shots";
    QTest::newRow("last save gone") << false << true << "Pictures";
    QTest::newRow("home") << false << false << "";
}

void TestImageForm::saveDialogStartFolder()
{
    QFETCH(bool, lastSaveThere);
    QFETCH(bool, picturesThere);
    QFETCH(QString, start);

    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", oldHome);
        if (oldConfig.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", oldConfig);
        TSaveFolder::setLastSaveFolder(QString());
    });
    const QDir home(m_folder->path());
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("XDG_CONFIG_HOME");
    if (lastSaveThere)
        QVERIFY(home.mkdir(QStringLiteral("shots")));
    if (picturesThere)
        QVERIFY(home.mkdir(QStringLiteral("Pictures")));
    TSaveFolder::setLastSaveFolder(home.filePath(QStringLiteral("shots")));

    QCOMPARE(QDir(TSaveFolder::startFolder()), QDir(home.filePath(start)));
}

void TestImageForm::smallerAreaShowsPictureFromItsEdge_data()
{
    QTest::addColumn<QSize>("area");
    QTest::addColumn<bool>("narrower");
    QTest::addColumn<bool>("lower");

    QTest::newRow("narrower") << QSize(25, 200) << true << false;
    QTest::newRow("lower") << QSize(200, 20) << false << true;
    QTest::newRow("smaller both ways") << QSize(25, 20) << true << true;
}

void TestImageForm::smallerAreaShowsPictureFromItsEdge()
{
    QFETCH(QSize, area);
    QFETCH(bool, narrower);
    QFETCH(bool, lower);
    // The window was larger first, so the picture had been centred in both directions.
    const QImage picture = testPicture(40, 30);
    TfrmImage *window = newWindow(picture);
    window->setClientSize(QSize(300, 300));
    QCoreApplication::processEvents();
    window->setClientSize(area);
    QCoreApplication::processEvents();

    TImageView *view = window->imageView();
    const QImage shown = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QPoint corner(-1, -1);  // where the picture's black top-left pixel shows
    for (int y = 0; y < shown.height() && corner.x() < 0; ++y)
        for (int x = 0; x < shown.width() && corner.x() < 0; ++x)
            if (shown.pixel(x, y) == picture.pixel(0, 0))
                corner = QPoint(x, y);
    QVERIFY(corner.x() >= 0);
    QCOMPARE(corner.x() == 0, narrower);
    QCOMPARE(corner.y() == 0, lower);
    const QRect seen = QRect(corner, picture.size()).intersected(shown.rect());
    QCOMPARE(shown.copy(seen), picture.copy(QRect(QPoint(0, 0), seen.size())));
    // The scroll bars reach the rest of the picture, and no further.
    QCOMPARE(view->horizontalScrollBar()->maximum(), qMax(0, picture.width() - view->viewport()->width()));
    QCOMPARE(view->verticalScrollBar()->maximum(), qMax(0, picture.height() - view->viewport()->height()));
}

QTEST_MAIN(TestImageForm)
#include "tst_imageform.moc"
