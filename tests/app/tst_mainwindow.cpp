// The main window without an instrument: start states, status bar, shortcuts, closing with unsaved
// images, the settings file and the port menu.

#include "Dialogs.h"
#include "ImageForm.h"
#include "IniSettings.h"
#include "Main.h"
#include "UnsavedImages.h"
#include "qzMeterCOM.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
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
    void statusBarLayoutAt800();
    void shortcutsActOncePerPressWithShift_data();
    void shortcutsActOncePerPressWithShift();
    void closeAllWithCloseWithoutSaving();
    void exitCancelledKeepsEverything();
    void readingRules_data();
    void readingRules();
    void settingsRoundTrip();
    void failedSettingsWriteIsReportedAndStillCloses();
    void portMenuOrder();

private:
    void showMain();
    TfrmImage *addImage(const QString &title, const QSize &size = QSize(24, 16));
    QString iniFile() const { return m_home.path() + QStringLiteral("/CorvaneSnaploom.INI"); }
    void writeIni(const QByteArray &text);

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
    if (m_main)
        for (TfrmImage *window : m_main->imageWindows())
            window->Saved = true;
    m_main.reset();
    TfrmUnsavedImages::setAnswerHandler({});
    Dialogs::setMessageHandler({});
}

void TestMainWindow::showMain()
{
    m_main->show();
    m_main->activateWindow();  // as under a user's hands: the menu items' own shortcuts are live too
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
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

void TestMainWindow::startStates_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("Capture screen") << "Capture screen" << false;
    QTest::newRow("Save Image As...") << "Save Image As..." << false;
    QTest::newRow("Connect") << "Connect" << true;  // even with no port chosen
    QTest::newRow("Interface") << "Interface" << true;
    QTest::newRow("Find instrument") << "Find instrument" << true;
    QTest::newRow("Exit") << "&Exit" << true;
    QTest::newRow("Freeze Image") << "&Freeze Image" << true;
    QTest::newRow("Copy") << "&Copy to clipboard" << false;
    for (const char *item : {"&Arrange", "&Cascade", "Tile &Horizontally", "&Tile Vertically", "&Minimize All",
                             "C&lose", "Close All"})
        QTest::newRow(item) << item << false;
    QTest::newRow("About") << "&About" << true;
}

void TestMainWindow::startStates()
{
    QFETCH(QString, item);
    QFETCH(bool, enabled);

    showMain();
    QList<QAction *> all = m_main->mnuPopConnect->actions() << m_main->mnuInterface->menuAction();
    for (QAction *menu : m_main->menuBar()->actions())
        all << menu->menu()->actions();
    int found = 0;
    for (QAction *action : all)
        if (action->text() == item) {
            ++found;
            QCOMPARE(action->isEnabled(), enabled);
        }
    QVERIFY2(found > 0, qPrintable(item));
    // Toolbar buttons follow their menu items.
    QVERIFY(m_main->btnConnect->isEnabled() && m_main->btnExit->isEnabled());
    QVERIFY(!m_main->btnGrab->isEnabled() && !m_main->btnCopy->isEnabled() && !m_main->btnSaveAs->isEnabled());
}

void TestMainWindow::statusBarLayoutAt800()
{
    m_main->resize(800, 640);
    showMain();
    QTRY_COMPARE(m_main->width(), 800);

    QCOMPARE(m_main->pnlFile->geometry(), QRect(2, 2, 276, 20));
    QCOMPARE(m_main->pnlInfo->geometry(), QRect(280, 2, 198, 20));
    QCOMPARE(m_main->pnlConnected->geometry(), QRect(480, 2, 120, 20));
    QCOMPARE(m_main->pnlSerial->geometry(), QRect(602, 2, 120, 20));
    QCOMPARE(m_main->pnlPort->geometry(), QRect(724, 2, 50, 20));
    QCOMPARE(m_main->imgCorner->geometry(), QRect(773, 5, 16, 16));
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
    showMain();

    // Freeze on: one toggle and one warning per press; off again: no message.
    QTest::keyClick(m_main.get(), Qt::Key_F, modifiers);
    QVERIFY(m_main->mnuFreezeImage->isChecked());
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first().first, Dialogs::MessageKind::Warning);
    QTest::keyClick(m_main.get(), Qt::Key_F, modifiers);
    QVERIFY(!m_main->mnuFreezeImage->isChecked());
    QCOMPARE(m_messages.size(), 1);

    // Copy puts the active image on the clipboard.
    addImage(QStringLiteral("New image 1"), QSize(10, 10));
    addImage(QStringLiteral("New image 2"), QSize(30, 20));
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(m_main.get(), Qt::Key_C, modifiers);
    const QImage copied = QGuiApplication::clipboard()->image();
    QCOMPARE(copied.size(), QSize(30, 20));
    QCOMPARE(copied.pixel(0, 0), qRgb(255, 0, 0));
}

void TestMainWindow::closeAllWithCloseWithoutSaving()
{
    showMain();
    addImage(QStringLiteral("New image 1"));
    addImage(QStringLiteral("/tmp/saved.BMP"))->Saved = true;
    addImage(QStringLiteral("New image 3"));
    QStringList rows;
    TfrmUnsavedImages::setAnswerHandler([&rows](TfrmUnsavedImages &dialog) {
        for (int row = 0; row < dialog.chkUnsavedImages->count(); ++row)
            rows << dialog.chkUnsavedImages->item(row)->text();
        dialog.Button2->click();
    });
    emit m_main->mnuWindow->aboutToShow();
    m_main->mnuCloseAll->trigger();

    QCOMPARE(rows, (QStringList{"New image 3", "New image 1"}));  // most recently active first
    QTRY_VERIFY(m_main->imageWindows().isEmpty());
    QVERIFY(m_messages.isEmpty());  // no window asked its own question
    QVERIFY(m_main->isVisible());
    QVERIFY(!m_main->mnuCopy->isEnabled());
}

void TestMainWindow::exitCancelledKeepsEverything()
{
    showMain();
    TfrmImage *first = addImage(QStringLiteral("New image 1"));
    addImage(QStringLiteral("New image 2"));
    int shown = 0;
    TfrmUnsavedImages::setAnswerHandler([&shown](TfrmUnsavedImages &dialog) {
        ++shown;
        dialog.btnCancel->click();
    });

    m_main->mnuExit->trigger();
    m_main->close();  // the close box takes the same road

    QCOMPARE(shown, 2);
    QVERIFY(m_main->isVisible());
    QCOMPARE(m_main->imageWindows().size(), 2);
    QVERIFY(!first->Saved && !first->SkipSaveQuery);
    QVERIFY(!QFile::exists(iniFile()));  // a cancelled close writes nothing
    QVERIFY(m_messages.isEmpty());
}

void TestMainWindow::readingRules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");  // with the default 77

    QTest::newRow("leading blanks and sign") << "   -5" << -5;
    QTest::newRow("0x0A") << "0x0A" << 10;
    QTest::newRow("$FF") << "$FF" << 255;
    QTest::newRow("all 32 bits in hex") << "$FFFFFFFF" << -1;
    QTest::newRow("too large") << "2147483648" << 77;
    QTest::newRow("COM3") << "COM3" << 77;
    QTest::newRow("trailing text") << "12abc" << 77;
    QTest::newRow("empty") << "" << 77;
}

void TestMainWindow::readingRules()
{
    QFETCH(QString, text);
    QFETCH(int, expected);

    writeIni("[COM]\nPort=" + text.toUtf8() + "\n");
    QCOMPARE(TIniSettings(iniFile()).readInteger(QStringLiteral("COM"), QStringLiteral("Port"), 77), expected);
}

void TestMainWindow::settingsRoundTrip()
{
    m_main.reset();
    // Names in any letter case; booleans are integers: 2 is true, "yes" is not a number.
    writeIni("; edited by hand\n[com]\nport=0x0A\n[Options]\nFreezeImage=2\n"
             "[Window]\nX=40\nY=$1E\nWidth=900\nHeight=700\nMaximized=yes\n");
    m_main = std::make_unique<TfrmMain>();
    showMain();
    QCOMPARE(m_main->link().PortNumber, 10);
    QVERIFY(m_main->mnuFreezeImage->isChecked());
    QCOMPARE(m_main->pos(), QPoint(40, 30));
    QCOMPARE(m_main->size(), QSize(900, 700));
    QVERIFY(!m_main->isMaximized());

    // Change what the user can change, exit, and start again.
    m_main->mnuFreezeImage->setChecked(false);
    m_main->link().PortNumber = 4;
    m_main->move(50, 60);
    m_main->resize(1000, 640);
    m_main->mnuExit->trigger();
    QVERIFY(!m_main->isVisible());
    QVERIFY(m_messages.isEmpty());
    m_main = std::make_unique<TfrmMain>();
    QCOMPARE(m_main->link().PortNumber, 4);
    QVERIFY(!m_main->mnuFreezeImage->isChecked());
    QCOMPARE(m_main->pos(), QPoint(50, 60));
    QCOMPARE(m_main->size(), QSize(1000, 640));
}

void TestMainWindow::failedSettingsWriteIsReportedAndStillCloses()
{
    // A settings path below a plain file cannot be written, whoever runs the test.
    const QString blocker = m_home.path() + QStringLiteral("/not-a-folder");
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    m_main->IniFileName = blocker + QStringLiteral("/CorvaneSnaploom.INI");
    showMain();
    m_main->mnuExit->trigger();
    QVERIFY(!m_main->isVisible());
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first().first, Dialogs::MessageKind::Error);
    QCOMPARE(m_messages.first().second, QStringLiteral("Unable to write to ") + m_main->IniFileName);
    QFile::remove(blocker);
}

void TestMainWindow::portMenuOrder()
{
    // Links in the ports folder, listed as text: COM03, COM1, COM10, COM2.
    const QString target = m_home.path() + QStringLiteral("/device");
    QFile device(target);
    QVERIFY(device.open(QIODevice::WriteOnly));
    for (const char *name : {"COM10", "COM2", "COM1", "COM03"})
        QVERIFY(QFile::link(target, m_home.path() + QStringLiteral("/ports/") + QLatin1String(name)));
    m_main->link().PortNumber = 3;
    m_main->BuildPortMenu();

    QStringList captions;
    QList<int> tags;
    for (QAction *item : m_main->mnuInterface->actions())
        if (item->statusTip() == target) {  // not a system port of this computer
            captions << item->text();
            tags << item->data().toInt();
        }
    QCOMPARE(captions, (QStringList{"COM1", "COM2", "COM3", "COM10"}));
    QCOMPARE(tags, (QList<int>{1, 2, 3, 10}));
    QCOMPARE(m_main->pnlPort->text(), QStringLiteral("COM3"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
