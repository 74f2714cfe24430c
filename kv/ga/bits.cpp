#include "kv/ga/bits.h"

#include <algorithm>
#include <bit>

#include "kv/rtl/bit_words.h"
#include "kv/rtl/cpu_features.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/random.h"

namespace kv {

namespace {

// The mask loops below are written so that GCC vectorises them where the target has 64-bit lane
// compares and per-lane shifts (AVX2); each word is built from up to 64 raw values of the stream.

// Bit j of the result is the top bit of V[j] (that is, Random(2) of that raw value), j < N <= 64.
[[gnu::always_inline]] inline uint64_t TopBits(const uint64_t* V, size_t N) noexcept {
    uint64_t M = 0;
    if (N == 64) {
        for (size_t J = 0; J < 64; ++J)
            M |= (V[J] >> 63) << J;
    } else {
        for (size_t J = 0; J < N; ++J)
            M |= (V[J] >> 63) << J;
    }
    return M;
}

// Bit j of the result is set when raw value V[j] decides "Random() < P", given T =
// MutationThreshold(P) (so (V[j] >> 11) < T), j < N <= 64.
[[gnu::always_inline]] inline uint64_t BelowThreshold(const uint64_t* V, size_t N,
                                                      uint64_t T) noexcept {
    uint64_t M = 0;
    if (N == 64) {
        for (size_t J = 0; J < 64; ++J)
            M |= static_cast<uint64_t>((V[J] >> 11) < T) << J;
    } else {
        for (size_t J = 0; J < N; ++J)
            M |= static_cast<uint64_t>((V[J] >> 11) < T) << J;
    }
    return M;
}

// Takes Count values from the stream and hands them to Block(values, n, first bit index) in pieces
// that never cross a 64-bit word boundary of the bit index.
template <class BlockT>
[[gnu::always_inline]] inline void ForEachDraw(TRandomSource& Source, size_t Count, BlockT Block) {
    size_t I = 0;
    while (I < Count) {
        const size_t InWord = I & 63;
        const uint64_t* V;
        const size_t Got = Source.Take(V, std::min(Count - I, size_t(64) - InWord));
        Block(V, Got, I);
        I += Got;
    }
}

// Bits 0 .. N - 1 of W := Random(2) each, in bit order.
[[gnu::always_inline]] inline void RandomizeWords(uint64_t* W, size_t N, TRandomSource& Source) {
    ForEachDraw(Source, N, [W](const uint64_t* V, size_t Got, size_t I) {
        const size_t Shift = I & 63;
        uint64_t& Word = W[I >> 6];
        Word = (Word & ~(bitwords::LowMask(static_cast<unsigned>(Got)) << Shift)) |
               (TopBits(V, Got) << Shift);
    });
}

// Complements bit i of W, for i = 0 .. N - 1, when its draw is below the threshold T (T > 0).
// Returns whether any bit flipped.
[[gnu::always_inline]] inline bool MutateWords(uint64_t* W, size_t N, uint64_t T,
                                               TRandomSource& Source) {
    uint64_t Flipped = 0;
    ForEachDraw(Source, N, [W, T, &Flipped](const uint64_t* V, size_t Got, size_t I) {
        const uint64_t M = BelowThreshold(V, Got, T);
        W[I >> 6] ^= M << (I & 63);
        Flipped |= M;
    });
    return Flipped != 0;
}

void RandomizeBaseline(uint64_t* W, size_t N, TRandomSource& Source) {
    RandomizeWords(W, N, Source);
}
bool MutateBaseline(uint64_t* W, size_t N, uint64_t T, TRandomSource& Source) {
    return MutateWords(W, N, T, Source);
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same loops compiled for AVX2, chosen at run time; they give the same bits.
__attribute__((target("avx2"))) void RandomizeAvx2(uint64_t* W, size_t N, TRandomSource& Source) {
    RandomizeWords(W, N, Source);
}
__attribute__((target("avx2"))) bool MutateAvx2(uint64_t* W, size_t N, uint64_t T,
                                                TRandomSource& Source) {
    return MutateWords(W, N, T, Source);
}
#define KV_HAVE_AVX2_KERNELS 1
#endif

} // namespace

void TKvGABits::Clear() noexcept {
    std::fill_n(Words(), WordCount(), uint64_t(0));
}

void TKvGABits::Randomize() {
    const size_t N = static_cast<size_t>(GetSize());
#ifdef KV_HAVE_AVX2_KERNELS
    static const auto Kernel = CpuHasAvx2() ? RandomizeAvx2 : RandomizeBaseline;
    Kernel(Words(), N, ThreadRandomSource());
#else
    RandomizeBaseline(Words(), N, ThreadRandomSource());
#endif
}

bool TKvGABits::Mutate(TGAProbability MutationProbability) {
    const size_t N = static_cast<size_t>(GetSize());
    TRandomSource& Source = ThreadRandomSource();
    const uint64_t T = MutationThreshold(MutationProbability);
    if (T == 0) {
        // Nothing can flip, but every bit still takes its draw.
        ForEachDraw(Source, N, [](const uint64_t*, size_t, size_t) {});
        return false;
    }
#ifdef KV_HAVE_AVX2_KERNELS
    static const auto Kernel = CpuHasAvx2() ? MutateAvx2 : MutateBaseline;
    return Kernel(Words(), N, T, Source);
#else
    return MutateBaseline(Words(), N, T, Source);
#endif
}

void TKvGABits::Invert(int32_t Offset, int32_t Len) {
    if (Offset < -1)
        throw EListError(Format("Invert offset out of range: %i", Offset));
    const int32_t Size = GetSize();
    if (Offset == -1)
        Offset = Random(Size);
    if (Len == -1)
        Len = Random(Size - Offset);
    if (Len < 0 || Offset >= Size)
        return;
    const int64_t End = std::min<int64_t>(int64_t(Offset) + Len + 1, Size);
    bitwords::Invert(Words(), static_cast<size_t>(Offset), static_cast<size_t>(End));
}

TKvGABits& TKvGABits::CrossOver(const TBits& Source1, const TBits& Source2) {
    return CrossOver(Source1, Source2, Random(Source1.GetSize()));
}

TKvGABits& TKvGABits::CrossOver(const TBits& Source1, const TBits& Source2, int32_t CrossBit) {
    const int64_t Size = GetSize();
    const int64_t End1 =
        std::max<int64_t>(0, std::min({int64_t(CrossBit) + 1, int64_t(Source1.GetSize()), Size}));
    const int64_t End2 = std::min<int64_t>(Source2.GetSize(), Size);
    uint64_t* W = Words();
    bitwords::Copy(W, Source1.Words(), 0, static_cast<size_t>(End1));
    if (End2 > End1)
        bitwords::Copy(W, Source2.Words(), static_cast<size_t>(End1), static_cast<size_t>(End2));
    return *this;
}

int32_t BitsRequired(uint32_t N) noexcept {
    return static_cast<int32_t>(std::bit_width(N));
}

} // namespace kv
