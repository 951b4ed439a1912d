// Picture files as both programs write them: the format a name asks for, a path judged before
// anything is written, and a write that never leaves half a file or replaces what is not a file.
#include "ImageFile.h"
#include "FolderFiles.h"
#include "SmallFileSystem.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>

Q_DECLARE_METATYPE(std::optional<ImageFile::Format>)
Q_DECLARE_METATYPE(ImageFile::Format)

namespace {

QImage somePicture()
{
    QImage picture(7, 5, QImage::Format_RGB32);
    picture.fill(qRgb(0, 128, 255));
    picture.setPixel(3, 2, qRgb(255, 0, 0));
    return picture;
}

}  // namespace

class TestImageFile : public QObject
{
    Q_OBJECT
private slots:
    void formatOfPath_data()
    {
        using F = ImageFile::Format;
        QTest::addColumn<QString>("path");
        QTest::addColumn<std::optional<F>>("expected");
        QTest::newRow("bmp") << "shot.bmp" << std::optional<F>(F::Bmp);
        QTest::newRow("PNG in capitals") << "dir.x/SHOT.PNG" << std::optional<F>(F::Png);
        QTest::newRow("mixed case") << "shot.Png" << std::optional<F>(F::Png);
        QTest::newRow("no suffix: the default") << "screen" << std::optional<F>(F::Png);
        QTest::newRow("a dot in the folder only") << "shots.d/screen" << std::optional<F>(F::Png);
        QTest::newRow("jpg refused") << "shot.jpg" << std::optional<F>();
        QTest::newRow("only the last suffix counts") << "shot.png.bak" << std::optional<F>();
        QTest::newRow("trailing dot") << "shot." << std::optional<F>();
    }
    void formatOfPath()
    {
        QFETCH(QString, path);
        QFETCH(std::optional<ImageFile::Format>, expected);
        QCOMPARE(ImageFile::formatOfPath(path, ImageFile::Format::Png), expected);
    }

    // What may be written is told apart without creating or opening anything.
    void whyNotWritable_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("reason");   // empty: writable
        QTest::newRow("new file") << "new.bmp" << "";
        QTest::newRow("existing file") << "old.bmp" << "";
        QTest::newRow("device") << "/dev/null" << "";
        QTest::newRow("folder") << "sub" << "is a folder";
        QTest::newRow("missing folder") << "missing/new.bmp" << "does not exist";
        QTest::newRow("a file as folder") << "old.bmp/new.bmp" << "is not a folder";
    }
    void whyNotWritable()
    {
        QFETCH(QString, relative);
        QFETCH(QString, reason);
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("sub")));
        QVERIFY(writeFile(folder.filePath(QStringLiteral("old.bmp"))));
        const QStringList before = QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        const QString path = relative.startsWith(QLatin1Char('/')) ? relative : folder.filePath(relative);
        const QString why = ImageFile::whyNotWritable(path);
        QVERIFY2(reason.isEmpty() ? why.isEmpty() : why.contains(reason), qPrintable(why));
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    }

    // A regular file is replaced whole, in the asked format: one that has the old file open keeps
    // reading the old one. A failed write leaves the old file as it was, with no temporary behind.
    void regularFileReplacedWhole()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("kept.bmp"));
        QVERIFY(writeFile(path, "old contents"));
        QFile old(path);

        QString error;
        QVERIFY(!ImageFile::write(QImage(), path, ImageFile::Format::Bmp, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old contents"));
        old.close();
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept.bmp")});

        QVERIFY(old.open(QIODevice::ReadOnly));
        QVERIFY2(ImageFile::write(somePicture(), path, ImageFile::Format::Png, &error), qPrintable(error));
        QCOMPARE(old.readAll(), QByteArray("old contents"));
        QImageReader reader(path);
        QCOMPARE(reader.format(), QByteArray("png"));
        QCOMPARE(reader.read().convertToFormat(QImage::Format_RGB32), somePicture());
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept.bmp")});
    }

    // A write the system refuses says why, in the system's words, and leaves nothing behind.
    // Without the right to mount, /dev/full still shows a full disk's reason.
    void writeFailureNamesCause_data()
    {
        QTest::addColumn<int>("where");    // -1: /dev/full, else a SmallFileSystem::Kind
        QTest::addColumn<int>("code");     // the system's error, in the system's words
        QTest::newRow("full file system") << int(SmallFileSystem::Kind::Full) << ENOSPC;
        QTest::newRow("read-only file system") << int(SmallFileSystem::Kind::ReadOnly) << EROFS;
        QTest::newRow("full device") << -1 << ENOSPC;
    }
    void writeFailureNamesCause()
    {
        QFETCH(int, where);
        QFETCH(int, code);
        std::unique_ptr<SmallFileSystem> disk;
        QString path = SmallFileSystem::fullDevice();
        if (where < 0 && path.isEmpty())
            QSKIP("/dev/full is not the full device here");
        if (where >= 0) {
            disk = std::make_unique<SmallFileSystem>(SmallFileSystem::Kind(where));
            if (!disk->available())
                QSKIP("no right to mount a file system here");
            path = disk->filePath(QStringLiteral("screen.png"));
        }
        const QStringList before = disk ? disk->entries() : QStringList();
        // Larger than the line's buffers, so the failure cannot hide in a buffer.
        QImage picture(400, 300, QImage::Format_RGB32);
        picture.fill(qRgb(10, 20, 30));
        QString error;
        QVERIFY(!ImageFile::write(picture, path, ImageFile::Format::Bmp, &error));
        QCOMPARE(error, QString::fromLocal8Bit(std::strerror(code)));
        if (disk)
            QCOMPARE(disk->entries(), before);
    }

    // Each format's own suffix leads back to it, and the file holds that format: a .png is never
    // a bitmap under another name.
    void everyFormatWrittenAsItsSuffixSays_data()
    {
        QTest::addColumn<ImageFile::Format>("format");
        QTest::addColumn<QByteArray>("contents");   // as the image reader finds it from the bytes
        QTest::newRow("bmp") << ImageFile::Format::Bmp << QByteArray("bmp");
        QTest::newRow("png") << ImageFile::Format::Png << QByteArray("png");
        QTest::newRow("jpeg") << ImageFile::Format::Jpeg << QByteArray("jpeg");
    }
    void everyFormatWrittenAsItsSuffixSays()
    {
        QFETCH(ImageFile::Format, format);
        QFETCH(QByteArray, contents);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("shot") + ImageFile::suffix(format));
        QCOMPARE(ImageFile::formatOfSuffix(QFileInfo(path).suffix().toUpper()), std::optional(format));

        QString error;
        QVERIFY2(ImageFile::write(somePicture(), path, format, &error), qPrintable(error));
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), contents);
        const QImage read = reader.read().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(read.size(), somePicture().size());
        // JPEG is lossy; at its highest quality a flat area keeps its colour.
        const QRgb corner = read.pixel(0, 0);
        QVERIFY(qAbs(qRed(corner)) <= 4 && qAbs(qGreen(corner) - 128) <= 4 && qAbs(qBlue(corner) - 255) <= 4);
    }

    // A device at the path is written into and stays a device.
    void deviceWrittenInto()
    {
        QString error;
        QVERIFY2(ImageFile::write(somePicture(), QStringLiteral("/dev/null"), ImageFile::Format::Bmp, &error), qPrintable(error));
        struct stat status {};
        QVERIFY(::stat("/dev/null", &status) == 0 && S_ISCHR(status.st_mode));
    }
};

QTEST_GUILESS_MAIN(TestImageFile)
#include "tst_imagefile.moc"
