// The link against the virtual instrument over a real pseudo-terminal: command mode,
// identification, DSP control and memory reads as a user of the link sees them.
#include "MeterSession.h"
#include "TestHome.h"

#include <QBuffer>
#include <QtTest>

Q_DECLARE_METATYPE(MeterFault)

namespace {

constexpr int Com = 6;

// The instrument, always on COM<Com>, and the link to it.
struct Session : MeterSession
{
    explicit Session(VirtualMeterOptions options, int pollIntervalMs = 10) : MeterSession(onCom(options))
    {
        link.PollIntervalMs = pollIntervalMs;
    }
    static VirtualMeterOptions onCom(VirtualMeterOptions options)
    {
        options.comNumber = Com;
        return options;
    }
};

}  // namespace

class TestInstrument : public QObject
{
    Q_OBJECT
private:
    TestHome home;

private slots:
    void identifiesEachModel_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("index");
        QTest::newRow("208") << 208 << "qzMeter QZ Alvo" << 18;
        QTest::newRow("209") << 209 << "qzMeter QZ Brenn" << 19;
        QTest::newRow("210") << 210 << "qzMeter QZ Tazo" << 24;
        QTest::newRow("211") << 211 << "Unknown Instrument" << 0;
        QTest::newRow("219") << 219 << "Unknown Instrument" << 0;
        QTest::newRow("220") << 220 << "Corvane Alvo" << 22;
        QTest::newRow("221") << 221 << "Corvane Brenn" << 23;
        QTest::newRow("222") << 222 << "Corvane Tazo" << 25;
        QTest::newRow("223") << 223 << "Unknown Instrument" << 0;
    }
    void identifiesEachModel()
    {
        QFETCH(int, code);
        QFETCH(QString, name);
        QFETCH(int, index);
        VirtualMeterOptions options;
        options.modelCode = quint8(code);
        options.serialNumber = 0x1234;
        options.mcuMajor = 1;
        options.mcuMinor = 5;
        options.fpgaVersion = 9;
        options.eeprom[64] = 0x01;
        options.eeprom[65] = 0x02;
        Session s(options);
        QVERIFY(s.connect());
        QVERIFY(s.link.CommandMode);
        const TqzMeterInfo &info = s.link.Info;
        QCOMPARE(info.ModelCode, quint8(code));
        QCOMPARE(info.ModelName, name);
        QCOMPARE(info.ModelIndex, index);
        QCOMPARE(info.SerialNumber, 4660);
        QCOMPARE(info.McuVersionMajor, quint8(1));
        QCOMPARE(info.McuVersionMinor, quint8(5));
        QCOMPARE(info.FpgaVersion, quint8(9));
        QCOMPARE(info.PackageId, quint16(0x0201));
        QVERIFY(info.StatusChecksumValid);
        QCOMPARE(info.StatusLength, quint8(32));
        QCOMPARE(info.Version, QString::fromLatin1(options.versionLine));
        // On a loaded machine an answer may come after the link's first wait, which then asks again.
        QByteArray received = s.meter.received();
        while (received.startsWith("@AT+++\r@AT+++\r"))
            received.remove(0, 7);
        QVERIFY2(received.startsWith("@AT+++\r@ATSTAT\r@ATVER\r"), received.left(40).constData());

        s.link.Disconnect();
        QVERIFY(!s.link.IsConnected());
        QVERIFY(!s.link.CommandMode);
        QVERIFY(s.meter.received().endsWith("@AT---\r"));
        QCOMPARE(s.link.Info.ModelName, name);  // kept after disconnecting
    }

    void identificationFaults_data()
    {
        QTest::addColumn<MeterFault>("fault");
        QTest::addColumn<bool>("connects");
        QTest::addColumn<QByteArray>("lastCommand");
        QTest::newRow("wrong checksum") << MeterFault::WrongChecksum << true << QByteArray("@ATGETEE\r");
        QTest::newRow("short status record") << MeterFault::ShortStatus << false << QByteArray("@ATSTAT\r");
        QTest::newRow("paused after its 32nd byte") << MeterFault::SplitStatus << true << QByteArray("@ATGETEE\r");
        QTest::newRow("junk before every reply") << MeterFault::Garbled << false << QByteArray("@AT+++\r");
        QTest::newRow("no acknowledgement") << MeterFault::NoAck << false << QByteArray("@AT+++\r");
        QTest::newRow("silent") << MeterFault::Silent << false << QByteArray("@AT+++\r");
    }
    void identificationFaults()
    {
        QFETCH(MeterFault, fault);
        QFETCH(bool, connects);
        QFETCH(QByteArray, lastCommand);
        VirtualMeterOptions options;
        options.faults.insert(fault);
        Session s(options);
        QVERIFY(s.started);
        QVERIFY(s.link.OpenPort());
        QCOMPARE(s.link.Connect(), connects);
        if (connects)
            QCOMPARE(s.link.Info.StatusChecksumValid, fault != MeterFault::WrongChecksum);
        const QByteArray received = s.meter.received();
        const int lastAt = received.lastIndexOf("@AT");
        QCOMPARE(received.mid(lastAt, lastCommand.size()), lastCommand);
        if (fault == MeterFault::NoAck || fault == MeterFault::Silent)
            QCOMPARE(received, QByteArray("@AT+++\r").repeated(5));
    }

    void eepromDefaults_data()
    {
        QTest::addColumn<int>("byte46");  // -1: not answered
        QTest::addColumn<int>("expected46");
        QTest::addColumn<bool>("silent65");
        QTest::addColumn<int>("packageId");
        QTest::newRow("46 read as 0") << 0 << 4 << false << 0x0201;
        QTest::newRow("46 read as 16") << 16 << 16 << false << 0x0201;
        QTest::newRow("46 read as 17") << 17 << 4 << false << 0x0201;
        QTest::newRow("46 silent") << -1 << 4 << false << 0x0201;
        QTest::newRow("64 answered, 65 silent") << 8 << 8 << true << 0xFFFF;
    }
    void eepromDefaults()
    {
        QFETCH(int, byte46);
        QFETCH(int, expected46);
        QFETCH(bool, silent65);
        QFETCH(int, packageId);
        VirtualMeterOptions options;
        options.eeprom[64] = 0x01;
        options.eeprom[65] = 0x02;
        if (byte46 < 0)
            options.silentEeprom.insert(46);
        else
            options.eeprom[46] = quint8(byte46);
        if (silent65)
            options.silentEeprom.insert(65);
        Session s(options, 2);  // the silent byte's 1000 polls run out quickly
        QVERIFY(s.connect());
        QCOMPARE(int(s.link.Info.EepromByte46), expected46);
        QCOMPARE(int(s.link.Info.PackageId), packageId);
    }

    void longVersionLineIsCut()
    {
        VirtualMeterOptions options;
        options.versionLine = QByteArray("V").repeated(20) + QByteArray("0123456789").repeated(4);
        Session s(options);
        QVERIFY(s.connect());
        QCOMPARE(s.link.Info.Version, QString::fromLatin1(options.versionLine.left(50)));
    }

    // A status word whose reply ends in swapped line ends is no status at all.
    void swappedTrailerStoresNothing()
    {
        VirtualMeterOptions options;
        options.faults.insert(MeterFault::SwappedTrailer);
        Session s(options);
        QVERIFY(s.connect());
        int status = -1;
        QVERIFY(!s.link.ReadDspStatus(status));
        QCOMPARE(status, -1);
    }

    // The screen image is the long read; a line that stalls in the middle of it stores nothing
    // and never passes for a good read, and one that goes away ends the read at once.
    void imageReadThatBreaksOff_data()
    {
        QTest::addColumn<MeterFault>("fault");
        QTest::addColumn<bool>("lineLost");
        QTest::newRow("stall") << MeterFault::StallInRead << false;
        QTest::newRow("hang-up") << MeterFault::HangUpInImage << true;
        QTest::newRow("unplug") << MeterFault::UnplugInImage << true;
    }
    void imageReadThatBreaksOff()
    {
        QFETCH(MeterFault, fault);
        QFETCH(bool, lineLost);
        VirtualMeterOptions options;
        options.faults.insert(fault);
        Session s(options);
        QVERIFY(s.connect());
        // A stall: the poll budget runs out at once after the first bytes; until they come, polls
        // take their time so the instrument can start sending. A line that goes away: every poll
        // takes its time, so the budget outlasts the hang-up however loaded the machine is.
        s.link.PollIntervalMs = 0;
        const quint32 imageStart = 0x100000;
        const quint32 imageLength = 272 / 8 * 1536;
        qint64 arrived = 0;
        s.link.BytesArrived = [&](qint64 step) {
            arrived += step;
            if (arrived == 0)
                QThread::msleep(5);
            else if (lineLost)
                QThread::msleep(1);
        };
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        qint64 result = -1;
        QString lost;
        try {
            result = s.link.ReadMemory(imageStart, imageLength, stream);
        } catch (const ELineLost &error) {
            lost = error.text();
        }
        QCOMPARE(lost.isEmpty(), !lineLost);
        if (lineLost) {
            QVERIFY2(lost.startsWith(QStringLiteral("The connection to COM%1 was lost (").arg(Com)), qPrintable(lost));
            QVERIFY(!s.link.IsConnected());
            QVERIFY(!s.link.CommandMode);
        } else {
            QVERIFY(s.link.IsConnected());  // a stalled read keeps the line for the next one
        }
        QVERIFY(result < qint64(imageLength));
        QVERIFY2(arrived > 0 && arrived < imageLength, qPrintable(QString::number(arrived)));
        QCOMPARE(stream.size(), qint64(0));
    }
};

QTEST_GUILESS_MAIN(TestInstrument)
#include "tst_link_instrument.moc"
