// The settings file as the program may find it on disk, hostile ones included: whatever stands at
// its name, reading neither hangs nor runs out of memory, and saving never destroys what the
// program did not write.

#include "FolderFiles.h"
#include "IniSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <future>
#include <sys/stat.h>

namespace {

const QString Com = QStringLiteral("COM");
const QString Port = QStringLiteral("Port");
constexpr int DefaultPort = 1;

// A 1 MiB file of comment lines, then the port; more padding makes it larger than allowed.
QByteArray paddedFile(qint64 size)
{
    const QByteArray tail = "[COM]\nPort=7\n";
    QByteArray text;
    while (text.size() + 64 <= size - tail.size())
        text += ';' + QByteArray(62, 'x') + '\n';
    text += ';' + QByteArray(size - tail.size() - text.size() - 2, 'y') + '\n';
    return text + tail;
}

}  // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString iniFile() const { return m_dir.filePath(QStringLiteral("CorvaneSnaploom.INI")); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QFile::remove(iniFile());
        QDir(iniFile()).removeRecursively();
    }

    void hostileFile_data();
    void hostileFile();
    void bytesSurviveSave_data();
    void bytesSurviveSave();
    void integerValue_data();
    void integerValue();
};

void TestSettingsFile::hostileFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("portRead");
    QTest::addColumn<bool>("saved");  // false: what stands at the name is left as it was

    QTest::newRow("FIFO with no writer") << "fifo" << DefaultPort << false;
    QTest::newRow("link to /dev/zero") << "zero" << DefaultPort << false;
    QTest::newRow("folder") << "folder" << DefaultPort << false;
    QTest::newRow("regular file over 1 MiB") << "over" << DefaultPort << true;
    QTest::newRow("regular file of exactly 1 MiB") << "limit" << 7 << true;
    QTest::newRow("link to a regular file") << "link" << 7 << true;
}

void TestSettingsFile::hostileFile()
{
    QFETCH(QString, kind);
    QFETCH(int, portRead);
    QFETCH(bool, saved);

    const QString elsewhere = m_dir.filePath(QStringLiteral("elsewhere.ini"));
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(iniFile()).constData(), 0600), 0);
    else if (kind == QLatin1String("zero"))
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), iniFile()));
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(iniFile()));
    else if (kind == QLatin1String("over"))
        QVERIFY(writeFile(iniFile(), paddedFile(TIniSettings::MaxFileSize + 1)));
    else if (kind == QLatin1String("limit"))
        QVERIFY(writeFile(iniFile(), paddedFile(TIniSettings::MaxFileSize)));
    else if (kind == QLatin1String("link")) {
        QVERIFY(writeFile(elsewhere, "[COM]\nPort=7\n"));
        QVERIFY(QFile::link(elsewhere, iniFile()));
    }
    QFileInfo before(iniFile());

    // Read on a thread of its own, so a reader stuck on the FIFO fails the test instead of hanging it.
    auto reading = std::async(std::launch::async, [this] {
        TIniSettings settings(iniFile());
        const int port = settings.readInteger(Com, Port, DefaultPort);
        settings.writeInteger(Com, Port, 5);
        return std::make_pair(port, settings.commit());
    });
    if (reading.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        QFile writer(iniFile());  // lets a blocked open of the FIFO go on
        writer.open(QIODevice::WriteOnly);
        writer.close();
        reading.wait();
        QFAIL("reading the settings file did not return");
    }
    const auto [port, committed] = reading.get();
    QCOMPARE(port, portRead);
    QCOMPARE(committed, saved);

    const QFileInfo after(iniFile());
    QCOMPARE(after.isSymLink(), before.isSymLink());
    QCOMPARE(after.isFile(), before.isFile());
    if (kind == QLatin1String("fifo")) {
        struct stat info {};
        QVERIFY(::stat(QFile::encodeName(iniFile()).constData(), &info) == 0 && S_ISFIFO(info.st_mode));
    }
    if (saved) {
        QCOMPARE(TIniSettings(iniFile()).readInteger(Com, Port, DefaultPort), 5);
        if (kind == QLatin1String("link"))  // the link stays, its target takes the settings
            QCOMPARE(contentsOf(elsewhere), QByteArray("[COM]\nPort=5\n"));
    }
}

void TestSettingsFile::bytesSurviveSave_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("portRead");
    QTest::addColumn<QByteArray>("saved");  // after the port was set to 5

    QTest::newRow("Latin-1 comment") << QByteArray("; f\xfcr Ger\xe4te\n[COM]\nPort=3\n") << 3
                                     << QByteArray("; f\xfcr Ger\xe4te\n[COM]\nPort=5\n");
    QTest::newRow("another program's Latin-1 section")
        << QByteArray("[Other]\nName=M\xfcller\n\xff\xfe\x01\n[COM]\nPort=3\n") << 3
        << QByteArray("[Other]\nName=M\xfcller\n\xff\xfe\x01\n[COM]\nPort=5\n");
    QTest::newRow("a value that is not UTF-8") << QByteArray("[COM]\nPort=\xfc\n[Window]\nX=1\n") << DefaultPort
                                               << QByteArray("[COM]\nPort=5\n[Window]\nX=1\n");
    QTest::newRow("CR LF lines") << QByteArray("[COM]\r\nPort=3\r\n[Window]\r\nX=1\r\n") << 3
                                 << QByteArray("[COM]\r\nPort=5\r\n[Window]\r\nX=1\r\n");
    QTest::newRow("CR LF lines, section added") << QByteArray("[Window]\r\nX=1\r\n") << DefaultPort
                                                << QByteArray("[Window]\r\nX=1\r\n\r\n[COM]\r\nPort=5\r\n");
    QTest::newRow("byte-order mark") << QByteArray("\xef\xbb\xbf[COM]\nPort=3\n") << 3
                                     << QByteArray("\xef\xbb\xbf[COM]\nPort=5\n");
    QTest::newRow("no final line feed") << QByteArray("[COM]\nPort=3") << 3 << QByteArray("[COM]\nPort=5");
    QTest::newRow("the same value, untouched") << QByteArray("[com]\n  port = \"5\"\r\n") << 5
                                               << QByteArray("[com]\n  port = \"5\"\r\n");
}

void TestSettingsFile::bytesSurviveSave()
{
    QFETCH(QByteArray, file);
    QFETCH(int, portRead);
    QFETCH(QByteArray, saved);

    QVERIFY(writeFile(iniFile(), file));
    TIniSettings settings(iniFile());
    QCOMPARE(settings.readInteger(Com, Port, DefaultPort), portRead);
    settings.writeInteger(Com, Port, 5);
    QVERIFY(settings.commit());
    QCOMPARE(contentsOf(iniFile()), saved);
}

void TestSettingsFile::integerValue_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");  // with the default 10

    QTest::newRow("largest") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("smallest") << QByteArray("-2147483648") << int(-2147483647 - 1);
    QTest::newRow("below the smallest") << QByteArray("-2147483649") << 10;
    QTest::newRow("above the largest") << QByteArray("2147483648") << 10;
    QTest::newRow("a port's name") << QByteArray("COM3") << 10;
    QTest::newRow("trailing text") << QByteArray("12abc") << 10;
    QTest::newRow("2^64 + 1, which wraps in 64 bits") << QByteArray("18446744073709551617") << 10;
    QTest::newRow("hexadecimal over 32 bits") << QByteArray("0x100000000") << 10;
    QTest::newRow("long hexadecimal") << QByteArray("$10000000000000000FFFFFFFF") << 10;
    QTest::newRow("a thousand digits") << QByteArray(1000, '9') << 10;
    QTest::newRow("hexadecimal, 0x") << QByteArray("0x7b") << 123;
    QTest::newRow("hexadecimal, 0X") << QByteArray("0X7B") << 123;
    QTest::newRow("hexadecimal, x") << QByteArray("x7B") << 123;
    QTest::newRow("hexadecimal, X") << QByteArray("X7b") << 123;
    QTest::newRow("hexadecimal, $") << QByteArray("$7B") << 123;
    QTest::newRow("hexadecimal, all 32 bits") << QByteArray("0XFFFFFFFF") << -1;
    QTest::newRow("hexadecimal, all 32 bits, $") << QByteArray("$FFFFFFFF") << -1;
}

void TestSettingsFile::integerValue()
{
    QFETCH(QByteArray, text);
    QFETCH(int, expected);

    QVERIFY(writeFile(iniFile(), "[Window]\nWidth=" + text + "\n"));
    QCOMPARE(TIniSettings(iniFile()).readInteger(QStringLiteral("Window"), QStringLiteral("Width"), 10), expected);
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
