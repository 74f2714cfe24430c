#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

#include "kv/rtl/exceptions.h"
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

TEST(RandomStream, StateRestoresTheStreamExactlyAtEveryPosition) {
    // Fresh (seed not yet spread), mid-block, exactly at a block's end, and after several blocks.
    for (int Taken : {0, 1, 100, TRandomSource::BlockSize, TRandomSource::BlockSize + 7, 5000}) {
        TRandomSource Source(42);
        for (int I = 0; I < Taken; ++I)
            Source.Next();
        const TRandomSource::TState State = Source.GetState();
        TRandomSource Copy(7);
        Copy.Next();
        Copy.SetState(State);
        EXPECT_EQ(Copy.GetState(), State) << "after " << Taken;
        for (int I = 0; I < 1000; ++I)
            ASSERT_EQ(Copy.Next(), Source.Next()) << "after " << Taken << ", value " << I;
    }
    TRandomSource Source(1);
    const TRandomSource::TState Before = Source.GetState();
    TRandomSource::TState Bad = Before;
    for (int Position : {-1, TRandomSource::BlockSize + 1}) {
        Bad.Position = Position;
        EXPECT_THROW(Source.SetState(Bad), EConvertError);
        EXPECT_EQ(Source.GetState(), Before); // unchanged
    }
}

TEST(RandomStream, BindingMakesASourceCurrentUntilItEndsAlsoOnExceptions) {
    RandSeed(5);
    TRandomSource Reference(5); // what the thread's own stream gives if nothing else draws from it
    TRandomSource Engine(9), EngineModel(9), Inner(11), InnerModel(11);
    EXPECT_EQ(Random(1000), Reference.NextBelow(1000));
    {
        TRandomSourceBinding Bind(&Engine);
        EXPECT_EQ(&ThreadRandomSource(), &Engine);
        EXPECT_EQ(Random(), EngineModel.NextDouble());
        try {
            TRandomSourceBinding Nested(&Inner);
            EXPECT_EQ(Random(77), InnerModel.NextBelow(77));
            RandSeed(3); // seeds the current source, not the thread's own
            InnerModel.SetSeed(3);
            throw std::runtime_error("leaves the nested binding");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(&ThreadRandomSource(), &Engine);
        TRandomSourceBinding None(nullptr); // changes nothing
        EXPECT_EQ(Random(), EngineModel.NextDouble());
    }
    EXPECT_EQ(Inner.Next(), InnerModel.Next());
    // The thread's own stream went on as if the bound sources had never been drawn from.
    EXPECT_EQ(Random(1000), Reference.NextBelow(1000));
}
