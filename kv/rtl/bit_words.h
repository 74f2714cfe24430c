// Unchecked word-level primitives over the storage of a bit array (TBits::Words()).
//
// Bit i of an array lives in word i / 64 at bit position i % 64. Every function here works on
// whole 64-bit words with masks at the two ends of a range, and none checks its arguments: the
// caller guarantees that the bits named lie inside the array (From <= To <= Size, Start + Count <=
// Size). Bits outside the named range are never changed, and no word outside the range's words is
// read, so the primitives are safe on the last word of an array whatever its padding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv::bitwords {

// The lowest N bits set, for N in 0 .. 64.
inline constexpr uint64_t LowMask(unsigned N) noexcept {
    return N >= 64 ? ~uint64_t(0) : (uint64_t(1) << N) - 1;
}

// Bits Start .. Start + Count - 1 as an integer, bit Start least significant; Count in 0 .. 64.
inline uint64_t Extract(const uint64_t* W, size_t Start, unsigned Count) noexcept {
    if (Count == 0)
        return 0;
    const size_t I = Start >> 6;
    const unsigned Off = static_cast<unsigned>(Start & 63);
    uint64_t V = W[I] >> Off;
    if (Off + Count > 64)
        V |= W[I + 1] << (64 - Off);
    return V & LowMask(Count);
}

// Writes the lowest Count bits of Value to bits Start .. Start + Count - 1; Count in 0 .. 64.
inline void Insert(uint64_t* W, size_t Start, unsigned Count, uint64_t Value) noexcept {
    if (Count == 0)
        return;
    const uint64_t M = LowMask(Count);
    Value &= M;
    const size_t I = Start >> 6;
    const unsigned Off = static_cast<unsigned>(Start & 63);
    W[I] = (W[I] & ~(M << Off)) | (Value << Off);
    if (Off + Count > 64) {
        const unsigned Hi = 64 - Off;
        W[I + 1] = (W[I + 1] & ~(M >> Hi)) | (Value >> Hi);
    }
}

// Applies Op(word, mask) to every word that holds bits of From .. To - 1, where mask selects the
// bits of the range in that word.
template <class OpT>
inline void ForRange(uint64_t* W, size_t From, size_t To, OpT Op) noexcept {
    if (From >= To)
        return;
    size_t First = From >> 6;
    const size_t Last = (To - 1) >> 6;
    const uint64_t HeadMask = ~uint64_t(0) << (From & 63);
    const uint64_t TailMask = LowMask(static_cast<unsigned>(((To - 1) & 63) + 1));
    if (First == Last) {
        Op(W[First], HeadMask & TailMask, First);
        return;
    }
    Op(W[First], HeadMask, First);
    for (size_t I = First + 1; I < Last; ++I)
        Op(W[I], ~uint64_t(0), I);
    Op(W[Last], TailMask, Last);
}

// Sets bits From .. To - 1 to Value.
inline void Fill(uint64_t* W, size_t From, size_t To, bool Value) noexcept {
    if (Value)
        ForRange(W, From, To, [](uint64_t& X, uint64_t M, size_t) { X |= M; });
    else
        ForRange(W, From, To, [](uint64_t& X, uint64_t M, size_t) { X &= ~M; });
}

// Complements bits From .. To - 1.
inline void Invert(uint64_t* W, size_t From, size_t To) noexcept {
    ForRange(W, From, To, [](uint64_t& X, uint64_t M, size_t) { X ^= M; });
}

// Copies bits From .. To - 1 of Src to the same positions of Dst. Src may be Dst.
inline void Copy(uint64_t* Dst, const uint64_t* Src, size_t From, size_t To) noexcept {
    ForRange(Dst, From, To,
             [Src](uint64_t& X, uint64_t M, size_t I) { X = (X & ~M) | (Src[I] & M); });
}

// True when any of bits From .. To - 1 is set.
inline bool Any(const uint64_t* W, size_t From, size_t To) noexcept {
    if (From >= To)
        return false;
    const size_t First = From >> 6;
    const size_t Last = (To - 1) >> 6;
    const uint64_t HeadMask = ~uint64_t(0) << (From & 63);
    const uint64_t TailMask = LowMask(static_cast<unsigned>(((To - 1) & 63) + 1));
    if (First == Last)
        return (W[First] & HeadMask & TailMask) != 0;
    if ((W[First] & HeadMask) != 0 || (W[Last] & TailMask) != 0)
        return true;
    for (size_t I = First + 1; I < Last; ++I)
        if (W[I] != 0)
            return true;
    return false;
}

} // namespace kv::bitwords
