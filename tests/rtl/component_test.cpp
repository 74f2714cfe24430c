#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "kv/rtl/component.h"

using namespace kv;

namespace {

using Strings = std::vector<std::string>;

// Logs its notifications and its destruction into a shared log.
class TProbe : public TComponent {
public:
    TProbe(TComponent* AOwner, std::string Tag, Strings& Log)
        : TComponent(AOwner), FTag(std::move(Tag)), FLog(Log) {}
    ~TProbe() override { FLog.push_back("~" + FTag); }
    std::string ClassName() const override { return "TProbe"; }
    const std::string& Tag() const { return FTag; }
    // A non-owning reference kept valid by free notification, like a machine's bound engine.
    TComponent* Watched = nullptr;
    void Watch(TComponent* C) {
        if (Watched != nullptr)
            Watched->RemoveFreeNotification(this);
        Watched = C;
        if (C != nullptr)
            C->FreeNotification(this);
    }
    bool ThrowOnInsert = false;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override {
        TComponent::Notification(AComponent, Operation);
        FLog.push_back(FTag + (Operation == opInsert ? " insert " : " remove ") + Name(AComponent));
        if (Operation == opInsert && ThrowOnInsert)
            throw std::runtime_error("no");
        if (Operation == opRemove && AComponent == Watched)
            Watched = nullptr;
    }

private:
    // AComponent may be half built or half destroyed: only its address is safe to use.
    std::string Name(TComponent* AComponent) {
        for (auto& [Ptr, Tag] : Known)
            if (Ptr == AComponent)
                return Tag;
        return "?";
    }

public:
    std::vector<std::pair<TComponent*, std::string>> Known;
    std::string FTag;
    Strings& FLog;
};

} // namespace

TEST(Component, OwnerDestroysItsComponentsLastToFirst) {
    Strings Log;
    auto* Owner = new TProbe(nullptr, "O", Log);
    auto* A = new TProbe(Owner, "A", Log);
    auto* B = new TProbe(Owner, "B", Log);
    auto* Grandchild = new TProbe(A, "G", Log);
    Owner->Known = {{A, "A"}, {B, "B"}};
    A->Known = {{Grandchild, "G"}};
    EXPECT_EQ(Owner->GetComponent(1), B);
    EXPECT_THROW(Owner->GetComponent(2), EListError);
    Log.clear();
    delete Owner;
    // Components destroyed by their owner do not notify it.
    EXPECT_EQ(Log, (Strings{"~O", "~B", "~A", "~G"}));
}

TEST(Component, OwnedComponentDestroyedFirstLeavesItsOwner) {
    Strings Log;
    TProbe Owner(nullptr, "O", Log);
    auto* A = new TProbe(&Owner, "A", Log);
    auto* B = new TProbe(&Owner, "B", Log);
    Owner.Known = {{A, "A"}, {B, "B"}};
    EXPECT_EQ(Log, (Strings{"O insert ?", "O insert ?"})); // announced while still being built
    Log.clear();
    delete A;
    EXPECT_EQ(Log, (Strings{"~A", "O remove A"}));
    EXPECT_EQ(Owner.GetComponentCount(), 1);
    EXPECT_EQ(Owner.GetComponent(0), B);
    EXPECT_EQ(B->GetComponentIndex(), 0);
}

TEST(Component, FreeNotificationReachesTheWatcherOnce) {
    Strings Log;
    TProbe Owner(nullptr, "O", Log);
    auto* Engine = new TProbe(&Owner, "E", Log);
    auto* Machine = new TProbe(&Owner, "M", Log);
    Machine->Known = {{Engine, "E"}};
    Owner.Known = {{Engine, "E"}, {Machine, "M"}};
    Machine->Watch(Engine);
    Machine->Watch(Engine);
    Engine->FreeNotification(&Owner); // the owner watches too: it still hears once
    Log.clear();
    delete Engine;
    EXPECT_EQ(Log, (Strings{"~E", "M remove E", "O remove E"}));
    EXPECT_EQ(Machine->Watched, nullptr);
}

TEST(Component, WatcherDestroyedFirstIsNeverCalled) {
    Strings Log;
    auto* Engine = new TProbe(nullptr, "E", Log);
    auto* Machine = new TProbe(nullptr, "M", Log);
    Machine->Watch(Engine);
    Engine->FreeNotification(Machine);
    delete Machine; // ASan reports a use after free if the link survived
    Log.clear();
    delete Engine;
    EXPECT_EQ(Log, (Strings{"~E"}));

    // Watched and watcher owned by one owner, in both destruction orders.
    for (bool WatcherLast : {false, true}) {
        Log.clear();
        auto* Owner = new TProbe(nullptr, "O", Log);
        auto* First = new TProbe(Owner, "1", Log);
        auto* Second = new TProbe(Owner, "2", Log);
        TProbe* Watcher = WatcherLast ? First : Second;
        TProbe* Watched = WatcherLast ? Second : First;
        Watcher->Known = {{Watched, "watched"}};
        Watcher->Watch(Watched);
        Log.clear();
        delete Owner;
        if (WatcherLast)
            EXPECT_EQ(Log, (Strings{"~O", "~2", "1 remove watched", "~1"}));
        else
            EXPECT_EQ(Log, (Strings{"~O", "~2", "~1"}));
    }

    Strings Quiet;
    auto* X = new TProbe(nullptr, "X", Quiet);
    auto* Y = new TProbe(nullptr, "Y", Quiet);
    Y->Known = {{X, "X"}};
    X->FreeNotification(Y);
    X->RemoveFreeNotification(Y);
    X->FreeNotification(X);
    X->FreeNotification(nullptr);
    delete X;
    EXPECT_EQ(Quiet, (Strings{"~X"}));
    delete Y;
}

TEST(Component, NamesAreIdentifiersUniqueWithinTheOwner) {
    Strings Log;
    TProbe Owner(nullptr, "O", Log);
    auto* A = new TProbe(&Owner, "A", Log);
    auto* B = new TProbe(&Owner, "B", Log);
    A->SetName("Engine1");
    EXPECT_EQ(Owner.FindComponent("ENGINE1"), A);
    EXPECT_EQ(Owner.FindComponent(""), nullptr);
    try {
        B->SetName("engine1");
        FAIL();
    } catch (const EComponentError& E) {
        EXPECT_STREQ(E.what(), "A component named engine1 already exists");
    }
    EXPECT_EQ(B->GetName(), "");
    EXPECT_THROW(B->SetName("1abc"), EComponentError);
    EXPECT_THROW(B->SetName("two words"), EComponentError);
    A->SetName("engine1"); // its own name in another case is fine
    EXPECT_EQ(A->GetName(), "engine1");
}

TEST(Component, InsertAndRemoveMoveOwnership) {
    Strings Log;
    TProbe First(nullptr, "F", Log), Second(nullptr, "S", Log);
    auto* C = new TProbe(&First, "C", Log);
    First.Known = Second.Known = {{C, "C"}};
    C->SetName("Child");
    Log.clear();
    Second.InsertComponent(C);
    EXPECT_EQ(Log, (Strings{"F remove C", "S insert C"}));
    EXPECT_EQ(C->GetOwner(), &Second);
    EXPECT_EQ(First.GetComponentCount(), 0);

    auto* Clash = new TProbe(&First, "X", Log);
    Clash->SetName("child");
    EXPECT_THROW(Second.InsertComponent(Clash), EComponentError);
    EXPECT_EQ(Clash->GetOwner(), &First);
    EXPECT_THROW(C->InsertComponent(&Second), EComponentError); // its own owner

    Log.clear();
    Second.RemoveComponent(C);
    EXPECT_EQ(Log, (Strings{"S remove C"}));
    EXPECT_EQ(C->GetOwner(), nullptr);
    delete C; // the caller owns it now
    EXPECT_EQ(Second.GetComponentCount(), 0);
}

TEST(Component, FailedInsertionOnConstructionLeavesNoDanglingPointer) {
    Strings Log;
    TProbe Owner(nullptr, "O", Log);
    Owner.ThrowOnInsert = true;
    EXPECT_THROW(new TProbe(&Owner, "A", Log), std::runtime_error);
    EXPECT_EQ(Owner.GetComponentCount(), 0);
    EXPECT_EQ(TComponent(nullptr).ClassName(), "TComponent");
}
