#include "dialect/token_edit.h"

namespace tarlo {

namespace {

// +1 opens, -1 closes; CASE ... END nests like a bracket.
// Looked at for every token of every walk: the kind and length first.
int nesting(const Token& t) {
    if (t.kind == TokenKind::Symbol) {
        if (t.text.size() != 1) return 0;
        return t.text[0] == QLatin1Char('(') ? 1 : t.text[0] == QLatin1Char(')') ? -1 : 0;
    }
    if (t.kind != TokenKind::Word || t.text.size() < 3 || t.text.size() > 4) return 0;
    if (isKeyword(t, "CASE")) return 1;
    if (isKeyword(t, "END")) return -1;
    return 0;
}

}  // namespace

size_t matchingClose(const std::vector<Token>& tokens, size_t i) {
    int depth = 0;
    for (size_t k = i; k < tokens.size(); ++k) {
        depth += nesting(tokens[k]);
        if (depth == 0) return k;
    }
    return tokens.size();
}

BracketMap::BracketMap(const std::vector<Token>& tokens) : tokens_(tokens), close_(tokens.size(), kNotOpener) {
    std::vector<size_t> open;
    for (size_t k = 0; k < tokens.size(); ++k) {
        const int n = nesting(tokens[k]);
        if (n > 0) {
            close_[k] = tokens.size();  // until its close comes
            open.push_back(k);
        } else if (n < 0 && !open.empty()) {
            close_[open.back()] = k;
            open.pop_back();
        }
    }
}

size_t BracketMap::closeOf(size_t i) const {
    if (i >= close_.size()) return tokens_.size();
    if (close_[i] != kNotOpener) return close_[i];
    return nesting(tokens_[i]) < 0 ? matchingClose(tokens_, i) : i;
}

size_t matchingOpen(const std::vector<Token>& tokens, size_t i) {
    int depth = 0;
    for (size_t k = i + 1; k-- > 0;) {
        depth -= nesting(tokens[k]);
        if (depth == 0) return k;
    }
    return tokens.size();
}

QString textOf(const std::vector<Token>& tokens, size_t from, size_t to) {
    QString out;
    for (size_t i = from; i < to && i < tokens.size(); ++i) out += tokens[i].text;
    return out;
}

MappedText mappedTextOf(const std::vector<Token>& tokens, size_t from, size_t to) {
    MappedText out;
    for (size_t i = from; i < to && i < tokens.size(); ++i) {
        if (tokens[i].mapped && tokens[i].mapped->text() == tokens[i].text) out.append(*tokens[i].mapped);
        else out.append(tokens[i].text, tokens[i].span);
    }
    return out;
}

Token composedToken(const MappedText& text) {
    return Token{TokenKind::Word, text.text(), 0, text.span(), std::make_shared<const MappedText>(text)};
}

size_t findAtTop(const std::vector<Token>& tokens, size_t from, size_t to, const char* keyword) {
    int depth = 0;
    for (size_t k = from; k < to; ++k) {
        if (isSymbol(tokens[k], "(")) ++depth;
        else if (isSymbol(tokens[k], ")")) --depth;
        else if (depth == 0 && isKeyword(tokens[k], keyword)) return k;
    }
    return to;
}

}  // namespace tarlo
