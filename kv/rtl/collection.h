// TCollectionItem and TCollection: an ordered, owned list of items of one item class.
//
// Items
//   Every item knows its collection (GetCollection), its position (GetIndex; moving an item with
//   SetIndex changes it) and an ID (GetID) taken from the collection's counter when it joins;
//   IDs are never reused, not even after Clear. An item outside any collection has index -1, and
//   the ID it last had (-1 if it never joined one). The display name (GetDisplayName) is the
//   class name here; item classes with a name of their own override it to return that name when it
//   is not empty. An item reports a change of its own with Changed(false), a change that concerns
//   the whole collection with Changed(true).
//
// Item classes
//   The kind of item a collection creates is a value, TCollectionItemClass, not a C++ template
//   parameter, so a derived engine can hand its collections another item class at run time.
//   TCollectionItemClass::Of<T>() creates T with `new T()`; Of<T>(Factory) uses any callable that
//   returns a std::unique_ptr<T>. The typed form TItemClassOf<TBase> accepts only classes derived
//   from TBase, which is how a "class of" type is declared:
//
//       class TKvGAIndividual : public TCollectionItem { ... };
//       using TKvGAIndividualClass = TItemClassOf<TKvGAIndividual>;
//       TKvGAIndividualClass C = TKvGAIndividualClass::Of<TMyIndividual>();
//
//   Item constructors take no collection: the collection constructs the item completely (through
//   the item class, so every override of the item's class is in place) and only then inserts it
//   and sends the notifications.
//
// Ownership
//   The collection owns its items and deletes them in Delete, Clear and its destructor. An item
//   can also be destroyed directly: Free() takes it out of its collection (with notifications,
//   while the item is whole) and deletes it. Plain `delete` on an item inside a collection also
//   takes it out first, but from the base destructor, when the derived parts are already gone: the
//   hooks then see a plain TCollectionItem and may only compare the pointer. SetCollection moves
//   an item to another collection (which takes ownership) or out of any (the caller takes it).
//   Items that a collection owns must live on the heap.
//
// Notifications (protected virtual hooks that derived collections override to reach their owner)
//   Notify(Item, Action)  cnAdded after an item joined (it is in the list, index and ID set);
//                         cnExtracting / cnDeleting before an item leaves, while it is still
//                         listed.
//   Update(Item)          Item after the item reported a change of its own; nullptr after a general
//                         change (an item added, removed or moved, Changed(true), end of a batch).
//   BeginUpdate/EndUpdate nest; while a batch is open Update is not called (the outermost EndUpdate
//   calls Update(nullptr) once); Notify is always called. The exact order:
//     Add()             item created by the item class; listed at the end; Notify(cnAdded);
//                       Update(nullptr)
//     Insert(Index)     as Add, then the move to Index: Update(nullptr) once more (if Index is not
//                       the end). Index must be 0..Count, checked before anything is created.
//     Delete(Index)     Notify(cnDeleting); Notify(cnExtracting); unlisted; Update(nullptr);
//                       item deleted
//     Free(), SetCollection(nullptr)
//                       Notify(cnExtracting); unlisted; Update(nullptr) (Free then deletes)
//     Clear()           BeginUpdate; for each item, last to first: Notify(cnExtracting), unlisted,
//                       deleted; EndUpdate -> Update(nullptr). An empty collection sends nothing.
//     SetIndex / Move   Update(nullptr) (nothing when the index does not change)
//     SetItem(I, X)     GetItem(I)->Assign(X); whatever the item's Assign reports
//     Assign(Other)     BeginUpdate; Clear (as above); per source item Add (Notify(cnAdded)) and
//                       Assign; EndUpdate -> Update(nullptr)
//     ~TCollection      items unlisted and deleted silently (C++ calls no override from a base
//                       destructor); a derived collection that must hear of each removal calls
//                       Clear() in its own destructor.
//   When Notify(cnAdded) or the following Update raises during Add/Insert, the item is taken out
//   again (Notify(cnExtracting), errors of that call ignored) and deleted before the exception
//   passes: the collection is as before, except that the ID counter has advanced. An exception from
//   the move's Update in Insert leaves the item inserted at Index. An exception from
//   Notify(cnDeleting/cnExtracting) leaves the item in place. When the new collection's hooks raise
//   in SetCollection, the item ends outside any collection and the caller owns it.
//
// Change count: GetChangeCount() counts every change of the list itself (an item listed, unlisted
// or moved), in or out of a batch; it never decreases. A loop over the items that calls out to
// code it does not control (an event handler) compares it before and after the call to notice that
// the handler added, removed or moved items, instead of reading a freed or shifted item.
//
// Errors: an index outside the list raises EListError naming the index and the count; inserting
// an item that is not of the collection's item class raises EListError naming both classes.
//
// Performance: GetItem(I) is inline and bounds-checked without virtual calls;
// GetItemUnchecked(I) skips the check for loops that already know the range. GetIndex is O(1).
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "kv/rtl/list_index.h"
#include "kv/rtl/object.h"

namespace kv {

class TCollection;

enum TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

class TCollectionItem : public TPersistent {
public:
    TCollectionItem() = default;
    // Takes the item out of its collection first (see Ownership above).
    ~TCollectionItem() override;

    std::string ClassName() const override { return "TCollectionItem"; }

    TCollection* GetCollection() const noexcept { return FCollection; }
    // Moves the item into ACollection (which takes ownership) or, with nullptr, out of any
    // collection (the caller takes ownership). Raises EListError when the item is not of
    // ACollection's item class.
    virtual void SetCollection(TCollection* ACollection);

    // Position in the collection, -1 outside one.
    int GetIndex() const noexcept { return FIndex; }
    // Moves the item to Value (0..Count-1, else EListError); Update(nullptr) when it moved.
    virtual void SetIndex(int Value);
    int GetID() const noexcept { return FID; }

    // The name shown for the item: the class name here.
    virtual std::string GetDisplayName() const { return ClassName(); }
    // The base keeps no name; it only reports a change of the item.
    virtual void SetDisplayName(const std::string& Value);

    // Takes the item out of its collection and deletes it. The item must be on the heap.
    void Free();

protected:
    // Reports a change to the collection: Update(this), or Update(nullptr) when AllItems; nothing
    // while the collection is in a batch or when the item belongs to none.
    void Changed(bool AllItems);

private:
    friend class TCollection;
    TCollection* FCollection = nullptr;
    int FIndex = -1;
    int FID = -1;
};

// The class of the items a collection creates: a factory, a class name and an "is" test.
class TCollectionItemClass {
public:
    using TCreateFunction = std::function<std::unique_ptr<TCollectionItem>()>;

    // Items of class T, created with `new T()`.
    template <class T>
    requires std::derived_from<T, TCollectionItem> && std::default_initializable<T>
    static TCollectionItemClass Of() {
        return TCollectionItemClass(
            &typeid(T), [] { return std::make_unique<T>(); }, &IsInstanceOf<T>);
    }
    // Items of class T created by Create (a callable returning std::unique_ptr<T> or a pointer
    // convertible to one).
    template <class T, class F>
    requires std::derived_from<T, TCollectionItem>
    static TCollectionItemClass Of(F Create) {
        return TCollectionItemClass(
            &typeid(T),
            [Create = std::move(Create)]() -> std::unique_ptr<TCollectionItem> {
                return std::unique_ptr<T>(Create());
            },
            &IsInstanceOf<T>);
    }

    // A new, fully constructed item that belongs to no collection. Raises EListError when the
    // factory returns nothing or an item already in a collection.
    std::unique_ptr<TCollectionItem> Create() const;
    // The class name of the items (asks a freshly created item; meant for messages).
    std::string ClassName() const;
    // True when Item is of this class or a class derived from it.
    bool IsInstance(const TCollectionItem* Item) const noexcept {
        return Item != nullptr && FIsInstance(Item);
    }
    // True when both describe the same C++ class (the factories may differ).
    bool SameClass(const TCollectionItemClass& Other) const noexcept {
        return *FType == *Other.FType;
    }
    const std::type_info& TypeInfo() const noexcept { return *FType; }

private:
    using TIsInstanceFunction = bool (*)(const TCollectionItem*);
    TCollectionItemClass(const std::type_info* AType, TCreateFunction ACreate,
                         TIsInstanceFunction AIsInstance)
        : FType(AType), FCreate(std::move(ACreate)), FIsInstance(AIsInstance) {}
    template <class T>
    static bool IsInstanceOf(const TCollectionItem* Item) noexcept {
        return dynamic_cast<const T*>(Item) != nullptr;
    }

    const std::type_info* FType;
    TCreateFunction FCreate;
    TIsInstanceFunction FIsInstance;
};

// A class reference restricted to TBase and its descendants ("class of TBase"). Converts to the
// untyped TCollectionItemClass; Create() returns a TBase. Default-constructed, it is TBase itself.
template <class TBase>
requires std::derived_from<TBase, TCollectionItem>
class TItemClassOf {
public:
    TItemClassOf() requires std::default_initializable<TBase>
        : FClass(TCollectionItemClass::Of<TBase>()) {}

    template <class T = TBase>
    requires std::derived_from<T, TBase> && std::default_initializable<T>
    static TItemClassOf Of() { return TItemClassOf(TCollectionItemClass::Of<T>()); }
    template <class T, class F>
    requires std::derived_from<T, TBase>
    static TItemClassOf Of(F Create) {
        return TItemClassOf(TCollectionItemClass::Of<T>(std::move(Create)));
    }

    std::unique_ptr<TBase> Create() const {
        return std::unique_ptr<TBase>(static_cast<TBase*>(FClass.Create().release()));
    }
    std::string ClassName() const { return FClass.ClassName(); }
    bool IsInstance(const TCollectionItem* Item) const noexcept { return FClass.IsInstance(Item); }
    const TCollectionItemClass& Untyped() const noexcept { return FClass; }
    operator const TCollectionItemClass&() const noexcept { return FClass; }

private:
    explicit TItemClassOf(TCollectionItemClass C) : FClass(std::move(C)) {}
    TCollectionItemClass FClass;
};

class TCollection : public TPersistent {
public:
    // AOwner is the object the collection reports to (an engine, a machine); it is not owned and
    // may be nullptr.
    TCollection(TPersistent* AOwner, TCollectionItemClass AItemClass);
    ~TCollection() override;

    std::string ClassName() const override { return "TCollection"; }

    TPersistent* GetOwner() const noexcept { return FOwner; }
    const TCollectionItemClass& GetItemClass() const noexcept { return FItemClass; }

    int GetCount() const noexcept { return static_cast<int>(FItems.size()); }
    // The item at Index; EListError naming Index and Count outside 0..Count-1.
    TCollectionItem* GetItem(int Index) {
        CheckListIndex(Index, GetCount());
        return FItems[static_cast<size_t>(Index)];
    }
    const TCollectionItem* GetItem(int Index) const {
        CheckListIndex(Index, GetCount());
        return FItems[static_cast<size_t>(Index)];
    }
    // The item at Index without the range check; the caller guarantees 0 <= Index < Count.
    TCollectionItem* GetItemUnchecked(int Index) noexcept {
        return FItems[static_cast<size_t>(Index)];
    }
    const TCollectionItem* GetItemUnchecked(int Index) const noexcept {
        return FItems[static_cast<size_t>(Index)];
    }
    // All items in order (valid until the collection changes).
    std::span<TCollectionItem* const> Items() const noexcept { return FItems; }
    // Assigns Value to the item at Index (the stored item stays, its contents change).
    void SetItem(int Index, const TPersistent* Value);

    // Appends a new item of the item class (see the notification order above).
    TCollectionItem* Add();
    // Adds a new item and moves it to Index (0..Count, else EListError before anything happens).
    TCollectionItem* Insert(int Index);
    // Deletes the item at Index (EListError outside 0..Count-1).
    void Delete(int Index);
    // Deletes every item.
    void Clear();
    // The item with that ID, or nullptr.
    TCollectionItem* FindItemID(int ID) const noexcept;

    virtual void BeginUpdate() { ++FUpdateCount; }
    // Closes one level of batch; the outermost calls Update(nullptr). Without an open batch it
    // does nothing.
    virtual void EndUpdate();
    int GetUpdateCount() const noexcept { return FUpdateCount; }
    // The number of changes of the list so far (see Change count above).
    uint64_t GetChangeCount() const noexcept { return FChangeCount; }

    // From another TCollection: replaces the items by new items of this collection's item class,
    // each assigned from the source item, in one batch. Assigning a collection to itself does
    // nothing. Anything else: the cannot-assign error.
    void Assign(const TPersistent* Source) override;

protected:
    // See Notifications above. The base does nothing.
    virtual void Notify(TCollectionItem* Item, TCollectionNotification Action);
    virtual void Update(TCollectionItem* Item);
    // Update(nullptr) unless a batch is open.
    void Changed();

private:
    friend class TCollectionItem;
    // Lists an item that belongs to no collection, gives it an ID, Notify(cnAdded), Changed().
    // When a hook raises, the item is unlisted again (not deleted) and the exception passes.
    void InsertItem(TCollectionItem* Item);
    // Notify(cnExtracting), then unlists the item; the caller owns it afterwards and calls
    // Changed(). An exception from Notify leaves the item listed.
    void ExtractItem(TCollectionItem* Item);
    // Unlists without any notification.
    void Unlist(TCollectionItem* Item) noexcept;
    void MoveItem(int CurIndex, int NewIndex);
    void Renumber(int From, int To) noexcept;

    TPersistent* FOwner;
    TCollectionItemClass FItemClass;
    std::vector<TCollectionItem*> FItems; // owned
    int FNextID = 0;
    int FUpdateCount = 0;
    uint64_t FChangeCount = 0;
};

} // namespace kv
