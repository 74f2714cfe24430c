// TGCollection<T>: a typed owned collection of T items.
//
// A TCollection (see kv/rtl/collection.h for ownership, IDs and the exact notification order)
// whose items are all T or descendants of T: Add, Insert, GetItem, FindItemID and iteration give T*
// directly. The item class is a TItemClassOf<T> value chosen at construction (T itself by default),
// so a derived engine may create its items as a class derived from T:
//
//     class TVMInstructionSet : public TGCollection<TVMInstruction> {
//     public:
//         explicit TVMInstructionSet(TKvVirtualMachine* AOwner)
//             : TGCollection<TVMInstruction>(AOwner) {}
//     protected:
//         void Notify(TCollectionItem* Item, TCollectionNotification Action) override;
//         void Update(TCollectionItem* Item) override;
//     };
//
// Assigning the collection to a list of texts (List.Assign(&Collection), or
// Collection.AssignTo(&List)) replaces the list's lines by the display names of the items, in
// collection order, as one batch of the list (its change event fires once). Assigning it to
// anything else raises the cannot-assign error.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>

#include "kv/rtl/collection.h"
#include "kv/rtl/strings.h"
#include "kv/rtl/update_guard.h"

namespace kv {

template <class T>
requires std::derived_from<T, TCollectionItem>
class TGCollection : public TCollection {
public:
    using TItemClass = TItemClassOf<T>;

    explicit TGCollection(TPersistent* AOwner, TItemClass AItemClass = TItemClass())
        : TCollection(AOwner, AItemClass.Untyped()) {}

    std::string ClassName() const override { return "TGCollection"; }

    T* Add() { return static_cast<T*>(TCollection::Add()); }
    T* Insert(int Index) { return static_cast<T*>(TCollection::Insert(Index)); }
    T* GetItem(int Index) { return static_cast<T*>(TCollection::GetItem(Index)); }
    const T* GetItem(int Index) const { return static_cast<const T*>(TCollection::GetItem(Index)); }
    T* GetItemUnchecked(int Index) noexcept {
        return static_cast<T*>(TCollection::GetItemUnchecked(Index));
    }
    const T* GetItemUnchecked(int Index) const noexcept {
        return static_cast<const T*>(TCollection::GetItemUnchecked(Index));
    }
    T* FindItemID(int ID) const noexcept { return static_cast<T*>(TCollection::FindItemID(ID)); }

    // Iteration over the items as T* (invalidated by any change of the collection).
    class iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T*;
        using difference_type = std::ptrdiff_t;
        using pointer = T* const*;
        using reference = T*;
        iterator() = default;
        explicit iterator(TCollectionItem* const* P) : FPos(P) {}
        T* operator*() const noexcept { return static_cast<T*>(*FPos); }
        T* operator[](difference_type N) const noexcept { return static_cast<T*>(FPos[N]); }
        iterator& operator++() noexcept {
            ++FPos;
            return *this;
        }
        iterator operator++(int) noexcept {
            iterator R = *this;
            ++FPos;
            return R;
        }
        iterator& operator--() noexcept {
            --FPos;
            return *this;
        }
        iterator operator--(int) noexcept {
            iterator R = *this;
            --FPos;
            return R;
        }
        iterator& operator+=(difference_type N) noexcept {
            FPos += N;
            return *this;
        }
        iterator& operator-=(difference_type N) noexcept {
            FPos -= N;
            return *this;
        }
        friend iterator operator+(iterator I, difference_type N) noexcept { return I += N; }
        friend iterator operator+(difference_type N, iterator I) noexcept { return I += N; }
        friend iterator operator-(iterator I, difference_type N) noexcept { return I -= N; }
        friend difference_type operator-(iterator A, iterator B) noexcept {
            return A.FPos - B.FPos;
        }
        friend auto operator<=>(iterator A, iterator B) noexcept = default;

    private:
        TCollectionItem* const* FPos = nullptr;
    };
    iterator begin() const noexcept { return iterator(Items().data()); }
    iterator end() const noexcept { return iterator(Items().data() + Items().size()); }

    void AssignTo(TPersistent* Dest) const override {
        if (auto* List = dynamic_cast<TStrings*>(Dest)) {
            TUpdateGuard Guard(*List);
            List->Clear();
            for (int I = 0; I < GetCount(); ++I)
                List->Add(GetItemUnchecked(I)->GetDisplayName());
            return;
        }
        TCollection::AssignTo(Dest);
    }
};

} // namespace kv
