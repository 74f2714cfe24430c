#include "kv/rtl/bits.h"

#include "kv/rtl/exceptions.h"

namespace kv {

void TBits::SetSize(int32_t Value) {
    if (Value < 0)
        throw EListError(Format("Bits size out of range: %i", Value));
    if (Value == FSize)
        return;
    FWords.resize((static_cast<size_t>(Value) + WordBits - 1) / WordBits, 0);
    FSize = Value;
    // Growing: resize zero-filled the new words, and the old padding was already 0.
    // Shrinking: the dropped bits of the last kept word are cleared here.
    ClearPadding();
}

void TBits::ClearPadding() noexcept {
    const int Used = FSize & 63;
    if (Used != 0)
        FWords.back() &= (uint64_t(1) << Used) - 1;
}

void TBits::CopyBits(const TBits& Source) {
    if (&Source == this)
        return;
    FWords.assign(Source.FWords.begin(), Source.FWords.end());
    FSize = Source.FSize;
}

void TBits::Assign(const TPersistent* Source) {
    if (const auto* Bits = dynamic_cast<const TBits*>(Source)) {
        CopyBits(*Bits);
        return;
    }
    TPersistent::Assign(Source);
}

void TBits::IndexError(int32_t Index) const {
    throw EListError(Format("Bits index out of range: %i (size %i)", Index, FSize));
}

} // namespace kv
