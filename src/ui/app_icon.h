// Tarlo's icon, drawn here at each size a window system asks for: a green
// sheet of rows, as the count label is green, with the run mark "！". The
// same drawing gives the window's icon and, written as an icon file at build
// time, the Windows executable's.
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>

// The icon at size x size pixels; needs no application object.
QImage tarloIconImage(int size);

// Every size a window system asks for.
QIcon tarloIcon();

// A Windows icon file (.ico) holding the drawing at each size, as PNG.
QByteArray tarloIconFile();
