#pragma once

// Whether the desktop composes each window with what lies beneath it, so that a window can have
// soft, partly transparent edges: always on Wayland, on X11 while a compositing manager runs.
// Without it a shaped window needs a mask, whose edges follow whole logical pixels.
namespace DesktopCompositing {
bool active();
} // namespace DesktopCompositing
