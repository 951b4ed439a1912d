// The virtual instrument, spoken to byte by byte over its pseudo-terminal with plain POSIX calls.

#include "TestHome.h"
#include "VirtualMeterThread.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QTest>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(MeterFault)

namespace {

const QByteArray ReadTrailer("OK\n\r");

// The computer's side of the line: the slave node opened raw, as a serial program would.
class RawLine
{
public:
    explicit RawLine(const QString &device)
    {
        m_fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0)
            return;
        termios settings{};
        ::tcgetattr(m_fd, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(m_fd, TCSANOW, &settings);
    }
    ~RawLine()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    bool hungUp() const { return m_hungUp; }

    void write(const QByteArray &bytes) { QCOMPARE(::write(m_fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size())); }

    // Whatever arrives until count bytes are in or the line stays quiet for quietMs.
    QByteArray read(int count, int quietMs = 2000)
    {
        QByteArray data;
        while (data.size() < count) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0)
                break;
            char buffer[4096];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                data.append(buffer, n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                m_hungUp = true;  // the other side closed the terminal
                break;
            }
        }
        return data;
    }

    QByteArray exchange(const QByteArray &command, int replyLength, int quietMs = 2000)
    {
        write(command);
        return read(replyLength, quietMs);
    }

private:
    int m_fd = -1;
    bool m_hungUp = false;
};

QByteArray bigEndian(quint32 value, int width)
{
    QByteArray bytes;
    for (int i = width - 1; i >= 0; --i)
        bytes.append(char(value >> (8 * i)));
    return bytes;
}

quint32 valueAt(const QByteArray &data, int offset, int width)
{
    quint32 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | quint8(data.at(offset + i));
    return value;
}

QByteArray readRequest(quint32 address, quint32 length)
{
    return QByteArray("@ATSPI1Read\r") + bigEndian(address, 4) + bigEndian(length, 4);
}

// A read with its trailer checked; the data alone.
QByteArray readMemory(RawLine &line, quint32 address, quint32 length)
{
    const QByteArray reply = line.exchange(readRequest(address, length), int(length) + ReadTrailer.size());
    if (reply.size() != int(length) + ReadTrailer.size() || !reply.endsWith(ReadTrailer))
        return QByteArray();
    return reply.left(int(length));
}

struct Item
{
    quint32 address = 0;
    quint16 elementSize = 0;
    quint16 count = 0;
};

Item descriptorAt(const QByteArray &data, int offset)
{
    return {valueAt(data, offset, 4), quint16(valueAt(data, offset + 4, 2)), quint16(valueAt(data, offset + 6, 2))};
}

QByteArray itemData(RawLine &line, const Item &item)
{
    return readMemory(line, item.address, quint32(item.elementSize) * item.count);
}

// The directory in whole 128-byte blocks, found through the pointer.
QByteArray readDirectory(RawLine &line)
{
    const QByteArray pointer = readMemory(line, 0x1C480, 4);
    return pointer.size() == 4 ? readMemory(line, valueAt(pointer, 0, 4), 768) : QByteArray();
}

// Entry 31, its element 0 (elements are ElementSize bytes apart, not 8), the data so described.
QByteArray readScreenDescription(RawLine &line, const QByteArray &directory)
{
    const Item screenList = descriptorAt(directory, 31 * 20);
    const QByteArray screenListData = itemData(line, screenList);
    return itemData(line, descriptorAt(screenListData, 0 * screenList.elementSize));
}

const std::array<QRgb, 8> ReaderFallback = {
    qRgb(0, 0, 0),   qRgb(0, 0, 255),   qRgb(0, 255, 0),   qRgb(0, 255, 255),
    qRgb(255, 0, 0), qRgb(255, 0, 255), qRgb(255, 255, 0), qRgb(255, 255, 255),
};

}  // namespace

class TestVirtualMeter : public QObject
{
    Q_OBJECT

private:
    TestHome m_home;

    // A started instrument in command mode, and the line to it.
    bool startInCommandMode(VirtualMeterThread &meter, const VirtualMeterOptions &options, std::unique_ptr<RawLine> &line)
    {
        QString error;
        if (!meter.start(options, &error)) {
            qWarning() << error;
            return false;
        }
        line = std::make_unique<RawLine>(meter.devicePath());
        return line->isOpen() && line->exchange("@AT+++\r", 4) == "OK\r\n";
    }

private slots:
    void commandMode_data()
    {
        QTest::addColumn<QList<MeterFault>>("faults");
        QTest::addColumn<QByteArrayList>("commands");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("status ignored outside command mode") << QList<MeterFault>{} << QByteArrayList{"@ATSTAT\r", "@ATVER\r"} << QByteArray();
        QTest::newRow("enter") << QList<MeterFault>{} << QByteArrayList{"@AT+++\r"} << QByteArray("OK\r\n");
        QTest::newRow("enter, version, leave, then ignored")
            << QList<MeterFault>{} << QByteArrayList{"@AT+++\r", "@ATVER\r", "@AT---\r", "@ATVER\r"}
            << QByteArray("OK\r\nCORVANE ALVO FW 1.05 2026-03-11\r\nOK\r\n");
        QTest::newRow("noise before a command") << QList<MeterFault>{} << QByteArrayList{"\n\x01zz@AT+++\r"} << QByteArray("OK\r\n");
        QTest::newRow("no acknowledgement") << QList<MeterFault>{MeterFault::NoAck} << QByteArrayList{"@AT+++\r", "@ATVER\r"} << QByteArray("ER\r\n");
        QTest::newRow("silent") << QList<MeterFault>{MeterFault::Silent} << QByteArrayList{"@AT+++\r"} << QByteArray();
        QTest::newRow("halt and restart")
            << QList<MeterFault>{} << QByteArrayList{"@AT+++\r", "@ATDSPSTOPLOGO\r", "@ATDSPSTART\r"} << QByteArray("OK\r\nOK\r\nOK\r\n");
        QTest::newRow("halt refused")
            << QList<MeterFault>{MeterFault::HaltRefused} << QByteArrayList{"@AT+++\r", "@ATDSPSTOPLOGO\r"} << QByteArray("OK\r\nER\r\n");
        QTest::newRow("DSP command takes its block and answers once")
            << QList<MeterFault>{} << QByteArrayList{"@AT+++\r", "@ATDSPCMD\r", QByteArray(7, '\0') + '\x02'} << QByteArray("OK\r\nOK\r\n");
        QTest::newRow("flash identifier") << QList<MeterFault>{} << QByteArrayList{"@AT+++\r", "@ATRDFlashID\r"} << QByteArray("OK\r\n\xef\x40\x1b");
    }

    void commandMode()
    {
        QFETCH(QList<MeterFault>, faults);
        QFETCH(QByteArrayList, commands);
        QFETCH(QByteArray, expected);
        VirtualMeterOptions options;
        options.faults = QSet<MeterFault>(faults.begin(), faults.end());
        VirtualMeterThread meter;
        QVERIFY(meter.start(options));
        RawLine line(meter.devicePath());
        QVERIFY(line.isOpen());
        for (const QByteArray &command : commands)
            line.write(command);
        // Read one byte more than expected, so a surplus shows; the quiet time ends the read.
        QCOMPARE(line.read(expected.size() + 1, 400), expected);
        QCOMPARE(meter.received(), commands.join());
    }

    void haltCounting()
    {
        VirtualMeterThread meter;
        std::unique_ptr<RawLine> line;
        QVERIFY(startInCommandMode(meter, VirtualMeterOptions{}, line));
        QCOMPARE(line->exchange("@ATDSPSTOPLOGO\r", 4), QByteArray("OK\r\n"));
        QVERIFY(meter.halted());
        QCOMPARE(line->exchange("@ATDSPSTART\r", 4), QByteArray("OK\r\n"));
        QVERIFY(!meter.halted());
        QCOMPARE(meter.halts(), 1);
        QCOMPARE(meter.restarts(), 1);
    }

    void garbageHasNoLineEnds()
    {
        VirtualMeterOptions options;
        options.faults = {MeterFault::Garbage};
        VirtualMeterThread meter;
        QVERIFY(meter.start(options));
        RawLine line(meter.devicePath());
        const QByteArray reply = line.exchange("@AT+++\r", 1000, 400);
        QVERIFY(reply.size() >= 16);
        QVERIFY(!reply.contains('\r') && !reply.contains('\n'));
    }

    void statusRecord_data()
    {
        QTest::addColumn<int>("statusLength");
        QTest::addColumn<QList<MeterFault>>("faults");
        QTest::addColumn<int>("expectedSize");
        QTest::addColumn<bool>("checksumValid");
        QTest::newRow("L 32") << 32 << QList<MeterFault>{} << 34 << true;
        QTest::newRow("L 48") << 48 << QList<MeterFault>{} << 50 << true;
        QTest::newRow("wrong checksum") << 32 << QList<MeterFault>{MeterFault::WrongChecksum} << 34 << false;
        QTest::newRow("short") << 32 << QList<MeterFault>{MeterFault::ShortStatus} << 33 << true;
        QTest::newRow("split, announcing 40") << 32 << QList<MeterFault>{MeterFault::SplitStatus} << 42 << true;
    }

    void statusRecord()
    {
        QFETCH(int, statusLength);
        QFETCH(QList<MeterFault>, faults);
        QFETCH(int, expectedSize);
        QFETCH(bool, checksumValid);
        VirtualMeterOptions options;
        options.statusLength = quint8(statusLength);
        options.faults = QSet<MeterFault>(faults.begin(), faults.end());
        options.serialNumber = 0x1234;
        options.modelCode = 221;
        options.mcuMajor = 2;
        options.mcuMinor = 7;
        options.fpgaVersion = 9;
        VirtualMeterThread meter;
        std::unique_ptr<RawLine> line;
        QVERIFY(startInCommandMode(meter, options, line));

        const QByteArray record = line->exchange("@ATSTAT\r", expectedSize + 1, 700);
        QCOMPARE(record.size(), expectedSize);
        const int length = quint8(record.at(0));
        int sum = 0;
        for (int i = 0; i < length - 1; ++i)
            sum += quint8(record.at(i));
        QCOMPARE((sum % 256 ^ 0x55) == quint8(record.at(length - 1)), checksumValid);
        QCOMPARE(valueAt(record, 27, 2), 4660u);
        QCOMPARE(quint8(record.at(29)), quint8(221));
        QCOMPARE(quint8(record.at(12)), quint8(2));
        QCOMPARE(quint8(record.at(13)), quint8(7));
        QCOMPARE(quint8(record.at(30)), quint8(9));
    }

    void memoryReadWithParametersInPieces_data()
    {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<quint32>("length");
        QTest::addColumn<int>("splitAt");
        QTest::addColumn<QByteArray>("expected");
        // Length 0x0D: a CR among the parameter bytes must not end anything.
        QTest::newRow("directory pointer, length 13, split in the address")
            << 0x1C480u << 13u << 2 << (QByteArray::fromHex("00080000") + QByteArray(9, '\0'));
        QTest::newRow("DSP status word, split between address and length") << 0x1C496u << 2u << 4 << QByteArray::fromHex("0011");
        QTest::newRow("unmapped address 0x0D0D0D0D reads zeros") << 0x0D0D0D0Du << 5u << 7 << QByteArray(5, '\0');
    }

    void memoryReadWithParametersInPieces()
    {
        QFETCH(quint32, address);
        QFETCH(quint32, length);
        QFETCH(int, splitAt);
        QFETCH(QByteArray, expected);
        VirtualMeterOptions options;
        options.dspStatus = VirtualMeterOptions::RefusingStatusWord;
        VirtualMeterThread meter;
        std::unique_ptr<RawLine> line;
        QVERIFY(startInCommandMode(meter, options, line));

        const QByteArray parameters = bigEndian(address, 4) + bigEndian(length, 4);
        line->write("@ATSPI1Read\r");
        line->write(parameters.left(splitAt));
        QCOMPARE(line->read(1, 150), QByteArray());  // nothing before the request is whole
        line->write(parameters.mid(splitAt));
        QCOMPARE(line->read(int(length) + 5, 400), expected + ReadTrailer);
        QCOMPARE(meter.memoryReads().size(), 1);
        QCOMPARE(meter.memoryReads().first().address, address);
        QCOMPARE(meter.memoryReads().first().length, length);
    }

    void memoryLayoutRoundTrip_data()
    {
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<QSize>("storedSize");
        QTest::addColumn<bool>("fallbackPalette");
        QTest::newRow("portrait, default screen") << false << QSize() << false;
        QTest::newRow("landscape, default screen") << true << QSize() << false;
        QTest::newRow("portrait 20 x 12") << false << QSize(20, 12) << false;
        QTest::newRow("landscape 270 x 100, fallback palette") << true << QSize(270, 100) << true;
    }

    // Reads the instrument as a capture must (pointer, directory, chains by their element
    // sizes, palette, strips), decodes by the storage rule and compares with what it promises.
    void memoryLayoutRoundTrip()
    {
        QFETCH(bool, landscape);
        QFETCH(QSize, storedSize);
        QFETCH(bool, fallbackPalette);
        VirtualMeterOptions options;
        options.landscape = landscape;
        options.storedSize = storedSize;
        options.fallbackPalette = fallbackPalette;
        VirtualMeterThread meter;
        std::unique_ptr<RawLine> line;
        QVERIFY(startInCommandMode(meter, options, line));

        const QByteArray directory = readDirectory(*line);
        QCOMPARE(directory.size(), 768);
        const auto element = [](const Item &item, const QByteArray &data, int index) { return descriptorAt(data, index * item.elementSize); };

        const QByteArray description = readScreenDescription(*line, directory);
        QVERIFY(description.size() >= 22);
        const int width = int(valueAt(description, 4, 2));
        const int height = int(valueAt(description, 6, 2));
        const int orientation = int(valueAt(description, 8, 2));
        const quint32 imageAddress = valueAt(description, 18, 4);
        const QSize expectedStored = !storedSize.isValid() ? (landscape ? QSize(480, 272) : QSize(272, 480)) : storedSize;
        QCOMPARE(QSize(width, height), expectedStored);
        QCOMPARE(orientation, landscape ? 1 : 0);

        const Item colourList = descriptorAt(directory, 27 * 20);
        const QByteArray colourListData = itemData(*line, colourList);
        const Item colourTables = element(colourList, colourListData, 1);
        const QByteArray colourTablesData = itemData(*line, colourTables);
        const QByteArray paletteData = itemData(*line, element(colourTables, colourTablesData, 2));
        QCOMPARE(paletteData.size(), 24);
        std::array<QRgb, 8> palette{};
        for (int k = 0; k < 8; ++k)
            palette[k] = qRgb(quint8(paletteData[3 * k]), quint8(paletteData[3 * k + 1]), quint8(paletteData[3 * k + 2]));
        QCOMPARE(palette[3] == qRgb(60, 60, 60), !fallbackPalette);
        if (fallbackPalette)
            palette = ReaderFallback;

        const int strips = width / 8;
        const QByteArray image = readMemory(*line, imageAddress - 1440, quint32(strips) * 1536);
        QCOMPARE(image.size(), strips * 1536);
        QImage stored(width, height, QImage::Format_ARGB32);
        stored.fill(qRgba(0, 0, 0, 0));
        for (int s = 0; s < strips; ++s) {
            for (int r = 0; r < height; ++r) {
                const quint32 v = valueAt(image, 1536 * s + 3 * r, 3);
                for (int k = 0; k < 8; ++k)
                    stored.setPixel(8 * s + k, r, palette[(v >> (21 - 3 * k)) & 7]);
            }
        }
        // The bytes after the last row of a strip are junk, not zeros.
        if (strips > 0 && height < 512)
            QVERIFY(image.mid(3 * height, 1536 - 3 * height).count('\0') < 1536 - 3 * height);

        // A portrait screen is turned a quarter anticlockwise to be shown.
        const QImage expected = meter.expectedCapture();
        const QSize shown = landscape ? stored.size() : stored.size().transposed();
        QCOMPARE(expected.size(), shown);
        int unstored = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb want = expected.pixel(x, y);
                const QRgb got = landscape ? stored.pixel(x, y) : stored.pixel(width - 1 - y, x);
                if (qAlpha(want) == 0) {
                    ++unstored;
                    QCOMPARE(qAlpha(got), 0);  // only columns the instrument does not store
                    continue;
                }
                if (want != got)
                    QFAIL(qPrintable(QStringLiteral("shown pixel (%1, %2)").arg(x).arg(y)));
            }
        }
        QCOMPARE(unstored, (width % 8) * height);
        // The default screen is a picture, not a plain field.
        QSet<QRgb> colours;
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x)
                colours.insert(expected.pixel(x, y));
        QVERIFY(colours.size() >= 3);
    }

    void givenScreenIsShownUpright_data()
    {
        QTest::addColumn<bool>("landscape");
        QTest::newRow("portrait") << false;
        QTest::newRow("landscape") << true;
    }

    void givenScreenIsShownUpright()
    {
        QFETCH(bool, landscape);
        // Left half red, top right white, bottom right blue: any turn or mirror shows.
        QImage picture(960, 544, QImage::Format_RGB32);
        QPainter painter(&picture);
        painter.fillRect(0, 0, 480, 544, qRgb(220, 40, 40));
        painter.fillRect(480, 0, 480, 272, Qt::white);
        painter.fillRect(480, 272, 480, 272, qRgb(40, 80, 200));
        painter.end();
        VirtualMeterOptions options;
        options.screen = picture;
        options.landscape = landscape;
        VirtualMeterThread meter;
        QVERIFY(meter.start(options));
        const QImage expected = meter.expectedCapture();
        QCOMPARE(expected.size(), QSize(480, 272));
        QCOMPARE(expected.pixel(10, 10), qRgb(220, 40, 40));
        QCOMPARE(expected.pixel(10, 260), qRgb(220, 40, 40));
        QCOMPARE(expected.pixel(470, 10), qRgb(255, 255, 255));
        QCOMPARE(expected.pixel(470, 260), qRgb(40, 80, 200));
    }

    void absurdGeometryIsDescribed()
    {
        VirtualMeterOptions options;
        options.faults = {MeterFault::AbsurdGeometry};
        VirtualMeterThread meter;
        std::unique_ptr<RawLine> line;
        QVERIFY(startInCommandMode(meter, options, line));
        const QByteArray description = readScreenDescription(*line, readDirectory(*line));
        QVERIFY(description.size() >= 22);
        QCOMPARE(valueAt(description, 4, 2), 65535u);
        QCOMPARE(valueAt(description, 6, 2), 65535u);
        QCOMPARE(valueAt(description, 18, 4), 0x10u);
    }

    void imageReadFaults_data()
    {
        QTest::addColumn<MeterFault>("fault");
        QTest::addColumn<int>("dataBytes");   // of the 52224 asked for
        QTest::addColumn<QByteArray>("trailer");
        QTest::addColumn<bool>("hangsUp");
        QTest::newRow("swapped image trailer") << MeterFault::SwappedImageTrailer << 52224 << QByteArray("OK\r\n") << false;
        QTest::newRow("short image") << MeterFault::ShortImage << 52124 << ReadTrailer << false;
        QTest::newRow("stall") << MeterFault::StallInRead << 26112 << QByteArray() << false;
        QTest::newRow("hang-up") << MeterFault::HangUpInRead << 26112 << QByteArray() << true;
    }

    void imageReadFaults()
    {
        QFETCH(MeterFault, fault);
        QFETCH(int, dataBytes);
        QFETCH(QByteArray, trailer);
        QFETCH(bool, hangsUp);
        VirtualMeterOptions options;
        options.comNumber = 12;
        options.faults = {fault};
        VirtualMeterThread meter;
        std::unique_ptr<RawLine> line;
        QVERIFY(startInCommandMode(meter, options, line));

        // Small reads are not affected.
        QCOMPARE(readMemory(*line, 0x1C480, 4), QByteArray::fromHex("00080000"));
        const QByteArray reply = line->exchange(readRequest(0x100000, 52224), 52224 + 5);
        QCOMPARE(reply.size(), dataBytes + trailer.size());
        QVERIFY(reply.endsWith(trailer));
        QCOMPARE(line->hungUp(), hangsUp);
        QCOMPARE(QFileInfo::exists(m_home.path() + QStringLiteral("/ports/COM12")), !hangsUp);
    }

    void linkMadeAndRemoved()
    {
        const QString link = m_home.path() + QStringLiteral("/ports/COM9");
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/left-behind"), link));  // stale, from a crashed run
        VirtualMeterOptions options;
        options.comNumber = 9;
        {
            VirtualMeterThread meter;
            QVERIFY(meter.start(options));
            QCOMPARE(QFileInfo(link).symLinkTarget(), meter.devicePath());
            {
                RawLine line(link);
                QVERIFY(line.isOpen());
                QCOMPARE(line.exchange("@AT+++\r", 4), QByteArray("OK\r\n"));
            }
            // A program that closed the port finds the instrument there when it opens it again.
            RawLine again(link);
            QVERIFY(again.isOpen());
            QCOMPARE(again.exchange("@ATVER\r", 64, 400), QByteArray("CORVANE ALVO FW 1.05 2026-03-11\r\n"));
        }
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void programAnswersAndCleansUp()
    {
        QProcess program;
        program.start(testBinary(QStringLiteral("corvane-virtual-meter")), {QStringLiteral("--com"), QStringLiteral("4"), QStringLiteral("--serial"), QStringLiteral("77")});
        QVERIFY(program.waitForStarted());
        QVERIFY(program.waitForReadyRead(10000));
        QTRY_VERIFY_WITH_TIMEOUT(program.canReadLine() && program.bytesAvailable() > 0, 10000);
        const QString device = QString::fromLocal8Bit(program.readLine()).trimmed();
        const QString link = m_home.path() + QStringLiteral("/ports/COM4");
        QCOMPARE(QFileInfo(link).symLinkTarget(), device);
        {
            RawLine line(link);
            QCOMPARE(line.exchange("@AT+++\r", 4), QByteArray("OK\r\n"));
            QCOMPARE(valueAt(line.exchange("@ATSTAT\r", 34), 27, 2), 77u);
        }
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void programRefusesBadOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no --com") << QStringList{};
        QTest::newRow("unknown fault") << QStringList{"--com", "1", "--fault", "melted"};
        QTest::newRow("serial too large") << QStringList{"--com", "1", "--serial", "65536"};
        QTest::newRow("mcu without minor") << QStringList{"--com", "1", "--mcu", "1"};
        QTest::newRow("unknown option") << QStringList{"--com", "1", "--colour"};
        QTest::newRow("stored height beyond a strip") << QStringList{"--com", "1", "--stored-size", "100x513"};
        QTest::newRow("stored width 0") << QStringList{"--com", "1", "--stored-size", "0x100"};
    }

    void programRefusesBadOptions()
    {
        QFETCH(QStringList, arguments);
        QProcess program;
        program.start(testBinary(QStringLiteral("corvane-virtual-meter")), arguments);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 2);
        QVERIFY(!program.readAllStandardError().isEmpty());
    }

    // A loose sanity check of the 9600-baud pacing; figures belong in a bench program.
    void pacedReplyTakesAboutLineTime()
    {
        VirtualMeterOptions options;
        options.pace = true;
        VirtualMeterThread meter;
        std::unique_ptr<RawLine> line;
        QVERIFY(startInCommandMode(meter, options, line));
        constexpr quint32 Length = 2876;  // 2880 bytes with the trailer: 3 s at 960 bytes a second
        QElapsedTimer clock;
        clock.start();
        const QByteArray reply = line->exchange(readRequest(0x100000, Length), int(Length) + 4);
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(reply.size(), int(Length) + 4);
        QVERIFY2(elapsed > 2100 && elapsed < 3900, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    }
};

QTEST_MAIN(TestVirtualMeter)
#include "tst_virtualmeter.moc"
