#include "platform/error.h"
#include "platform/text_encoding.h"

#include <gtest/gtest.h>

using tarlo::TextEncoding;

namespace {
const QByteArray kCp932Nihon("\x93\xfa\x96\x7b");  // 日本
}

TEST(TextEncoding, DetectsByMarkThenUtf8ThenCp932) {
    struct Case {
        QByteArray bytes;
        TextEncoding expected;
    } cases[] = {
        {"", TextEncoding::Ascii},
        {"select 1;", TextEncoding::Ascii},
        {"\xEF\xBB\xBFid", TextEncoding::Utf8WithBom},
        {QString::fromUtf8("日本").toUtf8(), TextEncoding::Utf8},
        {kCp932Nihon, TextEncoding::Cp932},
        {"\xFF\xFEi\0", TextEncoding::Utf16LeWithBom},
        {"\xFE\xFF\0i", TextEncoding::Utf16BeWithBom},
        {"\xE6\x97", TextEncoding::Cp932},           // UTF-8 cut in the middle of a character
        {"\xC0\xAF", TextEncoding::Cp932},           // overlong form is not UTF-8
        {"\xED\xA0\x80", TextEncoding::Cp932},       // surrogate is not UTF-8
    };
    for (const Case& c : cases) EXPECT_EQ(tarlo::detectEncoding(c.bytes), c.expected) << c.bytes.toHex().constData();
}

TEST(TextEncoding, DecodesWithoutTheByteOrderMark) {
    EXPECT_EQ(tarlo::decodeText("\xEF\xBB\xBFid,name").text, QStringLiteral("id,name"));
    EXPECT_EQ(tarlo::decodeText(QByteArray("\xFF\xFEi\0d\0", 6)).text, QStringLiteral("id"));
    EXPECT_EQ(tarlo::decodeText(kCp932Nihon).text, QStringLiteral("日本"));
}

TEST(TextEncoding, Cp932IsTheWindowsVariant) {
    // 0x5C is a backslash, 0x8160 the full-width tilde, as Windows maps them.
    EXPECT_EQ(tarlo::decodeAs("\x5C\x81\x60", TextEncoding::Cp932), QString::fromUtf8("\\\uFF5E"));
    EXPECT_EQ(tarlo::encodeText(QString::fromUtf8("\\\uFF5E"), TextEncoding::Cp932), QByteArray("\x5C\x81\x60"));
}

TEST(TextEncoding, EncodesBackIntoTheSameBytes) {
    const QString text = QStringLiteral("SELECT 氏名 FROM shain#csv;\r\ncaption=社員\r\n");
    for (TextEncoding e : {TextEncoding::Cp932, TextEncoding::Utf8, TextEncoding::Utf8WithBom,
                           TextEncoding::Utf16LeWithBom, TextEncoding::Utf16BeWithBom}) {
        const QByteArray bytes = tarlo::encodeText(text, e);
        EXPECT_EQ(tarlo::detectEncoding(bytes), e);
        EXPECT_EQ(tarlo::decodeText(bytes).text, text);
    }
    EXPECT_EQ(tarlo::encodeText(QStringLiteral("日本"), TextEncoding::Ascii), kCp932Nihon);
}

TEST(TextEncoding, RefusesCharactersCp932CannotHold) {
    try {
        tarlo::encodeText(QString::fromUtf8("ok \u00e9"), TextEncoding::Cp932);
        FAIL() << "no error";
    } catch (const tarlo::Error& e) {
        EXPECT_TRUE(e.message().startsWith(QString::fromUtf8("文字 \"\u00e9\" (4 文字目)"))) << e.what();
    }
    EXPECT_THROW(tarlo::encodeText(QString::fromUtf8("\U0001F600"), TextEncoding::Ascii), tarlo::Error);
}

// A malformed byte is found wherever it stands among ASCII, at every
// place of an eight-byte word and at the end.
TEST(Utf8, AMalformedByteIsFoundAnywhereAmongAscii) {
    for (size_t at = 0; at < 40; ++at) {
        std::string text(40, 'a');
        text[at] = '\x80';
        EXPECT_FALSE(tarlo::isValidUtf8(QByteArrayView(text.data(), qsizetype(text.size())))) << at;
        text.replace(at, 1, "\xC3\xA9");
        EXPECT_TRUE(tarlo::isValidUtf8(QByteArrayView(text.data(), qsizetype(text.size())))) << at;
    }
}

TEST(Utf8, EveryByteIsReadOnceAndMalformedBytesStandForThemselves) {
    struct Case {
        const char* bytes;
        std::u32string codePoints;
        bool valid;
    } cases[] = {
        {"a\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80", U"a\u00E9\u3042\U0001F600", true},
        {"\xC3", U"\u00C3", false},              // truncated at the end
        {"\xE3\x81z", U"\u00E3\u0081z", false},  // truncated before ASCII: the ASCII survives
        {"\xC0\xAF", U"\u00C0\u00AF", false},    // overlong "/"
        {"\xED\xA0\x80", U"\u00ED\u00A0\u0080", false},  // a surrogate
        {"\x80x", U"\u0080x", false},             // a stray continuation byte
    };
    for (const Case& c : cases) {
        const std::string_view s(c.bytes);
        std::u32string got;
        for (size_t at = 0; at < s.size();) got += tarlo::nextCodePoint(s, at);
        EXPECT_EQ(got, c.codePoints) << c.bytes;
        EXPECT_EQ(tarlo::isValidUtf8(QByteArrayView(c.bytes)), c.valid) << c.bytes;
        std::string encoded;
        for (char32_t cp : got) tarlo::appendUtf8(encoded, cp);
        if (c.valid) {
            EXPECT_EQ(encoded, s);
        }
    }
}

// 纊 spelled ED 40 and FA 5C in one file is the same character both times,
// and the text gives each occurrence its own code back.
TEST(TextEncoding, ACharacterSpelledTwoWaysIsOneCharacterAndKeepsBothCodes) {
    const QByteArray bytes("\xFA\x5C=\xED\x40;\xFA\x5C");
    const tarlo::DecodedText decoded = tarlo::decodeText(bytes);
    EXPECT_EQ(decoded.text, QString::fromUtf8("\u7E8A=\u7E8A;\u7E8A"));
    EXPECT_FALSE(tarlo::hasUndecodableBytes(decoded.text));
    EXPECT_EQ(tarlo::encodeText(decoded.text, decoded.spelling).toHex(' '), bytes.toHex(' '));
    // One more than the file had takes the file's first code.
    EXPECT_EQ(tarlo::encodeText(decoded.text + QString::fromUtf8("\u7E8A"), decoded.spelling),
              bytes + QByteArray("\xFA\x5C"));
}
