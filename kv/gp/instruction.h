// TVMInstruction: one named instruction of a virtual machine; TVMInstructionSet: the ordered,
// owned collection of a machine's instructions.
//
// The library defines no instructions: a caller adds them to a set and gives each its behaviour
// as an OnExecute callback working on the machine's execution stack. An instruction's position in
// its set is its code in encoded programs, so inserting, deleting or moving instructions changes
// the meaning of every encoded program.
//
// Names
//   An instruction's name is empty when it is created. SetName with the current name (compared
//   exactly) does nothing; otherwise, inside a set, a name that any instruction of the set already
//   has, compared ignoring ASCII case, is refused with EGPException SInstructionNotUnique and the
//   name stays as it was. The test includes the instruction itself, so changing only the case of
//   a name (add -> Add) is refused too. Several instructions may share the empty name as long as
//   nobody renames one to it. Outside a set any name is accepted. Names are not trimmed. A change
//   is reported to the set (Update with the instruction).
//
// Execution (Execute(Stack))
//   With OnExecute assigned, only that callback runs (Sender and Item are the instruction).
//   Without it, an instruction in a set owned by a machine is handed to the machine, whose
//   OnExecuteInstruction callback (if any) runs with Sender = the machine; otherwise nothing
//   happens. Exceptions from the callbacks pass out unchanged; the machine's step catches them.
//   A callback must not delete or move the instruction that is running it.
//
// Copying: Assign from another instruction copies Name and Comment, not OnExecute (nor
// OnExecuteBatch), without the uniqueness test, and reports a change; from anything else, the
// cannot-assign error.
//
// The set (TVMInstructionSet)
//   Its owner is the object given at construction; when that is a TKvVirtualMachine, the set
//   reports to it: after its own handling, Notify passes every addition or removal of an
//   instruction to the machine's InstructionNotify, and Update every change to its
//   InstructionUpdate (the item is nullptr for a change of the whole set). Assigning the set to a
//   list of texts fills the list with the instructions' display names in set order. The set owns
//   its instructions; the owner is not owned and must outlive the set.
//   IndexOf compares names ignoring ASCII case and returns the first match or -1; GetItemByName
//   raises EGPException SUnknownInstruction with the name when there is none.
#pragma once

#include <string>
#include <string_view>

#include "kv/common/gcollection.h"
#include "kv/gp/vm_events.h"

namespace kv {

class TKvVirtualMachine;
class TVMExecutionStack;
class TVMInstructionSet;

class TVMInstruction : public TCollectionItem {
public:
    TVMInstruction() = default;
    // An instruction deleted directly leaves its set first, while it is still whole, so the set
    // and its machine hear of it as an instruction.
    ~TVMInstruction() override;

    std::string ClassName() const override { return "TVMInstruction"; }

    const std::string& GetName() const noexcept { return FName; }
    // See Names above.
    void SetName(const std::string& Value);

    const std::string& GetComment() const noexcept { return FComment; }
    void SetComment(const std::string& Value) { FComment = Value; }

    const TVMExecuteEvent& GetOnExecute() const noexcept { return FOnExecute; }
    void SetOnExecute(TVMExecuteEvent Value) { FOnExecute = std::move(Value); }
    // The instruction's behaviour when a program runs over a whole data set at once (see
    // TKvVirtualMachine::ExecuteBatch): it works on the columns of the batch stack. Optional; a
    // batch run refuses a program holding an instruction without it.
    const TVMBatchEvent& GetOnExecuteBatch() const noexcept { return FOnExecuteBatch; }
    void SetOnExecuteBatch(TVMBatchEvent Value) { FOnExecuteBatch = std::move(Value); }

    // The instruction set the instruction belongs to, or nullptr (also when it belongs to a
    // collection that is not an instruction set). SetCollection (inherited) moves it.
    TVMInstructionSet* GetCollection() const noexcept;

    // The name, or the class name when the name is empty.
    std::string GetDisplayName() const override;
    // Same as SetName.
    void SetDisplayName(const std::string& Value) override { SetName(Value); }

    void Assign(const TPersistent* Source) override;

    // Runs the instruction on Stack; see Execution above.
    virtual void Execute(TVMExecutionStack* Stack) {
        if (FOnExecute)
            FOnExecute(this, Stack, this);
        else
            HandToMachine(Stack);
    }

private:
    // Execute without a callback of its own: the owning machine's OnExecuteInstruction, if any.
    void HandToMachine(TVMExecutionStack* Stack);

    friend class TVMInstructionSet;

    std::string FName;
    TVMExecuteEvent FOnExecute;
    std::string FComment;
    TVMBatchEvent FOnExecuteBatch;
    TVMInstructionSet* FSet = nullptr; // kept by the set's Notify
};

class TVMInstructionSet : public TGCollection<TVMInstruction> {
public:
    // AOwner is usually the machine that owns the set; any other owner (or none) gives a set that
    // reports to nobody.
    explicit TVMInstructionSet(TPersistent* AOwner);

    std::string ClassName() const override { return "TVMInstructionSet"; }

    // The owning machine, or nullptr when the owner is not a machine. (TCollection::GetOwner
    // gives the owner whatever its class.)
    TKvVirtualMachine* GetOwner() const noexcept { return FMachine; }

    // Position of the first instruction whose name equals Name ignoring ASCII case, or -1.
    int IndexOf(std::string_view Name) const noexcept;
    // The instruction named Name (ignoring case); EGPException SUnknownInstruction otherwise.
    TVMInstruction* GetItemByName(std::string_view Name);

protected:
    void Notify(TCollectionItem* Item, TCollectionNotification Action) override;
    void Update(TCollectionItem* Item) override;

private:
    TKvVirtualMachine* FMachine;
};

} // namespace kv
