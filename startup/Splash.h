#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QProgressBar;
class QShowEvent;
class QTimer;

// The start-up window: borderless, topmost, cut to the shape of the distributor's two-colour
// picture, with a small status panel. Its own timer fills the bar, fades the window out and
// releases it; nothing else hides or closes it.
class TfrmSplash : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmSplash(QWidget *parent = nullptr);
    ~TfrmSplash() override;

    // Shows the window and paints it at once, for start-up, when the event loop is not running yet.
    void ShowAndPaint();

    // The window's opacity, 255 for opaque.
    quint8 opacity() const { return Opacity; }
    // Ticks of the fade timer so far.
    int tickCount() const { return TickCount; }

    QLabel *imgSplash = nullptr;
    QLabel *imgBrannoc = nullptr;
    QFrame *pnlSplash = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *BuildLabel = nullptr;
    QProgressBar *SplashProgress = nullptr;

public slots:
    // One tick of the fade timer (object name Timer1): the progress, then the fade, then the end.
    void tick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    void FormShow();

    QTimer *m_tickTimer = nullptr;
    quint8 Opacity = 255;
    int TickCount = 0;
};

// The one splash window while it exists; it clears itself when the window is released.
extern TfrmSplash *frmSplash;
