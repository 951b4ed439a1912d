// `cpack -G DEB` makes a package that lintian finds nothing wrong with, and the same bytes every
// time from one tree: the files' times are SOURCE_DATE_EPOCH, by default the last commit's.
#include "FolderFiles.h"
#include "ProgramRun.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestPackage : public QObject
{
    Q_OBJECT
    QTemporaryDir work;
    QString package;   // built with SOURCE_DATE_EPOCH unset

    // Runs cpack into a folder of its own; the path of the package, empty on failure.
    QString makePackage(const QString &folder, const QString &sourceDateEpoch)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("SOURCE_DATE_EPOCH"));
        if (!sourceDateEpoch.isEmpty())
            environment.insert(QStringLiteral("SOURCE_DATE_EPOCH"), sourceDateEpoch);
        const QString output = work.filePath(folder);
        const QString cpack = QFileInfo(QStringLiteral(SNAPLOOM_CMAKE_COMMAND)).dir().filePath(QStringLiteral("cpack"));
        const ProgramRun made = runProgram(cpack, {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                                                   QStringLiteral(SNAPLOOM_BUILD_DIR "/CPackConfig.cmake"), QStringLiteral("-B"), output},
                                           {QString(), environment, 600000});
        const QStringList packages = QDir(output).entryList({QStringLiteral("*.deb")}, QDir::Files);
        if (made.exitCode != 0 || packages.size() != 1) {
            qWarning("%s", qPrintable(made.out + made.err));
            return {};
        }
        return QDir(output).filePath(packages.first());
    }

private slots:
    void initTestCase()
    {
        for (const char *tool : {"dpkg-deb", "dpkg-shlibdeps"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP("dpkg-dev is not installed (scripts/setup.sh test installs it)");
        QVERIFY(work.isValid());
        package = makePackage(QStringLiteral("first"), QString());
        QVERIFY(!package.isEmpty());
    }

    void sameBytesTwice()
    {
        const QString again = makePackage(QStringLiteral("again"), QString());
        QVERIFY(!again.isEmpty());
        QCOMPARE(QFileInfo(again).fileName(), QFileInfo(package).fileName());
        QVERIFY2(contentsOf(again) == contentsOf(package), "two package builds of one tree differ");
    }

    // Every file in the package carries the one time: SOURCE_DATE_EPOCH when set, else the last
    // commit's.
    void fileTimes_data()
    {
        QTest::addColumn<QString>("sourceDateEpoch");
        QTest::newRow("unset: the last commit") << QString();
        QTest::newRow("set") << QStringLiteral("1700000000");
    }
    void fileTimes()
    {
        QFETCH(QString, sourceDateEpoch);
        QString expected = sourceDateEpoch;
        QString deb = package;
        if (sourceDateEpoch.isEmpty()) {
            const ProgramRun commit = runProgram(QStringLiteral("git"), {QStringLiteral("-C"), QStringLiteral(SNAPLOOM_SOURCE_DIR),
                                                                         QStringLiteral("log"), QStringLiteral("-1"), QStringLiteral("--format=%ct")});
            if (commit.exitCode != 0)
                QSKIP("the source tree is not a git checkout");
            expected = commit.out.trimmed();
        } else {
            deb = makePackage(QStringLiteral("dated"), sourceDateEpoch);
            QVERIFY(!deb.isEmpty());
        }
        const ProgramRun listing = runProgram(QStringLiteral("sh"), {QStringLiteral("-c"),
                                                                     QStringLiteral("dpkg-deb --fsys-tarfile \"$1\" | tar -t -v --full-time --utc"),
                                                                     QStringLiteral("sh"), deb});
        QCOMPARE(listing.exitCode, 0);
        const QString time = QDateTime::fromSecsSinceEpoch(expected.toLongLong(), Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const QStringList lines = listing.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(lines.size() > 10);
        for (const QString &line : lines)
            QVERIFY2(line.contains(time), qPrintable(line + QStringLiteral(" (expected ") + time + QLatin1Char(')')));
    }

    // No error, no warning, and no note a packager would act on. The one note left is lintian's
    // guess that a program lacks fortified calls: all are built with them, but a program whose
    // calls have no buffer size known when it is compiled has none to show.
    void lintianFindsNothing()
    {
#ifdef SNAPLOOM_CHECKING_BUILD
        QSKIP("the checking build leaves hardening to the sanitizers and is never shipped");
#endif
        const QString lintian = QStandardPaths::findExecutable(QStringLiteral("lintian"));
        if (lintian.isEmpty())
            QSKIP("lintian is not installed (scripts/setup.sh test installs it)");
        const ProgramRun check = runProgram(lintian, {QStringLiteral("--display-info"), QStringLiteral("--pedantic"), package});
        QCOMPARE(check.exitCode, 0);
        QStringList findings = check.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        findings.removeIf([](const QString &line) {
            return line.startsWith(QLatin1String("I: corvane-snaploom: hardening-no-fortify-functions [usr/bin/"));
        });
        QVERIFY2(findings.isEmpty(), qPrintable(findings.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
