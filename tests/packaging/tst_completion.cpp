// snaploom's bash completion, run by bash against the built program in a folder of pictures: what
// a user is offered on pressing Tab.
#include "FolderFiles.h"
#include "ProgramRun.h"
#include "TestHome.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString BashCompletion = QStringLiteral("/usr/share/bash-completion/bash_completion");

}  // namespace

class TestCompletion : public QObject
{
    Q_OBJECT
    TestHome home;
    QTemporaryDir pictures;

private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(BashCompletion))
            QSKIP("bash-completion is not installed (scripts/setup.sh test installs it)");
        QVERIFY(pictures.isValid());
        for (const char *name : {"shot.png", "old.BMP", "notes.txt"})
            QVERIFY(writeFile(pictures.filePath(QString::fromLatin1(name))));
        QVERIFY(QDir(pictures.path()).mkdir(QStringLiteral("bench")));
    }

    void offers_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("offered");
        QTest::addColumn<QStringList>("notOffered");
        QTest::newRow("a command") << "ca" << QStringList{"capture"} << QStringList{"ports", "identify"};
        QTest::newRow("help for a command") << "help u" << QStringList{"unfreeze"} << QStringList{"capture"};
        QTest::newRow("--output=: pictures and folders") << "capture --output=" << QStringList{"shot.png", "old.BMP", "bench"}
                                                         << QStringList{"notes.txt", "--format"};
        QTest::newRow("-o") << "capture --find -o s" << QStringList{"shot.png"} << QStringList{"notes.txt"};
        QTest::newRow("--format=: the formats") << "capture --format=" << QStringList{"bmp", "png"} << QStringList{"--port"};
        QTest::newRow("--format=p") << "capture --format=p" << QStringList{"png"} << QStringList{"bmp"};
        QTest::newRow("--format FORMAT") << "capture --format b" << QStringList{"bmp"} << QStringList{"png"};
        QTest::newRow("given options and their choice")
            << "capture --port COM3 --freeze --" << QStringList{"--output", "--format", "--help"}
            << QStringList{"--port", "--find", "--all", "--freeze"};
        QTest::newRow("choice on the usage's second line") << "capture --all --json --" << QStringList{"--format"}
                                                           << QStringList{"--port", "--find", "--json"};
        QTest::newRow("an option given by its other name")
            << "capture -o - --" << QStringList{"--format", "--port"} << QStringList{"--output"};
        QTest::newRow("an option given with =") << "capture --format=png -" << QStringList{"-o", "--find"} << QStringList{"--format"};
        QTest::newRow("identify") << "identify --find --json -" << QStringList{"--help"} << QStringList{"--json", "--port", "--find", "--freeze"};
    }
    void offers()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, offered);
        QFETCH(QStringList, notOffered);
        const ProgramRun bash = runProgram(QStringLiteral("bash"),
                                           {QStringLiteral(SNAPLOOM_SOURCE_DIR "/tests/packaging/complete_line.sh"), BashCompletion,
                                            QStringLiteral(SNAPLOOM_SOURCE_DIR "/packaging/snaploom.bash-completion"),
                                            testBinary(QStringLiteral("snaploom")) + QLatin1Char(' ') + typed},
                                           {pictures.path(), QProcessEnvironment()});
        QVERIFY2(bash.exitCode == 0 && bash.err.isEmpty(), qPrintable(bash.err));
        const QStringList words = bash.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &word : offered)
            QVERIFY2(words.contains(word), qPrintable(word + QStringLiteral(" not in: ") + words.join(QLatin1Char(' '))));
        for (const QString &word : notOffered)
            QVERIFY2(!words.contains(word), qPrintable(word + QStringLiteral(" in: ") + words.join(QLatin1Char(' '))));
    }
};

QTEST_GUILESS_MAIN(TestCompletion)
#include "tst_completion.moc"
