// TBits: a growable array of bits stored in 64-bit words.
//
// Bit i lives in word i / 64 at bit position i % 64 (least significant first). A new array has
// Size 0. Growing sets the new bits to 0; shrinking drops the bits at and beyond the new size and
// clears them in the last word, so the padding bits of the last word (those at or beyond Size) are
// always 0. Word-level code may rely on that padding and must keep it: whoever writes through
// Words() clears the padding again (ClearPadding) before another operation reads the words.
//
// Errors: a negative size raises EListError naming the size; a bit index outside 0 .. Size - 1
// raises EListError naming the index and the size. Nothing is changed when an error is raised.
//
// Assign copies another TBits' size and bits (descendants copy their own extra state as well);
// any other source goes through the cannot-assign protocol of TPersistent. The array owns its
// words; a copy never shares them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kv/rtl/object.h"

namespace kv {

class TBits : public TPersistent {
public:
    static constexpr int WordBits = 64;

    TBits() = default;

    std::string ClassName() const override { return "TBits"; }
    void Assign(const TPersistent* Source) override;

    // The number of bits.
    int32_t GetSize() const noexcept { return FSize; }
    // Changes the number of bits: new bits are 0, dropped bits are gone. Raises EListError for a
    // negative size.
    void SetSize(int32_t Value);

    // Bit Index; raises EListError when Index is outside 0 .. Size - 1.
    bool GetBit(int32_t Index) const {
        CheckIndex(Index);
        return (FWords[static_cast<size_t>(Index) >> 6] >> (Index & 63)) & 1u;
    }
    // Sets bit Index to Value; raises EListError when Index is outside 0 .. Size - 1.
    void SetBit(int32_t Index, bool Value) {
        CheckIndex(Index);
        uint64_t& W = FWords[static_cast<size_t>(Index) >> 6];
        const uint64_t M = uint64_t(1) << (Index & 63);
        W = Value ? (W | M) : (W & ~M);
    }

    // The storage: WordCount() words, (Size + 63) / 64 of them, bit i in word i / 64 at bit i % 64.
    // Bits at or beyond Size in the last word are 0; a writer through the mutable form keeps them 0
    // (or calls ClearPadding afterwards).
    size_t WordCount() const noexcept { return FWords.size(); }
    const uint64_t* Words() const noexcept { return FWords.data(); }
    uint64_t* Words() noexcept { return FWords.data(); }
    // Clears the bits at or beyond Size in the last word.
    void ClearPadding() noexcept;

    // Equal size and equal bits.
    bool Equals(const TBits& Other) const noexcept {
        return FSize == Other.FSize && FWords == Other.FWords;
    }

protected:
    // Copies Source's size and bits; reuses the storage when the word count does not change.
    void CopyBits(const TBits& Source);

private:
    void CheckIndex(int32_t Index) const {
        if (Index < 0 || Index >= FSize)
            IndexError(Index);
    }
    [[noreturn]] void IndexError(int32_t Index) const;

    std::vector<uint64_t> FWords;
    int32_t FSize = 0;
};

} // namespace kv
