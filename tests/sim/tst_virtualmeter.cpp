// The virtual instrument, spoken to over its pseudo-terminal without our link: what the
// end-to-end tests rely on without showing it plainly when it breaks.
#include "TestHome.h"
#include "VirtualMeterThread.h"

#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTest>
#include <QtEndian>

#include <numeric>

Q_DECLARE_METATYPE(MeterFault)
Q_DECLARE_METATYPE(VirtualMeterOptions)

namespace {

const QByteArray ReadTrailer("OK\n\r");

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

// A read with its trailer checked; the data alone.
QByteArray readMemory(RawLine &line, quint32 address, quint32 length)
{
    const quint32 parameters[2] = {qToBigEndian(address), qToBigEndian(length)};
    const QByteArray reply = line.exchange("@ATSPI1Read\r" + QByteArray(reinterpret_cast<const char *>(parameters), 8), int(length) + 4);
    return reply.size() == int(length) + 4 && reply.endsWith(ReadTrailer) ? reply.left(int(length)) : QByteArray();
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
    options.dspStatus = VirtualMeterOptions::RefusingStatusWord;  // a status word that is not zeros
    return options;
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

    // Parameter bytes are raw: a 0x0D among them ends nothing, and they may come in pieces.
    void readParametersInPieces_data()
    {
        QTest::addColumn<QByteArray>("parameters");
        QTest::addColumn<int>("splitAt");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("length 13, split in the address") << QByteArray::fromHex("0001C4800000000D") << 2 << QByteArray::fromHex("00080000000000000000000000");
        QTest::newRow("split between address and length") << QByteArray::fromHex("0001C49600000002") << 4 << QByteArray::fromHex("0011");
        QTest::newRow("unmapped 0x0D0D0D0D reads zeros") << QByteArray::fromHex("0D0D0D0D00000005") << 7 << QByteArray(5, '\0');
    }
    void readParametersInPieces()
    {
        QFETCH(QByteArray, parameters);
        QFETCH(int, splitAt);
        QFETCH(QByteArray, expected);
        QVERIFY(startInCommandMode(meterOptions({})));
        QCOMPARE(m_line->exchange("@ATSPI1Read\r" + parameters.left(splitAt), 1, 150), QByteArray());  // not yet whole
        QCOMPARE(m_line->exchange(parameters.mid(splitAt), expected.size() + 5, 400), expected + ReadTrailer);
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
        const QByteArray directory = readMemory(*m_line, valueAt(readMemory(*m_line, 0x1C480, 4), 0, 4), 768);
        QCOMPARE(directory.size(), 768);
        const QByteArray description = follow(*m_line, follow(*m_line, directory, 31 * 20), 0);
        const int width = int(valueAt(description, 4, 2));
        const int height = int(valueAt(description, 6, 2));
        const QSize screen = options.landscape ? QSize(480, 272) : QSize(272, 480);
        QCOMPARE(QSize(width, height), options.storedSize.isValid() ? options.storedSize : screen);
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
        QCOMPARE(image.size(), width / 8 * 1536);

        // A portrait screen is turned a quarter anticlockwise to be shown; columns past the last
        // whole strip are not stored, and expectedCapture() marks them transparent.
        const QImage expected = m_meter.expectedCapture();
        QCOMPARE(expected.size(), options.landscape ? QSize(width, height) : QSize(height, width));
        int unstored = 0;
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x) {
                const QPoint at = options.landscape ? QPoint(x, y) : QPoint(width - 1 - y, x);
                const quint32 v = valueAt(image, 1536 * (at.x() / 8) + 3 * at.y(), 3);
                if (at.x() >= width / 8 * 8)
                    unstored += qAlpha(expected.pixel(x, y)) == 0;
                else if (expected.pixel(x, y) != colour((v >> (21 - 3 * (at.x() % 8))) & 7))
                    QFAIL(qPrintable(QStringLiteral("shown pixel (%1, %2)").arg(x).arg(y)));
            }
        QCOMPARE(unstored, (width % 8) * height);
    }

    // The program replaces a stale link from a crashed run, answers on its own link, and removes
    // the link when it is stopped.
    void programMakesAndRemovesItsLink()
    {
        const QString link = m_home.path() + QStringLiteral("/ports/COM4");
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/left-behind"), link));
        QProcess program;
        program.start(testBinary(QStringLiteral("corvane-virtual-meter")), {"--com", "4", "--serial", "77"});
        QTRY_VERIFY_WITH_TIMEOUT(program.canReadLine(), 10000);
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromLocal8Bit(program.readLine()).trimmed());
        QCOMPARE(RawLine(link).exchange("@AT+++\r", 4), QByteArray("OK\r\n"));
        // A program that closed the port finds the instrument there when it opens it again.
        QCOMPARE(valueAt(RawLine(link).exchange("@ATSTAT\r", 34), 27, 2), 77u);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        QVERIFY(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void programRefusesBadOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no --com") << QStringList{};
        QTest::newRow("unknown fault") << QStringList{"--com", "1", "--fault", "melted"};
        QTest::newRow("serial too large") << QStringList{"--com", "1", "--serial", "65536"};
        QTest::newRow("stored height beyond a strip") << QStringList{"--com", "1", "--stored-size", "100x513"};
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
};

QTEST_MAIN(TestVirtualMeter)
#include "tst_virtualmeter.moc"
