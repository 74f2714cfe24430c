// TEnumSet: a set of the members of a plain enumeration, stored as a small bit pattern.
//
// Bit n of the pattern stands for the member with ordinal n, so a set's pattern is the same number
// a stored set would have (all three genetic operations: 0x07). Members are ordinals 0 .. Count -
// 1; FromBits drops bits at or above Count, and Include/Exclude/Contains of an ordinal outside that
// range do nothing / report false, so a set never holds a non-member. Value type: copy freely.
#pragma once

#include <initializer_list>
#include <type_traits>

namespace kv {

template <class E, class StorageT, int Count>
class TEnumSet {
    static_assert(std::is_enum_v<E>, "TEnumSet holds members of an enumeration");
    static_assert(std::is_unsigned_v<StorageT> && Count > 0 && Count <= int(sizeof(StorageT) * 8),
                  "the storage must hold one bit per member");

public:
    using Storage = StorageT;
    static constexpr int MemberCount = Count;
    // The pattern with every member's bit set.
    static constexpr Storage AllBits = static_cast<Storage>(
        Count == int(sizeof(Storage) * 8) ? Storage(~Storage(0))
                                          : Storage((Storage(1) << Count) - 1));

    constexpr TEnumSet() noexcept = default;
    constexpr TEnumSet(std::initializer_list<E> Members) noexcept {
        for (E M : Members)
            Include(M);
    }
    // The set whose pattern is Bits (bits of non-members are dropped).
    static constexpr TEnumSet FromBits(Storage Bits) noexcept {
        TEnumSet S;
        S.FBits = static_cast<Storage>(Bits & AllBits);
        return S;
    }
    // The set of every member.
    static constexpr TEnumSet All() noexcept { return FromBits(AllBits); }

    // The bit pattern: bit n set when the member of ordinal n is in the set.
    constexpr Storage Bits() const noexcept { return FBits; }

    constexpr TEnumSet& Include(E Member) noexcept {
        if (Valid(Member))
            FBits = static_cast<Storage>(FBits | Bit(Member));
        return *this;
    }
    constexpr TEnumSet& Exclude(E Member) noexcept {
        if (Valid(Member))
            FBits = static_cast<Storage>(FBits & ~Bit(Member));
        return *this;
    }
    constexpr bool Contains(E Member) const noexcept {
        return Valid(Member) && (FBits & Bit(Member)) != 0;
    }
    constexpr bool Empty() const noexcept { return FBits == 0; }

    // Union, intersection and difference.
    friend constexpr TEnumSet operator+(TEnumSet A, TEnumSet B) noexcept {
        return FromBits(static_cast<Storage>(A.FBits | B.FBits));
    }
    friend constexpr TEnumSet operator*(TEnumSet A, TEnumSet B) noexcept {
        return FromBits(static_cast<Storage>(A.FBits & B.FBits));
    }
    friend constexpr TEnumSet operator-(TEnumSet A, TEnumSet B) noexcept {
        return FromBits(static_cast<Storage>(A.FBits & ~B.FBits));
    }
    friend constexpr bool operator==(TEnumSet A, TEnumSet B) noexcept = default;

private:
    static constexpr bool Valid(E Member) noexcept {
        return static_cast<int>(Member) >= 0 && static_cast<int>(Member) < Count;
    }
    static constexpr Storage Bit(E Member) noexcept {
        return static_cast<Storage>(Storage(1) << static_cast<int>(Member));
    }

    Storage FBits = 0;
};

} // namespace kv
