#include "Splash.h"

#include "Artwork.h"
#include "DesktopCompositing.h"
#include "DisplaySync.h"
#include "RegionFromBitmap.h"
#include "Version.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>

TfrmSplash *frmSplash = nullptr;

namespace {
constexpr QSize ClientSize{568, 465};
constexpr int TickIntervalMs = 10;

// The progress bar's schedule: after TicksBeforeProgress ticks it gains ProgressStep per tick.
constexpr int ProgressMaximum = 2047;
constexpr int ProgressStep = 128;
constexpr int TicksBeforeProgress = 20;
// The fade: after TicksBeforeFade ticks the opacity drops by FadeStep per tick; below
// ReleaseOpacity the window is hidden and released.
constexpr int TicksBeforeFade = 80;
constexpr quint8 FadeStep = 5;
constexpr quint8 ReleaseOpacity = 20;

// Where the panel was laid out, and where it goes on the picture's solid block.
const QRect DesignedPanel(388, 0, 180, 50);
const QRect PlacedPanel(Artwork::PanelBlockLeft, Artwork::PanelBlockTop, Artwork::PanelBlockWidth,
                        Artwork::PanelBlockHeight);
const QRect DesignedProgress(4, 36, 173, 10);

// A bold fixed-pitch font whose whole line (ascent and descent) fits cellHeight pixels, so the
// title's descenders stay clear of the build label just below it, whichever font stands in.
QFont titleFont(int cellHeight)
{
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setBold(true);
    for (int pixelSize = cellHeight; pixelSize > 6; --pixelSize) {
        font.setPixelSize(pixelSize);
        if (QFontMetrics(font).height() <= cellHeight)
            break;
    }
    return font;
}
} // namespace

TfrmSplash::TfrmSplash(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setFixedSize(ClientSize);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);
    // Where the desktop composes windows, the picture's own soft edges make the shape, sharp at
    // any scale; elsewhere a mask cuts it, in whole logical pixels.
    m_smoothEdges = DesktopCompositing::active();
    if (m_smoothEdges)
        setAttribute(Qt::WA_TranslucentBackground);
    else
        setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);

    imgSplash = new QLabel(this);
    imgSplash->setGeometry(QRect(QPoint(), ClientSize));
    imgSplash->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    imgBrannoc = new QLabel(this);
    imgBrannoc->setPixmap(QPixmap::fromImage(Artwork::splashPicture()));
    imgBrannoc->move(ClientSize.width() + 8, 0);
    imgBrannoc->resize(imgBrannoc->sizeHint());
    imgBrannoc->hide();

    pnlSplash = new QFrame(this);
    pnlSplash->setGeometry(DesignedPanel);
    pnlSplash->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnlSplash->setLineWidth(1);
    // The inner, lowered bevel just inside the raised outer one.
    auto *innerBevel = new QFrame(pnlSplash);
    innerBevel->setObjectName(QStringLiteral("pnlSplashInner"));
    innerBevel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    innerBevel->setLineWidth(1);
    innerBevel->setGeometry(1, 1, DesignedPanel.width() - 2, DesignedPanel.height() - 2);

    lblTitle = new QLabel(pnlSplash);
    lblTitle->setFont(titleFont(17));
    lblTitle->move(4, 4);

    BuildLabel = new QLabel(pnlSplash);
    BuildLabel->move(5, 21);

    SplashProgress = new QProgressBar(pnlSplash);
    SplashProgress->setGeometry(DesignedProgress);
    SplashProgress->setRange(0, ProgressMaximum);
    SplashProgress->setValue(0);
    SplashProgress->setTextVisible(false);

    m_tickTimer = new QTimer(this);
    m_tickTimer->setObjectName(QStringLiteral("Timer1"));
    m_tickTimer->setInterval(TickIntervalMs);
    connect(m_tickTimer, &QTimer::timeout, this, &TfrmSplash::tick);

    FormCreate();
    // Runs from creation, whether the window is ever shown or not.
    m_tickTimer->start();
}

TfrmSplash::~TfrmSplash()
{
    if (frmSplash == this)
        frmSplash = nullptr;
}

void TfrmSplash::FormCreate()
{
    imgSplash->setPixmap(imgBrannoc->pixmap());

    // The panel moves onto the picture's solid block; the bar keeps its margins and widens with it.
    const int rightMargin = DesignedPanel.width() - DesignedProgress.right() - 1;
    pnlSplash->setGeometry(PlacedPanel);
    pnlSplash->findChild<QFrame *>(QStringLiteral("pnlSplashInner"))
        ->setGeometry(1, 1, PlacedPanel.width() - 2, PlacedPanel.height() - 2);
    SplashProgress->setGeometry(DesignedProgress.x(), DesignedProgress.y(),
                                PlacedPanel.width() - DesignedProgress.x() - rightMargin,
                                DesignedProgress.height());

    lblTitle->setText(ProductName());
    lblTitle->adjustSize();

    // The panel paints its own face rather than the picture behind it.
    pnlSplash->setAutoFillBackground(true);
    pnlSplash->setBackgroundRole(QPalette::Button);
}

void TfrmSplash::ShowAndPaint()
{
    // Its ticks belong to the event loop; the waits below must not count as ticks.
    m_tickTimer->stop();
    show();
    // The window system maps the window in its own time; wait a little for that, then paint.
    constexpr int MapWaitMs = 500;
    QElapsedTimer waited;
    waited.start();
    while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < MapWaitMs)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, TickIntervalMs);
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_tickTimer->start();
}

void TfrmSplash::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmSplash::FormShow()
{
    if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }

    // Qt draws every widget double-buffered already; nothing to switch on here.
    if (m_smoothEdges) {
        imgSplash->setPixmap(QPixmap::fromImage(Artwork::smoothSplashPicture(devicePixelRatioF())));
    } else {
        // A picture that cannot be made into a shape leaves the window rectangular; so does an
        // all-background one, since Qt takes an empty mask as no mask at all.
        const QImage picture = imgSplash->pixmap().toImage();
        if (const auto shape = CreateRegionFromBitmap(picture, Artwork::SplashKeyColour, Artwork::SplashKeyColour);
            shape && !shape->isEmpty()) {
            setMask(*shape);
            update();
        }
    }

    BuildLabel->setText(QStringLiteral("Build.: ") + FormatFileVersion(QStringLiteral("%d.%d.%d.%d")));
    BuildLabel->adjustSize();
}

void TfrmSplash::tick()
{
    ++TickCount;
    // The first tick comes once the main window is up; without a window manager to honour
    // "stay on top", the later window would otherwise cover the splash.
    if (TickCount == 1 && isVisible())
        raise();
    if (TickCount > TicksBeforeProgress)
        SplashProgress->setValue(qMin(SplashProgress->value() + ProgressStep, SplashProgress->maximum()));
    if (TickCount > TicksBeforeFade) {
        Opacity = Opacity > FadeStep ? quint8(Opacity - FadeStep) : quint8(0);
        setWindowOpacity(Opacity / 255.0);
        // Each step has to reach the screen within its tick, input or not.
        DisplaySync::flush();
    }
    if (Opacity < ReleaseOpacity) {
        m_tickTimer->stop();
        hide();
        DisplaySync::flush();
        if (frmSplash == this)
            frmSplash = nullptr;
        deleteLater();
    }
}
