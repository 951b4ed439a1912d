// The main window without an instrument: start states, status bar, shortcuts, image-window
// commands, closing with unsaved images, the settings file and the port menu.

#include "Dialogs.h"
#include "ImageForm.h"
#include "IniSettings.h"
#include "Main.h"
#include "UnsavedImages.h"
#include "qzMeterCOM.h"

#include <QAction>
#include <QClipboard>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "TestHome.h"

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startStates_data();
    void startStates();
    void captionsAndToolTips();
    void statusBarLayout_data();
    void statusBarLayout();
    void sizeGripPixels();

    void saveAndCopyFollowActiveWindow();
    void windowMenuCommands();
    void shortcutsActOncePerPressWithShift_data();
    void shortcutsActOncePerPressWithShift();
    void disabledShortcutDoesNothing();
    void copyPutsActiveImageOnClipboard();
    void aboutShowsTheBoxModally();

    void closeAllWithCloseWithoutSaving();
    void exitCancelledKeepsEverything();
    void exitWithoutImagesWritesSettings();

    void readingRules_data();
    void readingRules();
    void settingsRoundTrip();
    void maximisedKeepsNormalPlacement();
    void failedSettingsWriteIsReportedAndStillCloses();

    void portMenuOrderAndCaptions();
    void storedPortNotListedChecksNothing();
    void equalNumbersAndPortZero();

private:
    TfrmImage *addImage(const QString &title, const QSize &size = QSize(24, 16));
    QString iniFile() const { return m_home.path() + QStringLiteral("/CorvaneSnaploom.INI"); }
    void writeIni(const QByteArray &text);
    QString iniText() const;

    TestHome m_home;
    std::unique_ptr<TfrmMain> m_main;
    QList<QPair<Dialogs::MessageKind, QString>> m_messages;
};

void TestMainWindow::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    frmUnsavedImages = new TfrmUnsavedImages;
}

void TestMainWindow::init()
{
    QFile::remove(iniFile());
    m_messages.clear();
    Dialogs::setMessageHandler([this](Dialogs::MessageKind kind, const QString &text, QMessageBox::StandardButtons) {
        m_messages.append({kind, text});
        return QMessageBox::Ok;
    });
    m_main = std::make_unique<TfrmMain>();
}

void TestMainWindow::cleanup()
{
    if (m_main) {
        for (TfrmImage *window : m_main->imageWindows())
            window->Saved = true;
    }
    m_main.reset();
    TfrmUnsavedImages::setAnswerHandler({});
    Dialogs::setMessageHandler({});
    Dialogs::setSaveFileHandler({});
}

TfrmImage *TestMainWindow::addImage(const QString &title, const QSize &size)
{
    auto *window = new TfrmImage;
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(qRgb(30, 90, 160));
    picture.setPixel(0, 0, qRgb(255, 0, 0));
    window->setPicture(picture);
    window->setWindowTitle(title);
    m_main->ClientArea->addSubWindow(window);
    window->show();
    m_main->ClientArea->setActiveSubWindow(window);
    return window;
}

void TestMainWindow::writeIni(const QByteArray &text)
{
    QFile file(iniFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

QString TestMainWindow::iniText() const
{
    QFile file(iniFile());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// ---------------------------------------------------------------------------------------------

void TestMainWindow::startStates_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("Capture screen") << "Capture screen" << false;
    QTest::newRow("Save Image As...") << "Save Image As..." << false;
    QTest::newRow("Connect") << "Connect" << true;  // the port menu enables it even with no port chosen
    QTest::newRow("Interface") << "Interface" << true;
    QTest::newRow("Exit") << "&Exit" << true;
    QTest::newRow("Freeze Image") << "&Freeze Image" << true;
    QTest::newRow("Copy") << "&Copy to clipboard" << false;
    QTest::newRow("Arrange") << "&Arrange" << false;
    QTest::newRow("Cascade") << "&Cascade" << false;
    QTest::newRow("Tile Horizontally") << "Tile &Horizontally" << false;
    QTest::newRow("Tile Vertically") << "&Tile Vertically" << false;
    QTest::newRow("Minimize All") << "&Minimize All" << false;
    QTest::newRow("Close") << "C&lose" << false;
    QTest::newRow("Close All") << "Close All" << false;
    QTest::newRow("About") << "&About" << true;
    QTest::newRow("Find instrument (toolbar)") << "Find instrument" << true;
}

void TestMainWindow::startStates()
{
    QFETCH(QString, item);
    QFETCH(bool, enabled);

    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    QList<QAction *> all = m_main->mnuPopConnect->actions();
    for (QAction *menu : m_main->menuBar()->actions()) {
        all << menu;
        for (QAction *action : menu->menu()->actions())
            all << action;
    }
    all << m_main->mnuInterface->menuAction();
    QAction *found = nullptr;
    for (QAction *action : all)
        if (action->text() == item)
            found = action;
    QVERIFY2(found, qPrintable(item));
    QCOMPARE(found->isEnabled(), enabled);

    // Toolbar buttons mirror their menu items.
    QCOMPARE(m_main->btnConnect->isEnabled(), m_main->mnuConnect->isEnabled());
    QCOMPARE(m_main->btnGrab->isEnabled(), false);
    QCOMPARE(m_main->btnCopy->isEnabled(), false);
    QCOMPARE(m_main->btnSaveAs->isEnabled(), false);
    QCOMPARE(m_main->btnExit->isEnabled(), true);
    QVERIFY(!m_main->mnuFreezeImage->isChecked());
    QVERIFY(!m_main->pbMain->isVisible());
}

void TestMainWindow::captionsAndToolTips()
{
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvane Snaploom v.1.2"));
    QCOMPARE(m_main->minimumSize(), QSize(800, 600));
    QVERIFY(!m_main->windowIcon().isNull());

    QStringList menus;
    for (QAction *menu : m_main->menuBar()->actions())
        menus << menu->text();
    QCOMPARE(menus, (QStringList{"&Files", "&Edit", "&Window", "&Help"}));

    QCOMPARE(m_main->pnlConnected->text(), QStringLiteral("Not Connected"));
    QCOMPARE(m_main->pnlPort->text(), QStringLiteral("COM1"));
    QVERIFY(m_main->pnlFile->text().isEmpty());
    QVERIFY(m_main->pnlSerial->text().isEmpty());

    QVERIFY(m_main->btnConnect->toolTip().isEmpty());
    QCOMPARE(m_main->btnGrab->toolTip(), QStringLiteral("Capture screen."));
    QCOMPARE(m_main->btnCopy->toolTip(), QStringLiteral("Copy image to clipboard."));
    QCOMPARE(m_main->btnSaveAs->toolTip(), QStringLiteral("Save image as..."));
    QCOMPARE(m_main->btnExit->toolTip(), QStringLiteral("Exit."));
    QCOMPARE(m_main->btnConnect->popupMode(), QToolButton::MenuButtonPopup);
    QCOMPARE(m_main->btnConnect->menu(), m_main->mnuPopConnect);
    QCOMPARE(m_main->mnuPopFindInstrument->data().toInt(), TfrmMain::TagFindInstrument);

    // Shown in the menus; Ctrl+Enter with the big Enter key and the keypad's.
    QCOMPARE(m_main->mnuCaptureScreen->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
    QVERIFY(m_main->mnuConnect->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Return)));
    QCOMPARE(m_main->mnuConnect->shortcut().toString(), QStringLiteral("Ctrl+Enter"));
    QVERIFY(m_main->mnuConnect->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Enter)));
}

void TestMainWindow::statusBarLayout_data()
{
    QTest::addColumn<int>("windowWidth");
    QTest::addColumn<QList<QRect>>("panels");  // file, info, connected, serial, port, corner

    QTest::newRow("minimum width 800")
        << 800 << QList<QRect>{{2, 2, 276, 20}, {280, 2, 198, 20}, {480, 2, 120, 20}, {602, 2, 120, 20},
                               {724, 2, 50, 20}, {773, 5, 16, 16}};
    // 1000 - 8 = 992: info 248, file 992 - 248 - 120 - 120 - 50 - 16 - 12 = 426.
    QTest::newRow("width 1000")
        << 1000 << QList<QRect>{{2, 2, 426, 20}, {430, 2, 248, 20}, {680, 2, 120, 20}, {802, 2, 120, 20},
                                {924, 2, 50, 20}, {973, 5, 16, 16}};
}

void TestMainWindow::statusBarLayout()
{
    QFETCH(int, windowWidth);
    QFETCH(QList<QRect>, panels);

    m_main->resize(windowWidth, 640);
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    QTRY_COMPARE(m_main->width(), windowWidth);

    QCOMPARE(m_main->pnlStatus->size(), QSize(windowWidth - 8, 24));
    QCOMPARE(m_main->pnlFile->geometry(), panels[0]);
    QCOMPARE(m_main->pnlInfo->geometry(), panels[1]);
    QCOMPARE(m_main->pnlConnected->geometry(), panels[2]);
    QCOMPARE(m_main->pnlSerial->geometry(), panels[3]);
    QCOMPARE(m_main->pnlPort->geometry(), panels[4]);
    QCOMPARE(m_main->imgCorner->geometry(), panels[5]);
    // The progress bar fills the info panel.
    QVERIFY(m_main->pnlInfo->rect().contains(m_main->pbMain->geometry()));
    QVERIFY(m_main->pbMain->width() >= m_main->pnlInfo->width() - 4);
}

void TestMainWindow::sizeGripPixels()
{
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    const QImage grip = m_main->imgCorner->pixmap().toImage();
    QCOMPARE(grip.size(), QSize(16, 16));
    const QRgb face = grip.pixel(0, 0);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const int sum = x + y;
            QRgb expected = face;
            if (sum == 17 || sum == 21 || sum == 25)
                expected = qRgb(255, 255, 255);
            else if (sum == 18 || sum == 19 || sum == 22 || sum == 23 || sum == 26 || sum == 27)
                expected = qRgb(128, 128, 128);
            QVERIFY2(grip.pixel(x, y) == expected, qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
    }
}

void TestMainWindow::saveAndCopyFollowActiveWindow()
{
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    TfrmImage *first = addImage(QStringLiteral("New image 1"));
    TfrmImage *second = addImage(QStringLiteral("New image 2"));
    QTRY_VERIFY(m_main->mnuCopy->isEnabled());
    QVERIFY(m_main->mnuSaveImage->isEnabled());
    QVERIFY(m_main->btnCopy->isEnabled());
    QVERIFY(m_main->btnSaveAs->isEnabled());
    QCOMPARE(m_main->activeImageWindow(), second);

    second->Saved = true;
    second->close();
    QTRY_COMPARE(m_main->activeImageWindow(), first);
    QVERIFY(m_main->mnuCopy->isEnabled());

    // Closing the last image window disables them at once, without opening a menu.
    first->Saved = true;
    first->close();
    QTRY_VERIFY(!m_main->mnuCopy->isEnabled());
    QVERIFY(!m_main->mnuSaveImage->isEnabled());
    QVERIFY(!m_main->btnCopy->isEnabled());
    QVERIFY(!m_main->btnSaveAs->isEnabled());
}

void TestMainWindow::windowMenuCommands()
{
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    emit m_main->mnuWindow->aboutToShow();
    QVERIFY(!m_main->mnuCloseAll->isEnabled());
    QVERIFY(!m_main->mnuCascade->isEnabled());

    TfrmImage *first = addImage(QStringLiteral("New image 1"));
    TfrmImage *second = addImage(QStringLiteral("New image 2"));
    emit m_main->mnuWindow->aboutToShow();
    for (QAction *item : {m_main->mnuArrange, m_main->mnuCascade, m_main->mnuTileHorizontally,
                          m_main->mnuTileVertically, m_main->mnuMinimizeAll, m_main->mnuClose, m_main->mnuCloseAll})
        QVERIFY2(item->isEnabled(), qPrintable(item->text()));

    // The menu lists the open windows and marks the active one; choosing one activates it.
    QAction *entryForFirst = nullptr;
    int listed = 0;
    for (QAction *item : m_main->mnuWindow->actions()) {
        if (item->text().endsWith(QStringLiteral("New image 1")))
            entryForFirst = item;
        if (item->text().endsWith(QStringLiteral("New image 2"))) {
            QVERIFY(item->isChecked());
            ++listed;
        }
    }
    QVERIFY(entryForFirst);
    QCOMPARE(listed, 1);
    QVERIFY(!entryForFirst->isChecked());
    entryForFirst->trigger();
    QTRY_COMPARE(m_main->activeImageWindow(), first);

    m_main->mnuTileVertically->trigger();
    QVERIFY(first->x() != second->x());
    QCOMPARE(first->y(), second->y());
    m_main->mnuTileHorizontally->trigger();
    QVERIFY(first->y() != second->y());
    QCOMPARE(first->x(), second->x());

    m_main->mnuMinimizeAll->trigger();
    QVERIFY(first->isMinimized());
    QVERIFY(second->isMinimized());

    // "C&lose" asks the active window's own question: answering No closes it unsaved.
    first->showNormal();
    m_main->ClientArea->setActiveSubWindow(first);
    Dialogs::setMessageHandler([this](Dialogs::MessageKind kind, const QString &text, QMessageBox::StandardButtons) {
        m_messages.append({kind, text});
        return QMessageBox::No;
    });
    QPointer<TfrmImage> closing = m_main->activeImageWindow();
    m_main->mnuClose->trigger();
    QTRY_VERIFY(!closing);
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.first().second.startsWith(QStringLiteral("Would you like to save the image '")));
    QCOMPARE(m_main->imageWindows().size(), 1);
}

void TestMainWindow::shortcutsActOncePerPressWithShift_data()
{
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::newRow("Ctrl") << Qt::KeyboardModifiers(Qt::ControlModifier);
    QTest::newRow("Ctrl+Shift") << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier);
}

void TestMainWindow::shortcutsActOncePerPressWithShift()
{
    QFETCH(Qt::KeyboardModifiers, modifiers);
    // Active, as under a user's hands: the menu items' own shortcuts would be live too.
    m_main->show();
    m_main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));

    // Freeze on: one toggle and one warning per press; off again: no message.
    QTest::keyClick(m_main.get(), Qt::Key_F, modifiers);
    QVERIFY(m_main->mnuFreezeImage->isChecked());
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first().first, Dialogs::MessageKind::Warning);
    QCOMPARE(m_messages.first().second,
             QStringLiteral("When freezing the image, any ongoing measurements on the instrument will be "
                            "cleared when the image has been loaded."));
    QTest::keyClick(m_main.get(), Qt::Key_F, modifiers);
    QVERIFY(!m_main->mnuFreezeImage->isChecked());
    QCOMPARE(m_messages.size(), 1);

    // Save: the active image's save dialog comes up exactly once.
    addImage(QStringLiteral("New image 7"));
    int dialogs = 0;
    Dialogs::setSaveFileHandler([&dialogs](const QString &proposed, const QStringList &, const QString &) {
        ++dialogs;
        [&] { QCOMPARE(proposed, QStringLiteral("New image 7")); }();
        return QString();
    });
    QTest::keyClick(m_main.get(), Qt::Key_S, modifiers);
    QCOMPARE(dialogs, 1);

    // Exit closes the window.
    m_main->imageWindows().first()->Saved = true;
    QTest::keyClick(m_main.get(), Qt::Key_X, modifiers);
    QTRY_VERIFY(!m_main->isVisible());
}

void TestMainWindow::disabledShortcutDoesNothing()
{
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    int dialogs = 0;
    Dialogs::setSaveFileHandler([&dialogs](const QString &, const QStringList &, const QString &) {
        ++dialogs;
        return QString();
    });
    QTest::keyClick(m_main.get(), Qt::Key_S, Qt::ControlModifier);  // no image: Save is disabled
    QTest::keyClick(m_main.get(), Qt::Key_N, Qt::ControlModifier);  // not connected: Capture is disabled
    QCOMPARE(dialogs, 0);
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(m_main->CaptureCount, 0);
    QVERIFY(m_main->isVisible());
}

void TestMainWindow::copyPutsActiveImageOnClipboard()
{
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    addImage(QStringLiteral("New image 1"), QSize(10, 10));
    TfrmImage *second = addImage(QStringLiteral("New image 2"), QSize(30, 20));
    QGuiApplication::clipboard()->clear();

    QTest::keyClick(m_main.get(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    const QImage copied = QGuiApplication::clipboard()->image();
    QCOMPARE(copied.size(), QSize(30, 20));
    QCOMPARE(copied.pixel(0, 0), qRgb(255, 0, 0));

    // Copying does not count as saving: closing still asks.
    QVERIFY(!second->Saved);
    m_messages.clear();
    Dialogs::setMessageHandler([this](Dialogs::MessageKind kind, const QString &text, QMessageBox::StandardButtons) {
        m_messages.append({kind, text});
        return QMessageBox::Cancel;
    });
    second->close();
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_main->imageWindows().size(), 2);
}

void TestMainWindow::aboutShowsTheBoxModally()
{
    m_main->mnuAbout->trigger();   // no box handed over yet: nothing happens

    QDialog box;
    m_main->setAboutBox(&box);
    bool modal = false;
    QTimer::singleShot(0, &box, [&] {
        modal = box.isVisible() && box.isModal();
        box.accept();
    });
    m_main->mnuAbout->trigger();
    QVERIFY(modal);
    QVERIFY(!box.isVisible());
}

void TestMainWindow::closeAllWithCloseWithoutSaving()
{
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    addImage(QStringLiteral("New image 1"));
    TfrmImage *saved = addImage(QStringLiteral("/tmp/saved.BMP"));
    saved->Saved = true;
    addImage(QStringLiteral("New image 3"));

    QStringList rows;
    TfrmUnsavedImages::setAnswerHandler([&rows](TfrmUnsavedImages &dialog) {
        for (int row = 0; row < dialog.chkUnsavedImages->count(); ++row)
            rows << dialog.chkUnsavedImages->item(row)->text();
        dialog.Button2->click();
    });
    emit m_main->mnuWindow->aboutToShow();
    QVERIFY(m_main->mnuCloseAll->isEnabled());
    m_main->mnuCloseAll->trigger();

    // The most recently active first; the saved one is not offered.
    QCOMPARE(rows, (QStringList{"New image 3", "New image 1"}));
    QTRY_VERIFY(m_main->imageWindows().isEmpty());
    QVERIFY(m_messages.isEmpty());  // no window asked its own question
    QVERIFY(m_main->isVisible());
    QVERIFY(!m_main->mnuCopy->isEnabled());
    QVERIFY(!QFile::exists(iniFile()));
}

void TestMainWindow::exitCancelledKeepsEverything()
{
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    TfrmImage *first = addImage(QStringLiteral("New image 1"));
    TfrmImage *second = addImage(QStringLiteral("New image 2"));

    bool shown = false;
    TfrmUnsavedImages::setAnswerHandler([&shown](TfrmUnsavedImages &dialog) {
        shown = true;
        dialog.btnCancel->click();
    });
    m_main->mnuExit->trigger();
    QVERIFY(shown);
    QVERIFY(m_main->isVisible());
    QCOMPARE(m_main->imageWindows().size(), 2);
    QVERIFY(!QFile::exists(iniFile()));  // a cancelled close writes nothing
    // Each window asks its own question again afterwards.
    QVERIFY(!first->SkipSaveQuery);
    QVERIFY(!second->SkipSaveQuery);
    QVERIFY(!first->Saved);

    // The close box takes the same road.
    shown = false;
    m_main->close();
    QVERIFY(shown);
    QVERIFY(m_main->isVisible());
    QVERIFY(!first->SkipSaveQuery);
    QVERIFY(m_messages.isEmpty());
}

void TestMainWindow::exitWithoutImagesWritesSettings()
{
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    bool shown = false;
    TfrmUnsavedImages::setAnswerHandler([&shown](TfrmUnsavedImages &) { shown = true; });
    m_main->btnExit->click();
    QVERIFY(!shown);
    QVERIFY(!m_main->isVisible());
    // A first run: the defaults, the window at (10, 10) in its minimum size.
    QCOMPARE(iniText(), QStringLiteral("[COM]\nPort=1\n\n[Options]\nFreezeImage=0\n\n[Window]\nX=10\nY=10\n"
                                       "Width=800\nHeight=600\nMaximized=0\n"));
}

void TestMainWindow::readingRules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");  // with the default 77

    QTest::newRow("decimal") << "12" << 12;
    QTest::newRow("leading blanks and sign") << "   -5" << -5;
    QTest::newRow("plus sign") << "+8" << 8;
    QTest::newRow("0x0A") << "0x0A" << 10;
    QTest::newRow("0X1f") << "0X1f" << 31;
    QTest::newRow("$FF") << "$FF" << 255;
    QTest::newRow("x10") << "x10" << 16;
    QTest::newRow("X10") << "X10" << 16;
    QTest::newRow("negative hex") << "-$10" << -16;
    QTest::newRow("all 32 bits in hex") << "$FFFFFFFF" << -1;
    QTest::newRow("largest") << "2147483647" << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << int(-2147483647 - 1);
    QTest::newRow("too large") << "2147483648" << 77;
    QTest::newRow("hex too large") << "$100000000" << 77;
    QTest::newRow("COM3") << "COM3" << 77;
    QTest::newRow("yes") << "yes" << 77;
    QTest::newRow("empty") << "" << 77;
    QTest::newRow("sign alone") << "-" << 77;
    QTest::newRow("prefix alone") << "0x" << 77;
    QTest::newRow("trailing text") << "12abc" << 77;
    QTest::newRow("decimal point") << "1.5" << 77;
    QTest::newRow("comma") << "1,2" << 77;
    QTest::newRow("quoted") << "\"4\"" << 4;
}

void TestMainWindow::readingRules()
{
    QFETCH(QString, text);
    QFETCH(int, expected);

    writeIni("[COM]\nPort=" + text.toUtf8() + "\n");
    const TIniSettings settings(iniFile());
    QCOMPARE(settings.readInteger(QStringLiteral("COM"), QStringLiteral("Port"), 77), expected);
}

void TestMainWindow::settingsRoundTrip()
{
    m_main.reset();
    // Names in any letter case; booleans are integers: 2 is true, "yes" is not a number.
    // Lines a hand-edited file may hold are skipped, and kept when the file is written.
    writeIni("; edited by hand\n[com]\nport=0x0A\nnot a setting\n[Options]\nFreezeImage=2\nNote=a, \"b\"\n"
             "[Window]\nX=40\nY=$1E\nWidth=900\nHeight=100\nMaximized=yes\n");
    m_main = std::make_unique<TfrmMain>();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    QCOMPARE(m_main->link().PortNumber, 10);
    QCOMPARE(m_main->pnlPort->text(), QStringLiteral("COM1"));  // port 10 is not listed
    QVERIFY(m_main->mnuFreezeImage->isChecked());
    QCOMPARE(m_main->pos(), QPoint(40, 30));
    QCOMPARE(m_main->size(), QSize(900, 600));  // raised to the minimum height
    QVERIFY(!m_main->isMaximized());

    // Change what the user can change, then exit.
    m_main->mnuFreezeImage->setChecked(false);
    m_main->link().PortNumber = 4;
    m_main->move(50, 60);
    m_main->resize(1000, 700);
    m_main->mnuExit->trigger();
    QVERIFY(!m_main->isVisible());

    const TIniSettings written(iniFile());
    QCOMPARE(written.readString("COM", "Port"), QStringLiteral("4"));
    QCOMPARE(written.readString("Options", "FreezeImage"), QStringLiteral("0"));
    QCOMPARE(written.readString("Window", "X"), QStringLiteral("50"));
    QCOMPARE(written.readString("Window", "Y"), QStringLiteral("60"));
    QCOMPARE(written.readString("Window", "Width"), QStringLiteral("1000"));
    QCOMPARE(written.readString("Window", "Height"), QStringLiteral("700"));
    QCOMPARE(written.readString("Window", "Maximized"), QStringLiteral("0"));
    QVERIFY(!written.readString("Options", "Note").isEmpty());
    QVERIFY(m_messages.isEmpty());
    QVERIFY(!iniText().contains(QStringLiteral("port=0x0A")));  // one Port key, ours

    // The next start reads back what was written.
    m_main = std::make_unique<TfrmMain>();
    QCOMPARE(m_main->link().PortNumber, 4);
    QVERIFY(!m_main->mnuFreezeImage->isChecked());
    QCOMPARE(m_main->pos(), QPoint(50, 60));
    QCOMPARE(m_main->size(), QSize(1000, 700));
}

void TestMainWindow::maximisedKeepsNormalPlacement()
{
    m_main.reset();
    // As a Windows editor saves it: byte-order mark and CR LF line ends.
    writeIni("\xEF\xBB\xBF[Window]\r\nX=20\r\nY=25\r\nWidth=820\r\nHeight=610\r\nMaximized=1\r\n");
    m_main = std::make_unique<TfrmMain>();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    QTRY_VERIFY(m_main->isMaximized());
    QCOMPARE(m_main->normalGeometry().size(), QSize(820, 610));

    m_main->mnuExit->trigger();
    const TIniSettings written(iniFile());
    QCOMPARE(written.readString("Window", "Maximized"), QStringLiteral("1"));
    QCOMPARE(written.readString("Window", "X"), QStringLiteral("20"));
    QCOMPARE(written.readString("Window", "Width"), QStringLiteral("820"));
    QCOMPARE(written.readString("COM", "Port"), QStringLiteral("1"));
}

void TestMainWindow::failedSettingsWriteIsReportedAndStillCloses()
{
    // A settings path below a plain file cannot be written, whoever runs the test.
    const QString blocker = m_home.path() + QStringLiteral("/not-a-folder");
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    m_main->IniFileName = blocker + QStringLiteral("/CorvaneSnaploom.INI");
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    m_main->mnuExit->trigger();
    QVERIFY(!m_main->isVisible());
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first().first, Dialogs::MessageKind::Error);
    QCOMPARE(m_messages.first().second, QStringLiteral("Unable to write to ") + m_main->IniFileName);
    QFile::remove(blocker);
}

void TestMainWindow::portMenuOrderAndCaptions()
{
    // Explicit links in the ports folder, listed as text: COM03, COM1, COM10, COM2.
    const QString ports = m_home.path() + QStringLiteral("/ports/");
    QStringList targets;
    for (const char *name : {"COM10", "COM2", "COM1", "COM03"}) {
        const QString target = m_home.path() + QStringLiteral("/device-") + QLatin1String(name);
        QFile device(target);
        QVERIFY(device.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(target, ports + QLatin1String(name)));
        targets << target;
    }
    m_main->link().PortNumber = 3;
    QAction *refresh = nullptr;
    for (QAction *item : m_main->mnuInterface->actions())
        if (item->data().toInt() == TfrmMain::TagRefresh)
            refresh = item;
    QVERIFY(refresh);
    refresh->trigger();

    QStringList captions;
    QList<int> tags;
    QStringList tips;
    QStringList checked;
    const QList<QAction *> items = m_main->mnuInterface->actions();
    for (QAction *item : items) {
        if (!targets.contains(item->statusTip()))
            continue;  // a system port of this computer
        captions << item->text();
        tags << item->data().toInt();
        tips << QFileInfo(item->statusTip()).fileName();
        if (item->isChecked())
            checked << item->text();
    }
    QCOMPARE(captions, (QStringList{"COM1", "COM2", "COM3", "COM10"}));
    QCOMPARE(tags, (QList<int>{1, 2, 3, 10}));
    QCOMPARE(tips, (QStringList{"device-COM1", "device-COM2", "device-COM03", "device-COM10"}));
    QCOMPARE(checked, QStringList{"COM3"});
    QCOMPARE(m_main->pnlPort->text(), QStringLiteral("COM3"));

    // Separator, "Refresh" and "Find instrument" close the menu.
    QCOMPARE(items.size() >= 3, true);
    QVERIFY(items.at(items.size() - 3)->isSeparator());
    QCOMPARE(items.at(items.size() - 2)->text(), QStringLiteral("Refresh"));
    QCOMPARE(items.at(items.size() - 1)->text(), QStringLiteral("Find instrument"));
    QCOMPARE(items.at(items.size() - 1)->data().toInt(), TfrmMain::TagFindInstrument);

    // Choosing a port selects it alone and shows it.
    for (QAction *item : items)
        if (item->text() == QStringLiteral("COM10"))
            item->trigger();
    QCOMPARE(m_main->link().PortNumber, 10);
    QCOMPARE(m_main->pnlPort->text(), QStringLiteral("COM10"));
    int checkedCount = 0;
    for (QAction *item : m_main->mnuInterface->actions())
        checkedCount += item->isChecked() ? 1 : 0;
    QCOMPARE(checkedCount, 1);
    QVERIFY(m_main->mnuConnect->isEnabled());

    // "Refresh" keeps the selected port.
    refresh = nullptr;
    for (QAction *item : m_main->mnuInterface->actions())
        if (item->data().toInt() == TfrmMain::TagRefresh)
            refresh = item;
    refresh->trigger();
    QCOMPARE(m_main->link().PortNumber, 10);

    for (const char *name : {"COM10", "COM2", "COM1", "COM03"})
        QFile::remove(ports + QLatin1String(name));
    for (const QString &target : targets)
        QFile::remove(target);
}

void TestMainWindow::storedPortNotListedChecksNothing()
{
    m_main.reset();
    writeIni("[COM]\nPort=97\n");
    m_main = std::make_unique<TfrmMain>();
    QCOMPARE(m_main->link().PortNumber, 97);
    QVERIFY(!m_main->PortSelected());
    QCOMPARE(m_main->pnlPort->text(), QStringLiteral("COM1"));
    QVERIFY(m_main->mnuConnect->isEnabled());
}

void TestMainWindow::equalNumbersAndPortZero()
{
    const QString ports = m_home.path() + QStringLiteral("/ports/");
    const QString target = m_home.path() + QStringLiteral("/device");
    QFile device(target);
    QVERIFY(device.open(QIODevice::WriteOnly));
    for (const char *name : {"COM2", "COM02", "COM0"})
        QVERIFY(QFile::link(target, ports + QLatin1String(name)));
    m_main->link().PortNumber = 2;
    m_main->BuildPortMenu();

    QStringList ours;
    QStringList checked;
    for (QAction *item : m_main->mnuInterface->actions()) {
        if (item->statusTip() != target)
            continue;
        ours << item->text();
        if (item->isChecked())
            checked << item->text();
    }
    // Both names of port 2 are listed, in text order, and both are checked.
    QCOMPARE(ours, (QStringList{"COM0", "COM2", "COM2"}));
    QCOMPARE(checked, (QStringList{"COM2", "COM2"}));

    // Port 0 can be chosen, like any other.
    for (QAction *item : m_main->mnuInterface->actions())
        if (item->text() == QStringLiteral("COM0"))
            item->trigger();
    QCOMPARE(m_main->link().PortNumber, 0);
    QCOMPARE(m_main->pnlPort->text(), QStringLiteral("COM0"));
    QVERIFY(m_main->PortSelected());

    for (const char *name : {"COM2", "COM02", "COM0"})
        QFile::remove(ports + QLatin1String(name));
    QFile::remove(target);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
