// What the end-to-end tests rely on in the virtual instrument, spoken to without our link.
#include "TestHome.h"
#include "VirtualMeterThread.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTest>
#include <QtEndian>

#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <numeric>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(VirtualMeterOptions)

namespace {

// The computer's side of the line, opened as any serial program would; bytes pass untouched.
class RawLine : public QSerialPort
{
public:
    explicit RawLine(const QString &device) { setPortName(device); open(ReadWrite); }

    // Whatever arrives until count bytes are in or the line stays quiet for quietMs.
    QByteArray exchange(const QByteArray &command, int count, int quietMs = 2000)
    {
        QByteArray data;
        if (write(command) == command.size() && waitForBytesWritten(2000))
            while (data.size() < count && waitForReadyRead(quietMs))
                data += readAll();
        return data;
    }
};

// A big-endian value; 0 when the data does not reach that far.
quint32 valueAt(const QByteArray &data, int offset, int width)
{
    quint32 value = 0;
    for (int i = 0; i < width && offset + width <= data.size(); ++i)
        value = (value << 8) | quint8(data.at(offset + i));
    return value;
}

// A read with its trailer checked; the data alone. The parameter bytes are raw and go in two
// pieces: nothing may come back before they are whole, and a 0x0D among them ends nothing.
QByteArray readMemory(RawLine &line, quint32 address, quint32 length)
{
    const quint32 big[2] = {qToBigEndian(address), qToBigEndian(length)};
    const QByteArray parameters(reinterpret_cast<const char *>(big), 8);
    if (!line.exchange("@ATSPI1Read\r" + parameters.left(2), 1, 30).isEmpty())
        return QByteArray();
    const QByteArray reply = line.exchange(parameters.mid(2), int(length) + 4);
    return reply.size() == int(length) + 4 && reply.endsWith("OK\n\r") ? reply.left(int(length)) : QByteArray();
}

// The data an 8-byte descriptor at offset points to: address, element size, count.
QByteArray follow(RawLine &line, const QByteArray &data, int offset)
{
    return readMemory(line, valueAt(data, offset, 4), valueAt(data, offset + 4, 2) * valueAt(data, offset + 6, 2));
}

VirtualMeterOptions meterOptions(QSet<MeterFault> faults, quint8 statusLength = 32, bool landscape = false,
                                 QSize storedSize = QSize(), bool fallbackPalette = false)
{
    VirtualMeterOptions options;
    options.faults = faults;
    options.statusLength = statusLength;
    options.landscape = landscape;
    options.storedSize = storedSize;
    options.fallbackPalette = fallbackPalette;
    return options;
}

// Whether the terminal at path is held exclusively: the flag as the terminal reports it, or the
// refusal an ordinary user gets.
bool heldExclusively(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY;
    int exclusive = 0;
    const bool held = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    ::close(fd);
    return held;
}

}  // namespace

class TestVirtualMeter : public QObject
{
    Q_OBJECT
    TestHome m_home;
    VirtualMeterThread m_meter;
    std::unique_ptr<RawLine> m_line;

    bool startInCommandMode(const VirtualMeterOptions &options)
    {
        if (!m_meter.start(options))
            return false;
        m_line = std::make_unique<RawLine>(m_meter.devicePath());
        return m_line->exchange("@AT+++\r", 4) == "OK\r\n";
    }

private slots:
    void cleanup() { m_line.reset(); m_meter.stop(); }

    void statusRecord_data()
    {
        QTest::addColumn<VirtualMeterOptions>("options");
        QTest::addColumn<int>("expectedSize");
        QTest::addColumn<bool>("checksumValid");
        QTest::newRow("L 32") << meterOptions({}) << 34 << true;
        QTest::newRow("L 48") << meterOptions({}, 48) << 50 << true;
        QTest::newRow("wrong checksum") << meterOptions({MeterFault::WrongChecksum}) << 34 << false;
        QTest::newRow("short") << meterOptions({MeterFault::ShortStatus}) << 33 << true;
        QTest::newRow("split, announcing 40") << meterOptions({MeterFault::SplitStatus}) << 42 << true;
    }
    void statusRecord()
    {
        QFETCH(VirtualMeterOptions, options);
        QFETCH(int, expectedSize);
        QFETCH(bool, checksumValid);
        QVERIFY(startInCommandMode(options));
        const QByteArray record = m_line->exchange("@ATSTAT\r", expectedSize + 1, 700);
        QCOMPARE(record.size(), expectedSize);
        const int length = quint8(record.at(0));  // the checksum byte is the record's last
        const int sum = std::accumulate(record.begin(), record.begin() + length - 1, 0, [](int s, char c) { return s + quint8(c); });
        QCOMPARE((sum % 256 ^ 0x55) == quint8(record.at(length - 1)), checksumValid);
    }

    // Read as a capture must (pointer, directory, chains, palette, strips), decoded by the storage
    // rule, the stored screen is what expectedCapture() promises.
    void storedLayout_data()
    {
        QTest::addColumn<VirtualMeterOptions>("options");
        QTest::newRow("portrait") << meterOptions({}, 32, false);
        QTest::newRow("landscape") << meterOptions({}, 32, true);
        QTest::newRow("portrait 20 x 12") << meterOptions({}, 32, false, QSize(20, 12));
        QTest::newRow("landscape 270 x 100, fallback palette") << meterOptions({}, 32, true, QSize(270, 100), true);
    }
    void storedLayout()
    {
        QFETCH(VirtualMeterOptions, options);
        QVERIFY(startInCommandMode(options));
        const QByteArray pointer = readMemory(*m_line, 0x1C480, 13);  // a length of 0x0D
        QCOMPARE(pointer, QByteArray::fromHex("00080000") + QByteArray(9, '\0'));
        const QByteArray directory = readMemory(*m_line, valueAt(pointer, 0, 4), 768);
        const QByteArray description = follow(*m_line, follow(*m_line, directory, 31 * 20), 0);
        const int width = int(valueAt(description, 4, 2));
        const int height = int(valueAt(description, 6, 2));
        QCOMPARE(QSize(width, height), options.storedSize.isValid() ? options.storedSize : options.landscape ? QSize(480, 272) : QSize(272, 480));
        QCOMPARE(valueAt(description, 8, 2), options.landscape ? 1u : 0u);
        // Elements are ElementSize bytes apart, not 8: element 1 of entry 27, then its element 2.
        const QByteArray colourList = follow(*m_line, directory, 27 * 20);
        const int tablesAt = int(valueAt(directory, 27 * 20 + 4, 2));
        const QByteArray colours = follow(*m_line, follow(*m_line, colourList, tablesAt), 2 * int(valueAt(colourList, tablesAt + 4, 2)));
        QCOMPARE(colours.size(), 24);
        QCOMPARE(colours.mid(9, 3) == QByteArray(3, char(60)), !options.fallbackPalette);
        const auto colour = [&](quint32 k) {  // the fallback: bit 0 blue, bit 1 green, bit 2 red
            return options.fallbackPalette ? qRgb(k & 4 ? 255 : 0, k & 2 ? 255 : 0, k & 1 ? 255 : 0) : 0xFF000000 | valueAt(colours, 3 * k, 3);
        };
        const QByteArray image = readMemory(*m_line, valueAt(description, 18, 4) - 1440, quint32(width / 8) * 1536);
        // A portrait screen is turned a quarter anticlockwise to be shown; columns past the last
        // whole strip are not stored, and expectedCapture() marks them transparent.
        const QImage expected = m_meter.expectedCapture();
        QCOMPARE(expected.size(), options.landscape ? QSize(width, height) : QSize(height, width));
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x) {
                const QPoint at = options.landscape ? QPoint(x, y) : QPoint(width - 1 - y, x);
                const quint32 v = valueAt(image, 1536 * (at.x() / 8) + 3 * at.y(), 3);
                if (at.x() >= width / 8 * 8)
                    QCOMPARE(qAlpha(expected.pixel(x, y)), 0);
                else if (expected.pixel(x, y) != colour((v >> (21 - 3 * (at.x() % 8))) & 7))
                    QFAIL(qPrintable(QStringLiteral("shown pixel (%1, %2)").arg(x).arg(y)));
            }
    }

    // A real line: paced replies take their time on the wire and come in many small deliveries
    // (or in whole adapter pieces); a latency keeps the line quiet before each reply.
    void realLine_data()
    {
        QTest::addColumn<bool>("pace");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("latencyMs");
        QTest::newRow("paced byte by byte") << true << 0 << 0;
        QTest::newRow("paced in pieces of 32") << true << 32 << 0;
        QTest::newRow("latency 150 ms") << false << 0 << 150;
    }
    void realLine()
    {
        QFETCH(bool, pace);
        QFETCH(int, chunk);
        QFETCH(int, latencyMs);
        VirtualMeterOptions options;
        options.pace = pace;
        options.chunk = chunk;
        options.latencyMs = latencyMs;
        QVERIFY(startInCommandMode(options));
        const quint32 length = 956;  // 960 bytes with the trailer: about a second at line speed
        const quint32 big[2] = {qToBigEndian(0x80000u), qToBigEndian(length)};
        const QByteArray request = "@ATSPI1Read\r" + QByteArray(reinterpret_cast<const char *>(big), 8);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(m_line->write(request) == request.size() && m_line->waitForBytesWritten(2000));
        QList<int> sizes;
        qint64 firstByteMs = -1;
        QByteArray reply;
        while (reply.size() < int(length) + 4 && m_line->waitForReadyRead(3000)) {
            if (firstByteMs < 0)
                firstByteMs = clock.elapsed();
            reply += m_line->readAll();
            sizes << int(reply.size());
        }
        const qint64 totalMs = clock.elapsed();
        QCOMPARE(reply.size(), int(length) + 4);
        QVERIFY(reply.endsWith("OK\n\r"));
        // Both ends count whole milliseconds on clocks of their own: a millisecond each may be lost.
        QVERIFY2(firstByteMs >= latencyMs - 2, qPrintable(QString::number(firstByteMs)));
        if (pace) {
            QVERIFY2(totalMs >= 800, qPrintable(QString::number(totalMs)));
            QVERIFY2(sizes.size() >= 10, qPrintable(QString::number(sizes.size())));
        }
        for (int size : sizes)
            QVERIFY2(chunk == 0 || size % chunk == 0 || size == reply.size(), qPrintable(QString::number(size)));
    }

    // Started, the program replaces a stale link from a crashed run, answers on its link and
    // removes it when stopped; with bad options it exits 2 and touches nothing.
    void program_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("started and stopped") << QStringList{"--com", "4", "--serial", "77"} << 0;
        QTest::newRow("no --com") << QStringList{} << 2;
        QTest::newRow("unknown fault") << QStringList{"--com", "4", "--fault", "melted"} << 2;
        QTest::newRow("stored height beyond a strip") << QStringList{"--com", "4", "--stored-size", "100x513"} << 2;
    }
    void program()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const QString link = m_home.path() + QStringLiteral("/ports/COM4");
        QFile::remove(link);
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/left-behind"), link));
        QProcess program;
        program.start(testBinary(QStringLiteral("corvane-virtual-meter")), arguments);
        if (exitCode == 0) {
            QTRY_VERIFY_WITH_TIMEOUT(program.canReadLine(), 10000);
            QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromLocal8Bit(program.readLine()).trimmed());
            QCOMPARE(RawLine(link).exchange("@AT+++\r", 4), QByteArray("OK\r\n"));
            QCOMPARE(valueAt(RawLine(link).exchange("@ATSTAT\r", 34), 27, 2), 77u);  // and again after a close
            program.terminate();
        }
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), exitCode);
        QVERIFY(exitCode == 0 || !program.readAllStandardError().isEmpty());
        QCOMPARE(QFileInfo(link).isSymLink(), exitCode != 0);
    }

    // However long it runs, the instrument keeps only its latest requests.
    void memoryStaysBounded_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("repeats");
        QTest::newRow("line noise") << QByteArray(4000, 'Z') << 500;
        QTest::newRow("commands") << QByteArray("@ATVER\r") << 5000;
        QTest::newRow("memory reads") << QByteArray("@ATSPI1Read\r" + QByteArray::fromHex("0001c48000000004")) << 3000;
    }
    void memoryStaysBounded()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, repeats);
        QVERIFY(startInCommandMode(meterOptions({})));
        const QByteArray last = "@ATSTAT\r";
        const QByteArray traffic = request.repeated(repeats) + last;
        QCOMPARE(m_line->write(traffic), traffic.size());
        QTRY_VERIFY_WITH_TIMEOUT(!m_meter.commands().isEmpty() && m_meter.commands().constLast() == "@ATSTAT", 30000);
        const QByteArray received = m_meter.received();
        QVERIFY2(received.size() <= VirtualMeter::RecentBytes && received.endsWith(request + last),
                 qPrintable(QString::number(received.size())));
        QVERIFY(m_meter.commands().size() <= VirtualMeter::RecentCommands);
        const QList<MeterMemoryRead> reads = m_meter.memoryReads();
        QVERIFY(reads.size() <= VirtualMeter::RecentReads);
        if (request.startsWith("@ATSPI1Read"))
            QVERIFY(reads.size() == VirtualMeter::RecentReads && reads.constLast().address == 0x1C480);
    }

    // A program killed while it holds the line leaves it to the next program, also to one run by
    // an ordinary user, whom the terminal's exclusive flag would bar.
    void lineFreeAfterItsHolderIsKilled()
    {
        VirtualMeterOptions options;
        options.comNumber = 6;
        QVERIFY(m_meter.start(options));
        QProcess holder;
        holder.start(testBinary(QStringLiteral("port-holder")), {QStringLiteral("COM6")});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readAllStandardOutput(), QByteArray("open\n"));
        QVERIFY(heldExclusively(m_meter.devicePath()));
        ::kill(pid_t(holder.processId()), SIGKILL);
        QVERIFY(holder.waitForFinished(10000));
        QTRY_VERIFY(!heldExclusively(m_meter.devicePath()));

        QProcess next;
        // Run as root, the program would pass the flag anyway; it runs without that privilege.
        next.setChildProcessModifier([] { ::prctl(PR_CAPBSET_DROP, CAP_SYS_ADMIN, 0, 0, 0); });
        next.start(testBinary(QStringLiteral("snaploom")), {QStringLiteral("identify"), QStringLiteral("--port"), QStringLiteral("COM6")});
        QVERIFY(next.waitForFinished(60000));
        QVERIFY2(next.exitCode() == 0 && next.readAllStandardOutput().startsWith("Connected to COM6"),
                 next.readAllStandardError().constData());
    }
};

QTEST_MAIN(TestVirtualMeter)
#include "tst_virtualmeter.moc"
