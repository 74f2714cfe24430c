// TFloatHeap and TFloatPriorityQueue: items ordered by a single-precision key.
//
// Items are pushed with a float key; the queue then offers its entries by position in strict
// priority order: position 0 is the first (the smallest key under hoSmallestFirst, the largest
// under hoLargestFirst), position 1 the next, and so on. Entries with equal keys keep the order in
// which they were pushed. A NaN key compares equal to no number: NaN entries come after every other
// entry under either order (in push order among themselves).
//
// Pushing is O(1); the order is established by one stable sort at the first positional read or
// Pop after a change, so a queue filled once and then read many times (the engine's elitist
// selection) sorts once. Reading an entry does not remove it.
//
// Items are not owned: the queue stores the pointers it is given and never dereferences them.
// Changing the order keeps the entries and re-sorts them; Clear removes every entry and keeps the
// order.
//
// Errors: reading a position outside 0 .. Count - 1 raises EListError naming the position and the
// count; Pop on an empty queue raises EListError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kv/rtl/object.h"

namespace kv {

enum TFloatHeapOrder : int { hoSmallestFirst, hoLargestFirst };

struct TFloatHeapEntry {
    TObject* Item;
    float Key;
};

class TFloatHeap : public TObject {
public:
    TFloatHeap() = default;

    std::string ClassName() const override { return "TFloatHeap"; }

    // Removes every entry.
    void Clear() noexcept;
    // The number of entries.
    int32_t GetCount() const noexcept { return static_cast<int32_t>(FEntries.size() - FHead); }
    bool IsEmpty() const noexcept { return GetCount() == 0; }

    TFloatHeapOrder GetOrder() const noexcept { return FOrder; }
    // Chooses which key comes first; the entries are kept and re-ordered.
    void SetOrder(TFloatHeapOrder Value) noexcept;

    // Adds Item with Key.
    void Push(TObject* Item, float Key);

    // The entry at Position in priority order, without removing it.
    const TFloatHeapEntry& GetEntry(int32_t Position) const;
    TObject* GetItem(int32_t Position) const { return GetEntry(Position).Item; }
    float GetKey(int32_t Position) const { return GetEntry(Position).Key; }

    // Removes the first entry and returns its item.
    TObject* Pop();

private:
    // Sorts the live entries when a push or an order change has disturbed them.
    void EnsureOrdered() const;

    // Live entries are FEntries[FHead ..]; popping advances FHead instead of shifting.
    mutable std::vector<TFloatHeapEntry> FEntries;
    size_t FHead = 0;
    mutable bool FOrdered = true;
    TFloatHeapOrder FOrder = hoSmallestFirst;
};

// The queue the engine uses for elitist selection; it is the heap under its traditional name.
class TFloatPriorityQueue : public TFloatHeap {
public:
    TFloatPriorityQueue() = default;

    std::string ClassName() const override { return "TFloatPriorityQueue"; }

    // The first entry's item without removing it.
    TObject* Peek() const { return GetItem(0); }
};

} // namespace kv
