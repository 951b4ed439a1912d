// `cmake --install` into a temporary prefix gives the tree a user or a package needs: programs
// that run, a valid desktop entry, the icon in every size, man pages that render, completion.
#include "ProgramRun.h"
#include "SnaploomVersion.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestInstall : public QObject
{
    Q_OBJECT
    QTemporaryDir prefix;

    QString installed(const QString &relative) const { return prefix.filePath(QStringLiteral("usr/") + relative); }

private slots:
    // As after `scripts/setup.sh demo`: only the three programs are built, and the files made
    // for the install alone (icons, compressed pages) are gone; a stripped install into a DESTDIR.
    void initTestCase()
    {
        QVERIFY(prefix.isValid());
        const QString build = QStringLiteral(SNAPLOOM_BUILD_DIR);
        QVERIFY(QDir(build + QStringLiteral("/packaging/icons")).removeRecursively());
        QVERIFY(QDir(build + QStringLiteral("/packaging/doc")).removeRecursively());
        const ProgramRun make = runProgram(QStringLiteral(SNAPLOOM_CMAKE_COMMAND),
                                           {QStringLiteral("--build"), build, QStringLiteral("--target"), QStringLiteral("corvane-virtual-meter"),
                                            QStringLiteral("corvane-snaploom"), QStringLiteral("snaploom")},
                                           {QString(), QProcessEnvironment(), 600000});
        QVERIFY2(make.exitCode == 0, qPrintable(make.out + make.err));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DESTDIR"), prefix.path());
        const ProgramRun install = runProgram(QStringLiteral(SNAPLOOM_CMAKE_COMMAND),
                                              {QStringLiteral("--install"), build, QStringLiteral("--prefix"), QStringLiteral("/usr"),
                                               QStringLiteral("--strip")},
                                              {QString(), environment});
        QVERIFY2(install.exitCode == 0, qPrintable(install.out + install.err));
    }

    // Each installed program answers --help and --version without any display or session, and
    // without a word on standard error.
    void programsRun_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        for (const char *program : {"snaploom", "corvane-snaploom", "corvane-virtual-meter"})
            for (const char *option : {"--help", "--version"})
                QTest::addRow("%s %s", program, option) << QString::fromLatin1(program) << QString::fromLatin1(option);
    }
    void programsRun()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
            environment.remove(QString::fromLatin1(name));
        const QString path = installed(QStringLiteral("bin/") + program);
        QVERIFY2(QFileInfo(path).isExecutable(), qPrintable(path));
        const ProgramRun shown = runProgram(path, {option}, {QString(), environment});
        QCOMPARE(shown.exitCode, 0);
        QVERIFY2(shown.err.isEmpty(), qPrintable(shown.err));
        if (option == QLatin1String("--version"))
            QCOMPARE(shown.out, QStringLiteral("%1 %2\n").arg(program, QStringLiteral(SNAPLOOM_VERSION_TEXT)));
        else
            QVERIFY2(shown.out.startsWith(QStringLiteral("Usage: ")), qPrintable(shown.out));
    }

    void desktopEntry()
    {
        const QString entry = installed(QStringLiteral("share/applications/corvane-snaploom.desktop"));
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.contains(QStringLiteral("\nExec=corvane-snaploom\n")));
        QVERIFY(text.contains(QStringLiteral("\nIcon=corvane-snaploom\n")));
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (scripts/setup.sh installs it)");
        const ProgramRun check = runProgram(validator, {entry});
        QVERIFY2(check.exitCode == 0 && check.out.isEmpty() && check.err.isEmpty(), qPrintable(check.out + check.err));
    }

    // The icon theme gets the program's own artwork at every size, square and not empty.
    void icons_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
            QTest::newRow(qPrintable(QString::number(size))) << size;
    }
    void icons()
    {
        QFETCH(int, size);
        const QImage icon(installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/corvane-snaploom.png").arg(size)));
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(icon.hasAlphaChannel());
        QVERIFY(qAlpha(icon.pixel(size / 2, size / 2)) == 255);   // the screen in its middle is drawn
        QVERIFY(qAlpha(icon.pixel(0, 0)) < 255);                  // the rounded corner is not
    }

    void manPages_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("snaploom") << "snaploom" << "--format";
        QTest::newRow("corvane-snaploom") << "corvane-snaploom" << "--version";
        QTest::newRow("corvane-virtual-meter") << "corvane-virtual-meter" << "--pace";
    }
    void manPages()
    {
        QFETCH(QString, page);
        QFETCH(QString, mentions);
        const QString path = installed(QStringLiteral("share/man/man1/%1.1.gz").arg(page));
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        const QString man = QStandardPaths::findExecutable(QStringLiteral("man"));
        if (man.isEmpty())
            QSKIP("man is not installed");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
        environment.insert(QStringLiteral("MANPAGER"), QStringLiteral("cat"));
        environment.insert(QStringLiteral("MAN_KEEP_FORMATTING"), QString());
        const ProgramRun shown = runProgram(man, {QStringLiteral("--warnings"), QStringLiteral("-l"), path}, {QString(), environment});
        QCOMPARE(shown.exitCode, 0);
        QVERIFY2(shown.err.isEmpty(), qPrintable(shown.err));
        QVERIFY(shown.out.contains(QStringLiteral("NAME")));
        QVERIFY(shown.out.contains(QStringLiteral("SYNOPSIS")));
        QVERIFY2(shown.out.contains(mentions), qPrintable(shown.out));
    }

    void completionAndMetadata()
    {
        const QString completion = installed(QStringLiteral("share/bash-completion/completions/snaploom"));
        QVERIFY(QFileInfo::exists(completion));
        const ProgramRun syntax = runProgram(QStringLiteral("bash"), {QStringLiteral("-n"), completion});
        QVERIFY2(syntax.exitCode == 0, qPrintable(syntax.err));
        const QString metainfo = installed(QStringLiteral("share/metainfo/com.brannoc.CorvaneSnaploom.metainfo.xml"));
        QVERIFY(QFileInfo::exists(metainfo));
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
        if (validator.isEmpty())
            QSKIP("appstreamcli is not installed");
        const ProgramRun check = runProgram(validator, {QStringLiteral("validate"), QStringLiteral("--no-net"), QStringLiteral("--pedantic"), metainfo});
        QVERIFY2(check.exitCode == 0, qPrintable(check.out + check.err));
    }
};

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
