#include <gtest/gtest.h>

#include <cstdint>

#include "kv/rtl/random.h"

using namespace kv;

namespace {

// A plain scalar model of the stream: eight xoshiro256+ lanes seeded one after the other by
// splitmix64 from the seed, value n taken from lane n % 8.
struct TScalarModel {
    uint64_t S[8][4];
    uint64_t N = 0;

    explicit TScalarModel(uint64_t Seed) {
        uint64_t X = Seed;
        for (auto& Lane : S)
            for (uint64_t& Word : Lane) {
                uint64_t Z = (X += 0x9e3779b97f4a7c15ULL);
                Z = (Z ^ (Z >> 30)) * 0xbf58476d1ce4e5b9ULL;
                Z = (Z ^ (Z >> 27)) * 0x94d049bb133111ebULL;
                Word = Z ^ (Z >> 31);
            }
    }
    uint64_t Next() {
        uint64_t* L = S[N++ % 8];
        const uint64_t Result = L[0] + L[3];
        const uint64_t T = L[1] << 17;
        L[2] ^= L[0];
        L[3] ^= L[1];
        L[1] ^= L[2];
        L[0] ^= L[3];
        L[2] ^= T;
        L[3] = (L[3] << 45) | (L[3] >> 19);
        return Result;
    }
};

} // namespace

TEST(RandomStream, VectorRefillGivesTheValuesOfScalarXoshiroLanes) {
    for (uint64_t Seed : {uint64_t(0), uint64_t(1), uint64_t(42), TRandomSource::DefaultSeed}) {
        TRandomSource Source(Seed);
        TScalarModel Model(Seed);
        for (int I = 0; I < 5000; ++I) // many refills
            ASSERT_EQ(Source.Next(), Model.Next()) << "seed " << Seed << ", value " << I;
    }
}
