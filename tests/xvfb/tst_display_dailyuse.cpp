// Daily use on a real X display with real keys: zoom keys, Save All from the Files menu, Ctrl+Q,
// and a picture that survives its program being killed right after the capture.

#include "FolderFiles.h"
#include "MainWindowFixture.h"
#include "SaveFolder.h"
#include "ScreenImage.h"
#include "XInput.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>

namespace {

constexpr int MeterCom = 86;
const char ChildMode[] = "--capture-then-wait";

// A capture by Ctrl+N, to its end.
bool captureByKey(TfrmMain &window)
{
    const int before = window.workspace().imageWindows().size();
    auto *capture = window.findChild<QAction *>(QStringLiteral("mnuCaptureScreen"));
    if (!XInput::key({"ctrl+n"}))
        return false;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000) {
        const QList<TfrmImage *> windows = window.workspace().imageWindows();
        if (windows.size() > before && !windows.last()->building() && capture->isEnabled())
            return true;
        QTest::qWait(50);
    }
    return false;
}

// The program that is killed: it connects, captures by Ctrl+N, says so, and waits for its end.
int captureThenWait()
{
    Dialogs::setMessageHandler([](Dialogs::MessageKind, const QString &text, QMessageBox::StandardButtons) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return QMessageBox::Ok;
    });
    TfrmMain window;
    window.show();
    window.link().PortNumber = MeterCom;
    window.findChild<QAction *>(QStringLiteral("mnuConnect"))->trigger();
    if (!QTest::qWaitForWindowExposed(&window) || !window.link().IsConnected() || !XInput::focus(&window)
        || !captureByKey(window)) {
        std::fprintf(stderr, "the program to be killed did not capture\n");
        return 2;
    }
    std::printf("captured\n");
    std::fflush(stdout);
    return QApplication::exec();
}

} // namespace

class TestDisplayDailyUse : public QObject, MainWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void zoomKeys_data();
    void zoomKeys();
    void saveAllFromTheFilesMenu();
    void ctrlQExits();
    void killedAfterCaptureOffersThePictureBack();

private:
    QImage expected() const { return meters.front()->expectedCapture().convertToFormat(ScreenImageFormat); }

    QTemporaryDir m_saveFolder;
};

void TestDisplayDailyUse::initTestCase()
{
    startProgram();
    VirtualMeterOptions options;
    options.comNumber = MeterCom;
    options.storedSize = QSize(24, 64);   // a small screen: a capture takes a moment
    startMeter(options);
    openMainWindow(this);
    mainWindow->capture().setPauses(50, 50);
    QVERIFY(connectTo(MeterCom));
    TSaveFolder::setLastSaveFolder(m_saveFolder.path());
    QVERIFY(XInput::focus(mainWindow.get()));
    QVERIFY(captureByKey(*mainWindow));
}

void TestDisplayDailyUse::cleanupTestCase()
{
    if (mainWindow)
        for (TfrmImage *image : imageWindows())
            image->setSaved(true);
    closeMainWindow();
}

void TestDisplayDailyUse::zoomKeys_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("percent");

    QTest::newRow("Ctrl++") << QStringList{"ctrl+plus"} << 200;
    QTest::newRow("Ctrl+= spares the Shift") << QStringList{"ctrl+equal", "ctrl+equal"} << 300;
    QTest::newRow("Ctrl+-") << QStringList{"ctrl+minus"} << 50;
    QTest::newRow("Ctrl+0 after zooming") << QStringList{"ctrl+plus", "ctrl+plus", "ctrl+0"} << 100;
}

void TestDisplayDailyUse::zoomKeys()
{
    QFETCH(QStringList, keys);
    QFETCH(int, percent);

    TfrmImage *window = imageWindows().last();
    window->actualSize();
    QVERIFY(XInput::focus(mainWindow.get()));
    QVERIFY(XInput::key(keys));
    QTRY_COMPARE(window->zoomPercent(), percent);
    QCOMPARE(window->windowTitle(),
             percent == 100 ? window->imageName() : QStringLiteral("%1 (%2 %)").arg(window->imageName()).arg(percent));
    window->actualSize();
}

void TestDisplayDailyUse::saveAllFromTheFilesMenu()
{
    QVERIFY(XInput::focus(mainWindow.get()));
    QVERIFY(captureByKey(*mainWindow));
    const QList<TfrmImage *> windows = imageWindows();
    QCOMPARE(windows.size(), 2);

    QVERIFY(XInput::key({"alt+f"}));
    QTRY_VERIFY(menu("mnuFiles")->isVisible());
    QVERIFY(XInput::key({"a"}));

    QTRY_VERIFY(windows[0]->saved() && windows[1]->saved());
    const QStringList files = filesBelow(m_saveFolder.path());
    QCOMPARE(files.size(), 2);
    const QRegularExpression generated(QStringLiteral("^snaploom-4660-\\d{8}-\\d{6}(-\\d+)?\\.bmp$"));
    for (const QString &file : files) {
        QVERIFY2(generated.match(file).hasMatch(), qPrintable(file));
        QCOMPARE(QImage(m_saveFolder.filePath(file)).convertToFormat(ScreenImageFormat), expected());
    }
    QVERIFY(fileTexts.contains(QStringLiteral("Saved 2 images in %1").arg(m_saveFolder.path())));
    QVERIFY(messages.isEmpty());
}

void TestDisplayDailyUse::ctrlQExits()
{
    QVERIFY(XInput::focus(mainWindow.get()));
    QVERIFY(XInput::key({"ctrl+q"}));
    QTRY_VERIFY(!mainWindow->isVisible());
    mainWindow.reset();   // lets go of the port for the next program
}

void TestDisplayDailyUse::killedAfterCaptureOffersThePictureBack()
{
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(ChildMode)});
    QVERIFY(program.waitForStarted());
    QByteArray said;
    QElapsedTimer waited;
    waited.start();
    while (!said.contains("captured") && program.state() == QProcess::Running && waited.elapsed() < 120000) {
        program.waitForReadyRead(1000);
        said += program.readAllStandardOutput();
    }
    QVERIFY2(said.contains("captured"), said.constData());
    ::kill(program.processId(), SIGKILL);
    QVERIFY(program.waitForFinished(10000));

    // The next start asks, and the Enter key takes the default answer: Yes.
    openMainWindow(this);
    Dialogs::setMessageHandler({});
    QString asked;
    XInput::ModalAnswer answer([&](QWidget *modal) {
        if (auto *box = qobject_cast<QMessageBox *>(modal))
            asked = box->text();
        QVERIFY(XInput::key({"Return"}));
    });
    mainWindow->offerLeftovers();
    QVERIFY(answer.answered());
    QCOMPARE(asked, QStringLiteral("1 captures from an earlier session were not saved. Reopen them?"));

    const QList<TfrmImage *> windows = imageWindows();
    QCOMPARE(windows.size(), 1);
    QVERIFY(!windows[0]->saved());
    QCOMPARE(windows[0]->picture().convertToFormat(ScreenImageFormat), expected());
}

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], ChildMode) == 0)
        return captureThenWait();
    TestDisplayDailyUse test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_display_dailyuse.moc"
