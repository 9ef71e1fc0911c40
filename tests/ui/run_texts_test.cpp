#include "ui/run_texts.h"

#include <gtest/gtest.h>

TEST(RunTexts, CountGroupsDigitsByThrees) {
    EXPECT_EQ(tarlo::groupedNumber(1234567, ","), QStringLiteral("1,234,567"));
    EXPECT_EQ(tarlo::groupedNumber(1234567, ""), QStringLiteral("1,234,567"));
    EXPECT_EQ(tarlo::groupedNumber(1234567, "."), QStringLiteral("1.234.567"));
    EXPECT_EQ(tarlo::groupedNumber(0, ","), QStringLiteral("0"));
    EXPECT_EQ(tarlo::groupedNumber(999, ","), QStringLiteral("999"));
    EXPECT_EQ(tarlo::groupedNumber(1000, ","), QStringLiteral("1,000"));
}

TEST(RunTexts, TitleFromFieldNames) {
    EXPECT_EQ(tarlo::titleOfFields({"NoName", "NoName1", ""}), QStringLiteral("_0 1 _0"));
    EXPECT_EQ(tarlo::titleOfFields({"id", "xNoNamey", "名前"}), QStringLiteral("id y 名前"));
    EXPECT_EQ(tarlo::titleOfFields({" a", "b "}), QStringLiteral("a b"));
    EXPECT_EQ(tarlo::titleOfFields({}), QString());
}
