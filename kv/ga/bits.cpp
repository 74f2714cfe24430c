#include "kv/ga/bits.h"

#include <algorithm>
#include <bit>

#include "kv/rtl/bit_words.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/random.h"

namespace kv {

namespace {

// Bit j of the result is the top bit of V[j] (that is Random(2) of that raw value), j < N <= 64.
inline uint64_t TopBits(const uint64_t* V, size_t N) noexcept {
    uint64_t M = 0;
    for (size_t J = 0; J < N; ++J)
        M |= (V[J] >> 63) << J;
    return M;
}

// Bit j of the result is set when raw value V[j] decides "Random() < P", given T =
// MutationThreshold(P), j < N <= 64.
inline uint64_t BelowThreshold(const uint64_t* V, size_t N, uint64_t T) noexcept {
    uint64_t M = 0;
    for (size_t J = 0; J < N; ++J)
        M |= static_cast<uint64_t>((V[J] >> 11) < T) << J;
    return M;
}

// Takes Count values from the stream and hands them to Block(values, n, first bit index) in pieces
// that never cross a 64-bit word boundary of the bit index.
template <class BlockT>
inline void ForEachDraw(TRandomSource& Source, size_t Count, BlockT Block) {
    size_t I = 0;
    while (I < Count) {
        const size_t InWord = I & 63;
        const uint64_t* V;
        const size_t Got = Source.Take(V, std::min(Count - I, size_t(64) - InWord));
        Block(V, Got, I);
        I += Got;
    }
}

} // namespace

void TKvGABits::Clear() noexcept {
    std::fill_n(Words(), WordCount(), uint64_t(0));
}

void TKvGABits::Randomize() {
    uint64_t* W = Words();
    ForEachDraw(ThreadRandomSource(), static_cast<size_t>(GetSize()),
                [W](const uint64_t* V, size_t N, size_t I) {
                    const size_t Shift = I & 63;
                    uint64_t& Word = W[I >> 6];
                    Word = (Word & ~(bitwords::LowMask(static_cast<unsigned>(N)) << Shift)) |
                           (TopBits(V, N) << Shift);
                });
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
    uint64_t* W = Words();
    uint64_t Flipped = 0;
    ForEachDraw(Source, N, [W, T, &Flipped](const uint64_t* V, size_t Got, size_t I) {
        const uint64_t M = BelowThreshold(V, Got, T);
        W[I >> 6] ^= M << (I & 63);
        Flipped |= M;
    });
    return Flipped != 0;
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
