// Index checking shared by the run-time layer's lists (collections, string lists, components).
//
// An index outside a list raises EListError "List index out of bounds (<index>); count is <count>",
// so the message always names both the offending index and the size of the list it missed.
#pragma once

namespace kv {

// Raises EListError naming Index and Count. Kept out of line so that the inline checks stay small.
[[noreturn]] void RaiseListIndexError(int Index, int Count);

// Raises EListError unless 0 <= Index < Count.
inline void CheckListIndex(int Index, int Count) {
    if (static_cast<unsigned>(Index) >= static_cast<unsigned>(Count))
        RaiseListIndexError(Index, Count);
}

} // namespace kv
