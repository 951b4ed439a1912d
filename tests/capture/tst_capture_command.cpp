// The command-line capture's file handling: fresh names that never overwrite, and a failed write
// that leaves the file already there untouched.
#include "CaptureCommand.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestCaptureCommand : public QObject
{
    Q_OBJECT
private slots:
    void freshNames_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");
        const QString stem = QStringLiteral("Corvane_Alvo-4660-20260311-090502");
        QTest::newRow("free") << "Corvane Alvo" << QStringList{} << stem + ".bmp";
        QTest::newRow("taken once") << "Corvane Alvo" << QStringList{stem + ".bmp"} << stem + "-2.bmp";
        QTest::newRow("taken twice") << "Corvane Alvo" << QStringList{stem + ".bmp", stem + "-2.bmp"} << stem + "-3.bmp";
        QTest::newRow("a gap is not filled out of order") << "Corvane Alvo" << QStringList{stem + "-2.bmp"} << stem + ".bmp";
        QTest::newRow("model name kept inside the folder") << "../a b/c" << QStringList{} << "a_b_c-4660-20260311-090502.bmp";
    }
    void freshNames()
    {
        QFETCH(QString, model);
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        QTemporaryDir folder;
        for (const QString &name : existing)
            QVERIFY(QFile(folder.filePath(name)).open(QIODevice::WriteOnly));
        const QDateTime when(QDate(2026, 3, 11), QTime(9, 5, 2));
        QCOMPARE(freshCaptureFileName(QDir(folder.path()), model, 4660, when), folder.filePath(expected));
    }

    // A write that fails leaves the file that was there untouched, and no temporary behind.
    void failedWriteKeepsTheOldFile()
    {
        QTemporaryDir folder;
        QFile old(folder.filePath(QStringLiteral("kept.bmp")));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old contents") == 12);
        old.close();
        QString error;
        QVERIFY(!writeCaptureFile(QImage(), old.fileName(), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old contents"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept.bmp")});
    }
};

QTEST_GUILESS_MAIN(TestCaptureCommand)
#include "tst_capture_command.moc"
