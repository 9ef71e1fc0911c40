// Tarlo's icon, drawn here at each size a window system asks for: a green
// sheet of rows, as the count label is green, with the run mark "！".
#pragma once

#include <QIcon>

QIcon tarloIcon();
