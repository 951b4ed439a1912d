#include "DisplaySync.h"

#include <QGuiApplication>

#ifdef SNAPLOOM_HAVE_XCB
#include <xcb/xcb.h>
#endif

void DisplaySync::flush()
{
#ifdef SNAPLOOM_HAVE_XCB
    // The offscreen platform answers as X11 too, without a connection of its own.
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (xcb_connection_t *connection = x11 ? x11->connection() : nullptr)
        xcb_flush(connection);
#endif
}
