#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "kv/rtl/random.h"

using namespace kv;

TEST(RandomSource, SeedMakesTheStreamRepeatable) {
    RandSeed(42);
    std::vector<double> A;
    for (int I = 0; I < 1000; ++I)
        A.push_back(Random());
    RandSeed(42);
    for (int I = 0; I < 1000; ++I)
        ASSERT_EQ(A[I], Random()) << "draw " << I;
    RandSeed(43);
    EXPECT_NE(A[0], Random());
}

TEST(RandomSource, DrawsStayInRange) {
    RandSeed(7);
    EXPECT_EQ(Random(0), 0);
    EXPECT_EQ(Random(-5), 0);
    std::vector<int> Counts(7, 0);
    for (int I = 0; I < 70000; ++I) {
        int32_t K = Random(7);
        ASSERT_GE(K, 0);
        ASSERT_LT(K, 7);
        ++Counts[K];
        double R = Random();
        ASSERT_GE(R, 0.0);
        ASSERT_LT(R, 1.0);
    }
    for (int C : Counts)
        EXPECT_NEAR(C, 10000, 500);
}

// Random(N) is Lemire's multiply and reject method on the top 32 bits of raw values: a product
// whose low half falls below 2^32 mod N is rejected and the next raw value is taken. With
// N = 3 * 2^29 a quarter of the products are rejected, so the rejection step is exercised.
TEST(RandomSource, LargeBoundsFollowTheRejectionMethod) {
    for (const int32_t N : {3 << 29, INT32_MAX, (1 << 30) + 1}) {
        RandSeed(17);
        TRandomSource Raw(17);
        const uint32_t Threshold = static_cast<uint32_t>((uint64_t(1) << 32) % uint32_t(N));
        int Rejected = 0;
        for (int I = 0; I < 4000; ++I) {
            uint64_t Product = (Raw.Next() >> 32) * uint64_t(N);
            while (static_cast<uint32_t>(Product) < Threshold) {
                ++Rejected;
                Product = (Raw.Next() >> 32) * uint64_t(N);
            }
            ASSERT_EQ(Random(N), static_cast<int32_t>(Product >> 32))
                << "N " << N << ", draw " << I;
        }
        EXPECT_EQ(ThreadRandomSource().Next(), Raw.Next()) << "both took as many raw values";
        if (N == (3 << 29)) {
            EXPECT_GT(Rejected, 1000) << "about one rejection per three draws";
        }
    }
}

TEST(RandomSource, TakeGivesTheSameValuesAsNext) {
    TRandomSource A(5), B(5);
    A.Next(); // put the two sources at different buffer offsets
    B.Next();
    std::vector<uint64_t> Taken;
    while (Taken.size() < 1000) {
        const uint64_t* Values;
        size_t N = A.Take(Values, 1000 - Taken.size());
        ASSERT_GE(N, 1u);
        Taken.insert(Taken.end(), Values, Values + N);
    }
    for (size_t I = 0; I < Taken.size(); ++I)
        ASSERT_EQ(Taken[I], B.Next()) << "value " << I;
}

TEST(RandomSource, MutationThresholdDecidesLikeTheDoubleCompare) {
    TRandomSource S(11);
    for (double P : {0.0, -1.0, 1e-300, 0.01, 0.3333333333333333, 0.5, 0.999999, 1.0, 2.0}) {
        uint64_t T = MutationThreshold(P);
        for (int I = 0; I < 20000; ++I) {
            uint64_t Raw = S.Next();
            double R = static_cast<double>(Raw >> 11) * 0x1.0p-53;
            ASSERT_EQ(R < P, (Raw >> 11) < T) << "P=" << P;
        }
        // The edges: the largest raw value below the threshold and the threshold itself.
        if (T > 0 && T <= (uint64_t(1) << 53)) {
            EXPECT_TRUE(static_cast<double>(T - 1) * 0x1.0p-53 < P) << P;
            if (T < (uint64_t(1) << 53)) {
                EXPECT_FALSE(static_cast<double>(T) * 0x1.0p-53 < P) << P;
            }
        }
    }
}

TEST(RandomSource, EachThreadHasItsOwnGenerator) {
    RandSeed(99);
    double Expected = Random();
    RandSeed(99);
    std::thread Other([] {
        RandSeed(1234);
        for (int I = 0; I < 100; ++I)
            Random();
    });
    Other.join();
    EXPECT_EQ(Expected, Random());
}
