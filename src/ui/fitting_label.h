// A label that always shows its whole text: one wider than the label is
// drawn in a smaller size of the same face, so "1,234,567 件" never loses
// its leading digit in a narrow label or a wide fallback face.
#pragma once

#include <QLabel>

class FittingLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The label's font, or a smaller pixel size of it, in which text fits into width.
QFont fontToFit(const QFont& font, const QString& text, int width);
