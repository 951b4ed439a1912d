// Which settings folder a program uses, and that the all-users folder is only ever used, never
// made: an administrator makes it for settings shared by all users.
#include "SettingsFolder.h"
#include "FolderFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestSettingsFolder : public QObject
{
    Q_OBJECT
    QTemporaryDir root;

    QString perUserFolder() const { return root.filePath(QStringLiteral("data/Brannoc/CorvaneSnaploom")); }

private slots:
    void initTestCase()
    {
        QVERIFY(root.isValid());
        qputenv("XDG_DATA_HOME", root.filePath(QStringLiteral("data")).toLocal8Bit());
    }
    void init() { qunsetenv("SNAPLOOM_HOME"); }

    void choosesTheFolder_data()
    {
        QTest::addColumn<QString>("allUsers");      // what is at the all-users folder's place
        QTest::addColumn<QString>("snaploomHome");  // SNAPLOOM_HOME, relative to the test's folder
        QTest::addColumn<QString>("chosen");        // "all users", "per user" or "home"
        QTest::newRow("no all-users folder") << "nothing" << "" << "per user";
        QTest::newRow("all-users folder made by an administrator") << "folder" << "" << "all users";
        QTest::newRow("a file in its place") << "file" << "" << "per user";
        QTest::newRow("SNAPLOOM_HOME first") << "folder" << "home" << "home";
    }
    void choosesTheFolder()
    {
        QFETCH(QString, allUsers);
        QFETCH(QString, snaploomHome);
        QFETCH(QString, chosen);
        const QString allUsersFolder = root.filePath(QStringLiteral("var/%1/Brannoc/CorvaneSnaploom").arg(QTest::currentDataTag()));
        if (allUsers == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(allUsersFolder));
        if (allUsers == QLatin1String("file")) {
            QVERIFY(QDir().mkpath(QFileInfo(allUsersFolder).path()));
            QVERIFY(writeFile(allUsersFolder));
        }
        const QString home = root.filePath(QStringLiteral("home/") + QTest::currentDataTag());
        if (!snaploomHome.isEmpty())
            qputenv("SNAPLOOM_HOME", home.toLocal8Bit());

        const QString folder = SettingsFolder::path(allUsersFolder);

        const QString expected = chosen == QLatin1String("all users") ? allUsersFolder
                                 : chosen == QLatin1String("home")    ? home
                                                                      : perUserFolder();
        QCOMPARE(folder, expected);
        QVERIFY2(QFileInfo(folder).isDir(), qPrintable(folder));
        if (allUsers == QLatin1String("nothing"))
            QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("var/") + QTest::currentDataTag())));
    }

    // The real all-users folder, which only root could make.
    void neverMakesTheSystemFolder()
    {
        const QString vendor = QStringLiteral("/var/lib/Brannoc");
        if (QFileInfo::exists(vendor))
            QSKIP("an administrator has made /var/lib/Brannoc on this machine");
        QCOMPARE(SettingsFolder::path(), perUserFolder());
        QVERIFY(!QFileInfo::exists(vendor));
    }
};

QTEST_GUILESS_MAIN(TestSettingsFolder)
#include "tst_link_settingsfolder.moc"
