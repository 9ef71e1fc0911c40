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

TEST(RunTexts, ProgressSaysWhatTheRunIsDoing) {
    using P = tarlo::RunJob::Progress;
    EXPECT_EQ(tarlo::progressText(P{.rows = 0, .fileShare = 0.456, .rowsVisited = 0}, ","), QStringLiteral("読込 45%"));
    EXPECT_EQ(tarlo::progressText(P{.rows = 0, .fileShare = -1, .rowsVisited = 2500000}, ","),
              QStringLiteral("処理 2,500,000 行"))
        << "a total that has gathered no row yet shows the rows gone through, not 0";
    EXPECT_EQ(tarlo::progressText(P{.rows = 1024, .fileShare = -1, .rowsVisited = 2500000}, ","),
              QStringLiteral("1,024 行"));
    EXPECT_EQ(tarlo::progressText(P{}, ","), QStringLiteral("処理中"));
    EXPECT_EQ(tarlo::progressText(P{.rows = 1024, .fileShare = -1, .rowsVisited = 2500000, .piecesShare = 0.31}, ","),
              QStringLiteral("分割読込 31%"))
        << "a file too big to hold says it is read in pieces, and how far";
}
