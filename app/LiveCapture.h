#pragma once

#include "ScreenDecoder.h"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <functional>
#include <optional>

struct CaptureListener;
class QImage;
class TfrmImage;

// The picture of one capture while its bytes arrive: the image window opens when the image read
// starts, and each strip is shown, turned as the finished picture will be, as soon as the
// instrument has sent it. The finished picture replaces it; a capture that ends without one
// closes the window.
class TLiveCapture : public QObject
{
    Q_OBJECT

public:
    // Opens the image window for a picture of this client size, shown and active.
    using WindowOpener = std::function<TfrmImage *(const QSize &clientSize)>;

    explicit TLiveCapture(WindowOpener openWindow, QObject *parent = nullptr);
    ~TLiveCapture() override;

    // Hooks the live picture onto a capture's listener (image read start and arriving bytes).
    void attach(CaptureListener &listener);


    // The finished picture goes into the live window (opened now if the read never opened one,
    // or it was closed), which from then on is an ordinary image window.
    TfrmImage *complete(const QImage &picture);
    // Closes the live window without a question: the capture brought no picture.
    void discard();

signals:
    // The user closed the live window while the read ran.
    void windowClosed();

private:
    void open(const ScreenDescription &screen);
    void receive(const QByteArray &bytes);

    WindowOpener m_openWindow;
    std::optional<ScreenDecoder> m_decoder;
    QPointer<TfrmImage> m_window;
};
