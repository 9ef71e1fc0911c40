// UTF-8, decoded and encoded in one place: the core keeps every text as
// UTF-8 bytes and steps through it by code point.
#pragma once

#include <QByteArrayView>

#include <string>
#include <string_view>

namespace tarlo {

// The code point at s[at], advancing at past it. A byte that does not start
// a well-formed sequence (a stray continuation, a truncated or overlong
// sequence, a surrogate) stands for itself and advances by one, so every
// byte is read exactly once; valid tells which it was.
char32_t nextCodePoint(std::string_view s, size_t& at, bool* valid = nullptr);

void appendUtf8(std::string& out, char32_t codePoint);

bool isValidUtf8(QByteArrayView bytes);

}  // namespace tarlo
