// The code page 932 converter on either system: a stream cut anywhere
// decodes as the whole does, and the mappings where CP932 differs from
// plain Shift_JIS hold.
#include "platform/cp932_codec.h"

#include <gtest/gtest.h>

TEST(Cp932Codec, AStreamCutAnywhereDecodesAsTheWhole) {
    // 表 and 能 end in 0x5C, the byte of "\"; ｱ is one byte; ～ － ￢ ∥ are
    // where CP932 maps otherwise than JIS; ① ㈱ (NEC) and 髙 (IBM) are its additions.
    const QString text = QStringLiteral("表示,能力\\ｱｲ～－￢∥①㈱髙");
    bool ok = false;
    const QByteArray bytes = tarlo::encodeCp932(text, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(bytes.left(4), QByteArray("\x95\x5C\x8E\xA6"));
    EXPECT_EQ(tarlo::decodeCp932Piece(bytes, &ok), text);
    EXPECT_TRUE(ok);
    for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
        tarlo::Cp932Decoder decoder;
        QString out = decoder.decode(QByteArrayView(bytes).first(cut));
        out += decoder.decode(QByteArrayView(bytes).sliced(cut));
        out += decoder.finish();
        EXPECT_EQ(out, text) << "cut at " << cut;
        EXPECT_FALSE(decoder.hasError());
    }
}

TEST(Cp932Codec, ALeadByteWithoutItsSecondIsAnError) {
    tarlo::Cp932Decoder decoder;
    EXPECT_EQ(decoder.decode("ab\x93"), QStringLiteral("ab"));
    EXPECT_FALSE(decoder.hasError());
    EXPECT_FALSE(decoder.finish().isEmpty()) << "the lone byte is not dropped";
    EXPECT_TRUE(decoder.hasError());

    bool ok = true;
    tarlo::encodeCp932(QStringLiteral("a😀"), &ok);
    EXPECT_FALSE(ok) << "a character CP932 lacks";
}

// One table on every system: the published mapping's controls stay
// themselves, bytes with no character become U+FFFD without taking the next
// byte along, and a character with several codes is written as Windows
// writes it.
TEST(Cp932Codec, UndefinedBytesAndChoicesAreTheSameOnEverySystem) {
    bool ok = true;
    EXPECT_EQ(tarlo::decodeCp932Piece("\x1A\x1C\x7F", &ok), QString::fromUtf8("\x1A\x1C\x7F"));
    EXPECT_TRUE(ok);
    for (const char* undefined : {"\x80", "\xA0", "\xFD", "\xFE", "\xFF"}) {
        EXPECT_EQ(tarlo::decodeCp932Piece(undefined, &ok), QString(QChar(0xFFFD))) << undefined;
        EXPECT_FALSE(ok);
    }
    // A lead byte whose pair has no character: the second byte is read on its own.
    EXPECT_EQ(tarlo::decodeCp932Piece("\x85\x40", &ok), QString::fromUtf8("\uFFFD@"));
    EXPECT_EQ(tarlo::decodeCp932Piece("a\x85\tb;\x85;", &ok), QString::fromUtf8("a\uFFFD\tb;\uFFFD;"));
    EXPECT_EQ(tarlo::decodeCp932Piece("\xED\x40\xFA\x5C\xF0\x40", &ok), QString::fromUtf8("\u7E8A\u7E8A\uE000"));
    EXPECT_TRUE(ok);

    const std::pair<const char*, const char*> written[] = {
        {"\u7E8A", "\xFA\x5C"},  // IBM's code before NEC's copy of it
        {"\u2170", "\xFA\x40"},  // ⅰ
        {"\uFFE2", "\x81\xCA"},  // ￢: JIS X 0208 first
        {"\u2235", "\x81\xE6"},  // ∵
        {"\u2116", "\x87\x82"},  // №: NEC's row 13 before IBM's
        {"\u2160", "\x87\x54"},  // Ⅰ
        {"\uE000", "\xF0\x40"},  // the user-defined area
        {"\uFF61", "\xA1"},
    };
    for (const auto& [text, bytes] : written) {
        EXPECT_EQ(tarlo::encodeCp932(QString::fromUtf8(text), &ok).toHex(' '), QByteArray(bytes).toHex(' ')) << text;
        EXPECT_TRUE(ok);
    }
    EXPECT_EQ(tarlo::encodeCp932(QString::fromUtf8("\u0080\uF8F0"), &ok), QByteArray("??"));
    EXPECT_FALSE(ok);
}
