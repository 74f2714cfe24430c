#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "kv/ga/bits.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/random.h"

using namespace kv;

namespace {

// A chromosome of Size bits set from Text (bit 0 first), or drawn at random when Text is empty.
void Fill(TKvGABits& B, int32_t Size, const std::string& Text = "") {
    B.SetSize(Size);
    for (int32_t I = 0; I < Size; ++I)
        B.SetBit(I, Text.empty() ? Random(2) == 1 : Text[static_cast<size_t>(I)] == '1');
}

// Seeds the stream and draws Skip values, so that blocks start at different buffer offsets.
void Restart(uint64_t Seed, int Skip) {
    RandSeed(Seed);
    for (int I = 0; I < Skip; ++I)
        Random();
}

const int32_t Sizes[] = {0, 1, 63, 64, 65, 255, 256, 257, 3001};
const int Skips[] = {0, 1, 37, 255};

} // namespace

// The word-level operators must give exactly the bits (and take exactly the draws) of one
// Random(2) or Random() call per bit in bit order.
TEST(Chromosome, RandomizeGivesTheBitsOfOneRandom2DrawPerBit) {
    for (int32_t Size : Sizes) {
        for (int Skip : Skips) {
            TKvGABits Fast, Slow;
            Fast.SetSize(Size);
            Fast.Invert(0, Size); // all ones first, so stale bits would show
            Restart(1000 + Size, Skip);
            Fast.Randomize();
            const double NextFast = Random();

            Restart(1000 + Size, Skip);
            Slow.SetSize(Size);
            for (int32_t I = 0; I < Size; ++I)
                Slow.SetBit(I, Random(2) == 1);
            ASSERT_TRUE(Fast.Equals(Slow)) << "size " << Size << ", skip " << Skip;
            ASSERT_EQ(NextFast, Random()) << "draws taken differ, size " << Size;
        }
    }
}

TEST(Chromosome, MutateFlipsExactlyTheBitsWhoseDrawIsBelowTheProbability) {
    for (double P : {0.01, 0.5, 0.999, 1.0, 2.0, 0.0, -1.0}) {
        for (int32_t Size : Sizes) {
            for (int Skip : Skips) {
                TKvGABits Fast, Slow;
                RandSeed(7);
                Fill(Fast, Size);
                Slow.Assign(&Fast);

                Restart(2000 + Size, Skip);
                const bool FastResult = Fast.Mutate(P);
                const double NextFast = Random();

                Restart(2000 + Size, Skip);
                bool SlowResult = false;
                for (int32_t I = 0; I < Size; ++I)
                    if (Random() < P) {
                        Slow.SetBit(I, !Slow.GetBit(I));
                        SlowResult = true;
                    }
                ASSERT_TRUE(Fast.Equals(Slow)) << "P " << P << ", size " << Size;
                ASSERT_EQ(FastResult, SlowResult) << "P " << P << ", size " << Size;
                ASSERT_EQ(NextFast, Random()) << "draws taken differ, P " << P;
            }
        }
    }
    TKvGABits B;
    Fill(B, 10, "1100101000");
    EXPECT_FALSE(B.Mutate(0));
    EXPECT_EQ(B.ToBitString(), "1100101000");
    EXPECT_TRUE(B.Mutate(1));
    EXPECT_EQ(B.ToBitString(), "0011010111");
}

TEST(Chromosome, InvertComplementsARunBothEndsIncluded) {
    struct Case {
        int32_t Offset, Len;
        const char* Expected;
    };
    for (const Case& C :
         {Case{2, 3, "00111100"}, Case{3, 0, "00010000"}, Case{6, 5, "00000011"},
          Case{3, -2, "00000000"}, Case{8, 0, "00000000"}, Case{0x7fffffff, 0x7fffffff, "00000000"},
          Case{0, 0x7fffffff, "11111111"}}) {
        TKvGABits B;
        B.SetSize(8);
        B.Invert(C.Offset, C.Len);
        EXPECT_EQ(B.ToBitString(), C.Expected) << C.Offset << "," << C.Len;
    }
    TKvGABits B, Expected; // across words, against a per-bit complement
    Fill(B, 200);
    Expected.Assign(&B);
    B.Invert(60, 70);
    for (int32_t I = 60; I <= 130; ++I)
        Expected.SetBit(I, !Expected.GetBit(I));
    EXPECT_TRUE(B.Equals(Expected));
    try {
        B.Invert(-2, 3);
        FAIL() << "no error";
    } catch (const EListError& E) {
        EXPECT_STREQ(E.what(), "Invert offset out of range: -2");
    }
    EXPECT_TRUE(B.Equals(Expected));
    TKvGABits Empty;
    Empty.Invert(-1, -1);
    EXPECT_EQ(Empty.GetSize(), 0);
}

TEST(Chromosome, RandomInvertDrawsStartThenLengthAndFlipsAtLeastOneBit) {
    for (int32_t Size : {1, 2, 65, 300}) {
        for (uint64_t Seed = 1; Seed <= 50; ++Seed) {
            TKvGABits B, Expected;
            B.SetSize(Size);
            Expected.SetSize(Size);
            RandSeed(Seed);
            B.Invert(-1, -1);
            RandSeed(Seed);
            const int32_t Offset = Random(Size);
            Expected.Invert(Offset, Random(Size - Offset));
            ASSERT_TRUE(B.Equals(Expected)) << Size << "/" << Seed;
            ASSERT_TRUE(B.GetAsBoolean(0, Size)) << "nothing flipped";
        }
    }
}

TEST(Chromosome, CrossOverTakesTheHeadFromSource1AndTheTailFromSource2) {
    TKvGABits Ones, Zeros, Short, T;
    Fill(Ones, 8, "11111111");
    Fill(Zeros, 8, "00000000");
    Fill(Short, 4, "1010");
    T.SetSize(8);
    EXPECT_EQ(T.CrossOver(Ones, Zeros, 3).ToBitString(), "11110000");
    EXPECT_EQ(T.CrossOver(Ones, Zeros, -1).ToBitString(), "00000000");
    EXPECT_EQ(T.CrossOver(Ones, Zeros, 7).ToBitString(), "11111111");
    EXPECT_EQ(T.CrossOver(Zeros, Ones, 0x7fffffff).ToBitString(), "00000000");
    EXPECT_EQ(T.CrossOver(Short, Ones, 6).ToBitString(), "10101111");
    TKvGABits Long; // bits beyond both sources keep their values
    Fill(Long, 10, "0000000011");
    EXPECT_EQ(Long.CrossOver(Ones, Zeros, 2).ToBitString(), "1110000011");
}

TEST(Chromosome, CrossOverMatchesAPerBitCopyAndAllowsTheTargetAsASource) {
    RandSeed(21);
    TKvGABits A, B;
    Fill(A, 300);
    Fill(B, 300);
    for (int32_t Cross : {-1, 0, 62, 63, 64, 130, 298, 299}) {
        TKvGABits Separate, Target;
        Separate.SetSize(300);
        Separate.CrossOver(A, B, Cross);
        for (int32_t I = 0; I < 300; ++I)
            ASSERT_EQ(Separate.GetBit(I), I <= Cross ? A.GetBit(I) : B.GetBit(I)) << Cross;
        Target.Assign(&B);
        ASSERT_TRUE(Target.CrossOver(A, Target, Cross).Equals(Separate)) << Cross;
        Target.Assign(&A);
        ASSERT_TRUE(Target.CrossOver(Target, B, Cross).Equals(Separate)) << Cross;
    }
    TKvGABits Drawn, Explicit; // the random form draws the point below Source1's size
    Drawn.SetSize(300);
    Explicit.SetSize(300);
    RandSeed(33);
    Drawn.CrossOver(A, B);
    RandSeed(33);
    EXPECT_TRUE(Drawn.Equals(Explicit.CrossOver(A, B, Random(300))));
}

TEST(Chromosome, ClearOwnerAndText) {
    int Dummy = 0; // stands for an individual; the chromosome never dereferences its owner
    auto* Owner = reinterpret_cast<TKvGAIndividual*>(&Dummy);
    TKvGABits B(Owner), Other;
    EXPECT_EQ(B.GetSize(), 0);
    EXPECT_EQ(Other.GetOwner(), nullptr);
    Fill(Other, 10, "1011000001");
    B.Assign(&Other);
    EXPECT_EQ(B.GetOwner(), Owner);
    EXPECT_EQ(B.ToString(), "1011000001");
    B.Clear();
    EXPECT_EQ(B.ToString(), "0000000000");
    EXPECT_THROW(B.SetSize(-1), EListError);
    EXPECT_EQ(B.GetSize(), 10);
}

TEST(Chromosome, BitsRequiredCountsBinaryDigits) {
    const std::pair<uint32_t, int32_t> Table[] = {
        {0, 0},           {1, 1}, {2, 2},   {3, 2},   {4, 3},
        {7, 3},           {8, 4}, {255, 8}, {256, 9}, {0x80000000u, 32},
        {0xFFFFFFFFu, 32}};
    for (auto [N, Bits] : Table)
        EXPECT_EQ(BitsRequired(N), Bits) << N;
}
