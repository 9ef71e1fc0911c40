// The rows of a run as the result pane shows them: one line per row, the
// fields' texts joined by TAB. Kept as one UTF-8 buffer with line starts, so a
// million rows cost little more than their text.
#pragma once

#include "csv/large_array.h"

#include <QString>
#include <cstdint>
#include <string_view>

namespace tarlo {

class ResultLines {
public:
    size_t lineCount() const { return starts_.size(); }
    bool empty() const { return starts_.empty(); }
    std::string_view line(size_t i) const {
        const uint64_t begin = starts_[i];
        const uint64_t end = i + 1 < starts_.size() ? starts_[i + 1] - 1 : text_.size();
        return {text_.data() + begin, size_t(end - begin)};
    }
    QString lineText(size_t i) const {
        const std::string_view l = line(i);
        return QString::fromUtf8(l.data(), qsizetype(l.size()));
    }

    // Building a line: startLine, then append its pieces.
    void startLine() {
        if (!starts_.empty()) text_.push_back('\n');
        starts_.push_back(text_.size());
    }
    void append(std::string_view piece) { text_.append(piece.data(), piece.size()); }
    void appendLine(std::string_view line) {
        startLine();
        append(line);
    }

    // The whole text, lines joined by CR LF, as the clipboard takes it.
    QString joinedText() const {
        QString out = QString::fromUtf8(text_.data(), qsizetype(text_.size()));
        return out.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    }
    size_t bytes() const { return text_.size() + starts_.size() * sizeof(uint64_t); }
    size_t longestLine() const {
        size_t best = 0, bestLength = 0;
        for (size_t i = 0; i < starts_.size(); ++i)
            if (line(i).size() > bestLength) bestLength = line(best = i).size();
        return best;
    }

private:
    TextBuffer text_;
    LargeArray<uint64_t> starts_;
};

}  // namespace tarlo
