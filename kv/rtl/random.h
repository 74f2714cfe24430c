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
// Streams an engine owns. Besides its own generator, each thread has a *current* source: the
// thread's own generator unless a TRandomSourceBinding has made another source current for a while.
// Random(), Random(N), RandSeed and the library's bulk draws all use the current source, so an
// engine that binds its own source around an operation makes every draw inside it (the caller's
// callbacks included) come from that source, whatever other code on the thread does in between.
//
// State. A source's whole state (GetState/SetState) is the lane words from which its current block
// of values was generated and how many values of that block were handed out; restoring it continues
// the stream exactly where it was, also in another process. Seeding is lazy: SetSeed only records
// the seed, and the lanes are filled on the first draw, so a source that is seeded but never drawn
// from costs next to nothing.
//
// Nothing here raises except SetState on a position outside a block. Each thread's own generator is
// a thread_local object that lives as long as its thread; a bound source belongs to whoever bound
// it and must outlive the binding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

class TRandomSource {
public:
    static constexpr int Lanes = 8;
    static constexpr int BlockSteps = 32; // values per refill = Lanes * BlockSteps
    static constexpr int BlockSize = Lanes * BlockSteps;

    // The whole state of a stream: the lane words from which the current block was generated and
    // the count of that block's values already handed out (0 .. BlockSize).
    struct TState {
        uint64_t Words[4][Lanes];
        int Position;
        friend bool operator==(const TState&, const TState&) = default;
    };

    explicit TRandomSource(uint64_t Seed = DefaultSeed) { SetSeed(Seed); }

    // Restarts the stream from Seed (the lanes are filled by splitmix64 from it, on the first
    // draw).
    void SetSeed(uint64_t Seed) {
        FSeed = Seed;
        FSeedPending = true;
        FPos = BlockSize;
    }

    // The stream's whole state; SetState(GetState()) leaves the stream unchanged.
    TState GetState() const;
    // Continues the stream from a state read by GetState (of this or another source, in this or
    // another process). Raises EConvertError, changing nothing, when Position is outside 0 ..
    // BlockSize.
    void SetState(const TState& State);

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

    uint64_t FState[4][Lanes];      // the lanes, advanced past the buffered block
    uint64_t FBlockStart[4][Lanes]; // the lanes from which the buffered block was generated
    alignas(64) uint64_t FBuffer[BlockSize];
    int FPos = BlockSize;
    bool FSeedPending = true; // FSeed has not been spread into the lanes yet
    uint64_t FSeed = DefaultSeed;
};

// The calling thread's current source: the one bound by the innermost TRandomSourceBinding alive on
// this thread, else the thread's own generator.
TRandomSource& ThreadRandomSource();

// Makes a source the calling thread's current one while this object lives, and makes the previous
// one current again when it ends (also when an exception passes). A null source leaves the current
// source as it is. Bindings nest; they must end in the reverse order of their starts, which scoped
// objects do by themselves. The binding does not own the source.
// A null binding is a test of a pointer and is inlined, so code may bind an optional source at the
// entry of every operation at next to no cost: the binding keeps only the two pointers, which the
// compiler can hold in registers (nothing takes the binding's address).
class TRandomSourceBinding {
public:
    explicit TRandomSourceBinding(TRandomSource* Source) noexcept : FSource(Source) {
        if (Source != nullptr)
            FPrevious = Exchange(Source);
    }
    ~TRandomSourceBinding() {
        if (FSource != nullptr)
            Exchange(FPrevious);
    }
    TRandomSourceBinding(const TRandomSourceBinding&) = delete;
    TRandomSourceBinding& operator=(const TRandomSourceBinding&) = delete;

private:
    // Makes Source the bound source of the calling thread (nullptr: none) and returns the one
    // bound before.
    static TRandomSource* Exchange(TRandomSource* Source) noexcept;

    TRandomSource* FSource;
    TRandomSource* FPrevious = nullptr;
};

// A uniform double in [0, 1) from the calling thread's current source.
inline double Random() {
    return ThreadRandomSource().NextDouble();
}
// A uniform integer in [0, N) from the calling thread's current source; 0 for N <= 0.
inline int32_t Random(int32_t N) {
    return ThreadRandomSource().NextBelow(N);
}
// Seeds the calling thread's current source (the thread's own generator unless a source is bound).
inline void RandSeed(uint64_t Seed) {
    ThreadRandomSource().SetSeed(Seed);
}

// The threshold T for which "Random() < P" and "(raw >> 11) < T" decide alike for every raw value:
// 0 when P <= 0 (never), 2^53 when P >= 1 (always), else ceil(P * 2^53). Bulk code compares raw
// values against it instead of converting each one to a double.
uint64_t MutationThreshold(double P);

} // namespace kv
