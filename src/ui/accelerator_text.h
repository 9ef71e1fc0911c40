// Label texts with "&" accelerator markers, rendered as a Windows label
// does: "&x" underlines x and hides the "&", "&&" shows one "&".
#pragma once

#include <QString>

// The text as shown (markers removed), and the same as rich text.
QString acceleratorDisplayText(const QString& text);
QString acceleratorRichText(const QString& text);
