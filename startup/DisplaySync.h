#pragma once

// The X11 connection keeps drawing requests that carry no picture (a window's opacity, its
// shape) in its own queue and sends them on only when input arrives. A window that changes
// itself on a timer hands them over at once through here.
class DisplaySync
{
public:
    // Sends every request still queued for the window system; nothing to do where none is queued.
    static void flush();
};
