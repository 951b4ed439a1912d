// The capture sequence as both programs run it: what it reads, halts and restarts, what it
// says, and the outcome of each way it can end.
#include "InstrumentMemory.h"
#include "ScreenCapture.h"
#include "ScreenImage.h"
#include "ScriptedMeter.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

const std::array<QRgb, 8> InstrumentPalette = {qRgb(0, 0, 0),    qRgb(0, 0, 160),   qRgb(0, 160, 0),
                                               qRgb(60, 60, 60), qRgb(160, 0, 0),   qRgb(9, 8, 7),
                                               qRgb(200, 200, 0), qRgb(255, 254, 253)};
constexpr quint32 ImageStart = ScriptedMeter::DefaultImageAddress - 1440;

// A port that fails when the image read is asked for, as a line that goes away would.
class FailingImageReadPort : public ScriptedComPort
{
public:
    qint64 writeText(const QByteArray &data) override
    {
        if (armed && data == ScriptedMeter::be(ImageStart, 4))
            throw EComPort(QStringLiteral("WriteFile function failed"), 5);
        return ScriptedComPort::writeText(data);
    }
    bool armed = false;
};

struct Run
{
    CaptureResult result;
    QStringList log;   // status texts and events in the order they came
    qint64 progressMaximum = -1;
    qint64 progressSum = 0;
    int progressFinished = 0;
    int strips = 0;
};

struct Fixture
{
    explicit Fixture(int width = 16, int height = 10, quint16 orientation = 0,
                     std::unique_ptr<ScriptedComPort> port = std::make_unique<ScriptedComPort>())
        : meter(std::move(port))
    {
        indices = patternIndices(width, height);
        meter.build(quint16(width), quint16(height), orientation, InstrumentPalette,
                    encodeStrips(indices, width, height));
        memory.MeterCom = meter.link.get();
        capture.haltPauseMs = 0;
        capture.restartPauseMs = 0;
    }

    Run run(std::function<bool()> freeze)
    {
        Run r;
        CaptureListener listener;
        listener.status = [&r](const QString &text) { r.log << QStringLiteral("status:") + text; };
        listener.event = [&r](CaptureEvent e) { r.log << QStringLiteral("event:%1").arg(int(e)); };
        listener.progressStarted = [&r](qint64 maximum) { r.progressMaximum = maximum; };
        listener.progressStep = [&r](qint64 step) { r.progressSum += step; };
        listener.progressFinished = [&r] { ++r.progressFinished; };
        listener.afterStrip = [&r] { ++r.strips; };
        r.result = capture.run(freeze, listener);
        return r;
    }
    Run run(bool freeze) { return run([freeze] { return freeze; }); }

    QVector<quint8> indices;
    ScriptedMeter meter;
    TInstrumentMemory memory;
    ScreenCapture capture{*meter.link, memory};
};

QString status(const QString &text) { return QStringLiteral("status:") + text; }
QString eventText(CaptureEvent e) { return QStringLiteral("event:%1").arg(int(e)); }

}  // namespace

class TestCaptureSequence : public QObject
{
    Q_OBJECT
private slots:
    // A good capture, with and without the freeze option, stored portrait and landscape.
    void captured_data()
    {
        QTest::addColumn<bool>("freeze");
        QTest::addColumn<quint16>("orientation");
        QTest::newRow("portrait") << false << quint16(0);
        QTest::newRow("portrait frozen") << true << quint16(0);
        QTest::newRow("landscape") << false << quint16(1);
        QTest::newRow("landscape frozen") << true << quint16(7);
    }
    void captured()
    {
        QFETCH(bool, freeze);
        QFETCH(quint16, orientation);
        Fixture f(24, 10, orientation);
        const Run r = f.run(freeze);
        QCOMPARE(r.result.outcome, CaptureOutcome::Captured);
        const QStringList expected = freeze ? QStringList{status(CaptureTexts::StoppingDsp), status(CaptureTexts::ReadingImage),
                                                          status(CaptureTexts::RestartingDsp), status(CaptureTexts::LoadedCorrectly)}
                                            : QStringList{status(CaptureTexts::ReadingImage), status(CaptureTexts::LoadedCorrectly)};
        QCOMPARE(r.log, expected);
        QCOMPARE(f.meter.commands, (freeze ? QStringList{"stop", "start"} : QStringList{}));
        QCOMPARE(r.progressMaximum, qint64(3 * 1536));
        QCOMPARE(r.progressSum, qint64(3 * 1536));  // the bar ends full
        QCOMPARE(r.progressFinished, 1);
        QCOMPARE(r.strips, 3);
        QCOMPARE(r.result.bytesRequested, qint64(3 * 1536));
        QCOMPARE(r.result.bytesReceived, qint64(3 * 1536));
        QVERIFY(f.meter.reads.contains(qMakePair(ImageStart, quint32(3 * 1536))));

        const bool turned = orientation == 0;
        QCOMPARE(r.result.image.size(), turned ? QSize(10, 24) : QSize(24, 10));
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 24; ++x) {
                const QPoint shown = turned ? QPoint(y, 23 - x) : QPoint(x, y);
                QCOMPARE(r.result.image.pixel(shown), InstrumentPalette[f.indices[y * 24 + x]]);
            }
    }

    void refused()
    {
        Fixture f;
        f.meter.dspStatus = 17;
        const Run r = f.run(true);
        QCOMPARE(r.result.outcome, CaptureOutcome::Refused);
        QCOMPARE(f.meter.readsAt(ImageStart), 0);
        QVERIFY(f.meter.commands.isEmpty());
        QVERIFY(r.log.isEmpty());
        QVERIFY(r.result.image.isNull());
    }

    void haltRefused()
    {
        Fixture f;
        f.meter.haltAck = false;
        const Run r = f.run(true);
        QCOMPARE(r.result.outcome, CaptureOutcome::HaltFailed);
        QCOMPARE(r.log, (QStringList{status(CaptureTexts::StoppingDsp), eventText(CaptureEvent::HaltFailed)}));
        QCOMPARE(f.meter.commands, QStringList{"stop"});  // no restart after a halt that failed
        QCOMPARE(f.meter.readsAt(ImageStart), 0);
        QCOMPARE(r.progressFinished, 0);
    }

    void restartRefused()
    {
        Fixture f;
        f.meter.restartAck = false;
        const Run r = f.run(true);
        QCOMPARE(r.result.outcome, CaptureOutcome::Captured);
        QCOMPARE(r.log, (QStringList{status(CaptureTexts::StoppingDsp), status(CaptureTexts::ReadingImage),
                                     status(CaptureTexts::RestartingDsp), eventText(CaptureEvent::RestartFailed),
                                     status(CaptureTexts::LoadedCorrectly)}));
    }

    // A read that brings nothing fails the decode; a halted instrument is restarted all the same.
    void nothingReceived_data()
    {
        QTest::addColumn<bool>("freeze");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<bool>("restartAck");
        QTest::newRow("trailer swapped") << false << false << true;
        QTest::newRow("trailer swapped, frozen") << true << false << true;
        QTest::newRow("silent, frozen") << true << true << true;
        QTest::newRow("trailer swapped, frozen, restart refused") << true << false << false;
    }
    void nothingReceived()
    {
        QFETCH(bool, freeze);
        QFETCH(bool, silent);
        QFETCH(bool, restartAck);
        Fixture f;
        (silent ? f.meter.silentAt : f.meter.swappedAt).insert(ImageStart);
        f.meter.restartAck = restartAck;
        const Run r = f.run(freeze);
        QCOMPARE(r.result.outcome, CaptureOutcome::NothingReceived);
        QVERIFY(r.result.image.isNull());
        QCOMPARE(r.progressFinished, 1);
        QCOMPARE(r.log.last(), status(QString()));  // the status panel is cleared
        QCOMPARE(f.meter.commands, (freeze ? QStringList{"stop", "start"} : QStringList{}));
        QCOMPARE(r.log.contains(eventText(CaptureEvent::RestartFailed)), freeze && !restartAck);
    }

    // A reply whose length is not the one asked for is never taken for a picture; one that
    // falls short leaves the link waiting out its budget, so nothing is stored at all.
    void wrongLength_data()
    {
        QTest::addColumn<bool>("freeze");
        QTest::addColumn<int>("fewer");
        QTest::addColumn<CaptureOutcome>("outcome");
        QTest::newRow("5 bytes more") << false << -5 << CaptureOutcome::ShortRead;
        QTest::newRow("5 bytes more, frozen") << true << -5 << CaptureOutcome::ShortRead;
        QTest::newRow("100 bytes fewer, frozen") << true << 100 << CaptureOutcome::NothingReceived;
    }
    void wrongLength()
    {
        QFETCH(bool, freeze);
        QFETCH(int, fewer);
        QFETCH(CaptureOutcome, outcome);
        Fixture f(24, 10);
        f.meter.shortenAt.insert(ImageStart, fewer);
        const Run r = f.run(freeze);
        QCOMPARE(r.result.outcome, outcome);
        QVERIFY(r.result.image.isNull());
        if (outcome == CaptureOutcome::ShortRead) {
            QCOMPARE(r.result.bytesReceived, qint64(3 * 1536 - fewer));
            QCOMPARE(r.log.mid(r.log.size() - 2),
                     (QStringList{status(CaptureTexts::CouldNotLoad), eventText(CaptureEvent::ShortRead)}));
        } else {
            QCOMPARE(r.log.last(), status(QString()));
        }
        QCOMPARE(f.meter.commands, (freeze ? QStringList{"stop", "start"} : QStringList{}));
    }

    // An unusable screen description is refused before the DSP is asked or anything is read.
    void badGeometry_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<quint32>("imageAddress");
        QTest::newRow("all zero") << 0 << 0 << quint32(0);
        QTest::newRow("narrower than a strip") << 7 << 10 << quint32(0x90000);
        QTest::newRow("no rows") << 16 << 0 << quint32(0x90000);
        QTest::newRow("513 rows") << 16 << 513 << quint32(0x90000);
        QTest::newRow("image before address 1440") << 16 << 10 << quint32(1439);
        QTest::newRow("absurd") << 65535 << 65535 << quint32(0x10);
    }
    void badGeometry()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(quint32, imageAddress);
        Fixture f;
        f.meter.setDescription(quint16(width), quint16(height), 0, imageAddress);
        QElapsedTimer timer;
        timer.start();
        const Run r = f.run(true);
        QCOMPARE(r.result.outcome, CaptureOutcome::BadGeometry);
        QCOMPARE(r.result.storedWidth, quint16(width));
        QCOMPARE(r.result.storedHeight, quint16(height));
        QVERIFY(r.result.image.isNull());
        QVERIFY(f.meter.commands.isEmpty());
        QVERIFY(!f.meter.reads.contains(qMakePair(quint32(0x1C496), quint32(2))));
        QCOMPARE(f.meter.reads.size(), 7);  // pointer, directory and the two chains only
        QVERIFY(r.log.isEmpty());
    }

    void edgesOfGeometryAccepted()
    {
        Fixture f(8, 512);
        f.meter.setDescription(8, 512, 1, 1440);
        f.meter.put(0, encodeStrips(f.indices, 8, 512));
        const Run r = f.run(false);
        QCOMPARE(r.result.outcome, CaptureOutcome::Captured);
        QCOMPARE(r.result.image.size(), QSize(8, 512));
    }

    void noDirectory()
    {
        Fixture f;
        f.meter.swappedAt.insert(ScriptedMeter::PointerAddress);
        const Run r = f.run(true);
        QCOMPARE(r.result.outcome, CaptureOutcome::NoScreenInfo);
        QVERIFY(f.meter.commands.isEmpty());
        QVERIFY(r.log.isEmpty());
    }

    // The option is asked before the halt and before the restart, each time as it is then.
    void freezeChangesDuringCapture_data()
    {
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("after");
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("switched on") << false << true << QStringList{"start"};
        QTest::newRow("switched off after the halt") << true << false << QStringList{"stop", "start"};
    }
    void freezeChangesDuringCapture()
    {
        QFETCH(bool, before);
        QFETCH(bool, after);
        QFETCH(QStringList, commands);
        Fixture f;
        int asked = 0;
        const Run r = f.run([&] { return asked++ == 0 ? before : after; });
        QCOMPARE(r.result.outcome, CaptureOutcome::Captured);
        QCOMPARE(f.meter.commands, commands);
    }

    // An error of the line during the read passes on, after the instrument was restarted.
    void errorDuringReadRestarts()
    {
        auto owned = std::make_unique<FailingImageReadPort>();
        FailingImageReadPort *port = owned.get();
        Fixture f(16, 10, 0, std::move(owned));
        port->armed = true;
        int finished = 0;
        CaptureListener listener;
        listener.progressFinished = [&finished] { ++finished; };
        QVERIFY_THROWS_EXCEPTION(EComPort, f.capture.run([] { return true; }, listener));
        QCOMPARE(f.meter.commands, (QStringList{"stop", "start"}));
        QCOMPARE(finished, 1);
        QVERIFY(!f.meter.link->ProgressBar);  // the link's indicator is given back
    }
};

QTEST_GUILESS_MAIN(TestCaptureSequence)
#include "tst_capture_sequence.moc"
