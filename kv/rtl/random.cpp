#include "kv/rtl/random.h"

#include <cmath>

namespace kv {

namespace {

uint64_t SplitMix64(uint64_t& X) {
    uint64_t Z = (X += 0x9e3779b97f4a7c15ULL);
    Z = (Z ^ (Z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    Z = (Z ^ (Z >> 27)) * 0x94d049bb133111ebULL;
    return Z ^ (Z >> 31);
}

inline uint64_t Rotl(uint64_t X, int K) { return (X << K) | (X >> (64 - K)); }

} // namespace

void TRandomSource::SetSeed(uint64_t Seed) {
    uint64_t X = Seed;
    for (int L = 0; L < Lanes; ++L)
        for (int W = 0; W < 4; ++W)
            FState[W][L] = SplitMix64(X);
    FPos = BlockSize;
}

void TRandomSource::Refill() {
    // Lanes are kept in separate arrays per state word so that each statement below is a
    // straight loop over the lanes, which vectorises.
    uint64_t S0[Lanes], S1[Lanes], S2[Lanes], S3[Lanes];
    for (int L = 0; L < Lanes; ++L) {
        S0[L] = FState[0][L];
        S1[L] = FState[1][L];
        S2[L] = FState[2][L];
        S3[L] = FState[3][L];
    }
    for (int Step = 0; Step < BlockSteps; ++Step) {
        uint64_t* Out = FBuffer + Step * Lanes;
        for (int L = 0; L < Lanes; ++L) {
            Out[L] = S0[L] + S3[L];
            uint64_t T = S1[L] << 17;
            S2[L] ^= S0[L];
            S3[L] ^= S1[L];
            S1[L] ^= S2[L];
            S0[L] ^= S3[L];
            S2[L] ^= T;
            S3[L] = Rotl(S3[L], 45);
        }
    }
    for (int L = 0; L < Lanes; ++L) {
        FState[0][L] = S0[L];
        FState[1][L] = S1[L];
        FState[2][L] = S2[L];
        FState[3][L] = S3[L];
    }
    FPos = 0;
}

int32_t TRandomSource::NextBelow(int32_t N) {
    if (N <= 0)
        return 0;
    const uint64_t Range = static_cast<uint32_t>(N);
    uint64_t M = (Next() >> 32) * Range;
    uint32_t Low = static_cast<uint32_t>(M);
    if (Low < Range) {
        const uint32_t Threshold = static_cast<uint32_t>(-static_cast<uint32_t>(Range)) % Range;
        while (Low < Threshold) {
            M = (Next() >> 32) * Range;
            Low = static_cast<uint32_t>(M);
        }
    }
    return static_cast<int32_t>(M >> 32);
}

TRandomSource& ThreadRandomSource() {
    thread_local TRandomSource Source;
    return Source;
}

uint64_t MutationThreshold(double P) {
    if (!(P > 0.0))
        return 0;
    if (P >= 1.0)
        return uint64_t(1) << 53;
    return static_cast<uint64_t>(std::ceil(std::ldexp(P, 53)));
}

} // namespace kv
