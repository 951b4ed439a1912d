// The instrument's directory and screen description, and the capture sequence as both programs
// run it, against an instrument that misbehaves in exact ways.
#include "ScreenCapture.h"
#include "ScriptedMeter.h"

#include "LinkClock.h"

#include <QtTest>
#include <functional>

using Setup = std::function<void(ScriptedMeter &)>;
Q_DECLARE_METATYPE(Setup)

namespace {

// A port that fails when the image read is asked for, as a line that goes away would.
class FailingImageReadPort : public ScriptedComPort
{
public:
    qint64 writeText(const QByteArray &data) override
    {
        if (data == ScriptedMeter::be(ScriptedMeter::ImageStart, 4))
            throw EComPort(QStringLiteral("WriteFile function failed"), 5);
        return ScriptedComPort::writeText(data);
    }
};

Setup geometry(quint16 width, quint16 height, quint32 imageAddress)
{
    return [=](ScriptedMeter &m) { m.setDescription(width, height, 0, imageAddress); };
}

}  // namespace

class TestCaptureSequence : public QObject
{
    Q_OBJECT
private slots:
    void outcome_data()
    {
        QTest::addColumn<bool>("freeze");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<CaptureOutcome>("outcome");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<bool>("imageRead");
        const QStringList both{"stop", "start"};
        const QStringList restored{"stop", "start", "leave"};  // failed after the halt
        const Setup none = [](ScriptedMeter &) {};
        QTest::newRow("captured") << false << none << CaptureOutcome::Captured << QStringList{} << true;
        QTest::newRow("captured frozen") << true << none << CaptureOutcome::Captured << both << true;
        QTest::newRow("status 17: refused, nothing read")
            << true << Setup([](ScriptedMeter &m) { m.dspStatus = 17; }) << CaptureOutcome::Refused << QStringList{} << false;
        QTest::newRow("halt refused: restarted, nothing read")
            << true << Setup([](ScriptedMeter &m) { m.haltAck = false; }) << CaptureOutcome::HaltFailed << restored << false;
        QTest::newRow("restart refused: still captured")
            << true << Setup([](ScriptedMeter &m) { m.restartAck = false; }) << CaptureOutcome::Captured << both << true;
        const Setup swapped = [](ScriptedMeter &m) { m.swappedAt.insert(ScriptedMeter::ImageStart); };
        QTest::newRow("trailer swapped") << false << swapped << CaptureOutcome::NothingReceived << QStringList{} << true;
        QTest::newRow("trailer swapped, frozen: restarted") << true << swapped << CaptureOutcome::NothingReceived << restored << true;
        // A reply of the wrong length is never taken for a picture.
        QTest::newRow("5 bytes more, frozen")
            << true << Setup([](ScriptedMeter &m) { m.shortenAt.insert(ScriptedMeter::ImageStart, -5); })
            << CaptureOutcome::ShortRead << restored << true;
        QTest::newRow("no directory")
            << true << Setup([](ScriptedMeter &m) { m.swappedAt.insert(ScriptedMeter::PointerAddress); })
            << CaptureOutcome::NoScreenInfo << QStringList{} << false;
        // An unusable screen description is refused before the DSP is asked or anything is read.
        QTest::newRow("narrower than a strip") << true << geometry(7, 10, 0x90000) << CaptureOutcome::BadGeometry << QStringList{} << false;
        QTest::newRow("513 rows") << true << geometry(16, 513, 0x90000) << CaptureOutcome::BadGeometry << QStringList{} << false;
        QTest::newRow("image before 1440") << true << geometry(16, 10, 1439) << CaptureOutcome::BadGeometry << QStringList{} << false;
        QTest::newRow("absurd") << true << geometry(65535, 65535, 0x10) << CaptureOutcome::BadGeometry << QStringList{} << false;
        QTest::newRow("65528 x 512: a 128 MiB picture")
            << true << geometry(65528, 512, 0x90000) << CaptureOutcome::BadGeometry << QStringList{} << false;
        QTest::newRow("2048 x 512 accepted") << false << geometry(2048, 512, 0x90000) << CaptureOutcome::Captured << QStringList{} << true;
        QTest::newRow("8 x 512 at 1440 accepted")
            << false << Setup([](ScriptedMeter &m) {
                   m.setDescription(8, 512, 1, 1440);
                   m.put(0, ScriptedMeter::encodeStrips(ScriptedMeter::patternIndices(8, 512), 8, 512));
               })
            << CaptureOutcome::Captured << QStringList{} << true;
    }
    void outcome()
    {
        QFETCH(bool, freeze);
        QFETCH(Setup, setup);
        QFETCH(CaptureOutcome, outcome);
        QFETCH(QStringList, commands);
        QFETCH(bool, imageRead);
        ScriptedMeter meter;
        setup(meter);
        ScreenCapture capture(*meter.link, meter.memory);
        capture.haltPauseMs = capture.restartPauseMs = 0;
        const CaptureResult result = capture.run([freeze] { return freeze; });
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.image.isNull(), outcome != CaptureOutcome::Captured);
        QCOMPARE(meter.commands, commands);
        QCOMPARE(std::any_of(meter.reads.begin(), meter.reads.end(), [](const auto &r) { return r.second >= 1536; }), imageRead);
    }

    // A failed pointer read keeps what was known; a failed directory read leaves none.
    void directoryReadFails_data()
    {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<bool>("directoryKept");
        QTest::newRow("pointer trailer swapped") << ScriptedMeter::PointerAddress << false << true;
        QTest::newRow("directory silent") << ScriptedMeter::DirectoryAddress << true << false;
    }
    void directoryReadFails()
    {
        QFETCH(quint32, address);
        QFETCH(bool, silent);
        QFETCH(bool, directoryKept);
        ScriptedMeter meter;
        (silent ? meter.silentAt : meter.swappedAt).insert(address);
        meter.memory.DirectoryAddress = 0x12345;
        meter.memory.Directory = QVector<TDirectoryEntry>(2);
        QVERIFY(!meter.memory.ReadDirectory());
        QCOMPARE(meter.memory.Directory.size(), directoryKept ? 2 : 0);
        QCOMPARE(meter.memory.DirectoryAddress, directoryKept ? quint32(0x12345) : ScriptedMeter::DirectoryAddress);
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
        source.Data = (QByteArray(16, '\0') + QByteArray("\x00\x0A\x00\x00\x00\x03\x00\x05", 8)).left(bytes);
        TPresetData dest;
        dest.Address = 7;
        dest.ElementSize = 8;
        dest.Count = 9;
        ScriptedMeter meter;
        QCOMPARE(meter.memory.LoadSubEntry(source, dest, 2), taken);
        QCOMPARE(dest.Address, taken ? quint32(0xA0000) : quint32(7));
        QCOMPARE(dest.ElementSize, taken ? 3 : 8);
        QCOMPARE(dest.Count, taken ? (bytes >= 24 ? 5 : 0) : 9);
    }

    // A description shorter than its fields leaves the ones it does not reach at 0; one whose
    // size does not fit is neither read nor allocated.
    void shortDescription_data()
    {
        QTest::addColumn<int>("elementSize");
        QTest::addColumn<int>("count");
        QTest::addColumn<quint16>("orientation");
        QTest::addColumn<quint32>("imageAddress");
        QTest::newRow("22 bytes") << 22 << 1 << quint16(3) << ScriptedMeter::ImageAddress;
        QTest::newRow("21 bytes") << 21 << 1 << quint16(3) << quint32(0);
        QTest::newRow("10 bytes") << 10 << 1 << quint16(3) << quint32(0);
        QTest::newRow("9 bytes") << 9 << 1 << quint16(0) << quint32(0);
        QTest::newRow("size x count 0") << 22 << 0 << quint16(0) << quint32(0);
        QTest::newRow("65535 x 65535") << 65535 << 65535 << quint16(0) << quint32(0);
    }
    void shortDescription()
    {
        QFETCH(int, elementSize);
        QFETCH(int, count);
        QFETCH(quint16, orientation);
        QFETCH(quint32, imageAddress);
        ScriptedMeter meter;
        meter.setDescription(272, 480, 3, ScriptedMeter::ImageAddress);
        meter.put(ScriptedMeter::ScreenItem, ScriptedMeter::be(ScriptedMeter::ScreenDescription, 4)
                                                 + ScriptedMeter::be(quint32(elementSize), 2) + ScriptedMeter::be(quint32(count), 2));
        meter.memory.ScreenWidth = 1;
        meter.memory.ScreenHeight = 1;
        meter.memory.ScreenOrientation = 1;
        QVERIFY(meter.memory.ReadDirectory());
        QVERIFY(meter.memory.ReadScreenInfo());
        const int bytes = count == 1 ? elementSize : 0;
        QCOMPARE(meter.memory.ScreenWidth, quint16(bytes >= 6 ? 272 : 0));
        QCOMPARE(meter.memory.ScreenHeight, quint16(bytes >= 8 ? 480 : 0));
        QCOMPARE(meter.memory.ScreenOrientation, orientation);
        QCOMPARE(meter.memory.ImageAddress, imageAddress);
        QCOMPARE(meter.reads.contains({ScriptedMeter::ScreenDescription, quint32(bytes)}), bytes > 0);
        QCOMPARE(meter.reads.size(), bytes ? 7 : 6);  // nothing read where nothing fits
    }

    // An error of the line during the read passes on, after the instrument was restarted.
    void errorDuringReadRestarts()
    {
        ScriptedMeter meter(std::make_unique<FailingImageReadPort>());
        ScreenCapture capture(*meter.link, meter.memory);
        capture.haltPauseMs = capture.restartPauseMs = 0;
        int finished = 0;
        CaptureListener listener;
        listener.progressFinished = [&finished] { ++finished; };
        QVERIFY_THROWS_EXCEPTION(EComPort, capture.run([] { return true; }, listener));
        QCOMPARE(meter.commands, (QStringList{"stop", "start"}));
        QCOMPARE(finished, 1);
        QVERIFY(!meter.link->BytesArrived);  // the link's callback is given back
    }

    // The fixed pauses after the halt and after the restart let events through, so a cancel
    // arriving in one ends it at once; the instrument runs again and is out of command mode
    // either way.
    void cancelEndsPause_data()
    {
        QTest::addColumn<QString>("pauseAfter");
        QTest::newRow("after the halt") << CaptureTexts::StoppingDsp;
        QTest::newRow("after the restart") << CaptureTexts::RestartingDsp;
    }
    void cancelEndsPause()
    {
        QFETCH(QString, pauseAfter);
        ScriptedMeter meter;
        // The pauses run on the link's virtual clock: the cancel comes 50 ms into the pause, as a
        // key press would.
        auto clock = std::make_shared<CancellingClock>();
        meter.link->setClock(clock);
        ScreenCapture capture(*meter.link, meter.memory);
        capture.haltPauseMs = pauseAfter == CaptureTexts::StoppingDsp ? 120000 : 0;
        capture.restartPauseMs = 120000;
        CaptureListener listener;
        listener.status = [&](const QString &text) {
            if (text == pauseAfter)
                clock->cancelAt(clock->nowMs() + 50, [&meter] { meter.link->Cancel(); });
        };
        const qint64 started = clock->nowMs();
        const CaptureResult result = capture.run([] { return true; }, listener);
        QCOMPARE(result.outcome, CaptureOutcome::Cancelled);
        QVERIFY2(clock->nowMs() - started < 60000, "the pause ran its whole length");
        QCOMPARE(meter.commands, (QStringList{"stop", "start", "leave"}));
    }

private:
    // A virtual clock that does something once a given time has come.
    class CancellingClock : public VirtualLinkClock
    {
    public:
        void cancelAt(qint64 ms, std::function<void()> action)
        {
            m_at = ms;
            m_action = std::move(action);
        }
        void sleep(int ms) override
        {
            VirtualLinkClock::sleep(ms);
            if (m_action && nowMs() >= m_at)
                std::exchange(m_action, nullptr)();
        }

    private:
        qint64 m_at = 0;
        std::function<void()> m_action;
    };
};

QTEST_GUILESS_MAIN(TestCaptureSequence)
#include "tst_capture_sequence.moc"
