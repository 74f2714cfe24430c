#include "kv/common/float_heap.h"

#include <algorithm>
#include <cmath>

#include "kv/rtl/exceptions.h"

namespace kv {

void TFloatHeap::Clear() noexcept {
    FEntries.clear();
    FHead = 0;
    FOrdered = true;
}

void TFloatHeap::SetOrder(TFloatHeapOrder Value) noexcept {
    if (Value == FOrder)
        return;
    FOrder = Value;
    FOrdered = false;
}

void TFloatHeap::Push(TObject* Item, float Key) {
    if (FHead > 0 && FHead * 2 >= FEntries.size()) {
        // At least half the storage holds popped entries: drop them instead of growing.
        FEntries.erase(FEntries.begin(), FEntries.begin() + static_cast<std::ptrdiff_t>(FHead));
        FHead = 0;
    }
    FEntries.push_back(TFloatHeapEntry{Item, Key});
    FOrdered = false;
}

void TFloatHeap::EnsureOrdered() const {
    if (FOrdered)
        return;
    const auto First = FEntries.begin() + static_cast<std::ptrdiff_t>(FHead);
    // Strict weak orders that put NaN keys last; stable_sort keeps push order among equals.
    if (FOrder == hoSmallestFirst)
        std::stable_sort(First, FEntries.end(),
                         [](const TFloatHeapEntry& A, const TFloatHeapEntry& B) {
                             return !std::isnan(A.Key) && (std::isnan(B.Key) || A.Key < B.Key);
                         });
    else
        std::stable_sort(First, FEntries.end(),
                         [](const TFloatHeapEntry& A, const TFloatHeapEntry& B) {
                             return !std::isnan(A.Key) && (std::isnan(B.Key) || A.Key > B.Key);
                         });
    FOrdered = true;
}

const TFloatHeapEntry& TFloatHeap::GetEntry(int32_t Position) const {
    if (Position < 0 || Position >= GetCount())
        throw EListError(
            Format("Priority queue position out of range: %i (count %i)", Position, GetCount()));
    EnsureOrdered();
    return FEntries[FHead + static_cast<size_t>(Position)];
}

TObject* TFloatHeap::Pop() {
    if (IsEmpty())
        throw EListError("Priority queue is empty: nothing to pop");
    EnsureOrdered();
    return FEntries[FHead++].Item;
}

} // namespace kv
