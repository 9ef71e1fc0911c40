#include "workspace/field_names.h"

#include <gtest/gtest.h>

TEST(FieldNames, RepeatsGetTheFirstSuffixNoOtherNameHas) {
    EXPECT_EQ(tarlo::uniqueFieldNames({"a", "b", "Expr1000"}), (QStringList{"a", "b", "Expr1000"}));
    EXPECT_EQ(tarlo::uniqueFieldNames({"a", "a", "a"}), (QStringList{"a", "a_1", "a_2"}));
    // A later field's own name is not given away, and case does not make a name another.
    EXPECT_EQ(tarlo::uniqueFieldNames({"a", "A", "a_1", "a_2"}), (QStringList{"a", "A_3", "a_1", "a_2"}));
    EXPECT_EQ(tarlo::uniqueFieldNames({"名前", "名前", "", ""}), (QStringList{"名前", "名前_1", "", "_1"}));
    EXPECT_EQ(tarlo::uniqueFieldNames({"ａ", "Ａ"}), (QStringList{"ａ", "Ａ_1"}));
}
