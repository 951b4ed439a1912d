#include "Dialogs.h"
#include "ImageForm.h"
#include "ImageView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QMdiArea>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <memory>
#include <QtTest>

#include "TestHome.h"

// Answers the program's dialogs the way a user would, and remembers what was asked.
class ScriptedUser
{
public:
    ScriptedUser()
    {
        Dialogs::clearShownMessages();
        Dialogs::setMessageHandler([this](Dialogs::MessageKind kind, const QString &text,
                                          QMessageBox::StandardButtons) {
            messages.append({kind, text});
            return answers.isEmpty() ? QMessageBox::Cancel : answers.takeFirst();
        });
        Dialogs::setSaveFileHandler([this](const QString &proposed, const QStringList &filters,
                                           const QString &suffix) {
            proposedNames.append(proposed);
            lastFilters = filters;
            lastSuffix = suffix;
            return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
        });
    }
    ~ScriptedUser()
    {
        Dialogs::setMessageHandler({});
        Dialogs::setSaveFileHandler({});
    }

    QList<QMessageBox::StandardButton> answers; // to message boxes, in turn
    QStringList fileNames;                      // typed into save dialogs, in turn; empty = cancel
    QList<QPair<Dialogs::MessageKind, QString>> messages;
    QStringList proposedNames;
    QStringList lastFilters;
    QString lastSuffix;
};

class TestImageForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void savesWindowsBitmapUnderChosenName_data();
    void savesWindowsBitmapUnderChosenName();
    void secondSaveProposesSavedPath();
    void replaceQuestion_data();
    void replaceQuestion();
    void failedWriteReportsAndKeepsWindowUnsaved_data();
    void failedWriteReportsAndKeepsWindowUnsaved();
    void closeQuestion_data();
    void closeQuestion();
    void closesWithoutQuestion_data();
    void closesWithoutQuestion();

    void realMessageBoxBreaksLinesAndAnswers_data();
    void realMessageBoxBreaksLinesAndAnswers();
    void realSaveDialogAddsDefaultExtension();

    void clientSizeIsExact();
    void backgroundTileAroundCentredPicture_data();
    void backgroundTileAroundCentredPicture();
    void shrinkingKeepsPositionAndShowsScrollBar();
    void wheelScrollsVerticallyOnly();

private:
    TfrmImage *newWindow(const QImage &picture, const QString &title = QStringLiteral("New image 1"));
    static QImage testPicture(int width, int height);
    static bool isWindowsBitmapOf(const QString &path, const QImage &picture);
    static void processDeletes();
    static void resizeClient(TfrmImage *window, const QSize &size);

    TestHome m_home;
    std::unique_ptr<QTemporaryDir> m_folder; // fresh for each test
    QMdiArea *m_area = nullptr;
};

void TestImageForm::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    m_area = new QMdiArea;
    m_area->resize(800, 600);
    m_area->show();
}

void TestImageForm::cleanup()
{
    // No question may stop the teardown.
    for (QMdiSubWindow *window : m_area->subWindowList()) {
        if (auto *image = qobject_cast<TfrmImage *>(window))
            image->SkipSaveQuery = true;
    }
    delete m_area;
    m_area = nullptr;
    processDeletes();
}

TfrmImage *TestImageForm::newWindow(const QImage &picture, const QString &title)
{
    auto *window = new TfrmImage;
    m_area->addSubWindow(window);
    window->setPicture(picture);
    window->setWindowTitle(title);
    window->setClientSize(picture.size());
    window->show();
    QCoreApplication::processEvents();
    return window;
}

// A picture with distinct pixels everywhere, so a shifted or mirrored copy shows.
QImage TestImageForm::testPicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb((x * 7) & 0xFF, (y * 5) & 0xFF, ((x + y) * 3) & 0xFF));
    return picture;
}

bool TestImageForm::isWindowsBitmapOf(const QString &path, const QImage &picture)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(2) != "BM")
        return false;
    file.seek(0);
    QImage written;
    if (!written.loadFromData(file.readAll(), "BMP"))
        return false;
    return written.convertToFormat(QImage::Format_RGB32) == picture.convertToFormat(QImage::Format_RGB32);
}

// The scroll bars settle through the event loop, as they do while a user drags the frame.
void TestImageForm::resizeClient(TfrmImage *window, const QSize &size)
{
    window->setClientSize(size);
    QCoreApplication::processEvents();
}

void TestImageForm::processDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

void TestImageForm::savesWindowsBitmapUnderChosenName_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");

    QTest::newRow("no extension gets .BMP") << "New image 3" << "New image 3.BMP";
    QTest::newRow("png name still a bitmap") << "shot.png" << "shot.png";
    QTest::newRow("bmp kept") << "plain.bmp" << "plain.bmp";
}

void TestImageForm::savesWindowsBitmapUnderChosenName()
{
    QFETCH(QString, typed);
    QFETCH(QString, written);

    ScriptedUser user;
    const QImage picture = testPicture(48, 30);
    TfrmImage *window = newWindow(picture, QStringLiteral("New image 3"));
    user.fileNames << m_folder->filePath(typed);

    QVERIFY(window->SaveImage());

    const QString path = m_folder->filePath(written);
    QCOMPARE(user.proposedNames, QStringList{QStringLiteral("New image 3")});
    QCOMPARE(user.lastFilters, (QStringList{QStringLiteral("Windows Bitmap Files (*.BMP)"),
                                            QStringLiteral("All Files (*.*)")}));
    QVERIFY(isWindowsBitmapOf(path, picture));
    QCOMPARE(window->windowTitle(), QFileInfo(path).absoluteFilePath());
    QVERIFY(window->Saved);
    QVERIFY(user.messages.isEmpty());
}

void TestImageForm::secondSaveProposesSavedPath()
{
    ScriptedUser user;
    TfrmImage *window = newWindow(testPicture(10, 10));
    const QString path = m_folder->filePath(QStringLiteral("again.BMP"));
    user.fileNames << path << QString();

    QVERIFY(window->SaveImage());
    QVERIFY(!window->SaveImage()); // second dialog cancelled: nothing changes

    QCOMPARE(user.proposedNames, (QStringList{QStringLiteral("New image 1"), path}));
    QCOMPARE(window->windowTitle(), path);
    QVERIFY(window->Saved);
}

void TestImageForm::replaceQuestion_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("replaced");

    QTest::newRow("yes replaces") << QMessageBox::Yes << true;
    QTest::newRow("no writes nothing") << QMessageBox::No << false;
    QTest::newRow("dismissed writes nothing") << QMessageBox::Cancel << false;
}

void TestImageForm::replaceQuestion()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, replaced);

    ScriptedUser user;
    const QString path = m_folder->filePath(QStringLiteral("existing.BMP"));
    const QByteArray before("an earlier file");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(before);
    }
    const QImage picture = testPicture(20, 12);
    TfrmImage *window = newWindow(picture);
    user.fileNames << path;
    user.answers << answer;

    QCOMPARE(window->SaveImage(), replaced);

    QCOMPARE(user.messages.size(), 1);
    QCOMPARE(user.messages.first().first, Dialogs::MessageKind::Confirmation);
    QCOMPARE(user.messages.first().second,
             "The file '" + path + "' allready exists.\rWould you like to replace the file.");
    QCOMPARE(window->Saved, replaced);
    if (replaced) {
        QVERIFY(isWindowsBitmapOf(path, picture));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        QCOMPARE(window->windowTitle(), QStringLiteral("New image 1"));
    }
}

void TestImageForm::failedWriteReportsAndKeepsWindowUnsaved_data()
{
    QTest::addColumn<QString>("target");   // relative to the test folder
    QTest::addColumn<bool>("emptyPicture"); // a picture that cannot be written at all

    // Root ignores folder permissions, so the failures are ones that stop everybody.
    QTest::newRow("folder missing") << "no such folder/x.BMP" << false;
    QTest::newRow("parent is a file") << "plain file/x.BMP" << false;
    QTest::newRow("write fails over existing file") << "precious.BMP" << true;
}

void TestImageForm::failedWriteReportsAndKeepsWindowUnsaved()
{
    QFETCH(QString, target);
    QFETCH(bool, emptyPicture);

    ScriptedUser user;
    {
        QFile plain(m_folder->filePath(QStringLiteral("plain file")));
        QVERIFY(plain.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QFile precious(m_folder->filePath(QStringLiteral("precious.BMP")));
        QVERIFY(precious.open(QIODevice::WriteOnly | QIODevice::Truncate));
        precious.write("keep me");
    }
    TfrmImage *window = newWindow(emptyPicture ? QImage() : testPicture(8, 8));
    QPointer<TfrmImage> alive(window);
    const QString path = m_folder->filePath(target);
    // Saved through the close question, as a user closing the window would.
    user.answers << QMessageBox::Yes << QMessageBox::Yes << QMessageBox::Ok;
    user.fileNames << path;

    window->close();
    processDeletes();

    QVERIFY(alive);
    QVERIFY(window->isVisible());
    QVERIFY(!window->Saved);
    QCOMPARE(window->windowTitle(), QStringLiteral("New image 1"));
    const auto &error = user.messages.last();
    QCOMPARE(error.first, Dialogs::MessageKind::Error);
    const QString start = "Cannot create file \"" + QFileInfo(path).absoluteFilePath() + "\". ";
    QVERIFY2(error.second.startsWith(start), qPrintable(error.second));
    QVERIFY2(error.second.size() > start.size(), "the system's reason is missing");
    QFile precious(m_folder->filePath(QStringLiteral("precious.BMP")));
    QVERIFY(precious.open(QIODevice::ReadOnly));
    QCOMPARE(precious.readAll(), QByteArray("keep me"));
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // no leftovers
}

void TestImageForm::closeQuestion_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QString>("typed"); // in the save dialog, if one opens; empty = cancel
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("saved");

    QTest::newRow("yes and saved") << QMessageBox::Yes << "closing.BMP" << true << true;
    QTest::newRow("yes but dialog cancelled") << QMessageBox::Yes << "" << false << false;
    QTest::newRow("no accepts the loss") << QMessageBox::No << "" << true << false;
    QTest::newRow("cancel keeps it") << QMessageBox::Cancel << "" << false << false;
}

void TestImageForm::closeQuestion()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, typed);
    QFETCH(bool, closes);
    QFETCH(bool, saved);

    ScriptedUser user;
    TfrmImage *window = newWindow(testPicture(16, 16), QStringLiteral("New image 7"));
    QPointer<TfrmImage> alive(window);
    user.answers << answer;
    user.fileNames << (typed.isEmpty() ? QString() : m_folder->filePath(typed));

    window->close();
    processDeletes();

    QCOMPARE(user.messages.first().first, Dialogs::MessageKind::Confirmation);
    QCOMPARE(user.messages.first().second, QStringLiteral("Would you like to save the image 'New image 7'?"));
    QCOMPARE(alive.isNull(), closes);
    QCOMPARE(QFile::exists(m_folder->filePath(QStringLiteral("closing.BMP"))), saved);
    if (!closes) {
        QVERIFY(!window->Saved);
        // Still asks next time.
        user.answers << QMessageBox::No;
        window->close();
        processDeletes();
        QVERIFY(alive.isNull());
        QCOMPARE(user.messages.size(), 2);
    }
}

void TestImageForm::closesWithoutQuestion_data()
{
    QTest::addColumn<bool>("saved");
    QTest::addColumn<bool>("skip");

    QTest::newRow("saved") << true << false;
    QTest::newRow("program exiting") << false << true;
}

void TestImageForm::closesWithoutQuestion()
{
    QFETCH(bool, saved);
    QFETCH(bool, skip);

    ScriptedUser user;
    QPointer<TfrmImage> window = newWindow(testPicture(16, 16));
    window->Saved = saved;
    window->SkipSaveQuery = skip;

    window->close();
    processDeletes();

    QVERIFY(window.isNull());
    QVERIFY(user.messages.isEmpty());
}

// Waits in the event loop for a modal window of the given kind and hands it to the answer.
template<typename Window>
static void whenShown(std::function<void(Window *)> answer)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *window = qobject_cast<Window *>(widget);
            if (window && window->isVisible()) {
                poll->deleteLater();
                poll->stop();
                answer(window);
                return;
            }
        }
    });
    poll->start(10);
}

void TestImageForm::realMessageBoxBreaksLinesAndAnswers_data()
{
    QTest::addColumn<bool>("escape");
    QTest::addColumn<QMessageBox::StandardButton>("expected");

    QTest::newRow("No clicked") << false << QMessageBox::No;
    QTest::newRow("Esc is Cancel") << true << QMessageBox::Cancel;
}

void TestImageForm::realMessageBoxBreaksLinesAndAnswers()
{
    QFETCH(bool, escape);
    QFETCH(QMessageBox::StandardButton, expected);

    QString title, text;
    whenShown<QMessageBox>([&](QMessageBox *box) {
        title = box->windowTitle();
        text = box->text();
        if (escape)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(QMessageBox::No)->click();
    });

    const auto answer = Dialogs::message(nullptr, Dialogs::MessageKind::Confirmation,
                                         QStringLiteral("first line\rsecond line"),
                                         QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);

    QCOMPARE(answer, expected);
    QCOMPARE(title, Dialogs::applicationTitle());
    QCOMPARE(text, QStringLiteral("first line\nsecond line"));
}

void TestImageForm::realSaveDialogAddsDefaultExtension()
{
    QStringList filters;
    QString selectedFilter, suffix;
    bool asksOverwrite = true;
    const QString typed = m_folder->filePath(QStringLiteral("typed"));
    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        filters = dialog->nameFilters();
        selectedFilter = dialog->selectedNameFilter();
        suffix = dialog->defaultSuffix();
        asksOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        // Typed into the name field just before accepting, as a user would.
        auto *nameField = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!nameField) {
            QMetaObject::invokeMethod(dialog, "reject"); // the test then fails on the empty answer
            return;
        }
        nameField->setText(typed);
        QMetaObject::invokeMethod(dialog, "accept");
    });

    const QStringList offered{QStringLiteral("Windows Bitmap Files (*.BMP)"), QStringLiteral("All Files (*.*)")};
    const QString chosen = Dialogs::saveFileName(nullptr, QStringLiteral("New image 1"), offered, QStringLiteral("BMP"));

    QCOMPARE(chosen, typed + QStringLiteral(".BMP"));
    QCOMPARE(filters, offered);
    QCOMPARE(selectedFilter, offered.first());
    QCOMPARE(suffix, QStringLiteral("BMP"));
    QVERIFY(!asksOverwrite);
}

void TestImageForm::clientSizeIsExact()
{
    TfrmImage *window = newWindow(testPicture(240, 320));
    QCOMPARE(window->imageView()->size(), QSize(240, 320));
    QVERIFY(!window->imageView()->horizontalScrollBar()->isVisible());
    QVERIFY(!window->imageView()->verticalScrollBar()->isVisible());

    resizeClient(window, QSize(333, 111));
    QCOMPARE(window->imageView()->size(), QSize(333, 111));
}

void TestImageForm::backgroundTileAroundCentredPicture_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("grey");

    // Grey levels a = 239, b = 242, c = 246, d = 247, e = 248 of the 12 x 10 tile.
    QTest::newRow("corner a") << QPoint(0, 0) << 239;
    QTest::newRow("row 1 e") << QPoint(1, 0) << 248;
    QTest::newRow("row 4 b") << QPoint(1, 3) << 242;
    QTest::newRow("row 5 c") << QPoint(5, 4) << 246;
    QTest::newRow("row 6 c") << QPoint(4, 5) << 246;
    QTest::newRow("row 7 d") << QPoint(6, 6) << 247;
    QTest::newRow("row 9 b") << QPoint(10, 8) << 242;
    QTest::newRow("row 10 last b") << QPoint(11, 9) << 242;
    QTest::newRow("next tile across") << QPoint(12 + 6, 0) << 239;
    QTest::newRow("next tile down") << QPoint(3, 10 + 6) << 239;
    QTest::newRow("far tile centre d") << QPoint(12 * 15 + 6, 10 * 13 + 6) << 247;
    QTest::newRow("bottom right edge") << QPoint(12 * 16 + 11, 10 * 14 + 9) << 242;
}

void TestImageForm::backgroundTileAroundCentredPicture()
{
    QFETCH(QPoint, at);
    QFETCH(int, grey);

    const QImage picture = testPicture(41, 31);
    TfrmImage *window = newWindow(picture);
    resizeClient(window, QSize(12 * 17, 10 * 15)); // 204 x 150

    const QImage shown = window->imageView()->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(204, 150));
    // Centred with the remainder dropped: (204 - 41) / 2 = 81, (150 - 31) / 2 = 59.
    const QPoint origin(81, 59);
    QCOMPARE(window->imageView()->pictureOrigin(), origin);
    QCOMPARE(shown.copy(QRect(origin, picture.size())), picture);
    QCOMPARE(shown.pixel(at), qRgb(grey, grey, grey));
}

void TestImageForm::shrinkingKeepsPositionAndShowsScrollBar()
{
    const QImage picture = testPicture(60, 40);
    TfrmImage *window = newWindow(picture);
    TImageView *view = window->imageView();
    resizeClient(window, QSize(161, 121));
    QCOMPARE(view->pictureOrigin(), QPoint(50, 40));

    // Narrower than the picture: left stays, top is centred again in the new height.
    resizeClient(window, QSize(40, 101));
    QVERIFY(view->horizontalScrollBar()->isVisible());
    QVERIFY(!view->verticalScrollBar()->isVisible());
    const int clientHeight = view->viewport()->height();
    QCOMPARE(view->pictureOrigin(), QPoint(50, (clientHeight - 40) / 2));
    QCOMPARE(view->horizontalScrollBar()->maximum(), 50 + 60 - view->viewport()->width());

    // The scroll bar reaches the picture's right edge.
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    const QImage shown = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int lastColumn = view->viewport()->width() - 1;
    QCOMPARE(shown.pixel(lastColumn, view->pictureOrigin().y()), picture.pixel(59, 0));
}

void TestImageForm::wheelScrollsVerticallyOnly()
{
    TfrmImage *window = newWindow(testPicture(300, 300));
    resizeClient(window, QSize(100, 100));
    TImageView *view = window->imageView();
    QScrollBar *vertical = view->verticalScrollBar();
    QScrollBar *horizontal = view->horizontalScrollBar();
    QVERIFY(vertical->maximum() > 50);

    const auto turn = [view](QPoint angle) {
        const QPointF inside(10, 10);
        QWheelEvent event(inside, view->viewport()->mapToGlobal(inside), QPoint(), angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view->viewport(), &event);
    };

    turn(QPoint(0, -120)); // one notch towards the user
    QCOMPARE(vertical->value(), 10);
    turn(QPoint(0, -360));
    QCOMPARE(vertical->value(), 40);
    turn(QPoint(0, 60)); // half a notch: nothing yet
    QCOMPARE(vertical->value(), 40);
    turn(QPoint(0, 60));
    QCOMPARE(vertical->value(), 30);
    turn(QPoint(0, 120 * 10)); // stays within the range
    QCOMPARE(vertical->value(), 0);
    turn(QPoint(-120, 0));
    QCOMPARE(horizontal->value(), 0);
    vertical->setValue(vertical->maximum() - 5);
    turn(QPoint(0, -120));
    QCOMPARE(vertical->value(), vertical->maximum());
}

QTEST_MAIN(TestImageForm)
#include "tst_imageform.moc"
