// At 200 % on a 1280 x 800 screen, 640 x 400 logical pixels, the main window lies inside the
// screen with its whole status bar, whatever placement the settings file stored.

#include "Dialogs.h"
#include "Main.h"
#include "UnsavedImages.h"

#include <QFile>
#include <QLabel>
#include <QScreen>
#include <QtTest>
#include <memory>

#include "TestHome.h"

class TestDisplayScaled : public QObject
{
    Q_OBJECT

private slots:
    void mainWindowInsideTheScreen_data();
    void mainWindowInsideTheScreen();

private:
    TestHome m_home;
};

void TestDisplayScaled::mainWindowInsideTheScreen_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("first run") << QByteArray();
    QTest::newRow("placed on a large screen") << QByteArray("[Window]\nX=0\nY=0\nWidth=1600\nHeight=1200\n");
    QTest::newRow("placed off to the right") << QByteArray("[Window]\nX=500\nY=300\nWidth=800\nHeight=600\n");
}

void TestDisplayScaled::mainWindowInsideTheScreen()
{
    QFETCH(QByteArray, stored);
    QFile ini(m_home.path() + QStringLiteral("/CorvaneSnaploom.INI"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(stored);
    ini.close();

    QApplication::setQuitOnLastWindowClosed(false);
    Dialogs::setMessageHandler([](Dialogs::MessageKind, const QString &, QMessageBox::StandardButtons) {
        return QMessageBox::Ok;
    });
    frmUnsavedImages = new TfrmUnsavedImages;
    auto mainWindow = std::make_unique<TfrmMain>();
    mainWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow.get()));

    const QScreen *screen = mainWindow->screen();
    QCOMPARE(screen->devicePixelRatio(), 2.0);
    const QRect available = screen->availableGeometry();
    QCOMPARE(available.size(), QSize(640, 400));
    QTRY_VERIFY2(available.contains(mainWindow->frameGeometry()),
                 qPrintable(QStringLiteral("window at %1,%2 %3x%4")
                                .arg(mainWindow->frameGeometry().x())
                                .arg(mainWindow->frameGeometry().y())
                                .arg(mainWindow->frameGeometry().width())
                                .arg(mainWindow->frameGeometry().height())));
    // Every panel of the status bar is in view, the port panel at its right end too.
    for (const char *name : {"pnlFile", "pnlInfo", "pnlConnected", "pnlSerial", "pnlPort"}) {
        const auto *panel = mainWindow->findChild<QLabel *>(QLatin1String(name));
        QVERIFY(panel);
        const QRect onScreen(panel->mapToGlobal(QPoint(0, 0)), panel->size());
        QVERIFY2(available.contains(onScreen), name);
        QVERIFY2(panel->width() > 0, name);
    }

    mainWindow.reset();
    delete frmUnsavedImages;
    frmUnsavedImages = nullptr;
    Dialogs::setMessageHandler({});
}

int main(int argc, char **argv)
{
    // Scaled as a desktop at 200 % scales the program, before the application starts.
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication application(argc, argv);
    TestDisplayScaled test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_display_scaled.moc"
