#include <gtest/gtest.h>

#include <bit>
#include <cmath>
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

TEST(Chromosome, TwoPointCrossOverTakesTheMiddleFromSource2) {
    TKvGABits Ones, Zeros, T;
    Fill(Ones, 8, "11111111");
    Fill(Zeros, 8, "00000000");
    T.SetSize(8);
    EXPECT_EQ(T.CrossOver(Ones, Zeros, 1, 4).ToBitString(), "11000111");
    EXPECT_EQ(T.CrossOver(Ones, Zeros, 4, 1).ToBitString(), "11000111"); // either order
    EXPECT_EQ(T.CrossOver(Ones, Zeros, 3, 3).ToBitString(), "11111111");
    EXPECT_EQ(T.CrossOver(Ones, Zeros, -1, 7).ToBitString(), "00000000");
    EXPECT_EQ(T.CrossOver(Ones, Zeros, -1, 0x7fffffff).ToBitString(), "00000000");
    TKvGABits Long, Short; // each bit only where its source has it; the rest stays
    Fill(Long, 10, "0000000011");
    Fill(Short, 4, "1010");
    EXPECT_EQ(Long.CrossOver(Short, Ones, 1, 5).ToBitString(), "1011110011");

    RandSeed(22);
    TKvGABits A, B;
    Fill(A, 300);
    Fill(B, 300);
    for (auto [Lo, Hi] : {std::pair{0, 63}, {62, 64}, {63, 128}, {-1, 130}, {200, 299}}) {
        TKvGABits Separate, Target;
        Separate.SetSize(300);
        Separate.CrossOver(A, B, Lo, Hi);
        for (int32_t I = 0; I < 300; ++I)
            ASSERT_EQ(Separate.GetBit(I), I > Lo && I <= Hi ? B.GetBit(I) : A.GetBit(I)) << Lo;
        Target.Assign(&B);
        ASSERT_TRUE(Target.CrossOver(A, Target, Lo, Hi).Equals(Separate)) << Lo;
        Target.Assign(&A);
        ASSERT_TRUE(Target.CrossOver(Target, B, Lo, Hi).Equals(Separate)) << Lo;
    }
}

TEST(Chromosome, MaskedCrossOverTakesSource2WhereTheMaskIsSet) {
    RandSeed(23);
    TKvGABits A, B, Mask;
    Fill(A, 300);
    Fill(B, 300);
    Fill(Mask, 300);
    TKvGABits Separate, Target;
    Separate.SetSize(300);
    Separate.CrossOver(A, B, Mask);
    for (int32_t I = 0; I < 300; ++I)
        ASSERT_EQ(Separate.GetBit(I), Mask.GetBit(I) ? B.GetBit(I) : A.GetBit(I)) << I;
    Target.Assign(&B);
    EXPECT_TRUE(Target.CrossOver(A, Target, Mask).Equals(Separate));
    Target.Assign(&A);
    EXPECT_TRUE(Target.CrossOver(Target, B, Mask).Equals(Separate));

    // Sizes that differ: mask bits beyond the mask are 0, bits beyond a source stay.
    TKvGABits Ones, Zeros, ShortMask, Long;
    Fill(Ones, 70, std::string(70, '1'));
    Fill(Zeros, 66, std::string(66, '0'));
    Fill(ShortMask, 3, "101");
    Fill(Long, 72, std::string(72, '1'));
    Long.CrossOver(Zeros, Ones, ShortMask); // Source1 is the shorter one
    EXPECT_EQ(Long.ToBitString(), "101" + std::string(63, '0') + std::string(6, '1'));
    Long.CrossOver(Ones, Zeros, Mask);
    for (int32_t I = 0; I < 72; ++I) {
        const bool FromZeros = Mask.GetBit(I) && I < 66;
        ASSERT_EQ(Long.GetBit(I), !FromZeros) << I;
    }
}

namespace {

// Counts over many chromosomes of Size zeros, each mutated once with MutateGeometric(P).
struct TFlipCounts {
    int64_t Flips = 0;
    int64_t Bins[10] = {};    // flips by tenth of the chromosome
    int64_t Adjacent = 0;     // pairs of neighbouring bits that both flipped
    double SumSquares = 0;    // of the flips per chromosome
    int64_t WrongResults = 0; // results that disagree with whether a bit flipped
};

TFlipCounts CountFlips(double P, int32_t Size, int Rounds) {
    TFlipCounts C;
    TKvGABits B;
    B.SetSize(Size);
    for (int R = 0; R < Rounds; ++R) {
        B.Clear();
        const bool Result = B.MutateGeometric(P);
        int64_t Here = 0;
        bool Previous = false;
        for (size_t W = 0; W < B.WordCount(); ++W) {
            uint64_t Word = B.Words()[W];
            // A pair inside the word, and one across the boundary with the word before.
            C.Adjacent += std::popcount(Word & (Word >> 1)) + (Previous && (Word & 1));
            Previous = (Word >> 63) & 1;
            while (Word != 0) {
                const int64_t Bit = int64_t(W) * 64 + std::countr_zero(Word);
                ++C.Bins[Bit * 10 / Size];
                ++Here;
                Word &= Word - 1;
            }
        }
        C.Flips += Here;
        C.SumSquares += double(Here) * double(Here);
        C.WrongResults += Result != (Here > 0);
    }
    return C;
}

} // namespace

// The gaps must make every bit flip with probability P, independently of the others: the rate
// overall and in every part of the chromosome, the rate of neighbouring pairs (P^2) and the
// binomial spread of the flips per chromosome. Seeded, and each check allows five standard
// deviations, so a correct implementation passes and a biased one (a gap off by one, a lost bit
// at a word or table boundary, a wrong distribution) does not.
TEST(GeometricMutation, FlipsEveryBitIndependentlyWithTheProbability) {
    struct Case {
        double P;
        int32_t Size;
        int Rounds;
    };
    // 0.001 draws by the logarithm; 0.003 by the table with gaps beyond its 1023 (which go on
    // across a 3001-bit chromosome); 0.01 and 0.3 by the table.
    for (const Case& K : {Case{0.001, 3001, 6000}, Case{0.003, 3001, 3000}, Case{0.01, 1000, 4000},
                          Case{0.3, 1000, 1000}}) {
        RandSeed(4242);
        const TFlipCounts C = CountFlips(K.P, K.Size, K.Rounds);
        const double Bits = double(K.Size) * K.Rounds;
        const double Mean = Bits * K.P;
        const double Sd = std::sqrt(Mean * (1 - K.P));
        EXPECT_NEAR(double(C.Flips), Mean, 5 * Sd) << "P " << K.P;
        for (int I = 0; I < 10; ++I) {
            const double BinBits =
                double((int64_t(I + 1) * K.Size + 9) / 10 - (int64_t(I) * K.Size + 9) / 10) *
                K.Rounds;
            EXPECT_NEAR(double(C.Bins[I]), BinBits * K.P, 5 * std::sqrt(BinBits * K.P * (1 - K.P)))
                << "P " << K.P << ", tenth " << I;
        }
        const double Pairs = double(K.Size - 1) * K.Rounds * K.P * K.P;
        EXPECT_NEAR(double(C.Adjacent), Pairs, 5 * std::sqrt(Pairs) + 2) << "P " << K.P;
        // Binomial spread: variance Size P (1 - P). The sample variance's relative error is
        // about sqrt((2 + 1 / (Size P)) / Rounds).
        const double PerChromosome = double(C.Flips) / K.Rounds;
        const double Variance = C.SumSquares / K.Rounds - PerChromosome * PerChromosome;
        const double Expected = K.Size * K.P * (1 - K.P);
        EXPECT_NEAR(Variance / Expected, 1.0, 5 * std::sqrt((2 + 1 / (K.Size * K.P)) / K.Rounds))
            << "P " << K.P;
        EXPECT_EQ(C.WrongResults, 0) << "P " << K.P;
    }
}

TEST(GeometricMutation, DrawsOncePerGapAndNothingAtTheEdges) {
    TKvGABits B;
    Fill(B, 10, "1100101000");
    for (double P : {0.0, -1.0}) {
        RandSeed(5);
        EXPECT_FALSE(B.MutateGeometric(P));
        EXPECT_EQ(B.ToBitString(), "1100101000");
        const double Next = Random();
        RandSeed(5);
        EXPECT_EQ(Next, Random()) << "no draw for P " << P;
    }
    for (double P : {1.0, 2.0}) {
        RandSeed(5);
        EXPECT_TRUE(B.MutateGeometric(P));
        const double Next = Random();
        RandSeed(5);
        EXPECT_EQ(Next, Random()) << "no draw for P " << P;
    }
    EXPECT_EQ(B.ToBitString(), "1100101000"); // complemented twice
    TKvGABits Empty;
    RandSeed(5);
    EXPECT_FALSE(Empty.MutateGeometric(0.5));
    const double Next = Random();
    RandSeed(5);
    EXPECT_EQ(Next, Random());

    // One raw value per gap: a draw per flipped bit, and one more whose gap ends beyond the
    // chromosome unless the last bit flipped.
    for (double P : {0.3, 0.0005}) {
        for (uint64_t Seed = 1; Seed <= 40; ++Seed) {
            TKvGABits Z;
            Z.SetSize(P > 0.1 ? 100 : 5000);
            RandSeed(Seed);
            Z.MutateGeometric(P);
            const uint64_t After = ThreadRandomSource().Next();
            int64_t Flips = 0;
            for (size_t W = 0; W < Z.WordCount(); ++W)
                Flips += std::popcount(Z.Words()[W]);
            const int64_t Draws = Flips + (Z.GetBit(Z.GetSize() - 1) ? 0 : 1);
            RandSeed(Seed);
            for (int64_t I = 0; I < Draws; ++I)
                ThreadRandomSource().Next();
            ASSERT_EQ(After, ThreadRandomSource().Next()) << "P " << P << ", seed " << Seed;
        }
    }
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
