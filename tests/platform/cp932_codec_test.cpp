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
