// At 200 % on a 1280 x 800 screen, 640 x 400 logical pixels, the main window lies inside the
// screen with its whole status bar, whatever placement the settings file stored.

#include "MainWindowFixture.h"

#include <QScreen>

class TestDisplayScaled : public QObject, MainWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { startProgram(); }
    void cleanup() { closeMainWindow(); }
    void mainWindowInsideTheScreen_data();
    void mainWindowInsideTheScreen();
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
    QVERIFY(home.writeSettings(stored));
    openMainWindow(this);

    const QScreen *screen = mainWindow->screen();
    QCOMPARE(screen->devicePixelRatio(), 2.0);
    const QRect available = screen->availableGeometry();
    QCOMPARE(available.size(), QSize(640, 400));
    const auto frame = [this] { return mainWindow->frameGeometry(); };
    QTRY_VERIFY2(available.contains(frame()), qPrintable(QStringLiteral("window at %1,%2 %3x%4")
                                                            .arg(frame().x()).arg(frame().y()).arg(frame().width()).arg(frame().height())));
    // Every panel of the status bar is in view, the port panel at its right end too.
    for (const char *name : {"pnlFile", "pnlInfo", "pnlConnected", "pnlSerial", "pnlPort"}) {
        const QLabel *label = panel(name);
        const QRect onScreen(label->mapToGlobal(QPoint(0, 0)), label->size());
        QVERIFY2(available.contains(onScreen), name);
        QVERIFY2(label->width() > 0, name);
    }
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
