// Reading the instrument's directory, screen description and palette through the link.
#include "InstrumentMemory.h"
#include "ScriptedMeter.h"

#include <QtTest>
#include <stdexcept>

namespace {

const std::array<QRgb, 8> InstrumentPalette = {qRgb(0, 0, 0),    qRgb(0, 0, 160),  qRgb(0, 160, 0),
                                               qRgb(60, 60, 60), qRgb(160, 0, 0),  qRgb(9, 8, 7),
                                               qRgb(200, 200, 0), qRgb(255, 254, 253)};

struct Fixture
{
    Fixture()
    {
        meter.build(272, 480, 0, InstrumentPalette, QByteArray(34 * 1536, '\0'));
        memory.MeterCom = meter.link.get();
    }
    ScriptedMeter meter;
    TInstrumentMemory memory;
};

}  // namespace

class TestInstrumentMemory : public QObject
{
    Q_OBJECT
private slots:
    void bigEndianValues_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("count");
        QTest::addColumn<quint32>("value");
        const QByteArray bytes("\x12\x34\x56\x78\x9A", 5);
        QTest::newRow("4 bytes") << bytes << 0 << 4 << quint32(0x12345678);
        QTest::newRow("last 2") << bytes << 3 << 2 << quint32(0x789A);
        QTest::newRow("one byte") << bytes << 4 << 1 << quint32(0x9A);
        QTest::newRow("one byte past the end") << bytes << 2 << 4 << quint32(0);
        QTest::newRow("negative offset") << bytes << -1 << 2 << quint32(0);
        QTest::newRow("count 0") << bytes << 0 << 0 << quint32(0);
        QTest::newRow("empty data") << QByteArray() << 0 << 1 << quint32(0);
    }
    void bigEndianValues()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, offset);
        QFETCH(int, count);
        QFETCH(quint32, value);
        QCOMPARE(TInstrumentMemory::GetBigEndian(data, offset, count), value);
        if (count == 2)
            QCOMPARE(quint32(TInstrumentMemory::GetWord(data, offset)), value);
    }

    void blockCount_data()
    {
        QTest::addColumn<quint32>("size");
        QTest::addColumn<int>("blocks");  // -1: the count does not fit 16 bits
        QTest::newRow("0") << quint32(0) << 0;
        QTest::newRow("1") << quint32(1) << 1;
        QTest::newRow("directory") << quint32(660) << 6;
        QTest::newRow("exact") << quint32(256) << 2;
        QTest::newRow("largest") << quint32(65535u * 128) << 65535;
        QTest::newRow("one byte more") << quint32(65535u * 128 + 1) << -1;
        QTest::newRow("65536 blocks") << quint32(65536u * 128) << -1;
        QTest::newRow("4 GiB") << quint32(0xFFFFFFFFu) << -1;
    }
    void blockCount()
    {
        QFETCH(quint32, size);
        QFETCH(int, blocks);
        if (blocks < 0)
            QVERIFY_THROWS_EXCEPTION(std::overflow_error, TInstrumentMemory::BlockCount(size, 128));
        else
            QCOMPARE(int(TInstrumentMemory::BlockCount(size, 128)), blocks);
    }

    // Element 2 of an item of 8-byte elements needs 2 x 8 + 6 bytes of data.
    void subEntryBounds_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<bool>("taken");
        QTest::newRow("21 bytes") << 21 << false;
        QTest::newRow("22 bytes") << 22 << true;
        QTest::newRow("24 bytes") << 24 << true;
    }
    void subEntryBounds()
    {
        QFETCH(int, bytes);
        QFETCH(bool, taken);
        TPresetData source;
        source.ElementSize = 8;
        source.Data = QByteArray(16, '\0') + QByteArray("\x00\x0A\x00\x00\x00\x03\x00\x05", 8);
        source.Data.truncate(bytes);
        TPresetData dest;
        dest.Address = 7;
        dest.ElementSize = 8;
        dest.Count = 9;
        dest.Value10 = 11;
        TInstrumentMemory memory;
        QCOMPARE(memory.LoadSubEntry(source, dest, 2), taken);
        QCOMPARE(dest.Address, taken ? quint32(0xA0000) : quint32(7));
        QCOMPARE(dest.ElementSize, taken ? 3 : 8);
        QCOMPARE(dest.Count, taken ? (bytes >= 24 ? 5 : 0) : 9);
        QCOMPARE(dest.Value10, quint32(11));
    }

    void directory()
    {
        Fixture f;
        QVERIFY(f.memory.ReadDirectory());
        QCOMPARE(f.memory.DirectoryAddress, ScriptedMeter::DirectoryAddress);
        QCOMPARE(f.memory.Directory.size(), 33);
        QCOMPARE(f.memory.Directory.at(31).Address, ScriptedMeter::ScreenItem);
        QCOMPARE(f.memory.Directory.at(27).Count, quint16(3));
        QCOMPARE(f.memory.Directory.at(32).Address, quint32(0x70000 + 0x100 * 32));
        // The pointer, then the directory in whole blocks.
        const QList<QPair<quint32, quint32>> expected{{ScriptedMeter::PointerAddress, 4},
                                                      {ScriptedMeter::DirectoryAddress, 768}};
        QCOMPARE(f.meter.reads, expected);
    }

    void directoryReadFails_data()
    {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<bool>("directoryKept");
        QTest::newRow("pointer silent") << ScriptedMeter::PointerAddress << true << true;
        QTest::newRow("pointer trailer swapped") << ScriptedMeter::PointerAddress << false << true;
        QTest::newRow("directory silent") << ScriptedMeter::DirectoryAddress << true << false;
        QTest::newRow("directory trailer swapped") << ScriptedMeter::DirectoryAddress << false << false;
    }
    void directoryReadFails()
    {
        QFETCH(quint32, address);
        QFETCH(bool, silent);
        QFETCH(bool, directoryKept);
        Fixture f;
        (silent ? f.meter.silentAt : f.meter.swappedAt).insert(address);
        f.memory.DirectoryAddress = 0x12345;
        f.memory.Directory = QVector<TDirectoryEntry>(2);
        QVERIFY(!f.memory.ReadDirectory());
        QCOMPARE(f.memory.Directory.size(), directoryKept ? 2 : 0);
        QCOMPARE(f.memory.DirectoryAddress, directoryKept ? quint32(0x12345) : ScriptedMeter::DirectoryAddress);
    }

    void screenInfo()
    {
        Fixture f;
        QVERIFY(f.memory.ReadDirectory());
        QVERIFY(f.memory.ReadScreenInfo());
        QCOMPARE(f.memory.ScreenWidth, quint16(272));
        QCOMPARE(f.memory.ScreenHeight, quint16(480));
        QCOMPARE(f.memory.ScreenOrientation, quint16(0));
        QCOMPARE(f.memory.ImageAddress, ScriptedMeter::DefaultImageAddress);
        QVERIFY(f.memory.Palette == InstrumentPalette);
        // Directory items in whole 128-byte blocks, their elements' data at its exact size.
        const QList<QPair<quint32, quint32>> expected{
            {ScriptedMeter::PointerAddress, 4},        {ScriptedMeter::DirectoryAddress, 768},
            {ScriptedMeter::ScreenItem, 128},          {ScriptedMeter::ScreenDescription, 22},
            {ScriptedMeter::PaletteItem, 128},         {ScriptedMeter::PaletteDescriptors, 24},
            {ScriptedMeter::PaletteColours, 24}};
        QCOMPARE(f.meter.reads, expected);
    }

    // Colour 3 decides whether the palette is the instrument's own.
    void palette_data()
    {
        QTest::addColumn<QRgb>("colour3");
        QTest::addColumn<bool>("fallback");
        QTest::newRow("dark grey") << qRgb(60, 60, 60) << false;
        QTest::newRow("red differs") << qRgb(61, 60, 60) << true;
        QTest::newRow("green differs") << qRgb(60, 59, 60) << true;
        QTest::newRow("blue differs") << qRgb(60, 60, 0) << true;
        QTest::newRow("black") << qRgb(0, 0, 0) << true;
    }
    void palette()
    {
        QFETCH(QRgb, colour3);
        QFETCH(bool, fallback);
        Fixture f;
        std::array<QRgb, 8> stored = InstrumentPalette;
        stored[3] = colour3;
        f.meter.setPalette(stored);
        QVERIFY(f.memory.ReadDirectory());
        QVERIFY(f.memory.ReadScreenInfo());
        QVERIFY(f.memory.Palette == (fallback ? TInstrumentMemory::FallbackPalette() : stored));
        const TPalette &fixed = TInstrumentMemory::FallbackPalette();
        for (int i = 0; i < 8; ++i)  // bit 0 blue, bit 1 green, bit 2 red
            QCOMPARE(fixed[size_t(i)], qRgb(i & 4 ? 255 : 0, i & 2 ? 255 : 0, i & 1 ? 255 : 0));
    }

    // A short screen description leaves the fields it does not reach at 0.
    void shortDescription_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<quint16>("orientation");
        QTest::addColumn<quint32>("imageAddress");
        QTest::newRow("22 bytes") << 22 << quint16(3) << quint32(0x90000);
        QTest::newRow("21 bytes") << 21 << quint16(3) << quint32(0);
        QTest::newRow("10 bytes") << 10 << quint16(3) << quint32(0);
        QTest::newRow("9 bytes") << 9 << quint16(0) << quint32(0);
        QTest::newRow("size x count 0") << 0 << quint16(0) << quint32(0);
    }
    void shortDescription()
    {
        QFETCH(int, bytes);
        QFETCH(quint16, orientation);
        QFETCH(quint32, imageAddress);
        Fixture f;
        f.meter.setDescription(272, 480, 3, 0x90000);
        f.meter.put(ScriptedMeter::ScreenItem, ScriptedMeter::be(ScriptedMeter::ScreenDescription, 4)
                                                  + ScriptedMeter::be(quint32(bytes), 2) + ScriptedMeter::be(bytes ? 1 : 0, 2));
        f.memory.ScreenWidth = 1;
        f.memory.ScreenHeight = 1;
        f.memory.ScreenOrientation = 1;
        QVERIFY(f.memory.ReadDirectory());
        QVERIFY(f.memory.ReadScreenInfo());
        QCOMPARE(f.memory.ScreenWidth, quint16(bytes >= 6 ? 272 : 0));
        QCOMPARE(f.memory.ScreenHeight, quint16(bytes >= 8 ? 480 : 0));
        QCOMPARE(f.memory.ScreenOrientation, orientation);
        QCOMPARE(f.memory.ImageAddress, imageAddress);
        QCOMPARE(f.meter.readsAt(ScriptedMeter::ScreenDescription), bytes ? 1 : 0);
    }

    // An entry whose size does not fit the block count is refused without a read or allocation.
    void hugeEntry()
    {
        Fixture f;
        QVERIFY(f.memory.ReadDirectory());
        f.memory.Directory[31].ElementSize = 65535;
        f.memory.Directory[31].Count = 65535;
        TPresetData item;
        QVERIFY(!f.memory.LoadEntry(item, 31));
        QCOMPARE(f.meter.readsAt(ScriptedMeter::ScreenItem), 0);
        QVERIFY(item.Data.isEmpty());

        TPresetData huge;
        huge.Address = ScriptedMeter::ScreenDescription;
        huge.ElementSize = 65535;
        huge.Count = 65535;
        f.memory.LoadData(huge);
        QVERIFY(huge.Data.isEmpty());
        QCOMPARE(f.meter.readsAt(ScriptedMeter::ScreenDescription), 0);
    }

    // Every read failing inside the chains gives a zero description and the fallback palette.
    void chainsUnreadable()
    {
        Fixture f;
        QVERIFY(f.memory.ReadDirectory());
        for (quint32 a : {ScriptedMeter::ScreenItem, ScriptedMeter::PaletteItem})
            f.meter.swappedAt.insert(a);
        f.memory.ScreenWidth = 5;
        QVERIFY(f.memory.ReadScreenInfo());
        QCOMPARE(f.memory.ScreenWidth, quint16(0));
        QCOMPARE(f.memory.ImageAddress, quint32(0));
        QVERIFY(f.memory.Palette == TInstrumentMemory::FallbackPalette());
    }
};

QTEST_GUILESS_MAIN(TestInstrumentMemory)
#include "tst_capture_memory.moc"
