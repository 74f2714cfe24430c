#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "kv/rtl/convert.h"
#include "kv/rtl/exceptions.h"

using namespace kv;

TEST(Convert, IntegersToAndFromText) {
    EXPECT_EQ(IntToStr(INT32_MIN), "-2147483648");
    EXPECT_EQ(IntToStr(INT64_MAX), "9223372036854775807");
    EXPECT_EQ(IntToStr(uint8_t(200)), "200");

    EXPECT_EQ(StrToInt(" 42 "), 42);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("$FF"), 255);
    EXPECT_EQ(StrToInt("-0x10"), -16);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
    for (const char* Bad :
         {"abc", "", " ", "2147483648", "-2147483649", "12a", "--1", "- 1", "$", "1.5", "0x"}) {
        int32_t V = 99;
        EXPECT_FALSE(TryStrToInt(Bad, V)) << Bad;
        EXPECT_EQ(V, 99);
        EXPECT_THROW(StrToInt(Bad), EConvertError) << Bad;
    }
    EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
    try {
        StrToInt("abc");
        FAIL();
    } catch (const EConvertError& E) {
        EXPECT_STREQ(E.what(), "'abc' is not a valid integer value");
    }
}

TEST(Convert, FloatToStrUsesGeneralFormatWith15Digits) {
    struct {
        double Value;
        const char* Text;
    } Cases[] = {{0, "0"},
                 {-0.0, "0"},
                 {0.1, "0.1"},
                 {0.1 + 0.2, "0.3"},
                 {1.0 / 3, "0.333333333333333"},
                 {2.0 / 3, "0.666666666666667"},
                 {100, "100"},
                 {-123.456, "-123.456"},
                 {999999999999999, "999999999999999"},
                 {1e15, "1E15"},
                 {1e20, "1E20"},
                 {-2.5e20, "-2.5E20"},
                 {0.00001, "0.00001"},
                 {0.000001, "1E-6"},
                 {1.5e-7, "1.5E-7"},
                 {1e100, "1E100"},
                 {DBL_MAX, "1.79769313486232E308"},
                 {9.9999999999999999e14, "1E15"}, // rounds up to 16 digits before the point
                 {std::numeric_limits<double>::infinity(), "INF"},
                 {-std::numeric_limits<double>::infinity(), "-INF"},
                 {std::numeric_limits<double>::quiet_NaN(), "NAN"}};
    for (const auto& C : Cases)
        EXPECT_EQ(FloatToStr(C.Value), C.Text) << C.Text;
}

TEST(Convert, StrToFloatIsLocaleFreeAndStrict) {
    EXPECT_EQ(StrToFloat(" 1.5 "), 1.5);
    EXPECT_EQ(StrToFloat("-2e3"), -2000);
    EXPECT_EQ(StrToFloat(".5"), 0.5);
    EXPECT_EQ(StrToFloat("+7"), 7);
    EXPECT_EQ(StrToFloat("1E20"), 1e20);
    EXPECT_EQ(StrToFloat("1e-400"), 0);
    EXPECT_TRUE(std::isinf(StrToFloat("INF")));
    EXPECT_TRUE(std::isnan(StrToFloat("nan")));
    for (double V : {0.1, 1.0 / 3, -2.5e20, 1.5e-7, 123456.789})
        EXPECT_NEAR(StrToFloat(FloatToStr(V)), V, std::abs(V) * 1e-14);
    for (const char* Bad : {"abc", "", "1,5", "1e", "1e999", "0x10", "+-1", "1.5x"}) {
        double V = 99;
        EXPECT_FALSE(TryStrToFloat(Bad, V)) << Bad;
        EXPECT_EQ(V, 99);
    }
    try {
        StrToFloat("1,5");
        FAIL();
    } catch (const EConvertError& E) {
        EXPECT_STREQ(E.what(), "'1,5' is not a valid floating point value");
    }
}

TEST(Convert, BooleansAndUtf16) {
    EXPECT_EQ(BoolToStr(true), "True");
    EXPECT_EQ(BoolToStr(false), "False");
    EXPECT_TRUE(StrToBool("true"));
    EXPECT_FALSE(StrToBool(" FALSE "));
    EXPECT_TRUE(StrToBool("-1"));
    EXPECT_FALSE(StrToBool("0"));
    EXPECT_THROW(StrToBool("yes"), EConvertError);
    EXPECT_EQ(Utf16ToUtf8(u"a\u00e9\u20ac\U0001F600"), "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00)) + u"x"), "\xef\xbf\xbdx");
}

TEST(Convert, RoundHalfEvenWhateverTheRoundingMode) {
    const int Mode = std::fegetround();
    for (int Rounding : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(Rounding);
        EXPECT_EQ(RoundHalfEven(2.5), 2.0);
        EXPECT_EQ(RoundHalfEven(3.5), 4.0);
        EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
        EXPECT_EQ(RoundHalfEven(-3.5), -4.0);
        EXPECT_EQ(RoundHalfEven(2.4999999999999996), 2.0);
        EXPECT_EQ(RoundHalfEven(-0.7), -1.0);
        EXPECT_EQ(RoundHalfEven(4503599627370497.0), 4503599627370497.0); // 2^52 + 1
    }
    std::fesetround(Mode);
}

TEST(Convert, SaturateToSingleAndAppendUtf8) {
    // Beyond the float range a plain conversion would be undefined; the result saturates.
    EXPECT_EQ(SaturateToSingle(1e300), std::numeric_limits<float>::infinity());
    EXPECT_EQ(SaturateToSingle(-1e300), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(SaturateToSingle(double(FLT_MAX)), FLT_MAX);
    EXPECT_EQ(SaturateToSingle(0.1), 0.1f);
    EXPECT_TRUE(std::isnan(SaturateToSingle(std::nan(""))));

    // One code point at each length of the encoding, appended to what is there.
    std::string Out = "x";
    for (char32_t C : {U'\u0041', U'\u07FF', U'\u0800', U'\uFFFF', U'\U00010000', U'\U0010FFFF'})
        AppendUtf8(Out, C);
    EXPECT_EQ(Out, "xA\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf");
}
