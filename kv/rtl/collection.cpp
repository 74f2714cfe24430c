#include "kv/rtl/collection.h"

#include <algorithm>

#include "kv/rtl/exceptions.h"
#include "kv/rtl/update_guard.h"

namespace kv {

// ---- TCollectionItem ----

TCollectionItem::~TCollectionItem() {
    if (FCollection == nullptr)
        return;
    // Deleted directly while listed: leave the collection, telling it as far as a destructor can.
    TCollection* C = FCollection;
    try {
        C->Notify(this, cnExtracting);
    } catch (...) {
    }
    C->Unlist(this);
    try {
        C->Changed();
    } catch (...) {
    }
}

void TCollectionItem::SetCollection(TCollection* ACollection) {
    if (ACollection == FCollection)
        return;
    if (ACollection != nullptr && !ACollection->GetItemClass().IsInstance(this))
        throw EListError(Format("Cannot add a %s to a collection of %s", ClassName(),
                                ACollection->GetItemClass().ClassName()));
    if (FCollection != nullptr) {
        TCollection* Old = FCollection;
        Old->ExtractItem(this);
        Old->Changed();
    }
    if (ACollection != nullptr)
        ACollection->InsertItem(this);
}

void TCollectionItem::SetIndex(int Value) {
    if (FCollection == nullptr || Value == FIndex)
        return;
    CheckListIndex(Value, FCollection->GetCount());
    FCollection->MoveItem(FIndex, Value);
    FCollection->Changed();
}

void TCollectionItem::SetDisplayName(const std::string& /*Value*/) {
    Changed(false);
}

void TCollectionItem::Free() {
    if (FCollection == nullptr) {
        delete this;
        return;
    }
    TCollection* C = FCollection;
    C->ExtractItem(this);
    std::unique_ptr<TCollectionItem> Owned(this);
    C->Changed();
}

void TCollectionItem::Changed(bool AllItems) {
    if (FCollection != nullptr && FCollection->FUpdateCount == 0)
        FCollection->Update(AllItems ? nullptr : this);
}

// ---- TCollectionItemClass ----

std::unique_ptr<TCollectionItem> TCollectionItemClass::Create() const {
    std::unique_ptr<TCollectionItem> Item = FCreate();
    if (Item == nullptr)
        throw EListError(Format("The item class %s created no item", FType->name()));
    if (Item->GetCollection() != nullptr)
        throw EListError(Format("The item class %s created an item that is already in a collection",
                                Item->ClassName()));
    return Item;
}

std::string TCollectionItemClass::ClassName() const {
    return FCreate()->ClassName();
}

// ---- TCollection ----

TCollection::TCollection(TPersistent* AOwner, TCollectionItemClass AItemClass)
    : FOwner(AOwner), FItemClass(std::move(AItemClass)) {}

TCollection::~TCollection() {
    while (!FItems.empty()) {
        TCollectionItem* Item = FItems.back();
        FItems.pop_back();
        Item->FCollection = nullptr;
        Item->FIndex = -1;
        delete Item;
    }
}

void TCollection::SetItem(int Index, const TPersistent* Value) {
    GetItem(Index)->Assign(Value);
}

TCollectionItem* TCollection::Add() {
    std::unique_ptr<TCollectionItem> Item = FItemClass.Create();
    InsertItem(Item.get());
    return Item.release();
}

TCollectionItem* TCollection::Insert(int Index) {
    if (Index < 0 || Index > GetCount())
        RaiseListIndexError(Index, GetCount());
    TCollectionItem* Item = Add();
    Item->SetIndex(Index);
    return Item;
}

void TCollection::Delete(int Index) {
    TCollectionItem* Item = GetItem(Index);
    Notify(Item, cnDeleting);
    ExtractItem(Item);
    std::unique_ptr<TCollectionItem> Owned(Item);
    Changed();
}

void TCollection::Clear() {
    if (FItems.empty())
        return;
    TUpdateGuard Guard(*this);
    while (!FItems.empty()) {
        TCollectionItem* Item = FItems.back();
        ExtractItem(Item);
        delete Item;
    }
}

TCollectionItem* TCollection::FindItemID(int ID) const noexcept {
    for (TCollectionItem* Item : FItems)
        if (Item->FID == ID)
            return Item;
    return nullptr;
}

void TCollection::EndUpdate() {
    if (FUpdateCount == 0)
        return;
    --FUpdateCount;
    Changed();
}

void TCollection::Assign(const TPersistent* Source) {
    if (Source == this)
        return;
    if (const auto* Src = dynamic_cast<const TCollection*>(Source)) {
        TUpdateGuard Guard(*this);
        Clear();
        for (int I = 0; I < Src->GetCount(); ++I)
            Add()->Assign(Src->GetItem(I));
        return;
    }
    TPersistent::Assign(Source);
}

void TCollection::Notify(TCollectionItem* /*Item*/, TCollectionNotification /*Action*/) {}

void TCollection::Update(TCollectionItem* /*Item*/) {}

void TCollection::Changed() {
    if (FUpdateCount == 0)
        Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* Item) {
    if (!FItemClass.IsInstance(Item))
        throw EListError(Format("Cannot add a %s to a collection of %s", Item->ClassName(),
                                FItemClass.ClassName()));
    FItems.push_back(Item);
    ++FChangeCount;
    Item->FCollection = this;
    Item->FIndex = GetCount() - 1;
    Item->FID = FNextID++;
    try {
        Notify(Item, cnAdded);
        Changed();
    } catch (...) {
        if (Item->FCollection == this) {
            try {
                Notify(Item, cnExtracting);
            } catch (...) {
            }
            Unlist(Item);
        }
        throw;
    }
}

void TCollection::ExtractItem(TCollectionItem* Item) {
    Notify(Item, cnExtracting);
    Unlist(Item);
}

void TCollection::Unlist(TCollectionItem* Item) noexcept {
    if (Item->FCollection != this)
        return;
    int Index = Item->FIndex;
    FItems.erase(FItems.begin() + Index);
    ++FChangeCount;
    Item->FCollection = nullptr;
    Item->FIndex = -1;
    Renumber(Index, GetCount());
}

void TCollection::MoveItem(int CurIndex, int NewIndex) {
    ++FChangeCount;
    auto Begin = FItems.begin();
    if (CurIndex < NewIndex)
        std::rotate(Begin + CurIndex, Begin + CurIndex + 1, Begin + NewIndex + 1);
    else
        std::rotate(Begin + NewIndex, Begin + CurIndex, Begin + CurIndex + 1);
    Renumber(std::min(CurIndex, NewIndex), std::max(CurIndex, NewIndex) + 1);
}

void TCollection::Renumber(int From, int To) noexcept {
    for (int I = From; I < To; ++I)
        FItems[static_cast<size_t>(I)]->FIndex = I;
}

} // namespace kv
