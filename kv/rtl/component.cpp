#include "kv/rtl/component.h"

#include <algorithm>

#include "kv/rtl/list_index.h"
#include "kv/rtl/text.h"

namespace kv {

namespace {

bool IsIdentifier(const std::string& S) {
    if (S.empty())
        return false;
    auto IsAlpha = [](char C) {
        return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_';
    };
    if (!IsAlpha(S[0]))
        return false;
    for (char C : S)
        if (!IsAlpha(C) && !(C >= '0' && C <= '9'))
            return false;
    return true;
}

void EraseOne(std::vector<TComponent*>& List, const TComponent* C) noexcept {
    auto It = std::find(List.begin(), List.end(), C);
    if (It != List.end())
        List.erase(It);
}

bool Contains(const std::vector<TComponent*>& List, const TComponent* C) noexcept {
    return std::find(List.begin(), List.end(), C) != List.end();
}

} // namespace

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner == nullptr)
        return;
    try {
        AOwner->InsertComponent(this);
    } catch (...) {
        // The destructor will not run for a half-built object: leave no pointer to it behind.
        DetachFromOwner();
        throw;
    }
}

TComponent::~TComponent() {
    Destroying();
    while (!FFreeNotifies.empty()) {
        TComponent* Client = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        EraseOne(Client->FObserving, this);
        if (Client == FOwner)
            continue; // the owner hears opRemove once, when this component leaves it below
        try {
            Client->Notification(this, opRemove);
        } catch (...) {
        }
    }
    for (TComponent* Observed : FObserving)
        EraseOne(Observed->FFreeNotifies, this);
    FObserving.clear();
    DestroyComponents();
    if (FOwner != nullptr) {
        try {
            FOwner->RemoveComponent(this);
        } catch (...) {
        }
        DetachFromOwner();
    }
}

void TComponent::Destroying() noexcept {
    if (FDestroying)
        return;
    FDestroying = true;
    for (TComponent* C : FComponents)
        C->Destroying();
}

void TComponent::DetachFromOwner() noexcept {
    if (FOwner != nullptr) {
        EraseOne(FOwner->FComponents, this);
        FOwner = nullptr;
    }
}

void TComponent::ValidateNameInOwner(TComponent* AOwner, const std::string& AName,
                                     const TComponent* Exclude) const {
    if (AOwner == nullptr || AName.empty())
        return;
    TComponent* Found = AOwner->FindComponent(AName);
    if (Found != nullptr && Found != Exclude)
        throw EComponentError(Format("A component named %s already exists", AName));
}

void TComponent::SetName(const std::string& NewName) {
    if (NewName == FName)
        return;
    if (!NewName.empty() && !IsIdentifier(NewName))
        throw EComponentError(Format("'%s' is not a valid component name", NewName));
    ValidateNameInOwner(FOwner, NewName, this);
    FName = NewName;
}

TComponent* TComponent::GetComponent(int Index) const {
    CheckListIndex(Index, GetComponentCount());
    return FComponents[static_cast<size_t>(Index)];
}

int TComponent::GetComponentIndex() const noexcept {
    if (FOwner == nullptr)
        return -1;
    auto It = std::find(FOwner->FComponents.begin(), FOwner->FComponents.end(), this);
    return It == FOwner->FComponents.end() ? -1
                                           : static_cast<int>(It - FOwner->FComponents.begin());
}

TComponent* TComponent::FindComponent(std::string_view AName) const noexcept {
    if (AName.empty())
        return nullptr;
    for (TComponent* C : FComponents)
        if (SameText(C->FName, AName))
            return C;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
    if (AComponent == nullptr)
        throw EComponentError("Cannot insert a nil component");
    if (AComponent->FOwner == this)
        return;
    for (const TComponent* O = this; O != nullptr; O = O->FOwner)
        if (O == AComponent)
            throw EComponentError(Format("A component cannot own itself or one of its owners (%s)",
                                         AComponent->ClassName()));
    if (AComponent->FDestroying || FDestroying)
        throw EComponentError("Cannot insert a component that is being destroyed");
    ValidateNameInOwner(this, AComponent->FName, AComponent);
    if (AComponent->FOwner != nullptr)
        AComponent->FOwner->RemoveComponent(AComponent);
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent->FOwner != this)
        return;
    Notification(AComponent, opRemove);
    AComponent->DetachFromOwner();
}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        TComponent* C = FComponents.back();
        FComponents.pop_back();
        C->FOwner = nullptr;
        delete C;
    }
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent == this || FDestroying || AComponent->FDestroying)
        return;
    if (Contains(FFreeNotifies, AComponent))
        return;
    FFreeNotifies.push_back(AComponent);
    AComponent->FObserving.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr)
        return;
    EraseOne(FFreeNotifies, AComponent);
    EraseOne(AComponent->FObserving, this);
}

void TComponent::Notification(TComponent* /*AComponent*/, TOperation /*Operation*/) {}

} // namespace kv
