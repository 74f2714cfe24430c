#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "kv/rtl/exceptions.h"
#include "kv/rtl/variant.h"

using namespace kv;

TEST(Variant, KindFollowsTheCppValue) {
    EXPECT_EQ(Variant().VarType(), varEmpty);
    EXPECT_EQ(Variant(1).VarType(), varInteger);
    EXPECT_EQ(Variant(int16_t(-3)).VarType(), varInteger);
    EXPECT_EQ(Variant(3000000000u).VarType(), varInt64);
    EXPECT_EQ(Variant(int64_t(5)).VarType(), varInt64);
    EXPECT_EQ(Variant(2.5f).VarType(), varDouble);
    EXPECT_EQ(Variant(true).VarType(), varBoolean);
    EXPECT_EQ(Variant(Currency::FromScaled(15000)).VarType(), varCurrency);
    EXPECT_EQ(Variant("s").VarType(), varString);
    EXPECT_EQ(Variant('c'), Variant("c"));
    EXPECT_EQ(Variant(std::string_view("v")), Variant(std::string("v")));
    EXPECT_STREQ(VarTypeName(varCurrency), "Currency");

    // Exact comparison: kind and value.
    EXPECT_NE(Variant(1), Variant(int64_t(1)));
    EXPECT_NE(Variant(1), Variant("1"));
    EXPECT_NE(Variant(1), Variant(1.0));
    EXPECT_EQ(Variant(2.5), Variant(2.5));

    // Copies are independent.
    Variant A("text");
    Variant B = A;
    A = Variant(7);
    EXPECT_EQ(B, Variant("text"));
    B.Clear();
    EXPECT_TRUE(B.IsEmpty());
}

TEST(Variant, VarToStrFormats) {
    EXPECT_EQ(VarToStr(Variant()), "");
    EXPECT_EQ(VarToStr(Variant(-12)), "-12");
    EXPECT_EQ(VarToStr(Variant(INT64_MIN)), "-9223372036854775808");
    EXPECT_EQ(VarToStr(Variant(0.1)), "0.1");
    EXPECT_EQ(VarToStr(Variant(1e20)), "1E20");
    EXPECT_EQ(VarToStr(Variant(1.0 / 3)), "0.333333333333333");
    EXPECT_EQ(VarToStr(Variant(true)), "True");
    EXPECT_EQ(VarToStr(Variant(Currency::FromScaled(15000))), "1.5");
    EXPECT_EQ(VarToStr(Variant(Currency::FromScaled(-1))), "-0.0001");
    EXPECT_EQ(VarToStr(Variant(Currency::FromScaled(120000))), "12");
    EXPECT_EQ(VarToStr(Variant(Currency::FromScaled(INT64_MIN))), "-922337203685477.5808");
    EXPECT_EQ(VarToStr(Variant("as is")), "as is");
}

TEST(Variant, ConversionsBetweenKinds) {
    EXPECT_EQ(Variant().AsInteger(), 0);
    EXPECT_EQ(Variant(2.5).AsInteger(), 2); // halves to even
    EXPECT_EQ(Variant(3.5).AsInteger(), 4);
    EXPECT_EQ(Variant(true).AsInteger(), 1);
    EXPECT_EQ(Variant(Currency::FromScaled(25000)).AsInteger(), 2);
    EXPECT_EQ(Variant(Currency::FromScaled(-35000)).AsInteger(), -4);
    EXPECT_EQ(Variant(" 12 ").AsInteger(), 12);
    EXPECT_EQ(Variant("7.5").AsInt64(), 8);
    try {
        Variant("abc").AsInteger();
        FAIL();
    } catch (const EConvertError& E) {
        EXPECT_STREQ(E.what(),
                     "Could not convert variant of type (String) into type (Integer): abc");
    }
    EXPECT_THROW(Variant(int64_t(5000000000)).AsInteger(), EConvertError);
    EXPECT_THROW(Variant(1e300).AsInt64(), EConvertError);

    EXPECT_DOUBLE_EQ(Variant(Currency::FromScaled(12345)).AsDouble(), 1.2345);
    EXPECT_DOUBLE_EQ(Variant("-2e3").AsDouble(), -2000);
    EXPECT_THROW(Variant("x").AsDouble(), EConvertError);

    EXPECT_TRUE(Variant("TRUE").AsBoolean());
    EXPECT_FALSE(Variant("0").AsBoolean());
    EXPECT_TRUE(Variant(0.5).AsBoolean());
    EXPECT_THROW(Variant("maybe").AsBoolean(), EConvertError);

    EXPECT_EQ(Variant(1.23456).AsCurrency(), Currency::FromScaled(12346));
    EXPECT_EQ(Variant("0.5").AsCurrency(), Currency::FromScaled(5000));
    EXPECT_THROW(Variant(1e20).AsCurrency(), EConvertError);
    EXPECT_THROW(Variant(INT64_MAX).AsCurrency(), EConvertError);
    EXPECT_THROW(Currency::FromDouble(std::numeric_limits<double>::quiet_NaN()), EConvertError);
}
