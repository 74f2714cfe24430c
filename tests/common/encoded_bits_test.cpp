#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "kv/common/encoded_bits.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/random.h"

using namespace kv;

namespace {

// Fills Bits with random bits and returns them as a per-bit model.
std::vector<bool> FillRandom(TKvEncodedBits& Bits, int32_t Size, uint64_t Seed) {
    RandSeed(Seed);
    Bits.SetSize(Size);
    std::vector<bool> Model(static_cast<size_t>(Size));
    for (int32_t I = 0; I < Size; ++I) {
        Model[static_cast<size_t>(I)] = Random(2) == 1;
        Bits.SetBit(I, Model[static_cast<size_t>(I)]);
    }
    return Model;
}

void ExpectBits(const TKvEncodedBits& Bits, const std::vector<bool>& Model, const char* What) {
    ASSERT_EQ(static_cast<size_t>(Bits.GetSize()), Model.size()) << What;
    for (size_t I = 0; I < Model.size(); ++I)
        ASSERT_EQ(Bits.GetBit(static_cast<int32_t>(I)), Model[I]) << What << ", bit " << I;
}

} // namespace

TEST(EncodedBits, IntegerRunsLieLeastSignificantBitFirst) {
    TKvEncodedBits B;
    B.SetSize(16);
    B.SetAsInteger(3, 4, 5);
    EXPECT_EQ(B.ToBitString(), "0001010000000000");
    EXPECT_EQ(B.GetAsInteger(3, 4), 5);

    B.PreserveSignBit = true;
    B.SetAsInteger(8, 8, -3);
    EXPECT_EQ(B.GetAsInteger(8, 8), -3);
    B.PreserveSignBit = false;
    EXPECT_EQ(B.GetAsInteger(8, 8), 253); // the same bits read unsigned
    EXPECT_EQ(B.GetAsInteger(3, 4), 5);
}

TEST(EncodedBits, WritesAtAnyStartAndCountChangeOnlyTheirRun) {
    TKvEncodedBits B;
    std::vector<bool> Model = FillRandom(B, 200, 3);
    uint64_t Value = 0x9e3779b97f4a7c15ULL;
    for (int32_t Start : {0, 1, 37, 60, 63, 64, 65, 100, 127, 136}) {
        for (int32_t Count : {1, 2, 7, 31, 32, 33, 63, 64}) {
            if (Start + Count > 200)
                continue;
            Value = Value * 6364136223846793005ULL + 1442695040888963407ULL;
            B.SetAsInt64(Start, Count, static_cast<int64_t>(Value));
            for (int32_t I = 0; I < Count; ++I)
                Model[static_cast<size_t>(Start + I)] = (Value >> I) & 1;
            ExpectBits(B, Model, "after SetAsInt64");
            const uint64_t Expected = Count == 64 ? Value : Value & ((uint64_t(1) << Count) - 1);
            ASSERT_EQ(static_cast<uint64_t>(B.GetAsInt64(Start, Count)), Expected)
                << Start << "/" << Count;
            ASSERT_EQ(B.GetAsInteger(Start, Count), static_cast<int32_t>(Expected));
        }
    }
}

TEST(EncodedBits, SignFlagDecidesHowTheTopBitReads) {
    TKvEncodedBits B;
    B.SetSize(200);
    B.PreserveSignBit = true;
    for (int32_t Count : {1, 2, 5, 17, 32, 33, 63}) {
        const int64_t Lowest = -(int64_t(1) << (Count - 1));
        const int64_t Highest = (int64_t(1) << (Count - 1)) - 1;
        for (int64_t V : {Lowest, Lowest + 1, int64_t(-1), int64_t(0), Highest}) {
            if (V < Lowest || V > Highest)
                continue;
            B.SetAsInt64(61, Count, V);
            ASSERT_EQ(B.GetAsInt64(61, Count), V) << Count;
        }
    }
    B.SetAsInt64(5, 64, std::numeric_limits<int64_t>::min());
    EXPECT_EQ(B.GetAsInt64(5, 64), std::numeric_limits<int64_t>::min());

    // A 32-bit value in a 40-bit run is stored modulo 2^40: -2 sign-extends.
    B.SetAsInteger(0, 40, -2);
    EXPECT_EQ(B.GetAsInt64(0, 40), -2);
    B.PreserveSignBit = false;
    EXPECT_EQ(B.GetAsInt64(0, 40), (int64_t(1) << 40) - 2);
    // Unsigned reads of a full 32-bit run wrap into the 32-bit result.
    B.SetAsInteger(0, 32, -7);
    EXPECT_EQ(B.GetAsInteger(0, 32), -7);

    // Runs wider than 64 bits: the value's sign fills the high bits, reads take the low 64.
    B.SetAsInt64(10, 100, -5);
    EXPECT_EQ(B.GetAsBitString(74, 36), std::string(36, '1'));
    EXPECT_EQ(B.GetAsInt64(10, 100), -5);
    B.SetAsInt64(10, 100, 5);
    EXPECT_EQ(B.GetAsBitString(74, 36), std::string(36, '0'));
    EXPECT_EQ(B.GetAsInt64(10, 100), 5);
}

TEST(EncodedBits, FloatsUseIeeeBitsOnlyAtTheirNaturalWidth) {
    TKvEncodedBits B;
    B.SetSize(200);
    B.SetAsFloat(5, 32, 0.1f);
    EXPECT_EQ(B.GetAsFloat(5, 32), 0.1f);
    EXPECT_EQ(B.GetAsInteger(5, 32), std::bit_cast<int32_t>(0.1f));
    B.SetAsFloat(40, 32, -2.5f); // the IEEE sign needs no sign flag
    EXPECT_EQ(B.GetAsFloat(40, 32), -2.5f);

    B.SetAsDouble(70, 64, -1.0 / 3.0);
    EXPECT_EQ(B.GetAsDouble(70, 64), -1.0 / 3.0);
    EXPECT_EQ(B.GetAsInt64(70, 64), std::bit_cast<int64_t>(-1.0 / 3.0));
    EXPECT_EQ(B.GetAsFloat(5, 32), 0.1f); // the neighbours are untouched

    // Any other width holds a rounded integer; a double in 32 bits is such an integer too.
    B.SetAsInteger(140, 32, 7);
    EXPECT_EQ(B.GetAsDouble(140, 32), 7.0);
    B.SetAsDouble(140, 32, 1e6 + 0.5);
    EXPECT_EQ(B.GetAsInteger(140, 32), 1000000);
    B.SetAsFloat(136, 64, 3.0f);
    EXPECT_EQ(B.GetAsInt64(136, 64), 3);
}

TEST(EncodedBits, NarrowFloatRunsRoundHalfToEvenAndSaturate) {
    TKvEncodedBits B;
    B.SetSize(64);
    B.SetAsInteger(0, 64, -1); // all ones around the run
    struct Case {
        bool Signed;
        double In;
        double Out;
    };
    const double NaN = std::numeric_limits<double>::quiet_NaN();
    const double Inf = std::numeric_limits<double>::infinity();
    for (const Case& C :
         {Case{false, 2.5, 2}, Case{false, 3.5, 4}, Case{false, 2.4999, 2}, Case{false, 254.5, 254},
          Case{false, 300, 255}, Case{false, -5, 0}, Case{false, NaN, 0}, Case{false, Inf, 255},
          Case{false, -Inf, 0}, Case{true, -2.5, -2}, Case{true, -3.5, -4}, Case{true, 127.4, 127},
          Case{true, 200, 127}, Case{true, -200, -128}, Case{true, -Inf, -128},
          Case{true, NaN, 0}}) {
        B.PreserveSignBit = C.Signed;
        B.SetAsDouble(20, 8, C.In);
        EXPECT_EQ(B.GetAsDouble(20, 8), C.Out) << C.In << (C.Signed ? " signed" : "");
        EXPECT_EQ(B.GetAsFloat(20, 8), static_cast<float>(C.Out));
        B.SetAsFloat(20, 8, static_cast<float>(C.In));
        EXPECT_EQ(B.GetAsDouble(20, 8), C.Out);
    }
    EXPECT_EQ(B.GetAsBitString(0, 20), std::string(20, '1'));
    EXPECT_EQ(B.GetAsBitString(28, 36), std::string(36, '1'));

    // The widest integer runs saturate at their ends instead of overflowing the conversion.
    B.PreserveSignBit = false;
    B.SetAsDouble(0, 63, 1e300);
    EXPECT_EQ(B.GetAsInt64(0, 63), std::numeric_limits<int64_t>::max());
    B.PreserveSignBit = true;
    B.SetAsDouble(0, 63, -1e300);
    EXPECT_EQ(B.GetAsInt64(0, 63), -(int64_t(1) << 62));
}

TEST(EncodedBits, BooleanRunsReadAnySetBitAndWriteOneOrZero) {
    TKvEncodedBits B;
    B.SetSize(130);
    EXPECT_FALSE(B.GetAsBoolean(0, 130));
    B.SetBit(120, true);
    EXPECT_TRUE(B.GetAsBoolean(1, 129));
    EXPECT_FALSE(B.GetAsBoolean(1, 119));
    B.PreserveSignBit = true; // plays no part
    B.SetAsBoolean(60, 5, true);
    EXPECT_EQ(B.GetAsBitString(60, 5), "10000");
    EXPECT_TRUE(B.GetAsBoolean(60, 5));
    B.SetAsBoolean(60, 5, false);
    EXPECT_FALSE(B.GetAsBoolean(60, 5));
    EXPECT_FALSE(B.GetAsBoolean(60, 0));
}

TEST(EncodedBits, BitStringTextRoundTripsAndRejectsOtherCharacters) {
    TKvEncodedBits B;
    std::vector<bool> Model = FillRandom(B, 300, 17);
    const std::string Text = B.ToBitString();
    ASSERT_EQ(Text.size(), 300u);
    for (size_t I = 0; I < Text.size(); ++I)
        ASSERT_EQ(Text[I], Model[I] ? '1' : '0') << I;
    EXPECT_EQ(B.ToString(), Text);

    TKvEncodedBits C;
    C.SetSize(300);
    C.SetAsBitString(0, C.GetSize(), Text);
    EXPECT_TRUE(C.Equals(B));
    EXPECT_EQ(C.GetAsBitString(61, 70), Text.substr(61, 70));

    // A short text fills the rest of its run with zeros; surplus characters are ignored.
    C.SetAsBitString(10, 8, "111");
    EXPECT_EQ(C.GetAsBitString(10, 8), "11100000");
    C.SetAsBitString(10, 3, "0101111");
    EXPECT_EQ(C.GetAsBitString(10, 8), "01000000");
    EXPECT_EQ(C.GetAsBitString(0, 10), Text.substr(0, 10));
    EXPECT_EQ(C.GetAsBitString(18, 282), Text.substr(18));

    const std::string Before = C.ToBitString();
    try {
        C.SetAsBitString(0, 4, "01x1");
        FAIL() << "no error";
    } catch (const EConvertError& E) {
        EXPECT_STREQ(E.what(),
                     "\"01x1\" is not a valid bit string: the character at index 2 is not 0 or 1");
    }
    EXPECT_THROW(C.SetAsBitString(0, 2, "11 "), EConvertError); // surplus characters count too
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
    EXPECT_THROW(B.GetAsBitString(0, 11), EListError);
    EXPECT_THROW(B.SetAsDouble(0x7fffffff, 0x7fffffff, 1.0), EListError);
    EXPECT_THROW(B.SetAsBitString(5, 6, "1"), EListError);
    EXPECT_EQ(B.GetAsInteger(0, 10), 0x2AA);

    // An empty run at the end is inside.
    EXPECT_EQ(B.GetAsInteger(10, 0), 0);
    EXPECT_EQ(B.GetAsBitString(10, 0), "");
    B.SetAsDouble(10, 0, 5.0);
    TKvEncodedBits Empty;
    EXPECT_EQ(Empty.ToBitString(), "");
    EXPECT_EQ(Empty.GetAsInt64(0, 0), 0);
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
    EXPECT_EQ(B.ToBitString(), "010");
    EXPECT_TRUE(B.PreserveSignBit); // a plain bit array has no flag to give
}
