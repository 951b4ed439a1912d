// The main window without an instrument: start states, status bar, shortcuts, closing with unsaved
// images, the settings file and the port menu.

#include "FolderFiles.h"
#include "MainWindowFixture.h"
#include "SaveFolder.h"
#include "StatusPanels.h"

#include <QClipboard>
#include <QFileInfo>
#include <QListWidget>
#include <QMdiArea>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>

class TestMainWindow : public QObject, MainWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { startProgram(); }
    void init()
    {
        QFile::remove(home.settingsFile());
        openMainWindow(this);
        mainWindow->activateWindow();  // as under a user's hands: the menu items' shortcuts are live too
        QVERIFY(QTest::qWaitForWindowActive(mainWindow.get()));
    }
    void cleanup() { closeMainWindow(); }

    void startStates_data();
    void startStates();
    void statusBarLayoutAt800();
    void accessLettersOnePerItemUniqueInMenu();
    void shortcutsActOncePerPressWithShift_data();
    void shortcutsActOncePerPressWithShift();
    void closeAllWithCloseWithoutSaving();
    void exitCancelledKeepsEverything();
    void settingsRoundTrip();
    void saveFolderRoundTrip_data();
    void storedPlacementOffEveryScreen();
    void saveFolderRoundTrip();
    void failedSettingsWriteIsReportedAndStillCloses();
    void portMenuOrder();
    void statusMessagesAreNeverCut_data();
    void statusMessagesAreNeverCut();
    void copyAndSaveConfirm();
    void cascadeRestoresMinimizedWindows();

private:
    TfrmImage *addImage(const QString &title, const QSize &size = QSize(24, 16));
};

TfrmImage *TestMainWindow::addImage(const QString &title, const QSize &size)
{
    auto *window = new TfrmImage;
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(qRgb(30, 90, 160));
    picture.setPixel(0, 0, qRgb(255, 0, 0));
    window->setPicture(picture);
    window->setWindowTitle(title);
    part<QMdiArea>("ClientArea")->addSubWindow(window);
    window->show();
    part<QMdiArea>("ClientArea")->setActiveSubWindow(window);
    return window;
}

void TestMainWindow::startStates_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<bool>("enabled");

    // Connect is enabled even with no port chosen.
    QTest::newRow("enabled") << QStringList{"C&onnect", "&Interface", "&Find instrument", "&Exit", "&Freeze Image",
                                            "&Auto-save captures", "&About"} << true;
    QTest::newRow("disabled") << QStringList{"&Capture screen", "&Save Image As...", "Save &All Images",
                                             "&Copy to clipboard", "Zoom &In", "Zoom &Out", "&Actual Size",
                                             "&Fit to Window", "&Arrange", "&Cascade", "Tile &Horizontally",
                                             "&Tile Vertically", "&Minimize All", "C&lose", "Clos&e All"} << false;
}

void TestMainWindow::startStates()
{
    QFETCH(QStringList, items);
    QFETCH(bool, enabled);

    QList<QAction *> all = menu("mnuPopConnect")->actions() << menu("mnuInterface")->menuAction();
    for (QAction *menu : mainWindow->menuBar()->actions())
        all << menu->menu()->actions();
    for (const QString &item : items) {
        int named = 0, wrong = 0;
        for (QAction *action : all)
            if (action->text() == item)
                ++named, wrong += action->isEnabled() != enabled;
        QVERIFY2(named > 0 && wrong == 0, qPrintable(item));
    }
    // Toolbar buttons follow their menu items.
    QVERIFY(button("btnConnect")->isEnabled() && button("btnExit")->isEnabled());
    QVERIFY(!button("btnGrab")->isEnabled() && !button("btnCopy")->isEnabled());
    QVERIFY(!button("btnSaveAs")->isEnabled());
}

// Every menu item carries an access letter, and no two items of one menu share theirs, so Alt
// with a letter always leads to one item. The Interface menu's port items are named by number.
void TestMainWindow::accessLettersOnePerItemUniqueInMenu()
{
    QList<QMenu *> menus = {menu("mnuPopConnect"), menu("mnuInterface")};
    QList<QAction *> bar = mainWindow->menuBar()->actions();
    for (QAction *item : bar)
        menus << item->menu();
    QSet<QString> barLetters;
    for (QAction *item : bar)
        barLetters << QKeySequence::mnemonic(item->text()).toString();
    QCOMPARE(barLetters.size(), bar.size());

    for (QMenu *shown : std::as_const(menus)) {
        QSet<QString> letters;
        for (QAction *item : shown->actions()) {
            if (item->isSeparator() || (shown == menu("mnuInterface") && item->data().toInt() > 0))
                continue;
            const QString letter = QKeySequence::mnemonic(item->text()).toString();
            QVERIFY2(!letter.isEmpty(), qPrintable(shown->title() + " › " + item->text()));
            QVERIFY2(!letters.contains(letter), qPrintable(shown->title() + " › " + item->text()));
            letters << letter;
        }
    }
    // In Files, A belongs to Save All Images.
    QCOMPARE(QKeySequence::mnemonic(action("mnuSaveAllImages")->text()), QKeySequence(Qt::ALT | Qt::Key_A));
}

void TestMainWindow::statusBarLayoutAt800()
{
    mainWindow->resize(800, 640);
    QTRY_COMPARE(mainWindow->width(), 800);

    QCOMPARE(panel("pnlFile")->geometry(), QRect(2, 2, 276, 20));
    QCOMPARE(panel("pnlInfo")->geometry(), QRect(280, 2, 198, 20));
    QCOMPARE(panel("pnlConnected")->geometry(), QRect(480, 2, 120, 20));
    QCOMPARE(panel("pnlSerial")->geometry(), QRect(602, 2, 120, 20));
    QCOMPARE(panel("pnlPort")->geometry(), QRect(724, 2, 50, 20));
    QCOMPARE(panel("imgCorner")->geometry(), QRect(773, 5, 16, 16));
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

    // Freeze on: one toggle and one warning per press; off again: no message.
    QTest::keyClick(mainWindow.get(), Qt::Key_F, modifiers);
    QVERIFY(action("mnuFreezeImage")->isChecked());
    QVERIFY(messages.size() == 1 && messages.first().first == Kind::Warning);
    QTest::keyClick(mainWindow.get(), Qt::Key_F, modifiers);
    QVERIFY(!action("mnuFreezeImage")->isChecked());
    QCOMPARE(messages.size(), 1);

    // Copy puts the active image on the clipboard. Its state is brought up to date by the key
    // press itself: the picture finished building after the menus were last looked at.
    addImage(QStringLiteral("New image 1"), QSize(10, 10));
    TfrmImage *active = addImage(QStringLiteral("New image 2"), QSize(30, 20));
    active->setBuilding(true);
    mainWindow->UpdateCommandStates();
    QVERIFY(!action("mnuCopy")->isEnabled());
    active->setBuilding(false);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(mainWindow.get(), Qt::Key_C, modifiers);
    const QImage copied = QGuiApplication::clipboard()->image();
    QCOMPARE(copied.size(), QSize(30, 20));
    QCOMPARE(copied.pixel(0, 0), qRgb(255, 0, 0));
}

void TestMainWindow::closeAllWithCloseWithoutSaving()
{
    addImage(QStringLiteral("New image 1"));
    addImage(QStringLiteral("/tmp/saved.BMP"))->setSaved(true);
    addImage(QStringLiteral("New image 3"));
    QStringList rows;
    TfrmUnsavedImages::setAnswerHandler([&rows](TfrmUnsavedImages &dialog) {
        const QListWidget *list = dialog.findChild<QListWidget *>(QStringLiteral("chkUnsavedImages"));
        for (int row = 0; row < list->count(); ++row)
            rows << list->item(row)->text();
        dialog.findChild<QPushButton *>(QStringLiteral("Button2"))->click();
    });
    emit menu("mnuWindow")->aboutToShow();
    action("mnuCloseAll")->trigger();

    QCOMPARE(rows, (QStringList{"New image 3", "New image 1"}));  // most recently active first
    QTRY_VERIFY(imageWindows().isEmpty());
    QVERIFY(messages.isEmpty());  // no window asked its own question
    QVERIFY(mainWindow->isVisible());
}

void TestMainWindow::exitCancelledKeepsEverything()
{
    TfrmImage *first = addImage(QStringLiteral("New image 1"));
    addImage(QStringLiteral("New image 2"));
    int shown = 0;
    TfrmUnsavedImages::setAnswerHandler([&shown](TfrmUnsavedImages &dialog) {
        ++shown;
        dialog.findChild<QPushButton *>(QStringLiteral("btnCancel"))->click();
    });

    action("mnuExit")->trigger();
    mainWindow->close();  // the close box takes the same road

    QCOMPARE(shown, 2);
    QVERIFY(mainWindow->isVisible());
    QCOMPARE(imageWindows().size(), 2);
    QVERIFY(!first->saved() && !first->skipSaveQuery());
    QVERIFY(!QFile::exists(home.settingsFile()));  // a cancelled close writes nothing
    QVERIFY(messages.isEmpty());
}

void TestMainWindow::settingsRoundTrip()
{
    mainWindow.reset();
    // Names in any letter case; booleans are integers: 2 is true, "yes" is not a number.
    QVERIFY(home.writeSettings("; edited by hand\n[com]\nport=0x0A\n[Options]\nFreezeImage=2\n"
                               "[Window]\nX=40\nY=$1E\nWidth=900\nHeight=700\nMaximized=yes\n"));
    mainWindow = std::make_unique<TfrmMain>();
    mainWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow.get()));
    QCOMPARE(mainWindow->link().PortNumber, 10);
    QVERIFY(action("mnuFreezeImage")->isChecked());
    QCOMPARE(mainWindow->pos(), QPoint(40, 30));
    QCOMPARE(mainWindow->size(), QSize(900, 700));
    QVERIFY(!mainWindow->isMaximized());

    // Change what the user can change, exit, and start again.
    action("mnuFreezeImage")->setChecked(false);
    mainWindow->link().PortNumber = 4;
    mainWindow->move(50, 60);
    mainWindow->resize(1000, 640);
    action("mnuExit")->trigger();
    QVERIFY(!mainWindow->isVisible());
    QVERIFY(messages.isEmpty());
    mainWindow = std::make_unique<TfrmMain>();
    QCOMPARE(mainWindow->link().PortNumber, 4);
    QVERIFY(!action("mnuFreezeImage")->isChecked());
    QCOMPARE(mainWindow->pos(), QPoint(50, 60));
    QCOMPARE(mainWindow->size(), QSize(1000, 640));
}

void TestMainWindow::saveFolderRoundTrip_data()
{
    QTest::addColumn<QString>("folder");    // of the last save in this run
    QTest::addColumn<QString>("nextRun");   // as the next run reads it

    QTest::newRow("nothing saved") << "" << "";
    QTest::newRow("a folder") << "/home/user/Pictures/meter" << "/home/user/Pictures/meter";
    QTest::newRow("blanks at the ends") << " shots " << " shots ";
    QTest::newRow("quotes around") << "\"shots\"" << "\"shots\"";
    // A name with a line break would add lines of its own to the file; it is not kept.
    QTest::newRow("line break") << "a\n[COM]\nPort=9" << "";
}

void TestMainWindow::saveFolderRoundTrip()
{
    QFETCH(QString, folder);
    QFETCH(QString, nextRun);

    QVERIFY(home.writeSettings("[COM]\nPort=4\n"));
    mainWindow = std::make_unique<TfrmMain>();
    QVERIFY(TSaveFolder::lastSaveFolder().isEmpty());  // a file from before the key existed
    TSaveFolder::setLastSaveFolder(folder);
    action("mnuExit")->trigger();
    QVERIFY(messages.isEmpty());

    TSaveFolder::setLastSaveFolder(QStringLiteral("left from before"));
    mainWindow = std::make_unique<TfrmMain>();
    QCOMPARE(TSaveFolder::lastSaveFolder(), nextRun);
    QCOMPARE(mainWindow->link().PortNumber, 4);
    QCOMPARE(contentsOf(home.settingsFile()).contains("SaveFolder"), !nextRun.isEmpty());
}

// A placement stored on a screen that is gone starts on the one there is, wholly in view.
void TestMainWindow::storedPlacementOffEveryScreen()
{
    mainWindow.reset();
    QVERIFY(home.writeSettings("[Window]\nX=5000\nY=-4000\nWidth=640\nHeight=400\n"));
    mainWindow = std::make_unique<TfrmMain>();
    mainWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow.get()));
    const QRect screen = mainWindow->screen()->availableGeometry();
    QCOMPARE(mainWindow->size(), QSize(800, 600));
    QVERIFY(screen.contains(mainWindow->pos()));
    QCOMPARE(mainWindow->x() + mainWindow->width() <= screen.right() + 1, screen.width() >= 800);
}

void TestMainWindow::failedSettingsWriteIsReportedAndStillCloses()
{
    // A settings path below a plain file cannot be written, whoever runs the test.
    const QString blocker = home.path() + QStringLiteral("/not-a-folder");
    QVERIFY(writeFile(blocker));
    mainWindow->settings().setFileName(blocker + QStringLiteral("/CorvaneSnaploom.INI"));
    action("mnuExit")->trigger();
    QVERIFY(!mainWindow->isVisible());
    QCOMPARE(messages, (Messages{{Kind::Error, "Unable to write to " + mainWindow->settings().fileName()}}));
    QFile::remove(blocker);
}

void TestMainWindow::portMenuOrder()
{
    // Links in the ports folder, listed as text: COM03, COM1, COM10, COM2.
    const QString target = home.path() + QStringLiteral("/device");
    QFile device(target);
    QVERIFY(device.open(QIODevice::WriteOnly));
    for (const char *name : {"COM10", "COM2", "COM1", "COM03"})
        QVERIFY(QFile::link(target, home.path() + QStringLiteral("/ports/") + QLatin1String(name)));
    mainWindow->link().PortNumber = 3;
    interfaceItem(PortMenu::TagRefresh)->trigger();

    QStringList captions;
    QList<int> tags;
    for (QAction *item : menu("mnuInterface")->actions())
        if (item->statusTip() == target) {  // not a system port of this computer
            captions << item->text();
            tags << item->data().toInt();
        }
    // Each beside the device it leads to.
    const QString path = QStringLiteral("  ") + QFileInfo(target).canonicalFilePath();
    QCOMPARE(captions, (QStringList{"COM1" + path, "COM2" + path, "COM3" + path, "COM10" + path}));
    QCOMPARE(tags, (QList<int>{1, 2, 3, 10}));
    QCOMPARE(panel("pnlPort")->text(), QStringLiteral("COM3"));
}

void TestMainWindow::statusMessagesAreNeverCut_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("windowWidth");
    QTest::addColumn<bool>("elided");
    const QString inUse = QStringLiteral("COM5 cannot be opened: it is in use by another program; close it "
                                         "or choose another port.");
    QTest::newRow("short") << QStringLiteral("Connected.") << 800 << false;
    QTest::newRow("long, in a narrow window") << inUse << 800 << true;
    QTest::newRow("long, in a wide window") << inUse << 1600 << false;
}

// A message too long for the first panel ends in an ellipsis and is whole in the tooltip; the
// panels keep their places.
void TestMainWindow::statusMessagesAreNeverCut()
{
    QFETCH(QString, text);
    QFETCH(int, windowWidth);
    QFETCH(bool, elided);
    mainWindow->resize(windowWidth, 640);
    QLabel *file = panel("pnlFile");
    const QRect place = file->geometry();
    mainWindow->findChild<StatusPanels *>()->setMessage(text);
    QCOMPARE(file->text(), text);
    QCOMPARE(file->toolTip(), elided ? text : QString());
    QCOMPARE(file->geometry(), place);
}

void TestMainWindow::copyAndSaveConfirm()
{
    addImage(QStringLiteral("New image 1"));
    mainWindow->UpdateCommandStates();
    action("mnuCopy")->trigger();
    QCOMPARE(panel("pnlFile")->text(), QStringLiteral("Copied to the clipboard."));

    const QString path = home.path() + QStringLiteral("/bench.bmp");
    Dialogs::setSaveFileHandler([&path](const QString &, const QStringList &, const QString &) { return path; });
    action("mnuSaveImage")->trigger();
    Dialogs::setSaveFileHandler({});
    QVERIFY(QFile::exists(path));
    QCOMPARE(panel("pnlFile")->text(), QStringLiteral("Saved as ") + path);
}

void TestMainWindow::cascadeRestoresMinimizedWindows()
{
    for (int n = 1; n <= 3; ++n)
        addImage(QStringLiteral("New image %1").arg(n));
    mainWindow->UpdateCommandStates();
    action("mnuMinimizeAll")->trigger();
    const QList<TfrmImage *> minimized = imageWindows();
    QVERIFY(std::all_of(minimized.cbegin(), minimized.cend(), [](TfrmImage *w) { return w->isMinimized(); }));
    action("mnuCascade")->trigger();
    QList<QPoint> places;
    for (TfrmImage *window : imageWindows()) {
        QVERIFY(!window->isMinimized());
        QVERIFY(!places.contains(window->pos()));
        places << window->pos();
    }
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
