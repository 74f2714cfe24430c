#include "kv/rtl/random.h"

#include "kv/rtl/cpu_features.h"
#include "kv/rtl/exceptions.h"

#include <cstring>

namespace kv {

namespace {

uint64_t SplitMix64(uint64_t& X) {
    uint64_t Z = (X += 0x9e3779b97f4a7c15ULL);
    Z = (Z ^ (Z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    Z = (Z ^ (Z >> 27)) * 0x94d049bb133111ebULL;
    return Z ^ (Z >> 31);
}

using TLaneState = uint64_t[4][TRandomSource::Lanes];

void SeedLanes(TLaneState& State, uint64_t Seed) {
    uint64_t X = Seed;
    for (int L = 0; L < TRandomSource::Lanes; ++L)
        for (int W = 0; W < 4; ++W)
            State[W][L] = SplitMix64(X);
}

} // namespace

TRandomSource::TState TRandomSource::GetState() const {
    TState Result;
    if (FSeedPending) {
        // Equivalent to the seeded lanes with none of their first block taken.
        SeedLanes(Result.Words, FSeed);
        Result.Position = 0;
    } else {
        std::memcpy(Result.Words, FBlockStart, sizeof Result.Words);
        Result.Position = FPos;
    }
    return Result;
}

void TRandomSource::SetState(const TState& State) {
    if (State.Position < 0 || State.Position > BlockSize)
        throw EConvertError("Random state position " + std::to_string(State.Position) +
                            " is outside 0 .. " + std::to_string(BlockSize));
    std::memcpy(FState, State.Words, sizeof FState);
    FSeedPending = false;
    Refill();
    FPos = State.Position;
}

namespace {

// Two and four lanes of the generator in one vector (GCC vector extension). The sizes are spelt
// out: GCC ignores vector_size with a size that depends on a template parameter.
using TLaneVector2 = uint64_t __attribute__((vector_size(2 * sizeof(uint64_t))));
using TLaneVector4 = uint64_t __attribute__((vector_size(4 * sizeof(uint64_t))));

// Lanes of the generator, one vector per state word.
template <class VectorT>
struct TLaneGroup {
    static constexpr int Width = sizeof(VectorT) / sizeof(uint64_t);
    VectorT S0, S1, S2, S3;

    [[gnu::always_inline]] void Load(const TLaneState& State, int First) {
        std::memcpy(&S0, &State[0][First], sizeof S0);
        std::memcpy(&S1, &State[1][First], sizeof S1);
        std::memcpy(&S2, &State[2][First], sizeof S2);
        std::memcpy(&S3, &State[3][First], sizeof S3);
    }
    [[gnu::always_inline]] void Store(TLaneState& State, int First) const {
        std::memcpy(&State[0][First], &S0, sizeof S0);
        std::memcpy(&State[1][First], &S1, sizeof S1);
        std::memcpy(&State[2][First], &S2, sizeof S2);
        std::memcpy(&State[3][First], &S3, sizeof S3);
    }
    // Writes the outputs of one xoshiro256+ step to Out and advances the lanes.
    [[gnu::always_inline]] void Step(uint64_t* Out) {
        const VectorT Value = S0 + S3;
        std::memcpy(Out, &Value, sizeof Value);
        const VectorT T = S1 << 17;
        S2 ^= S0;
        S3 ^= S1;
        S1 ^= S2;
        S0 ^= S3;
        S2 ^= T;
        S3 = (S3 << 45) | (S3 >> 19);
    }
};

// Steps the 2 * Width lanes First .. First + 2 * Width - 1 through one block: lane L of step k goes
// to Buffer[k * Lanes + L]. The two groups are independent, so both in flight hide a step's
// latency, and their state stays in registers; each statement is one vector instruction at the
// target's native width. The values are exactly those of stepping each lane on its own.
template <class VectorT>
[[gnu::always_inline]] inline void StepLanes(TLaneState& State, uint64_t* Buffer, int First) {
    constexpr int Width = TLaneGroup<VectorT>::Width;
    TLaneGroup<VectorT> A, B;
    A.Load(State, First);
    B.Load(State, First + Width);
    for (int Step = 0; Step < TRandomSource::BlockSteps; ++Step) {
        uint64_t* Out = Buffer + Step * TRandomSource::Lanes + First;
        A.Step(Out);
        B.Step(Out + Width);
    }
    A.Store(State, First);
    B.Store(State, First + Width);
}

static_assert(TRandomSource::Lanes == 8, "the kernels below step eight lanes");

// Baseline x86-64 (SSE2) and other targets: 16-byte vectors, two pairs of lanes in flight.
void RefillBaseline(TLaneState& State, uint64_t* Buffer) {
    StepLanes<TLaneVector2>(State, Buffer, 0);
    StepLanes<TLaneVector2>(State, Buffer, 4);
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same steps with 32-byte vectors, for processors with AVX2 (chosen at run time).
__attribute__((target("avx2"))) void RefillAvx2(TLaneState& State, uint64_t* Buffer) {
    StepLanes<TLaneVector4>(State, Buffer, 0);
}
#define KV_HAVE_AVX2_KERNELS 1
#endif

} // namespace

void TRandomSource::Refill() {
    if (FSeedPending) {
        SeedLanes(FState, FSeed);
        FSeedPending = false;
    }
    std::memcpy(FBlockStart, FState, sizeof FBlockStart);
#ifdef KV_HAVE_AVX2_KERNELS
    // Chosen on first use (not at static initialisation, so a draw from another unit's static
    // initialiser works too).
    static const auto Kernel = CpuHasAvx2() ? RefillAvx2 : RefillBaseline;
    Kernel(FState, FBuffer);
#else
    RefillBaseline(FState, FBuffer);
#endif
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

namespace {

// The source bound by the innermost live binding on this thread; null for the thread's own.
constinit thread_local TRandomSource* CurrentSource = nullptr;

TRandomSource& OwnSource() {
    thread_local TRandomSource Source;
    return Source;
}

} // namespace

TRandomSource& ThreadRandomSource() {
    TRandomSource* Bound = CurrentSource;
    return Bound != nullptr ? *Bound : OwnSource();
}

TRandomSource* TRandomSourceBinding::Exchange(TRandomSource* Source) noexcept {
    TRandomSource* Previous = CurrentSource;
    CurrentSource = Source;
    return Previous;
}

uint64_t MutationThreshold(double P) {
    if (!(P > 0.0))
        return 0;
    if (P >= 1.0)
        return uint64_t(1) << 53;
    // P * 2^53 is exact (a power-of-two scale of a value in (0, 1)); round it up without a libm
    // call, since Mutate asks for the threshold once per chromosome.
    const double Scaled = P * 0x1.0p53;
    uint64_t T = static_cast<uint64_t>(Scaled);
    if (static_cast<double>(T) < Scaled)
        ++T;
    return T;
}

} // namespace kv
