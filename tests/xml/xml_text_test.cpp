#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "kv/xml/xml_text.h"

using namespace kv;

namespace {
uint32_t FloatBits(float F) {
    uint32_t U;
    std::memcpy(&U, &F, sizeof U);
    return U;
}
} // namespace

TEST(XMLText, SinglesRoundTripExactlyInTheirShortestForm) {
    EXPECT_EQ(SingleToXMLText(0.1f), "0.1");
    EXPECT_EQ(SingleToXMLText(0.98f), "0.98");
    // A float widened to double needs many more digits; the single form must not show them.
    EXPECT_EQ(DoubleToXMLText(double(0.98f)), "0.9800000190734863");
    const float Samples[] = {0.1f,
                             -0.0f,
                             1.0f / 3.0f,
                             std::numeric_limits<float>::max(),
                             std::numeric_limits<float>::min(),
                             std::numeric_limits<float>::denorm_min(),
                             -123456.79f,
                             16777217.0f};
    for (float F : Samples) {
        float Back = -1;
        ASSERT_TRUE(TryXMLTextToSingle(SingleToXMLText(F), Back)) << SingleToXMLText(F);
        EXPECT_EQ(FloatBits(F), FloatBits(Back)) << SingleToXMLText(F);
    }
    // Reading as single rounds the decimal once, to the nearest float.
    float F = 0;
    ASSERT_TRUE(TryXMLTextToSingle("0.1", F));
    EXPECT_EQ(F, 0.1f);
    EXPECT_NE(double(F), 0.1);
}

TEST(XMLText, DoublesAndIntegersRoundTrip) {
    const double Doubles[] = {0.1,   -2.5e-300,
                              1e300, 123456789.123456789,
                              -0.0,  std::numeric_limits<double>::denorm_min()};
    for (double D : Doubles) {
        double Back = -1;
        ASSERT_TRUE(TryXMLTextToDouble(DoubleToXMLText(D), Back));
        EXPECT_EQ(std::signbit(D), std::signbit(Back));
        EXPECT_EQ(D, Back);
    }
    double Inf = 0;
    ASSERT_TRUE(TryXMLTextToDouble(DoubleToXMLText(-HUGE_VAL), Inf));
    EXPECT_EQ(Inf, -HUGE_VAL);
    double NaN = 0;
    ASSERT_TRUE(TryXMLTextToDouble(DoubleToXMLText(std::nan("")), NaN));
    EXPECT_TRUE(std::isnan(NaN));

    for (int I : {0, -1, 2147483647, -2147483647 - 1}) {
        int Back = 7;
        ASSERT_TRUE(TryXMLTextToInteger(IntegerToXMLText(I), Back));
        EXPECT_EQ(I, Back);
    }
}

TEST(XMLText, ReadingAcceptsSurroundingSpaceAndRefusesEverythingElse) {
    int I = 0;
    EXPECT_TRUE(TryXMLTextToInteger(" \t\r\n42\n ", I));
    EXPECT_EQ(I, 42);
    EXPECT_TRUE(TryXMLTextToInteger("+7", I));
    EXPECT_EQ(I, 7);
    I = 5;
    for (const char* Bad :
         {"", "   ", "4 2", "42x", "0x10", "2147483648", "-2147483649", "+-1", "++1", "1.0", "\v1"})
        EXPECT_FALSE(TryXMLTextToInteger(Bad, I)) << '"' << Bad << '"';
    EXPECT_EQ(I, 5) << "a failed read leaves the value unchanged";

    double D = 0;
    EXPECT_TRUE(TryXMLTextToDouble("  -1.5E+3 ", D));
    EXPECT_EQ(D, -1500.0);
    for (const char* Bad : {"", "1,5", "1.5.", "e5", "1e", "0x1p3", "- 1", "1e400"})
        EXPECT_FALSE(TryXMLTextToDouble(Bad, D)) << '"' << Bad << '"';
    // Too small a magnitude reads as zero of its sign; too large does not read.
    EXPECT_TRUE(TryXMLTextToDouble("-1e-400", D));
    EXPECT_TRUE(D == 0 && std::signbit(D));
    float F = 1;
    EXPECT_TRUE(TryXMLTextToSingle("1e-50", F));
    EXPECT_EQ(F, 0.0f);
    EXPECT_TRUE(TryXMLTextToSingle("0.00000000000000000000000000000000000000000000000001", F));
    EXPECT_EQ(F, 0.0f);
    EXPECT_FALSE(TryXMLTextToSingle("1e39", F));
    EXPECT_FALSE(TryXMLTextToSingle("100000000000000000000000000000000000000000", F));

    bool B = false;
    EXPECT_EQ(BooleanToXMLText(true), "true");
    EXPECT_EQ(BooleanToXMLText(false), "false");
    EXPECT_TRUE(TryXMLTextToBoolean(" TRUE ", B) && B);
    EXPECT_TRUE(TryXMLTextToBoolean("False", B) && !B);
    EXPECT_TRUE(TryXMLTextToBoolean("1", B) && B);
    EXPECT_TRUE(TryXMLTextToBoolean("0", B) && !B);
    for (const char* Bad : {"", "yes", "truex", "2", "-1", "t"})
        EXPECT_FALSE(TryXMLTextToBoolean(Bad, B)) << '"' << Bad << '"';
}
