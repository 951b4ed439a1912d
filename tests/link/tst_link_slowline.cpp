// Identification over slow lines on the link's virtual clock: an instrument whose replies start
// late and then come at line speed, byte by byte or in a USB adapter's pieces. Whatever the
// latency, an identification either fails or is right, and command mode is left afterwards.
#include "ScriptedComPort.h"
#include "qzMeterCOM.h"

#include <QtTest>

namespace {

constexpr quint16 Serial = 4660;
constexpr quint8 Model = 220;
const QByteArray VersionText = "CORVANE ALVO FW 1.05";
const QByteArray ChipId = QByteArray::fromHex("43564e5350493000a1b2c3d4e5f60718293a4b5c");

QByteArray statusRecord()
{
    QByteArray record(34, '\0');
    record[0] = 32;
    record[27] = char(Serial >> 8);
    record[28] = char(Serial & 0xFF);
    record[29] = char(Model);
    quint32 sum = 0;
    for (int i = 0; i <= 30; ++i)
        sum += quint8(record[i]);
    record[31] = char((sum & 0xFF) ^ 0x55);
    record[32] = '\r';
    record[33] = '\n';
    return record;
}

quint8 eepromByte(quint16 address)
{
    return address == 64 ? 0x34 : address == 65 ? 0x12 : address == 46 ? 9 : quint8(address + 1);
}

// The instrument and its line on one virtual clock: each reply starts latency ms after its
// request and then takes the line's time per byte; the port hands bytes over as they are due,
// or only in whole pieces of chunk bytes.
class SlowLine : public VirtualLinkClock
{
public:
    SlowLine(ScriptedComPort &port, int latencyMs, int chunk, QByteArray junk)
        : m_port(port), m_latencyMs(latencyMs), m_chunk(chunk), m_junk(std::move(junk))
    {
        port.onWrite = [this](const QByteArray &data) { answer(data); };
    }
    void sleep(int ms) override
    {
        VirtualLinkClock::sleep(ms);
        QByteArray due;
        while (!m_line.isEmpty() && m_line.first().first <= nowMs())
            due += m_line.takeFirst().second;
        m_held += due;
        const bool replyEnded = m_line.isEmpty() || m_line.first().first > nowMs() + 2;
        if (!m_held.isEmpty() && (m_chunk <= 1 || m_held.size() >= m_chunk || replyEnded)) {
            const qsizetype piece = m_chunk > 1 ? qMin<qsizetype>(m_chunk, m_held.size()) : m_held.size();
            m_port.deliver(m_held.left(piece));
            m_held.remove(0, piece);
        }
    }
    bool commandMode = false;

private:
    void answer(const QByteArray &data)
    {
        if (m_eepromPending) {
            m_eepromPending = false;
            reply(QByteArray(1, char(eepromByte(quint16(quint8(data[0]) << 8 | quint8(data[1]))))));
            return;
        }
        if (data == "@AT+++\r" || data == "@AT---\r") {
            commandMode = data == "@AT+++\r";
            reply("OK\r\n");
        } else if (data == "@ATSTAT\r") {
            reply(statusRecord());
        } else if (data == "@ATVER\r") {
            reply(VersionText + "\r\n");
        } else if (data == "@ATSPI0GETID\r") {
            reply(ChipId);
        } else if (data == "@ATRDFlashID\r") {
            reply(QByteArray::fromHex("ef401b"));
        } else if (data == "@ATGETEE\r") {
            m_eepromPending = true;
        }
    }
    // Replies queue on the line: one starts when both its latency has passed and the line is free.
    void reply(const QByteArray &bytes)
    {
        qint64 at = qMax(nowMs() + m_latencyMs, m_lineFreeAt);
        for (char byte : m_junk + bytes) {
            m_line.append({at, QByteArray(1, byte)});
            ++at;  // about 960 bytes a second
        }
        m_lineFreeAt = at;
    }

    ScriptedComPort &m_port;
    int m_latencyMs;
    int m_chunk;
    QByteArray m_junk;
    QList<QPair<qint64, QByteArray>> m_line;
    QByteArray m_held;
    qint64 m_lineFreeAt = 0;
    bool m_eepromPending = false;
};

struct Result
{
    bool identified = false;
    bool right = false;
    bool commandModeLeft = false;
    bool heard = false;
};

Result identify(int latencyMs, int chunk, const QByteArray &junk = {})
{
    auto owned = std::make_unique<ScriptedComPort>();
    ScriptedComPort &port = *owned;
    TqzMeterCom link(std::move(owned));
    auto line = std::make_shared<SlowLine>(port, latencyMs, chunk, junk);
    link.setClock(line);
    Result result;
    result.identified = link.Connect();
    const TqzMeterInfo &info = link.Info;
    result.right = info.SerialNumber == Serial && info.ModelCode == Model && info.PackageId == 4660
                   && info.EepromWord40 == quint16(eepromByte(40) + 256 * eepromByte(41))
                   && info.EepromByte46 == eepromByte(46) && info.Version == QLatin1String(VersionText)
                   && QByteArray(reinterpret_cast<const char *>(info.Spi0Id.data()), 20) == ChipId
                   && info.FlashId[0] == 0xef && info.StatusChecksumValid;
    result.heard = link.HeardAnything();
    link.Disconnect();
    // What was still on its way when the port closed reaches nobody; the instrument's state counts.
    result.commandModeLeft = !line->commandMode;
    return result;
}

}  // namespace

class TestSlowLine : public QObject
{
    Q_OBJECT
private slots:
    void identificationIsRightOrFails_data()
    {
        QTest::addColumn<int>("latencyMs");
        QTest::addColumn<int>("chunk");
        for (int chunk : {1, 62})
            for (int latency = 0; latency <= 2500; latency += 100)
                QTest::addRow("%d ms, pieces of %d", latency, chunk) << latency << chunk;
    }
    void identificationIsRightOrFails()
    {
        QFETCH(int, latencyMs);
        QFETCH(int, chunk);
        const Result result = identify(latencyMs, chunk);
        if (latencyMs <= 1000)
            QVERIFY(result.identified);
        if (result.identified)
            QVERIFY(result.right);
        QVERIFY(result.commandModeLeft);
    }

    // Junk before every reply is an answer, never understood: no identification, and what the
    // link heard tells it apart from a silent line.
    void junkBeforeEveryReply_data()
    {
        QTest::addColumn<QByteArray>("junk");
        QTest::addColumn<bool>("heard");
        QTest::newRow("junk") << QByteArray("\x07#~") << true;
        QTest::newRow("silent line") << QByteArray() << false;
    }
    void junkBeforeEveryReply()
    {
        QFETCH(QByteArray, junk);
        QFETCH(bool, heard);
        // A latency the link never waits out stands for a silent line.
        const Result result = identify(junk.isEmpty() ? 100000 : 0, 1, junk);
        QVERIFY(!result.identified);
        QCOMPARE(result.heard, heard);
        QVERIFY(result.commandModeLeft);
    }
};

QTEST_GUILESS_MAIN(TestSlowLine)
#include "tst_link_slowline.moc"
