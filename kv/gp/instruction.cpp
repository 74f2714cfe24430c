#include "kv/gp/instruction.h"

#include "kv/gp/virtual_machine.h"
#include "kv/rtl/text.h"
#include "kv/vocabulary/KvGAConsts.h"

namespace kv {

// ---- TVMInstruction ----

TVMInstruction::~TVMInstruction() {
    if (TCollectionItem::GetCollection() == nullptr)
        return;
    try {
        SetCollection(nullptr);
    } catch (...) {
        // A destructor cannot report; the base destructor still takes the item out.
    }
}

void TVMInstruction::SetName(const std::string& Value) {
    if (Value == FName)
        return;
    if (TVMInstructionSet* Set = GetCollection(); Set != nullptr && Set->IndexOf(Value) >= 0)
        throw EGPException(SInstructionNotUnique);
    FName = Value;
    Changed(false);
}

std::string TVMInstruction::GetDisplayName() const {
    return FName.empty() ? TCollectionItem::GetDisplayName() : FName;
}

void TVMInstruction::Assign(const TPersistent* Source) {
    if (auto* Other = dynamic_cast<const TVMInstruction*>(Source)) {
        if (Other != this) {
            FName = Other->FName;
            FComment = Other->FComment;
        }
        Changed(false);
        return;
    }
    TCollectionItem::Assign(Source);
}

void TVMInstruction::HandToMachine(TVMExecutionStack* Stack) {
    if (TVMInstructionSet* Set = GetCollection())
        if (TKvVirtualMachine* Machine = Set->GetOwner())
            Machine->Execute(Stack, this);
}

TVMInstructionSet* TVMInstruction::GetCollection() const noexcept {
    // FSet is kept by the set's notifications; the check against the collection the item is
    // listed in covers an insertion that a notification handler aborted.
    return FSet != nullptr && TCollectionItem::GetCollection() == FSet ? FSet : nullptr;
}

// ---- TVMInstructionSet ----

TVMInstructionSet::TVMInstructionSet(TPersistent* AOwner)
    : TGCollection<TVMInstruction>(AOwner), FMachine(dynamic_cast<TKvVirtualMachine*>(AOwner)) {}

int TVMInstructionSet::IndexOf(std::string_view Name) const noexcept {
    const int N = GetCount();
    for (int I = 0; I < N; ++I)
        if (SameText(GetItemUnchecked(I)->GetName(), Name))
            return I;
    return -1;
}

TVMInstruction* TVMInstructionSet::GetItemByName(std::string_view Name) {
    int I = IndexOf(Name);
    if (I < 0)
        throw EGPException(Format(SUnknownInstruction, std::string(Name)));
    return GetItemUnchecked(I);
}

void TVMInstructionSet::Notify(TCollectionItem* Item, TCollectionNotification Action) {
    auto* Instruction = dynamic_cast<TVMInstruction*>(Item);
    if (Action == cnAdded && Instruction != nullptr)
        Instruction->FSet = this;
    TGCollection<TVMInstruction>::Notify(Item, Action);
    if (FMachine != nullptr)
        FMachine->InstructionNotify(Instruction, Action);
    if (Action == cnExtracting && Instruction != nullptr)
        Instruction->FSet = nullptr;
}

void TVMInstructionSet::Update(TCollectionItem* Item) {
    TGCollection<TVMInstruction>::Update(Item);
    if (FMachine != nullptr)
        FMachine->InstructionUpdate(dynamic_cast<TVMInstruction*>(Item));
}

} // namespace kv
