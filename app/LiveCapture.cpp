#include "LiveCapture.h"

#include "ImageForm.h"
#include "ScreenCapture.h"

TLiveCapture::TLiveCapture(WindowOpener openWindow, QObject *parent)
    : QObject(parent)
    , m_openWindow(std::move(openWindow))
{
}

TLiveCapture::~TLiveCapture()
{
    discard();
}

void TLiveCapture::attach(CaptureListener &listener)
{
    listener.imageStarted = [this](const ScreenDescription &screen) { open(screen); };
    listener.imageBytes = [this](const QByteArray &bytes) { receive(bytes); };
}

void TLiveCapture::open(const ScreenDescription &screen)
{
    discard();
    m_decoder.emplace(screen);
    m_window = m_openWindow(UprightScreenSize(screen));
    if (!m_window)
        return;
    m_window->setBuilding(true);
    m_window->setPicture(m_decoder->upright());
    connect(m_window, &QObject::destroyed, this, [this] {
        if (m_decoder)
            emit windowClosed();
    });
}

void TLiveCapture::receive(const QByteArray &bytes)
{
    if (!m_decoder || !m_window)
        return;
    if (m_decoder->decodeAvailable(bytes.constData(), bytes.size()) == 0)
        return;
    m_window->setPicture(m_decoder->upright());
}

TfrmImage *TLiveCapture::complete(const QImage &picture)
{
    m_decoder.reset();
    if (!m_window)
        m_window = m_openWindow(picture.size());
    TfrmImage *window = m_window;
    m_window = nullptr;
    if (window) {
        window->setPicture(picture);
        window->setBuilding(false);
    }
    return window;
}

void TLiveCapture::discard()
{
    m_decoder.reset();
    if (TfrmImage *window = m_window) {
        m_window = nullptr;
        window->disconnect(this);
        window->close();
    }
}
