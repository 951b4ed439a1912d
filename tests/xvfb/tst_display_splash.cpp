// The splash window on a real X display: its fade reaches the screen step by step without any
// input, and the window goes at the end. Watched from outside, as another X client sees it.

#include "Splash.h"

#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include "TestHome.h"

namespace {

// Every change of one property of an X window, as another client of the server sees it.
class PropertySpy
{
public:
    PropertySpy(WId window, const QString &property)
    {
        m_process.start(QStringLiteral("xprop"),
                        {"-spy", "-id", QString::number(window), property});
    }
    ~PropertySpy()
    {
        m_process.kill();
        m_process.waitForFinished(2000);
    }

    // The lines xprop printed so far, one per change (the first is the value when it started).
    QStringList lines()
    {
        m_seen += QString::fromLatin1(m_process.readAllStandardOutput());
        return m_seen.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    QProcess m_process;
    QString m_seen;
};

// xprop shows a window's opacity as 32-bit fraction of opaque: "..._OPACITY(CARDINAL) = 2021161080".
QList<quint32> opacityValues(const QStringList &lines)
{
    static const QRegularExpression value(QStringLiteral("= (\\d+)"));
    QList<quint32> values;
    for (const QString &line : lines)
        if (const auto match = value.match(line); match.hasMatch())
            values.append(match.captured(1).toUInt());
    return values;
}

bool isViewable(WId window)
{
    QProcess info;
    info.start(QStringLiteral("xwininfo"), {"-id", QString::number(window)});
    info.waitForFinished(5000);
    return info.exitCode() == 0 && info.readAllStandardOutput().contains("IsViewable");
}

} // namespace

class TestDisplaySplash : public QObject
{
    Q_OBJECT

private:
    TestHome home;

private slots:
    void fadeReachesTheScreenWithoutInput()
    {
        frmSplash = new TfrmSplash;
        QPointer<TfrmSplash> splash = frmSplash;
        splash->ShowAndPaint();
        splash->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();  // held until the observer is listening
        QVERIFY(QTest::qWaitForWindowExposed(splash.data()));
        const WId window = splash->winId();
        QVERIFY(isViewable(window));

        PropertySpy spy(window, QStringLiteral("_NET_WM_WINDOW_OPACITY"));
        QTRY_VERIFY_WITH_TIMEOUT(!spy.lines().isEmpty(), 10000);
        splash->findChild<QTimer *>(QStringLiteral("Timer1"))->start();

        // Nothing moves the mouse or presses a key meanwhile.
        QTRY_VERIFY_WITH_TIMEOUT(splash.isNull(), 30000);
        QTest::qWait(300);  // xprop reports the last changes
        const QList<quint32> values = opacityValues(spy.lines());
        QList<quint32> between;
        for (quint32 v : values)
            if (v > 0 && v < 0xFFFFFFFFu && !between.contains(v))
                between.append(v);
        // 47 steps from 250 down to 20 of 255; a loaded machine may merge a few in the observer.
        QVERIFY2(between.size() >= 10,
                 qPrintable(QStringLiteral("intermediate opacities seen: %1 of %2 changes")
                                .arg(between.size())
                                .arg(values.size())));
        QVERIFY(std::is_sorted(between.rbegin(), between.rend()));  // only ever fading
        QVERIFY(!isViewable(window));
    }
};

QTEST_MAIN(TestDisplaySplash)
#include "tst_display_splash.moc"
