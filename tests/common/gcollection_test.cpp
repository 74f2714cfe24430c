#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kv/common/gcollection.h"
#include "kv/rtl/component.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/strings.h"

using namespace kv;

namespace {

class TInstruction : public TCollectionItem {
public:
    std::string ClassName() const override { return "TInstruction"; }
    std::string GetDisplayName() const override {
        return Name.empty() ? TCollectionItem::GetDisplayName() : Name;
    }
    std::string Name;
};

class TFastInstruction : public TInstruction {
public:
    std::string ClassName() const override { return "TFastInstruction"; }
};

using TInstructionClass = TItemClassOf<TInstruction>;

// An owner that hears of its collection's changes, as an engine or a machine does.
class TMachine : public TComponent {
public:
    using TComponent::TComponent;
    std::vector<std::string> Heard;
};

class TInstructionSet : public TGCollection<TInstruction> {
public:
    explicit TInstructionSet(TMachine* AOwner, TInstructionClass C = TInstructionClass())
        : TGCollection<TInstruction>(AOwner, std::move(C)) {}
    TMachine* Owner() const { return dynamic_cast<TMachine*>(GetOwner()); }

protected:
    void Notify(TCollectionItem* Item, TCollectionNotification Action) override {
        TGCollection<TInstruction>::Notify(Item, Action);
        if (TMachine* M = Owner())
            M->Heard.push_back("notify " + std::to_string(Action) + " " +
                               static_cast<TInstruction*>(Item)->ClassName());
    }
    void Update(TCollectionItem* Item) override {
        TGCollection<TInstruction>::Update(Item);
        if (TMachine* M = Owner())
            M->Heard.push_back(Item != nullptr ? "update item" : "update all");
    }
};

} // namespace

TEST(GCollection, TypedItemsOfTheChosenClass) {
    TMachine Machine;
    TInstructionSet Set(&Machine, TInstructionClass::Of<TFastInstruction>());
    TInstruction* A = Set.Add();
    TInstruction* B = Set.Insert(0);
    EXPECT_EQ(A->ClassName(), "TFastInstruction");
    EXPECT_EQ(Set.GetItem(0), B);
    EXPECT_EQ(Set.GetItemUnchecked(1), A);
    EXPECT_EQ(Set.FindItemID(A->GetID()), A);
    EXPECT_EQ(Machine.Heard,
              (std::vector<std::string>{"notify 0 TFastInstruction", "update all",
                                        "notify 0 TFastInstruction", "update all", "update all"}));
    std::vector<TInstruction*> Seen;
    for (TInstruction* I : Set)
        Seen.push_back(I);
    EXPECT_EQ(Seen, (std::vector<TInstruction*>{B, A}));
    EXPECT_EQ(Set.end() - Set.begin(), 2);
    EXPECT_THROW(Set.GetItem(2), EListError);

    TInstructionSet Plain(nullptr);
    EXPECT_EQ(Plain.Add()->ClassName(), "TInstruction");
    EXPECT_EQ(Plain.Owner(), nullptr);
}

TEST(GCollection, AssignsDisplayNamesToAListOfTexts) {
    TInstructionSet Set(nullptr);
    Set.Add()->Name = "Push";
    Set.Add();
    Set.Add()->Name = "Add";
    TStringList List;
    List.Add("stale");
    int Changes = 0;
    List.SetOnChange([&](TObject*) { ++Changes; });
    List.Assign(&Set);
    EXPECT_EQ(List.GetText(), "Push\nTInstruction\nAdd\n");
    EXPECT_EQ(Changes, 1);

    Set.Delete(0);
    Set.AssignTo(&List);
    EXPECT_EQ(List.GetText(), "TInstruction\nAdd\n");
    EXPECT_EQ(Changes, 2);

    TInstructionSet Other(nullptr);
    EXPECT_THROW(Set.AssignTo(&Other), EConvertError);
    TInstructionSet Empty(nullptr);
    List.Assign(&Empty);
    EXPECT_EQ(List.GetCount(), 0);
}
