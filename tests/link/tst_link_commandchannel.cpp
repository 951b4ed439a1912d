// The command channel and reads, driven through a scripted port where a case needs exact
// control over how the instrument's bytes arrive.
#include "ScriptedComPort.h"
#include "SerialPort.h"
#include "qzMeterCOM.h"

#include <QBuffer>
#include <QtTest>

namespace {

struct Fixture
{
    Fixture()
    {
        auto owned = std::make_unique<ScriptedComPort>();
        port = owned.get();
        link = std::make_unique<TqzMeterCom>(std::move(owned));
        link->setClock(clock);
    }
    // A link already in command mode that looks at the port every pollIntervalMs of its clock.
    static Fixture inCommandMode(int pollIntervalMs)
    {
        Fixture f;
        f.link->CommandMode = true;
        f.link->PollIntervalMs = pollIntervalMs;
        return f;
    }
    std::shared_ptr<VirtualLinkClock> clock = std::make_shared<VirtualLinkClock>();
    ScriptedComPort *port = nullptr;
    std::unique_ptr<TqzMeterCom> link;
};

QByteArray statusRecord(int length, quint8 modelCode, quint16 serial)
{
    QByteArray record(length + 2, '\0');
    record[0] = char(length);
    record[12] = 1;
    record[13] = 5;
    record[27] = char(serial >> 8);
    record[28] = char(serial & 0xFF);
    record[29] = char(modelCode);
    record[30] = 7;
    quint32 sum = 0;
    for (int i = 0; i <= length - 2; ++i)
        sum += quint8(record[i]);
    record[length - 1] = char((sum & 0xFF) ^ 0x55);
    record[length] = '\r';
    record[length + 1] = '\n';
    return record;
}

}  // namespace

class TestCommandChannel : public QObject
{
    Q_OBJECT
private slots:
    void commandMode_data()
    {
        QTest::addColumn<QList<QByteArray>>("reply");
        QTest::addColumn<bool>("commandMode");
        QTest::addColumn<int>("attempts");
        QTest::newRow("OK CR LF") << QList<QByteArray>{"OK\r\n"} << true << 1;
        QTest::newRow("OK LF CR") << QList<QByteArray>{"OK\n\r"} << true << 1;
        QTest::newRow("line in two events") << QList<QByteArray>{"O", "K\r\n"} << true << 1;
        QTest::newRow("not OK") << QList<QByteArray>{"ER\r\n"} << false << 5;
        QTest::newRow("silent") << QList<QByteArray>{} << false << 5;
        QTest::newRow("line end inside one event") << QList<QByteArray>{"OK\r\nX"} << false << 5;
    }
    void commandMode()
    {
        QFETCH(QList<QByteArray>, reply);
        QFETCH(bool, commandMode);
        QFETCH(int, attempts);
        Fixture f;
        f.port->onWrite = [&](const QByteArray &) {
            for (const QByteArray &part : reply)
                f.port->deliver(part);
        };
        f.link->SetCommandMode(true);
        QCOMPARE(f.link->CommandMode, commandMode);
        QCOMPARE(f.port->written, QByteArray("@AT+++\r").repeated(attempts));
        QVERIFY(f.link->Idle);
        QVERIFY(f.link->RxBuffer.isEmpty());

        // Leaving always ends outside command mode, acknowledged or not.
        f.port->written.clear();
        f.link->SetCommandMode(false);
        QVERIFY(!f.link->CommandMode);
        QVERIFY(f.port->written.startsWith("@AT---\r"));
    }

    void unsolicitedLinesWhileIdle()
    {
        Fixture f;
        f.link->Idle = true;
        f.port->deliver("HELLO\r\n");
        QCoreApplication::processEvents();
        QVERIFY(f.link->RxBuffer.isEmpty());
        QVERIFY(!f.link->ReplyComplete);
        QCOMPARE(f.port->clears, 1);

        f.port->deliver("PART");
        QCoreApplication::processEvents();
        QCOMPARE(f.link->RxBuffer, QByteArray("PART"));
    }

    void waitForBytesStepsProgress()
    {
        Fixture f;
        qint64 stepped = 0;
        int polls = 0;
        f.link->BytesArrived = [&](qint64 step) {
            stepped += step;
            // bytes arrive during polls 3, 10 and the very last one
            if (++polls == 3)
                f.port->deliver("abc");
            if (polls == 10)
                f.port->deliver("defg");
            if (polls == 100)
                f.port->deliver("hi");
        };
        f.link->Idle = false;
        // A reply that has begun is awaited past the budget while it keeps coming.
        QVERIFY(!f.link->WaitForBytes(100, 50));
        QVERIFY(polls > 100);
        QCOMPARE(f.link->RxBuffer, QByteArray("abcdefghi"));
        QCOMPARE(stepped, qint64(9));

        Fixture g;
        g.port->deliver("12345");
        QVERIFY(g.link->WaitForBytes(100, 5));
        QVERIFY(!g.link->WaitForBytes(0, 50));
    }

    void readMemoryRequestAndData_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("trailer");
        QTest::addColumn<qint64>("result");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<qint64>("bufferResult");
        QTest::newRow("good") << QByteArray("\x01\x02\x03\x04", 4) << QByteArray("OK\n\r") << qint64(4)
                              << QByteArray("\x01\x02\x03\x04", 4) << qint64(4);
        QTest::newRow("line ends and OK inside the data")
            << QByteArray("\r\nOK") << QByteArray("OK\n\r") << qint64(4) << QByteArray("\r\nOK") << qint64(4);
        QTest::newRow("line ends swapped in the trailer")
            << QByteArray("\x01\x02\x03\x04", 4) << QByteArray("OK\r\n") << qint64(-1) << QByteArray() << qint64(-1);
        QTest::newRow("extra bytes with a good trailer")
            << QByteArray("\x01\x02\x03\x04\x05", 5) << QByteArray("OK\n\r") << qint64(5)
            << QByteArray("\x01\x02\x03\x04\x05", 5) << qint64(5);
    }
    void readMemoryRequestAndData()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, trailer);
        QFETCH(qint64, result);
        QFETCH(QByteArray, stored);
        QFETCH(qint64, bufferResult);
        Fixture f = Fixture::inCommandMode(10);
        int writes = 0;
        f.port->onWrite = [&](const QByteArray &) {
            if (++writes % 3 == 0)
                f.port->deliver(data + trailer);
        };
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        QCOMPARE(f.link->ReadMemory(0x80000, 4, stream), result);
        QCOMPARE(f.port->writes,
                 (QList<QByteArray>{"@ATSPI1Read\r", QByteArray("\x00\x08\x00\x00", 4), QByteArray("\x00\x00\x00\x04", 4)}));
        QCOMPARE(stream.pos(), qint64(0));
        QCOMPARE(stream.data(), stored);
        QVERIFY(f.link->Idle);

        char buffer[4] = {0, 0, 0, 0};
        QCOMPARE(f.link->ReadMemoryBuffer(0x80000, 4, buffer), bufferResult);
        if (bufferResult == 4)
            QCOMPARE(QByteArray(buffer, 4), data);
        else
            QCOMPARE(QByteArray(buffer, 4), QByteArray(4, '\0'));
    }

    // A reply that completes only during the last poll of the budget stored nothing, so the
    // read must not report the requested length.
    void readMemoryCompletedInTheLastPoll()
    {
        Fixture f = Fixture::inCommandMode(0);
        int polls = 0;
        f.link->BytesArrived = [&](qint64) {
            if (++polls == MeterProtocol::ReadMemoryPolls)
                f.port->deliver(QByteArray("abcdOK\n\r"));
        };
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        QCOMPARE(f.link->ReadMemory(0, 4, stream), qint64(-1));
        QCOMPARE(stream.size(), qint64(0));
    }

    // A read may take twice its bytes' time at line speed (one 10 ms poll for each 9.6 bytes),
    // and never less than the 10000 polls every read has.
    void readMemoryBudget_data()
    {
        QTest::addColumn<quint32>("length");
        QTest::addColumn<int>("arrivesAtPoll");
        QTest::addColumn<bool>("read");
        QTest::newRow("small, late in the least budget") << quint32(4) << 9900 << true;
        QTest::newRow("small, past the least budget") << quint32(4) << 10100 << false;
        // 96000 bytes take 10000 polls at line speed.
        QTest::newRow("large, at two thirds of line speed") << quint32(96000) << 15000 << true;
        QTest::newRow("large, past twice its line time") << quint32(96000) << 20100 << false;
    }
    void readMemoryBudget()
    {
        QFETCH(quint32, length);
        QFETCH(int, arrivesAtPoll);
        QFETCH(bool, read);
        Fixture f = Fixture::inCommandMode(0);
        int polls = 0;
        f.link->BytesArrived = [&](qint64) {
            if (++polls == arrivesAtPoll)
                f.port->deliver(QByteArray(int(length), 'x') + "OK\n\r");
        };
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        QCOMPARE(f.link->ReadMemory(0, length, stream) == qint64(length), read);
    }

    // The 10 s silence rule starts with the reply's first byte: an instrument may take its time
    // to begin, but not fall silent as long once it has begun.
    void replySilence_data()
    {
        QTest::addColumn<int>("firstPart");  // bytes sent at once; the rest 15 s later
        QTest::addColumn<bool>("read");
        QTest::newRow("silent before the first byte") << 0 << true;
        QTest::newRow("silent after the first bytes") << 2 << false;
    }
    void replySilence()
    {
        QFETCH(int, firstPart);
        QFETCH(bool, read);
        Fixture f = Fixture::inCommandMode(10);
        const auto &clock = f.clock;
        const QByteArray reply = QByteArray("abcd") + "OK\n\r";
        f.port->onWrite = [&](const QByteArray &data) {
            if (data.size() == 4 && data.endsWith('\x04'))
                f.port->deliver(reply.left(firstPart));
        };
        f.link->BytesArrived = [&, restSent = false](qint64) mutable {
            if (!restSent && clock->nowMs() >= 15000) {
                restSent = true;
                f.port->deliver(reply.mid(firstPart));
            }
        };
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        QCOMPARE(f.link->ReadMemory(0, 4, stream) == 4, read);
    }

    void readMemoryTimeoutCountsWhatCame()
    {
        Fixture f = Fixture::inCommandMode(0);
        f.port->onWrite = [&](const QByteArray &data) {
            if (data.size() == 4 && data.endsWith('\x10'))
                f.port->deliver("0123456789");
        };
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        QCOMPARE(f.link->ReadMemory(0, 16, stream), qint64(6));
        QCOMPARE(stream.size(), qint64(0));
    }

    // A status record is taken only at the length it announces (L + 2 bytes). One that stops
    // short, even after the 32 bytes every record has, is judged once the line has been quiet
    // for a moment: no instrument.
    void statusRecordLength_data()
    {
        QTest::addColumn<int>("sent");  // of the record announcing L = 40
        QTest::addColumn<bool>("taken");
        QTest::newRow("as announced") << 42 << true;
        QTest::newRow("one byte more") << 43 << false;
        QTest::newRow("one byte less") << 41 << false;
        QTest::newRow("stops at its 32nd byte") << 32 << false;
    }
    void statusRecordLength()
    {
        QFETCH(int, sent);
        QFETCH(bool, taken);
        Fixture f = Fixture::inCommandMode(10);
        const QByteArray record = (statusRecord(40, 220, 4660) + "\r").left(sent);
        f.port->onWrite = [&](const QByteArray &data) {
            if (data == "@ATSTAT\r")
                f.port->deliver(record);
        };
        const bool identified = f.link->Identify();
        QCOMPARE(f.link->Info.StatusLength, quint8(40));
        QVERIFY(f.link->Idle);
        QCOMPARE(f.port->written.contains("@ATVER"), taken);
        if (!taken)
            QVERIFY(!identified);
    }

    // The rules timed in milliseconds read the link's clock: on a virtual one a silence of 10 s
    // is judged at its time without the wall clock passing it.
    void timedRulesReadTheLinkClock_data()
    {
        QTest::addColumn<QString>("wait");
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<int>("beforeMs");
        QTest::newRow("memory reply falls silent") << "memory" << 10000 << 12000;
        QTest::newRow("quiet line drained") << "drain" << 200 << 1000;
        QTest::newRow("a reply may start late") << "bytes" << MeterProtocol::SlowReplyStartMs << 2000;
        QTest::newRow("restart acknowledged late") << "restart" << MeterProtocol::StartDspAckLimitMs << 12000;
        QTest::newRow("a pause ends at a cancel") << "pause" << 0 << 100;
    }
    void timedRulesReadTheLinkClock()
    {
        QFETCH(QString, wait);
        QFETCH(int, atLeastMs);
        QFETCH(int, beforeMs);
        Fixture f = Fixture::inCommandMode(10);
        f.port->onWrite = [&](const QByteArray &data) {
            if (data.startsWith("@ATSPI1Read"))
                f.port->deliver("0123");
        };
        QElapsedTimer wall;
        wall.start();
        if (wait == "memory") {
            QBuffer stream;
            stream.open(QIODevice::ReadWrite);
            QCOMPARE(f.link->ReadMemory(0, 100, stream), qint64(0));
        } else if (wait == "drain") {
            f.link->DrainLine(200);
        } else if (wait == "pause") {
            QTimer::singleShot(0, f.link.get(), [&] { f.link->Cancel(); });
            f.link->Pause(10000);
        } else if (wait == "bytes") {
            QVERIFY(!f.link->WaitForBytes(10, 1));
        } else {
            QVERIFY(!f.link->StartDsp());
        }
        const qint64 took = f.clock->nowMs();
        QVERIFY2(took >= atLeastMs && took < beforeMs, qPrintable(QString::number(took)));
        QVERIFY(wall.elapsed() < 5000);
    }

    // A cancelled read drains the rest of its reply and tells the time left as it counts down.
    void cancelledReadTellsItsTimeLeft()
    {
        Fixture f = Fixture::inCommandMode(10);
        int polls = 0;
        f.link->BytesArrived = [&](qint64) {
            if (++polls == 5)
                f.link->Cancel();
            f.port->deliver(QByteArray(10, 'x'));  // 1000 bytes a second
        };
        QList<TqzMeterCom::DrainReport> reports;
        f.link->DrainProgress = [&](const TqzMeterCom::DrainReport &report) { reports.append(report); };
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        QCOMPARE(f.link->ReadMemory(0, 3000, stream), qint64(-1));
        QVERIFY(reports.size() >= 3);
        QCOMPARE(reports.first().kind, TqzMeterCom::DrainReport::Kind::CancelledRead);
        QCOMPARE(reports.first().secondsLeft, 4);
        for (int i = 1; i + 1 < reports.size(); ++i)
            QCOMPARE(reports[i].secondsLeft, reports[i - 1].secondsLeft - 1);
        QVERIFY(reports.last().finished);
    }

    void receiveErrorIsReportedNotRaised()
    {
        Fixture f;
        f.port->failReads = true;
        f.port->deliver("OK\r\n");
        QCoreApplication::processEvents();  // must not throw
        QVERIFY(f.link->RxBuffer.isEmpty());
    }

    void readDspStatusRefusesAShortBlockWrite()
    {
        Fixture f = Fixture::inCommandMode(10);
        f.port->onWrite = [&](const QByteArray &data) {
            if (data == "@ATDSPCMD\r")
                f.port->deliver("OK\r\n");
        };
        f.port->shortWriteBy = 1;
        int value = -5;
        QVERIFY(!f.link->ReadDspStatus(value));
        QCOMPARE(value, -5);
    }

    void closedPortRaisesOnClear()
    {
        TComPort port;
        try {
            port.clearBuffers(true, true);
            QFAIL("no exception");
        } catch (const EComPort &e) {
            QVERIFY2(e.text().startsWith(QStringLiteral("PurgeComm function failed (win error code: ")), qPrintable(e.text()));
            QVERIFY(e.text().endsWith(QLatin1Char(')')));
        }
        TqzMeterCom link;
        QVERIFY_THROWS_EXCEPTION(EComPort, link.ClearReceive());
    }
};

QTEST_GUILESS_MAIN(TestCommandChannel)
#include "tst_link_commandchannel.moc"
