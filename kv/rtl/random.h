// The per-thread random source from which every random draw of the library comes.
//
// Each thread has its own generator (a generator shared between threads would be a data race).
// The library never seeds it: RandSeed(seed) seeds the calling thread's generator, so a caller
// who wants repeatable runs seeds before it starts. A thread that never seeds starts from a
// fixed default seed.
//
// The generator is eight interleaved xoshiro256+ lanes: raw value number n of the stream comes
// from lane n % 8. The lanes are stepped together, a block at a time, as vector code (16-byte
// vectors on any x86-64; on processors with AVX2 a 32-byte version chosen at run time, giving the
// same values); the values handed out are buffered, so a single draw costs a load and an index
// increment. Because the stream is defined by the order in which values are handed out, a hot loop
// that takes a block of raw values at once (Take) sees exactly the values that one Next() per
// draw would have given, in the same order.
//
// Draws built on the raw 64-bit values:
//   Random()      a uniform double in [0, 1): the top 53 bits of one raw value, times 2^-53
//   Random(N)     a uniform integer in [0, N) for N > 0 (0 for N <= 0), by Lemire's multiply and
//                 reject method on the top 32 bits of raw values; Random(2) is the top bit of one
//                 raw value and never takes a second one.
//   MutationThreshold(P)
//                 for bulk code: the integer threshold T such that Random() < P exactly when
//                 (raw >> 11) < T.
//
// Nothing here raises. Each thread's generator is a thread_local object that lives as long as its
// thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

class TRandomSource {
public:
    static constexpr int Lanes = 8;
    static constexpr int BlockSteps = 32; // values per refill = Lanes * BlockSteps
    static constexpr int BlockSize = Lanes * BlockSteps;

    explicit TRandomSource(uint64_t Seed = DefaultSeed) { SetSeed(Seed); }

    // Restarts the stream from Seed (the lanes are filled by splitmix64 from it).
    void SetSeed(uint64_t Seed);

    // The next raw 64-bit value of the stream.
    uint64_t Next() {
        if (FPos == BlockSize)
            Refill();
        return FBuffer[FPos++];
    }

    // Gives the next values of the stream in order: up to Max of them, as a pointer into the
    // buffer, and advances past them. Returns the count given (at least 1 when Max >= 1).
    size_t Take(const uint64_t*& Values, size_t Max) {
        if (FPos == BlockSize)
            Refill();
        size_t Available = static_cast<size_t>(BlockSize - FPos);
        size_t N = Max < Available ? Max : Available;
        Values = FBuffer + FPos;
        FPos += static_cast<int>(N);
        return N;
    }

    // A uniform double in [0, 1).
    double NextDouble() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

    // A uniform integer in [0, N); 0 when N <= 0.
    int32_t NextBelow(int32_t N);

    static constexpr uint64_t DefaultSeed = 0x6b76676100000001ULL;

private:
    void Refill();

    uint64_t FState[4][Lanes];
    alignas(64) uint64_t FBuffer[BlockSize];
    int FPos = BlockSize;
};

// The calling thread's generator.
TRandomSource& ThreadRandomSource();

// A uniform double in [0, 1) from the calling thread's generator.
inline double Random() {
    return ThreadRandomSource().NextDouble();
}
// A uniform integer in [0, N) from the calling thread's generator; 0 for N <= 0.
inline int32_t Random(int32_t N) {
    return ThreadRandomSource().NextBelow(N);
}
// Seeds the calling thread's generator.
inline void RandSeed(uint64_t Seed) {
    ThreadRandomSource().SetSeed(Seed);
}

// The threshold T for which "Random() < P" and "(raw >> 11) < T" decide alike for every raw value:
// 0 when P <= 0 (never), 2^53 when P >= 1 (always), else ceil(P * 2^53). Bulk code compares raw
// values against it instead of converting each one to a double.
uint64_t MutationThreshold(double P);

} // namespace kv
