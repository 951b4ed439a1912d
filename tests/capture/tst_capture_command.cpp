// The command-line capture's file handling: fresh names that never overwrite, and writes that
// never leave a broken or half-replaced file.
#include "CaptureCommand.h"

#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

class TestCaptureCommand : public QObject
{
    Q_OBJECT
private slots:
    void freshNames_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");
        const QString stem = QStringLiteral("Corvane_Alvo-4660-20260311-090502");
        QTest::newRow("free") << QStringList{} << stem + ".bmp";
        QTest::newRow("taken once") << QStringList{stem + ".bmp"} << stem + "-2.bmp";
        QTest::newRow("taken twice") << QStringList{stem + ".bmp", stem + "-2.bmp"} << stem + "-3.bmp";
        QTest::newRow("a gap is not filled out of order") << QStringList{stem + "-2.bmp"} << stem + ".bmp";
    }
    void freshNames()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        QTemporaryDir folder;
        for (const QString &name : existing) {
            QFile file(folder.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QDateTime when(QDate(2026, 3, 11), QTime(9, 5, 2));
        QCOMPARE(freshCaptureFileName(QDir(folder.path()), QStringLiteral("Corvane Alvo"), 4660, when),
                 folder.filePath(expected));
    }

    void modelNamesAreSafe()
    {
        const QDateTime when(QDate(2026, 1, 2), QTime(3, 4, 5));
        const QString path = freshCaptureFileName(QDir(QStringLiteral("/tmp")), QStringLiteral("../a b/c"), 7, when);
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("a_b_c-7-20260102-030405.bmp"));
    }

    void formats_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("bmp") << "a.bmp" << QByteArray("bmp");
        QTest::newRow("png") << "a.png" << QByteArray("png");
        QTest::newRow("PNG") << "a.PNG" << QByteArray("png");
        QTest::newRow("other suffix") << "a.img" << QByteArray("bmp");
    }
    void formats()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, format);
        QTemporaryDir folder;
        QImage image(3, 2, QImage::Format_RGB32);
        image.fill(qRgb(60, 60, 60));
        image.setPixel(2, 1, qRgb(1, 2, 3));
        QString error;
        QVERIFY2(writeCaptureFile(image, folder.filePath(name), &error), qPrintable(error));
        QImageReader reader(folder.filePath(name));
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), format);
        const QImage back = reader.read();
        QCOMPARE(back.pixel(2, 1), qRgb(1, 2, 3));
        QCOMPARE(back.pixel(0, 0), qRgb(60, 60, 60));
    }

    // A write that fails leaves the file that was there untouched, and no temporary behind.
    void failedWriteKeepsTheOldFile()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("kept.bmp"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents");
        old.close();
        QString error;
        QVERIFY(!writeCaptureFile(QImage(), path, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old contents"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept.bmp")});
    }
};

QTEST_GUILESS_MAIN(TestCaptureCommand)
#include "tst_capture_command.moc"
