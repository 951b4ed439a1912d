#include "DesktopCompositing.h"

#include <QGuiApplication>
#include <cstdlib>

#ifdef SNAPLOOM_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace DesktopCompositing {

bool active()
{
    if (!qGuiApp)
        return false;
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return true;
#ifdef SNAPLOOM_HAVE_XCB
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // A compositing manager owns the selection _NET_WM_CM_S<screen> while it runs.
    static const char Selection[] = "_NET_WM_CM_S0";
    xcb_intern_atom_reply_t *atom
        = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof Selection - 1, Selection), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t name = atom->atom;
    std::free(atom);
    if (name == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t *owner
        = xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, name), nullptr);
    const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    return owned;
#else
    return false;
#endif
}

} // namespace DesktopCompositing
