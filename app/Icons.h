#pragma once

#include <QIcon>
#include <QImage>

// The program's own 16 x 16 artwork for menus and toolbar, each with a greyed variant for the
// disabled state, drawn in code so no image plug-in is needed.
namespace Icons {
QIcon save();
QIcon saveGreyed();
QIcon capture();
QIcon captureGreyed();
QIcon connect();
QIcon connectGreyed();
QIcon copy();
QIcon copyGreyed();
QIcon exit();
QIcon exitGreyed();
QIcon about();
// The window icon of the program, at 16, 32, 48 and 64 pixels.
QIcon application();
// The same artwork as one square picture of size pixels, for the installed icon files.
QImage applicationPicture(int size);
} // namespace Icons
