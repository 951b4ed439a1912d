// An image window: saving, the close question, and the picture centred on the background tile.

#include "Dialogs.h"
#include "ImageForm.h"
#include "ImageView.h"
#include "ImageFile.h"
#include "RecoveryStore.h"
#include "SaveFolder.h"
#include "SaveOptions.h"

#include <QFile>
#include <QImageReader>
#include <QMimeData>
#include <QUrl>
#include <QMdiArea>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <memory>

#include "FolderFiles.h"
#include "SmallFileSystem.h"
#include "TestHome.h"

// How an unsaved picture's window was closed.
enum class Closing { Saved, LossAccepted, Cancelled, WhileExiting };
Q_DECLARE_METATYPE(Closing)

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
    void fullDiskNamesCause();
    void closeQuestion_data();
    void closeQuestion();
    void backgroundTileAroundCentredPicture();
    void saveDialogStartFolder_data();
    void saveDialogStartFolder();
    void smallerAreaShowsPictureFromItsEdge_data();
    void smallerAreaShowsPictureFromItsEdge();
    void keptCopyGoesOnlyWhenDecided_data();
    void keptCopyGoesOnlyWhenDecided();
    void zoom_data();
    void zoom();
    void dragHandsOverPng_data();
    void dragHandsOverPng();

private:
    TfrmImage *newWindow(const QImage &picture);
    static void resizeArea(TfrmImage *window, QSize area)
    {
        window->setClientSize(area);
        QCoreApplication::processEvents();
    }
    // What the window's picture area shows, pixel by pixel.
    static QImage shownArea(TfrmImage *window)
    {
        return window->imageView()->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
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
    TSaveOptions::setSaveFormat(ImageFile::Format::Bmp);
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
    QTest::addColumn<QString>("lastType");   // the save dialog's type from an earlier save
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QByteArray>("format");  // as the image reader finds it from the bytes
    QTest::addColumn<QMessageBox::StandardButton>("replaceAnswer");  // NoButton: no file there yet
    QTest::addColumn<bool>("saved");

    const auto none = QMessageBox::NoButton;
    QTest::newRow("no extension gets .BMP") << "bmp" << "New image 3" << "New image 3.BMP" << QByteArray("bmp") << none << true;
    QTest::newRow("no extension, PNG chosen last") << "png" << "plain" << "plain.png" << QByteArray("png") << none << true;
    QTest::newRow("png name is PNG") << "bmp" << "shot.png" << "shot.png" << QByteArray("png") << none << true;
    QTest::newRow("JPG name is JPEG") << "png" << "shot.JPG" << "shot.JPG" << QByteArray("jpeg") << none << true;
    QTest::newRow("bmp name under PNG") << "png" << "shot.bmp" << "shot.bmp" << QByteArray("bmp") << none << true;
    QTest::newRow("unknown suffix: chosen type") << "jpg" << "shot.raw" << "shot.raw" << QByteArray("jpeg") << none << true;
    QTest::newRow("overwrite accepted") << "bmp" << "existing.BMP" << "existing.BMP" << QByteArray("bmp") << QMessageBox::Yes << true;
    QTest::newRow("overwrite declined") << "bmp" << "existing.BMP" << "existing.BMP" << QByteArray() << QMessageBox::No << false;
}

void TestImageForm::save()
{
    QFETCH(QString, lastType);
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QFETCH(QByteArray, format);
    QFETCH(QMessageBox::StandardButton, replaceAnswer);
    QFETCH(bool, saved);

    TSaveOptions::setSaveFormat(*ImageFile::formatOfSuffix(lastType));
    if (replaceAnswer != QMessageBox::NoButton) {
        QVERIFY(writeFile(m_folder->filePath(written), "an earlier file"));
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
    if (!saved) {
        QCOMPARE(contentsOf(m_folder->filePath(written)), QByteArray("an earlier file"));
        return;
    }
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), format);
    const QImage read = reader.read().convertToFormat(QImage::Format_RGB32);
    if (format == "jpeg")
        QCOMPARE(read.size(), picture.size());   // lossy
    else
        QCOMPARE(read, picture);
    // The dialog opens on the type chosen this time.
    QCOMPARE(TSaveOptions::formatKey(TSaveOptions::saveFormat()), lastType);
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

    QVERIFY(writeFile(m_folder->filePath(QStringLiteral("plain file"))));
    QVERIFY(writeFile(m_folder->filePath(QStringLiteral("precious.BMP")), "keep me"));
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
    QCOMPARE(contentsOf(m_folder->filePath(QStringLiteral("precious.BMP"))), QByteArray("keep me"));
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);  // no leftovers
}

// A disk that is full says so in the system's words; the picture stays unsaved and nothing is
// left on the disk.
void TestImageForm::fullDiskNamesCause()
{
    SmallFileSystem disk(SmallFileSystem::Kind::Full);
    if (!disk.available())
        QSKIP("no right to mount a file system here; the shared writer's own test covers /dev/full");
    const QString path = disk.filePath(QStringLiteral("screen.BMP"));
    TfrmImage *window = newWindow(testPicture(400, 300));
    m_typed << path;
    m_answers << QMessageBox::Ok;

    QVERIFY(!window->SaveImage());

    QVERIFY(!window->saved());
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first().first, Dialogs::MessageKind::Error);
    QCOMPARE(m_messages.first().second,
             QStringLiteral("Cannot create file \"%1\". %2").arg(path, QString::fromLocal8Bit(std::strerror(ENOSPC))));
    QCOMPARE(disk.entries(), QStringList{SmallFileSystem::FillerName});
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
    resizeArea(window, QSize(12 * 17, 10 * 15));  // 204 x 150: whole 12 x 10 tiles

    const QImage shown = shownArea(window);
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
    QTest::addColumn<Qt::Orientations>("fromEdge");  // the directions the area is smaller in

    QTest::newRow("narrower") << QSize(25, 200) << Qt::Orientations(Qt::Horizontal);
    QTest::newRow("lower") << QSize(200, 20) << Qt::Orientations(Qt::Vertical);
    QTest::newRow("smaller both ways") << QSize(25, 20) << (Qt::Horizontal | Qt::Vertical);
}

void TestImageForm::smallerAreaShowsPictureFromItsEdge()
{
    QFETCH(QSize, area);
    QFETCH(Qt::Orientations, fromEdge);
    // The window was larger first, so the picture had been centred in both directions.
    const QImage picture = testPicture(40, 30);
    TfrmImage *window = newWindow(picture);
    resizeArea(window, QSize(300, 300));
    resizeArea(window, area);

    TImageView *view = window->imageView();
    const QImage shown = shownArea(window);
    QPoint corner(-1, -1);  // where the picture's black top-left pixel shows
    for (int y = 0; y < shown.height() && corner.x() < 0; ++y)
        for (int x = 0; x < shown.width() && corner.x() < 0; ++x)
            if (shown.pixel(x, y) == picture.pixel(0, 0))
                corner = QPoint(x, y);
    QVERIFY(corner.x() >= 0);
    QCOMPARE(corner.x() == 0, fromEdge.testFlag(Qt::Horizontal));
    QCOMPARE(corner.y() == 0, fromEdge.testFlag(Qt::Vertical));
    const QRect seen = QRect(corner, picture.size()).intersected(shown.rect());
    QCOMPARE(shown.copy(seen), picture.copy(QRect(QPoint(0, 0), seen.size())));
    // The scroll bars reach the rest of the picture, and no further.
    QCOMPARE(view->horizontalScrollBar()->maximum(), qMax(0, picture.width() - view->viewport()->width()));
    QCOMPARE(view->verticalScrollBar()->maximum(), qMax(0, picture.height() - view->viewport()->height()));
}

// The kept copy of an unsaved picture goes when the picture is saved or its loss accepted, and
// stays while anything else closes the window (an exit still undecided, a cancel).
void TestImageForm::keptCopyGoesOnlyWhenDecided_data()
{
    QTest::addColumn<Closing>("how");
    QTest::addColumn<bool>("kept");

    QTest::newRow("saved") << Closing::Saved << false;
    QTest::newRow("loss accepted") << Closing::LossAccepted << false;
    QTest::newRow("close cancelled") << Closing::Cancelled << true;
    QTest::newRow("closed while exiting") << Closing::WhileExiting << true;
}

void TestImageForm::keptCopyGoesOnlyWhenDecided()
{
    QFETCH(Closing, how);
    QFETCH(bool, kept);

    TRecoveryStore store(m_folder->filePath(QStringLiteral("recovery")));
    TfrmImage *window = newWindow(testPicture(16, 16));
    const QString copy = store.keep(window->picture());
    QVERIFY(QFile::exists(copy));
    window->setRecoveryFile(copy);

    if (how == Closing::Saved) {
        m_typed << m_folder->filePath(QStringLiteral("kept.png"));
        QVERIFY(window->SaveImage());
    } else if (how == Closing::WhileExiting) {
        window->setSkipSaveQuery(true);
        window->close();
    } else {
        m_answers << (how == Closing::LossAccepted ? QMessageBox::No : QMessageBox::Cancel);
        window->close();
    }
    processDeletes();
    QCOMPARE(QFile::exists(copy), kept);
}

// Zoom steps in whole multiples above 1:1, shown in the title; Ctrl+0 goes back to 1:1, fit fills
// the area; a zoomed pixel is a sharp square.
void TestImageForm::zoom_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("title");

    QTest::newRow("in") << QStringList{"in"} << 200 << "New image 1 (200 %)";
    QTest::newRow("in twice") << QStringList{"in", "in"} << 300 << "New image 1 (300 %)";
    QTest::newRow("out") << QStringList{"out"} << 50 << "New image 1 (50 %)";
    QTest::newRow("back to 1:1") << QStringList{"in", "in", "actual"} << 100 << "New image 1";
    // The area is 200 x 150 for a 40 x 30 picture: five times.
    QTest::newRow("fit") << QStringList{"fit"} << 500 << "New image 1 (500 %)";
    QTest::newRow("in from fit") << QStringList{"fit", "in"} << 600 << "New image 1 (600 %)";
}

void TestImageForm::zoom()
{
    QFETCH(QStringList, steps);
    QFETCH(int, percent);
    QFETCH(QString, title);

    const QImage picture = testPicture(40, 30);
    TfrmImage *window = newWindow(picture);
    resizeArea(window, QSize(200, 150));
    for (const QString &step : steps) {
        if (step == QLatin1String("in"))
            window->zoomIn();
        else if (step == QLatin1String("out"))
            window->zoomOut();
        else if (step == QLatin1String("fit"))
            window->fitToWindow();
        else
            window->actualSize();
    }
    QCoreApplication::processEvents();
    QCOMPARE(window->zoomPercent(), percent);
    QCOMPARE(window->windowTitle(), title);
    QCOMPARE(window->imageName(), QStringLiteral("New image 1"));

    // Every picture pixel in view is a block of its own colour, untouched by its neighbours.
    TImageView *view = window->imageView();
    const QImage shown = shownArea(window);
    const QPoint origin = view->pictureOrigin()
        - QPoint(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value());
    const qreal scale = percent / 100.0;
    for (int y = 0; scale >= 1 && y < shown.height(); y += 7)
        for (int x = 0; x < shown.width(); x += 5) {
            const QPointF exact = QPointF(QPoint(x, y) - origin) / scale;
            const QPoint at(qFloor(exact.x()), qFloor(exact.y()));
            if (picture.rect().contains(at))
                QCOMPARE(shown.pixel(x, y), picture.pixel(at));
        }
}

void TestImageForm::dragHandsOverPng_data()
{
    QTest::addColumn<QString>("savedAs");   // empty: not saved
    QTest::addColumn<bool>("theSavedFile"); // the URL is the saved file itself

    QTest::newRow("unsaved") << "" << false;
    QTest::newRow("saved as PNG") << "kept.png" << true;
    QTest::newRow("saved as BMP") << "kept.bmp" << false;
}

void TestImageForm::dragHandsOverPng()
{
    QFETCH(QString, savedAs);
    QFETCH(bool, theSavedFile);

    const QImage picture = testPicture(30, 20);
    TfrmImage *window = newWindow(picture);
    if (!savedAs.isEmpty()) {
        m_typed << m_folder->filePath(savedAs);
        QVERIFY(window->SaveImage());
    }
    std::unique_ptr<QMimeData> data(window->dragData());

    QCOMPARE(QImage::fromData(data->data(QStringLiteral("image/png")), "PNG").convertToFormat(QImage::Format_RGB32),
             picture);
    QCOMPARE(data->urls().size(), 1);
    const QString file = data->urls().first().toLocalFile();
    QCOMPARE(file == QFileInfo(m_folder->filePath(savedAs)).absoluteFilePath(), theSavedFile);
    QVERIFY2(file.endsWith(QLatin1String(".png")), qPrintable(file));
    QImageReader reader(file);
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), QByteArray("png"));
    QCOMPARE(reader.read().convertToFormat(QImage::Format_RGB32), picture);
}

QTEST_MAIN(TestImageForm)
#include "tst_imageform.moc"
