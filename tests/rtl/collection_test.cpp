#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "kv/rtl/collection.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/update_guard.h"

using namespace kv;

namespace {

// An item with a name of its own that counts its destruction.
class TNamedItem : public TCollectionItem {
public:
    explicit TNamedItem(int* Destroyed = nullptr) : FDestroyed(Destroyed) {}
    ~TNamedItem() override {
        if (FDestroyed != nullptr)
            ++*FDestroyed;
    }
    std::string ClassName() const override { return "TNamedItem"; }
    std::string GetDisplayName() const override {
        return FName.empty() ? TCollectionItem::GetDisplayName() : FName;
    }
    const std::string& GetName() const { return FName; }
    void SetName(const std::string& Value) {
        if (Value == FName)
            return;
        FName = Value;
        Changed(false);
    }
    void TouchAll() { Changed(true); }
    void Assign(const TPersistent* Source) override {
        if (const auto* Src = dynamic_cast<const TNamedItem*>(Source)) {
            FName = Src->FName;
            Changed(false);
            return;
        }
        TCollectionItem::Assign(Source);
    }

private:
    std::string FName;
    int* FDestroyed;
};

// A descendant whose constructor state must already be there when the collection announces it.
class TSpecialItem : public TNamedItem {
public:
    std::string ClassName() const override { return "TSpecialItem"; }
    int Ready = 42;
};

const char* ActionName(TCollectionNotification A) {
    return A == cnAdded ? "Added" : A == cnExtracting ? "Extracting" : "Deleting";
}

// Records every hook call as "<Action> <ID>@<Index>/<Count>" or "Update <ID>" / "Update
// nil/<Count>".
class TLogCollection : public TCollection {
public:
    explicit TLogCollection(TCollectionItemClass C = TCollectionItemClass::Of<TNamedItem>())
        : TCollection(nullptr, std::move(C)) {}
    std::vector<std::string> Log;
    std::function<void(TCollectionItem*, TCollectionNotification)> OnNotify;
    std::function<void(TCollectionItem*)> OnUpdate;
    TNamedItem* Named(int I) { return static_cast<TNamedItem*>(GetItem(I)); }
    std::vector<int> IDs() const {
        std::vector<int> R;
        for (TCollectionItem* Item : Items())
            R.push_back(Item->GetID());
        return R;
    }

protected:
    void Notify(TCollectionItem* Item, TCollectionNotification Action) override {
        Log.push_back(
            Format("%s %d@%d/%d", ActionName(Action), Item->GetID(), Item->GetIndex(), GetCount()));
        if (OnNotify)
            OnNotify(Item, Action);
    }
    void Update(TCollectionItem* Item) override {
        Log.push_back(Item != nullptr ? Format("Update %d", Item->GetID())
                                      : Format("Update nil/%d", GetCount()));
        if (OnUpdate)
            OnUpdate(Item);
    }
};

using Strings = std::vector<std::string>;

TCollectionItemClass Tracked(int& Destroyed) {
    return TCollectionItemClass::Of<TNamedItem>(
        [&Destroyed] { return new TNamedItem(&Destroyed); });
}

} // namespace

TEST(Collection, AddAndInsertNotifyInOrder) {
    TLogCollection C;
    TCollectionItem* A = C.Add();
    EXPECT_EQ(C.Log, (Strings{"Added 0@0/1", "Update nil/1"}));
    EXPECT_EQ(A->GetCollection(), &C);
    C.Add();
    C.Log.clear();

    TCollectionItem* B = C.Insert(0); // appended, announced, then moved
    EXPECT_EQ(C.Log, (Strings{"Added 2@2/3", "Update nil/3", "Update nil/3"}));
    EXPECT_EQ(C.IDs(), (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(B->GetIndex(), 0);
    EXPECT_EQ(A->GetIndex(), 1);

    C.Log.clear();
    C.Insert(3); // at the end: no move
    EXPECT_EQ(C.Log, (Strings{"Added 3@3/4", "Update nil/4"}));

    C.Log.clear();
    EXPECT_THROW(C.Insert(5), EListError);
    EXPECT_THROW(C.Insert(-1), EListError);
    EXPECT_TRUE(C.Log.empty());
    EXPECT_EQ(C.GetCount(), 4);
    EXPECT_EQ(C.Add()->GetID(), 4); // the refused inserts took no ID
}

TEST(Collection, DeleteAndClearNotifyWhileItemsAreListed) {
    int Destroyed = 0;
    TLogCollection C(Tracked(Destroyed));
    for (int I = 0; I < 4; ++I)
        C.Add();
    C.Log.clear();
    C.OnUpdate = [&](TCollectionItem*) { EXPECT_EQ(Destroyed, 0) << "deleted before Update"; };
    C.Delete(1);
    EXPECT_EQ(C.Log, (Strings{"Deleting 1@1/4", "Extracting 1@1/4", "Update nil/3"}));
    EXPECT_EQ(Destroyed, 1);
    EXPECT_EQ(C.IDs(), (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(C.GetItem(2)->GetIndex(), 2);
    EXPECT_EQ(C.FindItemID(1), nullptr);
    EXPECT_EQ(C.FindItemID(3), C.GetItem(2));

    C.OnUpdate = nullptr;
    C.Log.clear();
    C.Clear();
    EXPECT_EQ(C.Log, (Strings{"Extracting 3@2/3", "Extracting 2@1/2", "Extracting 0@0/1",
                              "Update nil/0"}));
    EXPECT_EQ(Destroyed, 4);
    C.Log.clear();
    C.Clear();
    EXPECT_TRUE(C.Log.empty());
    EXPECT_EQ(C.Add()->GetID(), 4); // IDs are never reused, not even after Clear
}

TEST(Collection, MovesItemChangesAndSetItem) {
    TLogCollection C;
    for (int I = 0; I < 3; ++I)
        C.Add();
    C.Log.clear();
    C.GetItem(0)->SetIndex(2);
    EXPECT_EQ(C.Log, (Strings{"Update nil/3"}));
    EXPECT_EQ(C.IDs(), (std::vector<int>{1, 2, 0}));
    C.GetItem(2)->SetIndex(0);
    EXPECT_EQ(C.IDs(), (std::vector<int>{0, 1, 2}));
    for (int I = 0; I < 3; ++I)
        EXPECT_EQ(C.GetItem(I)->GetIndex(), I);

    C.Log.clear();
    C.GetItem(1)->SetIndex(1);
    EXPECT_THROW(C.GetItem(1)->SetIndex(3), EListError);
    EXPECT_THROW(C.SetItem(5, C.GetItem(0)), EListError);
    EXPECT_THROW(C.Delete(-1), EListError);
    try {
        C.GetItem(3);
        FAIL();
    } catch (const EListError& E) {
        EXPECT_STREQ(E.what(), "List index out of bounds (3); count is 3");
    }
    EXPECT_TRUE(C.Log.empty());

    C.Named(1)->SetName("x");
    C.Named(1)->SetName("x"); // unchanged: no report
    C.Named(2)->TouchAll();
    C.GetItem(0)->SetDisplayName("ignored");
    EXPECT_EQ(C.Log, (Strings{"Update 1", "Update nil/3", "Update 0"}));

    TNamedItem Source;
    Source.SetName("copied");
    C.Log.clear();
    TCollectionItem* Stored = C.GetItem(2);
    C.SetItem(2, &Source);
    EXPECT_EQ(C.GetItem(2), Stored);
    EXPECT_EQ(C.Named(2)->GetName(), "copied");
    EXPECT_EQ(C.Log, (Strings{"Update 2"}));
    EXPECT_EQ(C.GetItem(2)->GetDisplayName(), "copied");
    EXPECT_EQ(C.GetItem(0)->GetDisplayName(), "TNamedItem");
}

TEST(Collection, BatchesHoldBackUpdatesButNotNotifies) {
    TLogCollection C;
    C.Add();
    C.Log.clear();
    C.BeginUpdate();
    C.BeginUpdate();
    C.Add();
    C.Named(0)->SetName("a");
    C.Delete(0);
    C.EndUpdate();
    EXPECT_EQ(C.GetUpdateCount(), 1);
    EXPECT_EQ(C.Log, (Strings{"Added 1@1/2", "Deleting 0@0/2", "Extracting 0@0/2"}));
    C.EndUpdate();
    EXPECT_EQ(C.Log.back(), "Update nil/1");
    EXPECT_EQ(C.Log.size(), 4u);
    C.EndUpdate(); // unbalanced: nothing
    EXPECT_EQ(C.GetUpdateCount(), 0);
    EXPECT_EQ(C.Log.size(), 4u);
}

TEST(Collection, AssignCopiesItemsInOneBatch) {
    TLogCollection Source, Target;
    Source.Add();
    Source.Add();
    Source.Named(0)->SetName("a");
    Source.Named(1)->SetName("b");
    Target.Add();
    Target.Log.clear();
    Target.Assign(&Source);
    EXPECT_EQ(Target.Log,
              (Strings{"Extracting 0@0/1", "Added 1@0/1", "Added 2@1/2", "Update nil/2"}));
    EXPECT_EQ(Target.Named(0)->GetName(), "a");
    EXPECT_EQ(Target.Named(1)->GetName(), "b");
    EXPECT_NE(Target.GetItem(0), Source.GetItem(0));

    Target.Log.clear();
    Target.Assign(&Target); // self-assignment keeps the items
    EXPECT_EQ(Target.GetCount(), 2);
    EXPECT_TRUE(Target.Log.empty());

    TNamedItem NotACollection;
    EXPECT_THROW(Target.Assign(&NotACollection), EConvertError);
    EXPECT_EQ(Target.GetCount(), 2);
    TLogCollection Other;
    try {
        Other.Add()->Assign(&Target);
        FAIL() << "assigning a collection to an item must fail";
    } catch (const EConvertError& E) {
        EXPECT_STREQ(E.what(), "Cannot assign a TCollection to a TNamedItem");
    }
}

TEST(Collection, ItemsLeaveTheirCollectionWhenDestroyedDirectly) {
    int Destroyed = 0;
    TLogCollection C(Tracked(Destroyed));
    for (int I = 0; I < 3; ++I)
        C.Add();
    C.Log.clear();
    C.GetItem(0)->Free();
    EXPECT_EQ(C.Log, (Strings{"Extracting 0@0/3", "Update nil/2"}));
    EXPECT_EQ(Destroyed, 1);

    C.Log.clear();
    delete C.GetItem(1);
    EXPECT_EQ(C.Log, (Strings{"Extracting 2@1/2", "Update nil/1"}));
    EXPECT_EQ(Destroyed, 2);
    EXPECT_EQ(C.IDs(), (std::vector<int>{1}));

    // Moving to another collection; out of any, the item belongs to whoever holds it.
    TLogCollection Other(Tracked(Destroyed));
    TCollectionItem* Item = C.GetItem(0);
    C.Log.clear();
    Item->SetCollection(&Other);
    EXPECT_EQ(C.Log, (Strings{"Extracting 1@0/1", "Update nil/0"}));
    EXPECT_EQ(Other.Log, (Strings{"Added 0@0/1", "Update nil/1"}));
    TLogCollection Special(TCollectionItemClass::Of<TSpecialItem>());
    EXPECT_THROW(Item->SetCollection(&Special), EListError);
    EXPECT_EQ(Item->GetCollection(), &Other);
    Item->SetCollection(nullptr);
    EXPECT_EQ(Item->GetIndex(), -1);
    Item->Free();
    EXPECT_EQ(Destroyed, 3);
}

TEST(Collection, ItemClassFactoryBuildsCompleteItems) {
    TLogCollection C(TCollectionItemClass::Of<TSpecialItem>());
    int SeenReady = 0;
    C.OnNotify = [&](TCollectionItem* Item, TCollectionNotification Action) {
        if (Action == cnAdded)
            SeenReady = dynamic_cast<TSpecialItem*>(Item)->Ready;
    };
    TCollectionItem* Item = C.Add();
    EXPECT_EQ(SeenReady, 42);
    EXPECT_EQ(Item->ClassName(), "TSpecialItem");
    EXPECT_EQ(Item->GetDisplayName(), "TSpecialItem");
    EXPECT_EQ(C.GetItemClass().ClassName(), "TSpecialItem");
    EXPECT_TRUE(C.GetItemClass().IsInstance(Item));

    TLogCollection Broken(TCollectionItemClass::Of<TNamedItem>([] { return nullptr; }));
    EXPECT_THROW(Broken.Add(), EListError);
    EXPECT_EQ(Broken.GetCount(), 0);
}

TEST(Collection, FailingAddNotificationLeavesNoItem) {
    int Destroyed = 0;
    TLogCollection C(Tracked(Destroyed));
    C.Add();
    C.Log.clear();
    C.OnNotify = [](TCollectionItem*, TCollectionNotification Action) {
        if (Action == cnAdded)
            throw std::runtime_error("refused");
    };
    EXPECT_THROW(C.Add(), std::runtime_error);
    EXPECT_EQ(C.GetCount(), 1);
    EXPECT_EQ(Destroyed, 1);
    EXPECT_EQ(C.Log, (Strings{"Added 1@1/2", "Extracting 1@1/2"}));

    // A refused deletion keeps the item.
    C.OnNotify = [](TCollectionItem*, TCollectionNotification Action) {
        if (Action == cnDeleting)
            throw std::runtime_error("kept");
    };
    EXPECT_THROW(C.Delete(0), std::runtime_error);
    EXPECT_EQ(C.GetCount(), 1);
    EXPECT_EQ(Destroyed, 1);
}

TEST(Collection, DestructorDeletesItemsSilently) {
    int Destroyed = 0;
    {
        TLogCollection C(Tracked(Destroyed));
        for (int I = 0; I < 5; ++I)
            C.Add();
    }
    EXPECT_EQ(Destroyed, 5);
}

TEST(UpdateGuard, ClosesTheBatchOnEveryPath) {
    TLogCollection C;
    try {
        TUpdateGuard Guard(C);
        C.Add();
        EXPECT_EQ(C.GetUpdateCount(), 1);
        throw std::runtime_error("boom");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(C.GetUpdateCount(), 0);
    EXPECT_EQ(C.Log, (Strings{"Added 0@0/1", "Update nil/1"}));

    // EndUpdate raising while another exception unwinds: the first exception arrives.
    C.OnUpdate = [](TCollectionItem*) { throw std::logic_error("from Update"); };
    try {
        TUpdateGuard Guard(C);
        throw std::runtime_error("first");
    } catch (const std::runtime_error& E) {
        EXPECT_STREQ(E.what(), "first");
    }
    EXPECT_EQ(C.GetUpdateCount(), 0);

    // Leaving normally: EndUpdate's exception passes, and the batch is closed.
    EXPECT_THROW({ TUpdateGuard Guard(C); }, std::logic_error);
    EXPECT_EQ(C.GetUpdateCount(), 0);

    C.OnUpdate = nullptr;
    C.Log.clear();
    {
        TUpdateGuard Guard(C);
        Guard.Close();
        EXPECT_EQ(C.GetUpdateCount(), 0);
        EXPECT_EQ(C.Log, (Strings{"Update nil/1"}));
    }
    EXPECT_EQ(C.Log.size(), 1u);
}
