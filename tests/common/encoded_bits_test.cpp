#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "kv/common/encoded_bits.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/random.h"

using namespace kv;

namespace {

void FillRandom(TKvEncodedBits& Bits, int32_t Size, uint64_t Seed) {
    RandSeed(Seed);
    Bits.SetSize(Size);
    for (int32_t I = 0; I < Size; ++I)
        Bits.SetBit(I, Random(2) == 1);
}

} // namespace

TEST(EncodedBits, IntegersLieLeastSignificantBitFirstAndChangeOnlyTheirRun) {
    TKvEncodedBits B;
    B.SetSize(16);
    B.SetAsInteger(3, 4, 5);
    EXPECT_EQ(B.ToBitString(), "0001010000000000");
    EXPECT_EQ(B.GetAsInteger(3, 4), 5);

    // Every start and width crossing word boundaries, against a per-bit model.
    FillRandom(B, 200, 3);
    std::string Model = B.ToBitString();
    uint64_t Value = 0x9e3779b97f4a7c15ULL;
    for (int32_t Start : {0, 1, 37, 63, 64, 65, 127, 136}) {
        for (int32_t Count : {1, 7, 31, 32, 33, 63, 64}) {
            Value = Value * 6364136223846793005ULL + 1442695040888963407ULL;
            B.SetAsInt64(Start, Count, static_cast<int64_t>(Value));
            for (int32_t I = 0; I < Count; ++I)
                Model[static_cast<size_t>(Start + I)] = ((Value >> I) & 1) ? '1' : '0';
            ASSERT_EQ(B.ToBitString(), Model) << Start << "/" << Count;
            const uint64_t Expected = Count == 64 ? Value : Value & ((uint64_t(1) << Count) - 1);
            ASSERT_EQ(static_cast<uint64_t>(B.GetAsInt64(Start, Count)), Expected);
        }
    }
}

TEST(EncodedBits, SignFlagMakesTheTopBitOfTheRunASignBit) {
    TKvEncodedBits B;
    B.SetSize(200);
    B.PreserveSignBit = true;
    B.SetAsInteger(8, 8, -3);
    EXPECT_EQ(B.GetAsInteger(8, 8), -3);
    for (int32_t Count : {1, 2, 17, 33, 63}) {
        const int64_t Lowest = -(int64_t(1) << (Count - 1));
        for (int64_t V : {Lowest, int64_t(-1), int64_t(0), -Lowest - 1}) {
            B.SetAsInt64(61, Count, V);
            ASSERT_EQ(B.GetAsInt64(61, Count), V) << Count;
        }
    }
    B.SetAsInteger(16, 40, -2); // stored modulo 2^40
    EXPECT_EQ(B.GetAsInt64(16, 40), -2);
    B.SetAsInt64(100, 100, -5); // wider than 64 bits: the sign fills the rest of the run
    EXPECT_EQ(B.GetAsBitString(164, 36), std::string(36, '1'));
    EXPECT_EQ(B.GetAsInt64(100, 100), -5);

    B.PreserveSignBit = false;
    EXPECT_EQ(B.GetAsInteger(8, 8), 253);
    EXPECT_EQ(B.GetAsInt64(16, 40), (int64_t(1) << 40) - 2);
}

TEST(EncodedBits, FloatsUseIeeeBitsAtTheirNaturalWidthAndRoundedIntegersElsewhere) {
    TKvEncodedBits B;
    B.SetSize(200);
    B.SetAsFloat(5, 32, -0.1f);
    EXPECT_EQ(B.GetAsFloat(5, 32), -0.1f);
    EXPECT_EQ(B.GetAsInteger(5, 32), std::bit_cast<int32_t>(-0.1f));
    B.SetAsDouble(70, 64, -1.0 / 3.0);
    EXPECT_EQ(B.GetAsDouble(70, 64), -1.0 / 3.0);
    EXPECT_EQ(B.GetAsFloat(5, 32), -0.1f);
    B.SetAsDouble(140, 32, 1e6 + 0.5); // a double in 32 bits is an integer
    EXPECT_EQ(B.GetAsInteger(140, 32), 1000000);

    // Narrow runs round halves to even and saturate at the run's range; all-ones neighbours stay.
    B.SetAsInt64(0, 64, -1);
    struct Case {
        bool Signed;
        double In, Out;
    };
    const double NaN = std::numeric_limits<double>::quiet_NaN();
    const double Inf = std::numeric_limits<double>::infinity();
    for (const Case& C : {Case{false, 2.5, 2}, Case{false, 3.5, 4}, Case{false, 300, 255},
                          Case{false, -5, 0}, Case{false, NaN, 0}, Case{false, Inf, 255},
                          Case{true, -2.5, -2}, Case{true, 200, 127}, Case{true, -Inf, -128}}) {
        B.PreserveSignBit = C.Signed;
        B.SetAsDouble(20, 8, C.In);
        EXPECT_EQ(B.GetAsDouble(20, 8), C.Out) << C.In;
        B.SetAsFloat(20, 8, static_cast<float>(C.In));
        EXPECT_EQ(B.GetAsFloat(20, 8), static_cast<float>(C.Out)) << C.In;
    }
    EXPECT_EQ(B.GetAsBitString(0, 20) + B.GetAsBitString(28, 36), std::string(56, '1'));
    B.PreserveSignBit = false;
    B.SetAsDouble(0, 63, 1e300); // no overflow in the conversion at the widest runs
    EXPECT_EQ(B.GetAsInt64(0, 63), std::numeric_limits<int64_t>::max());
}

TEST(EncodedBits, RoundedWritesSaturateExactlyAtTheRunsBounds) {
    // Each case: the run's width and sign, the value written as a double and as a float (when a
    // float holds it exactly), and what the run reads back.
    struct Case {
        int32_t Width;
        bool Signed;
        double In;
        int64_t Out;
    };
    const double P52 = std::ldexp(1.0, 52), P53 = std::ldexp(1.0, 53), P62 = std::ldexp(1.0, 62);
    const int64_t I52 = int64_t(1) << 52, I53 = int64_t(1) << 53, I62 = int64_t(1) << 62;
    const Case Cases[] = {
        {8, true, 127, 127},
        {8, true, 127.5, 127},
        {8, true, 128, 127},
        {8, true, -128, -128},
        {8, true, -128.5, -128},
        {8, true, -129, -128},
        {8, false, 255, 255},
        {8, false, 255.5, 255},
        {8, false, 256, 255},
        {8, false, 0, 0},
        {8, false, -0.5, 0},
        {8, false, -1, 0},
        {24, true, 8388607, 8388607},
        {24, true, 8388608, 8388607},
        {24, true, -8388608, -8388608},
        {24, true, -8388609, -8388608},
        {24, false, 16777215, 16777215},
        {24, false, 16777216, 16777215},
        {53, false, P53 - 1, I53 - 1},
        {53, false, P53, I53 - 1},
        {53, true, P52 - 1, I52 - 1},
        {53, true, P52, I52 - 1},
        {53, true, -P52, -I52},
        {53, true, -P52 - 1, -I52},
        {63, false, P62 * 2, std::numeric_limits<int64_t>::max()},
        {63, true, P62, I62 - 1},
        {63, true, -P62, -I62},
        {63, true, -P62 - 2048, -I62},
    };
    TKvEncodedBits B;
    B.SetSize(80);
    for (const Case& C : Cases) {
        SCOPED_TRACE(std::to_string(C.Width) + (C.Signed ? " signed bits, " : " bits, ") +
                     std::to_string(C.In));
        B.PreserveSignBit = C.Signed;
        B.SetAsDouble(3, C.Width, C.In);
        EXPECT_EQ(B.GetAsInt64(3, C.Width), C.Out);
        if (static_cast<double>(static_cast<float>(C.In)) == C.In) {
            B.SetAsInt64(3, C.Width, 0);
            B.SetAsFloat(3, C.Width, static_cast<float>(C.In));
            EXPECT_EQ(B.GetAsInt64(3, C.Width), C.Out);
        }
    }
}

TEST(EncodedBits, BooleansReadAnySetBitAndWriteOneOrZero) {
    TKvEncodedBits B;
    B.SetSize(130);
    B.SetBit(120, true);
    EXPECT_TRUE(B.GetAsBoolean(1, 129));
    EXPECT_FALSE(B.GetAsBoolean(1, 119));
    B.SetAsBoolean(60, 5, true);
    EXPECT_EQ(B.GetAsBitString(60, 5), "10000");
    B.SetAsBoolean(60, 5, false);
    EXPECT_FALSE(B.GetAsBoolean(0, 120));
}

TEST(EncodedBits, BitStringTextRoundTripsAndRejectsOtherCharacters) {
    TKvEncodedBits B, C;
    FillRandom(B, 300, 17);
    const std::string Text = B.ToBitString();
    for (int32_t I : {0, 63, 64, 299})
        EXPECT_EQ(Text[static_cast<size_t>(I)], B.GetBit(I) ? '1' : '0');
    C.SetSize(300);
    C.SetAsBitString(0, C.GetSize(), Text);
    EXPECT_TRUE(C.Equals(B));
    EXPECT_EQ(C.GetAsBitString(61, 70), Text.substr(61, 70));

    // A short text leaves the rest of its run 0; surplus characters are ignored.
    C.SetAsBitString(10, 8, "111");
    EXPECT_EQ(C.GetAsBitString(8, 12), Text.substr(8, 2) + "11100000" + Text.substr(18, 2));
    C.SetAsBitString(10, 3, "0101111");
    EXPECT_EQ(C.GetAsBitString(10, 8), "01000000");

    const std::string Before = C.ToBitString();
    try {
        C.SetAsBitString(0, 4, "01x1");
        FAIL() << "no error";
    } catch (const EConvertError& E) {
        EXPECT_STREQ(E.what(),
                     "\"01x1\" is not a valid bit string: the character at index 2 is not 0 or 1");
    }
    EXPECT_THROW(C.SetAsBitString(0, 2, "11 "), EConvertError);
    EXPECT_EQ(C.ToBitString(), Before);
}

TEST(EncodedBits, RunsOutsideTheArrayRaiseListErrorAndChangeNothing) {
    TKvEncodedBits B;
    B.SetSize(10);
    B.SetAsInteger(0, 10, 0x2AA);
    try {
        B.SetAsInteger(8, 3, 1);
        FAIL() << "no error";
    } catch (const EListError& E) {
        EXPECT_STREQ(E.what(), "Bit run out of range: start 8, count 3 (size 10)");
    }
    EXPECT_THROW(B.GetAsInteger(-1, 2), EListError);
    EXPECT_THROW(B.GetAsInt64(2, -1), EListError);
    EXPECT_THROW(B.SetAsDouble(0x7fffffff, 0x7fffffff, 1.0), EListError);
    EXPECT_EQ(B.GetAsInteger(0, 10), 0x2AA);
    EXPECT_EQ(B.GetAsBitString(10, 0), ""); // an empty run at the end is inside
    B.SetAsDouble(10, 0, 5.0);
    EXPECT_EQ(B.GetAsInteger(0, 10), 0x2AA);
}

TEST(EncodedBits, AssignTakesSizeBitsAndSignFlag) {
    TKvEncodedBits A, B;
    A.SetSize(77);
    A.SetAsInt64(13, 64, 0x0123456789abcdefLL);
    A.PreserveSignBit = true;
    B.Assign(&A);
    EXPECT_TRUE(B.Equals(A));
    EXPECT_TRUE(B.PreserveSignBit);
    TBits Plain;
    Plain.SetSize(3);
    Plain.SetBit(1, true);
    B.Assign(&Plain);
    EXPECT_EQ(B.ToString(), "010");
}
