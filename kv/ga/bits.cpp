#include "kv/ga/bits.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

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

namespace {

// Draws the gaps between flipped bits for MutateGeometric: the number of bits that stay before
// the next one that flips, geometric with parameter P (0 < P < 1), from one raw value of the
// stream per draw.
//
// For P >= 2^-9 an alias table over TableSlots outcomes: the gaps 0 .. TableSlots - 2 with their
// probabilities P (1 - P)^g, and "TableSlots - 1 or more" with the rest, (1 - P)^(TableSlots - 1)
// (at most e^-2). The top 10 bits of a raw value choose a slot, the low 54 bits decide between the
// slot's own outcome and its alias. The last outcome stands for a longer gap: by the geometric
// distribution's lack of memory, the caller moves on TableSlots - 1 bits and draws again. A draw
// costs a table look-up instead of a logarithm. Below 2^-9 that outcome would be the usual one and
// flips are rare anyway: gap := floor(ln(U) / ln(1 - P)) with U := ((raw >> 11) + 1) 2^-53.
//
// The sampler is kept per thread for the last P asked for (an engine asks for the same
// probability once per child) and built again, in some microseconds, when P changes. Either way
// the gaps depend only on P and the stream.
class TGapSampler {
public:
    static constexpr int TableBits = 10;
    static constexpr int TableSlots = 1 << TableBits;
    // The outcome that stands for a gap of TableSlots - 1 bits or more.
    static constexpr int32_t Longer = TableSlots - 1;
    static constexpr double TableFrom = 0x1.0p-9;

    static TGapSampler& For(double P) {
        thread_local TGapSampler Sampler;
        if (P != Sampler.FP)
            Sampler.Build(P);
        return Sampler;
    }

    bool UsesTable() const noexcept { return FUseTable; }

    // An outcome of the table from raw value R: a gap below Longer, or Longer.
    int32_t TableDraw(uint64_t R) const noexcept {
        const unsigned Slot = static_cast<unsigned>(R >> (64 - TableBits));
        const uint64_t Fraction = R & (FOne - 1);
        return Fraction < FKeep[Slot] ? static_cast<int32_t>(Slot) : FAlias[Slot];
    }

    // The gap from raw value R by the logarithm, as a double (it may exceed any chromosome).
    double LogDraw(uint64_t R) const noexcept {
        // U in (0, 1], so ln(U) <= 0 and the gap is non-negative (+0.0 for U = 1).
        const double U = static_cast<double>((R >> 11) + 1) * 0x1.0p-53;
        return std::log(U) * FScale;
    }

private:
    static constexpr uint64_t FOne = uint64_t(1) << (64 - TableBits);

    void Build(double P) {
        FP = P;
        // A P so small that the quotient overflows keeps a finite scale, so that U = 1 still
        // gives the gap 0 (as Random() < P does for one raw value in 2^53) and not 0 x infinity.
        FScale = std::max(1.0 / std::log1p(-P), std::numeric_limits<double>::lowest());
        FUseTable = P >= TableFrom;
        if (!FUseTable)
            return;
        // Vose's alias method. Weights are probabilities times TableSlots, so that a slot's fair
        // share is 1; (1 - P)^g by repeated multiplication (the same on every platform).
        double Weight[TableSlots];
        const double Q = 1.0 - P;
        double Power = 1.0;
        for (int G = 0; G < Longer; ++G) {
            Weight[G] = P * Power * TableSlots;
            Power *= Q;
        }
        Weight[Longer] = Power * TableSlots;
        int Small[TableSlots], Large[TableSlots];
        int NSmall = 0, NLarge = 0;
        for (int I = 0; I < TableSlots; ++I)
            (Weight[I] < 1.0 ? Small[NSmall++] : Large[NLarge++]) = I;
        while (NSmall > 0 && NLarge > 0) {
            const int S = Small[--NSmall];
            const int L = Large[NLarge - 1];
            FKeep[S] = static_cast<uint64_t>(Weight[S] * static_cast<double>(FOne));
            FAlias[S] = static_cast<int16_t>(L);
            Weight[L] -= 1.0 - Weight[S];
            if (Weight[L] < 1.0) {
                --NLarge;
                Small[NSmall++] = L;
            }
        }
        // What is left has a share of 1 up to rounding: it keeps its own outcome.
        while (NLarge > 0) {
            const int L = Large[--NLarge];
            FKeep[L] = FOne;
            FAlias[L] = static_cast<int16_t>(L);
        }
        while (NSmall > 0) {
            const int S = Small[--NSmall];
            FKeep[S] = FOne;
            FAlias[S] = static_cast<int16_t>(S);
        }
    }

    double FP = -1;
    double FScale = 0;
    bool FUseTable = false;
    uint64_t FKeep[TableSlots] = {};
    int16_t FAlias[TableSlots] = {};
};

// The bits of word I of an array of N bits that lie below N.
inline uint64_t ValidBits(size_t I, size_t N) noexcept {
    const size_t First = I * 64;
    if (First >= N)
        return 0;
    return N - First >= 64 ? ~uint64_t(0) : bitwords::LowMask(static_cast<unsigned>(N - First));
}

} // namespace

bool TKvGABits::MutateGeometric(TGAProbability MutationProbability) {
    const int64_t Size = GetSize();
    if (Size == 0 || !(MutationProbability > 0.0))
        return false;
    uint64_t* W = Words();
    if (MutationProbability >= 1.0) {
        bitwords::Invert(W, 0, static_cast<size_t>(Size));
        return true;
    }
    const TGapSampler& Sampler = TGapSampler::For(MutationProbability);
    TRandomSource& Source = ThreadRandomSource();
    bool Flipped = false;
    int64_t I = 0; // the next bit that may flip
    if (Sampler.UsesTable()) {
        for (;;) {
            const int32_t Gap = Sampler.TableDraw(Source.Next());
            I += Gap;
            if (I >= Size)
                break;
            if (Gap == TGapSampler::Longer)
                continue; // the gap goes on: draw its rest from here
            W[static_cast<size_t>(I) >> 6] ^= uint64_t(1) << (I & 63);
            Flipped = true;
            if (++I == Size)
                break;
        }
    } else {
        for (;;) {
            const double Gap = Sampler.LogDraw(Source.Next());
            if (!(Gap < static_cast<double>(Size - I)))
                break;
            I += static_cast<int64_t>(Gap);
            W[static_cast<size_t>(I) >> 6] ^= uint64_t(1) << (I & 63);
            Flipped = true;
            if (++I == Size)
                break;
        }
    }
    return Flipped;
}

TKvGABits& TKvGABits::CrossOver(const TBits& Source1, const TBits& Source2, int32_t CrossBit1,
                                int32_t CrossBit2) {
    const int64_t Size = GetSize();
    const int64_t Lo = std::min(CrossBit1, CrossBit2);
    const int64_t Hi = std::max(CrossBit1, CrossBit2);
    // Bits [From, To) from Src, clipped to 0 .. Size and to the source's size.
    auto Take = [this, Size](const TBits& Src, int64_t From, int64_t To) {
        From = std::max<int64_t>(From, 0);
        To = std::min<int64_t>({To, Size, int64_t(Src.GetSize())});
        if (From < To)
            bitwords::Copy(Words(), Src.Words(), static_cast<size_t>(From),
                           static_cast<size_t>(To));
    };
    // Every bit is read and written at its own position, so a source may be this chromosome.
    Take(Source1, 0, Lo + 1);
    Take(Source2, Lo + 1, Hi + 1);
    Take(Source1, Hi + 1, Size);
    return *this;
}

TKvGABits& TKvGABits::CrossOver(const TBits& Source1, const TBits& Source2, const TBits& Mask) {
    const size_t Size = static_cast<size_t>(GetSize());
    const size_t N1 = std::min(Size, static_cast<size_t>(Source1.GetSize()));
    const size_t N2 = std::min(Size, static_cast<size_t>(Source2.GetSize()));
    const size_t NM = std::min(Size, static_cast<size_t>(Mask.GetSize()));
    uint64_t* W = Words();
    const uint64_t* A = Source1.Words();
    const uint64_t* B = Source2.Words();
    const uint64_t* M = Mask.Words();
    const size_t Count = (Size + 63) / 64;
    if (N1 == Size && N2 == Size && NM == Size) {
        // All of one size: every bit comes from one source or the other.
        for (size_t I = 0; I < Count; ++I)
            W[I] = (A[I] & ~M[I]) | (B[I] & M[I]);
        return *this;
    }
    for (size_t I = 0; I < Count; ++I) {
        const uint64_t FromMask = ValidBits(I, NM) != 0 ? M[I] & ValidBits(I, NM) : 0;
        const uint64_t Take1 = ~FromMask & ValidBits(I, N1);
        const uint64_t Take2 = FromMask & ValidBits(I, N2);
        const uint64_t Bits1 = Take1 != 0 ? A[I] & Take1 : 0;
        const uint64_t Bits2 = Take2 != 0 ? B[I] & Take2 : 0;
        W[I] = (W[I] & ~(Take1 | Take2)) | Bits1 | Bits2;
    }
    return *this;
}

int32_t BitsRequired(uint32_t N) noexcept {
    return static_cast<int32_t>(std::bit_width(N));
}

} // namespace kv
