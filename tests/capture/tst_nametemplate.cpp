// File names from a template, as both programs make them: each field, what an instrument's
// text may not do to a path, and names that never replace a file already there.
#include "FolderFiles.h"
#include "NameTemplate.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

namespace {

NameFields alvo()
{
    NameFields fields;
    fields.serialNumber = 4660;
    fields.model = QStringLiteral("Corvane Alvo");
    fields.port = QStringLiteral("COM7");
    fields.capturedAt = QDateTime(QDate(2026, 3, 11), QTime(9, 5, 2));   // local time
    fields.captureNumber = 3;
    return fields;
}

}  // namespace

class TestNameTemplate : public QObject
{
    Q_OBJECT
private slots:
    void expand_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("expected");
        const QString alvo = QStringLiteral("Corvane Alvo");
        QTest::newRow("every field") << "{serial}_{model}_{port}_{date}_{time}_{n}.png" << alvo
                                     << "4660_Corvane-Alvo_COM7_20260311_090502_3.png";
        QTest::newRow("no field") << "screen.bmp" << alvo << "screen.bmp";
        QTest::newRow("a field twice") << "{n}-{n}" << alvo << "3-3";
        QTest::newRow("folders of the template") << "/tmp/shots/{date}/{port}-{n}.png" << alvo << "/tmp/shots/20260311/COM7-3.png";
        QTest::newRow("a slash from the instrument stays in the name") << "shots/{model}.png" << "A/B C" << "shots/A_B-C.png";
        QTest::newRow("no parent folder from a field") << "shots/{model}/x.png" << ".." << "shots/__/x.png";
        QTest::newRow("dots beside other text are a name") << "{model}.png" << ".." << "...png";
        QTest::newRow("what a disk cannot hold") << "{model}.png" << "a:b*c?\"<>|\\\x01" << "a_b_c_______.png";
        QTest::newRow("empty model") << "{model}/{serial}" << "" << "_/4660";
        QTest::newRow("control character in the template") << QStringLiteral("a\tb.png") << alvo << "a_b.png";
        QTest::newRow("loose braces are text") << "a{b}{{n}}c{" << alvo << "a{b}{3}c{";
    }
    void expand()
    {
        QFETCH(QString, text);
        QFETCH(QString, model);
        QFETCH(QString, expected);
        NameFields fields = alvo();
        fields.model = model;
        QCOMPARE(NameTemplate(text).expand(fields), expected);
    }

    void problems_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("problem");   // a part of it; empty: none
        QTest::addColumn<bool>("eachInstrument");
        QTest::newRow("fine") << "shots/{date}-{n}.png" << "" << false;
        QTest::newRow("port") << "{port}.png" << "" << true;
        QTest::newRow("serial in a folder") << "{serial}/x.png" << "" << true;
        QTest::newRow("empty") << "" << "empty" << false;
        QTest::newRow("unknown field") << "{serial}-{nr}.png" << "{nr} in '{serial}-{nr}.png' is not a field; the fields are {serial}, {model}, {port}, {date}, {time}, {n}" << true;
        QTest::newRow("a folder") << "shots/{port}/" << "names a folder" << true;
        QTest::newRow("parent folder") << "shots/.." << "names a folder" << false;
    }
    void problems()
    {
        QFETCH(QString, text);
        QFETCH(QString, problem);
        QFETCH(bool, eachInstrument);
        const NameTemplate name(text);
        QVERIFY2(problem.isEmpty() ? name.problem().isEmpty() : name.problem().contains(problem), qPrintable(name.problem()));
        QCOMPARE(name.namesEachInstrument(), eachInstrument);
    }

    // Only files and links are taken; a FIFO is written into, a folder reported by the writer.
    void freePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("expected");
        QTest::newRow("free") << "a.png" << QStringList{} << "a.png";
        QTest::newRow("taken") << "a.png" << QStringList{"a.png"} << "a-2.png";
        QTest::newRow("taken twice, a gap after") << "a.png" << QStringList{"a.png", "a-2.png", "a-4.png"} << "a-3.png";
        QTest::newRow("no suffix") << "a" << QStringList{"a"} << "a-2";
        QTest::newRow("only the last suffix") << "a.tar.gz" << QStringList{"a.tar.gz"} << "a.tar-2.gz";
        QTest::newRow("hidden file") << ".a" << QStringList{".a"} << ".a-2";
        QTest::newRow("dot in the folder") << "d.x/a" << QStringList{"d.x/a"} << "d.x/a-2";
        QTest::newRow("link leading nowhere") << "a.png" << QStringList{"a.png->nowhere"} << "a-2.png";
        QTest::newRow("FIFO") << "a.png" << QStringList{"a.png|"} << "a.png";
        QTest::newRow("folder") << "d.x" << QStringList{"d.x/a"} << "d.x";
    }
    void freePath()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        QTemporaryDir folder;
        const QDir dir(folder.path());
        for (const QString &file : files) {
            if (file.endsWith(QLatin1Char('|'))) {
                QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(file.chopped(1))).constData(), 0600), 0);
            } else if (file.contains(QStringLiteral("->"))) {
                QVERIFY(QFile::link(file.section(QStringLiteral("->"), 1), dir.filePath(file.section(QStringLiteral("->"), 0, 0))));
            } else {
                QVERIFY(dir.mkpath(QFileInfo(dir.filePath(file)).absolutePath()));
                QVERIFY(writeFile(dir.filePath(file)));
            }
        }
        QCOMPARE(NameTemplate::freePath(dir.filePath(path)), dir.filePath(expected));
        QString error;
        QCOMPARE(NameTemplate::claimFreePath(dir.filePath(path), &error), dir.filePath(expected));
    }

    // Two writers that ask at the same moment never get one name; the claim is a file.
    void claimsAreDistinct()
    {
        QTemporaryDir folder;
        const QString path = QDir(folder.path()).filePath(QStringLiteral("a.png"));
        QString error;
        const QStringList claimed{NameTemplate::claimFreePath(path, &error), NameTemplate::claimFreePath(path, &error),
                                  NameTemplate::claimFreePath(path, &error)};
        QCOMPARE(claimed, (QStringList{path, QDir(folder.path()).filePath(QStringLiteral("a-2.png")),
                                    QDir(folder.path()).filePath(QStringLiteral("a-3.png"))}));
        QVERIFY(QFileInfo(claimed.last()).isFile());
        QVERIFY(NameTemplate::claimFreePath(QDir(folder.path()).filePath(QStringLiteral("no/a.png")), &error).isEmpty());
        QVERIFY2(error.contains(QStringLiteral("no/a.png")), qPrintable(error));
    }

    // A claim taken back removes only the empty file it made: whatever else stands at the name
    // (a picture after all, a link to an empty file, a FIFO, a folder) is the user's and stays.
    void releaseClaim_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("removed");
        QTest::newRow("empty claim") << "empty" << true;
        QTest::newRow("picture") << "picture" << false;
        QTest::newRow("link to an empty file") << "link" << false;
        QTest::newRow("FIFO") << "fifo" << false;
        QTest::newRow("folder") << "folder" << false;
    }
    void releaseClaim()
    {
        QFETCH(QString, kind);
        QFETCH(bool, removed);
        QTemporaryDir folder;
        const QString path = QDir(folder.path()).filePath(QStringLiteral("a.png"));
        const QString target = QDir(folder.path()).filePath(QStringLiteral("target"));
        if (kind == QLatin1String("empty"))
            QVERIFY(writeFile(path));
        else if (kind == QLatin1String("picture"))
            QVERIFY(writeFile(path, "\x89PNG"));
        else if (kind == QLatin1String("link"))
            QVERIFY(writeFile(target) && QFile::link(target, path));
        else if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            QVERIFY(QDir().mkdir(path));
        NameTemplate::releaseClaim(path);
        QCOMPARE(QFileInfo::exists(path) || QFileInfo(path).isSymLink(), !removed);
        if (kind == QLatin1String("link"))
            QVERIFY(QFileInfo(target).isFile());
    }
};

QTEST_GUILESS_MAIN(TestNameTemplate)
#include "tst_nametemplate.moc"
