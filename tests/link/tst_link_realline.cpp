// The link on a line that behaves as a real one: replies byte by byte at 960 bytes a second
// after a delay, and a read that is cancelled.
#include "MeterSession.h"
#include "TestHome.h"

#include <QBuffer>
#include <QTimer>
#include <QtTest>

namespace {

constexpr int Com = 9;
constexpr quint32 SomeAddress = 0x80000;
constexpr quint32 ReadLength = 3072;  // about 3.2 s on a paced line

VirtualMeterOptions pacedLine(int latencyMs)
{
    VirtualMeterOptions options;
    options.comNumber = Com;
    options.pace = true;
    options.latencyMs = latencyMs;
    return options;
}

}  // namespace

class TestRealLine : public QObject
{
    Q_OBJECT
private:
    TestHome home;

private slots:
    // Replies trickle in after a delay, up to a second as over a serial server: each is judged
    // once whole, and the instrument is identified. Command mode is left afterwards. Longer
    // delays, where an identification may fail but is never wrong, and replies in an adapter's
    // pieces are swept on the virtual clock (tst_link_slowline): over a real line each such row
    // takes half a minute.
    void identifiesOverSlowLine_data()
    {
        QTest::addColumn<int>("latencyMs");
        for (int latency : {0, 100, 400, 1000})
            QTest::addRow("latency %d ms", latency) << latency;
    }
    void identifiesOverSlowLine()
    {
        QFETCH(int, latencyMs);
        MeterSession s(pacedLine(latencyMs));
        QVERIFY(s.started);
        TqzMeterCom &link = s.link;
        QVERIFY(link.OpenPort());
        QVERIFY(link.Connect());
        QCOMPARE(link.Info.ModelCode, quint8(220));
        QCOMPARE(link.Info.SerialNumber, 4660);
        QVERIFY(link.Info.StatusChecksumValid);
        QCOMPARE(link.Info.PackageId, quint16(0x012A));
        QCOMPARE(link.Info.Version, QStringLiteral("CORVANE ALVO FW 1.05 2026-03-11"));
        link.Disconnect();
        QTRY_VERIFY(!s.meter.commandMode());
    }

    // A cancel drains the rest of the running read, so the next exchange finds a clean line;
    // no further read is sent until the cancel is taken back.
    void cancelledReadDrainsItsReply()
    {
        MeterSession s(pacedLine(5));
        QVERIFY(s.connect());
        TqzMeterCom &link = s.link;
        QTimer::singleShot(500, &link, [&link] { link.Cancel(); });
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        QVERIFY(link.ReadMemory(SomeAddress, ReadLength, stream) < qint64(ReadLength));
        QCOMPARE(stream.size(), qint64(0));

        const int reads = s.meter.memoryReads().size();
        QCOMPARE(link.ReadMemory(SomeAddress, 4, stream), qint64(-1));
        QCOMPARE(s.meter.memoryReads().size(), reads);

        link.ResetCancel();
        int status = -1;
        QVERIFY(link.ReadDspStatus(status));
        QCOMPARE(status, 0);
        QVERIFY(link.StopDsp());
        QVERIFY(link.StartDsp());
    }
};

QTEST_GUILESS_MAIN(TestRealLine)
#include "tst_link_realline.moc"
