#include "DisplaySync.h"

#include <QGuiApplication>

#ifdef SNAPLOOM_HAVE_XCB
#include <xcb/xcb.h>
#endif

void DisplaySync::flush()
{
#ifdef SNAPLOOM_HAVE_XCB
    if (const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
        xcb_flush(x11->connection());
#endif
}
