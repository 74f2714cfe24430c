#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kv/gp/KvGeneticProgram.h"

using namespace kv;

namespace {

// A machine that records what its instruction set reports.
class TRecordingMachine : public TKvVirtualMachine {
public:
    using TKvVirtualMachine::TKvVirtualMachine;
    void InstructionNotify(TVMInstruction* Item, TCollectionNotification Action) override {
        static const char* Names[] = {"added", "extracting", "deleting"};
        Log.push_back(std::string(Names[Action]) + " " + (Item ? Item->GetDisplayName() : "?"));
    }
    void InstructionUpdate(TVMInstruction* Item) override {
        Log.push_back("update " + (Item ? Item->GetDisplayName() : std::string("all")));
    }
    std::vector<std::string> Log;
};

TVMInstruction* AddNamed(TVMInstructionSet& Set, const std::string& Name) {
    TVMInstruction* I = Set.Add();
    I->SetName(Name);
    return I;
}

} // namespace

TEST(Instruction, IndexOfIgnoresCaseAndGetItemByNameRaisesForUnknownNames) {
    TVMInstructionSet Set(nullptr);
    EXPECT_EQ(Set.IndexOf("push"), -1);
    AddNamed(Set, "Push");
    AddNamed(Set, "Pop");
    EXPECT_EQ(Set.IndexOf("push"), 0);
    EXPECT_EQ(Set.IndexOf("POP"), 1);
    EXPECT_EQ(Set.IndexOf("Dup"), -1);
    EXPECT_EQ(Set.IndexOf("Pop "), -1) << "names are not trimmed";
    EXPECT_EQ(Set.GetItemByName("pOp"), Set.GetItem(1));
    try {
        Set.GetItemByName("Foo");
        FAIL();
    } catch (const EGPException& E) {
        EXPECT_STREQ(E.what(), "Unknown instruction \"Foo\"");
    }
}

TEST(Instruction, NamesMustBeUniqueInTheirSetIgnoringCase) {
    TRecordingMachine VM;
    TVMInstructionSet& Set = *VM.GetInstructionSet();
    TVMInstruction* A = AddNamed(Set, "add");
    TVMInstruction* B = Set.Add();
    TVMInstruction* C = Set.Add(); // several empty names may coexist
    EXPECT_EQ(B->GetName(), "");
    EXPECT_EQ(C->GetName(), "");
    VM.Log.clear();

    for (const char* Taken : {"add", "ADD", "Add"}) {
        try {
            B->SetName(Taken);
            FAIL() << Taken;
        } catch (const EGPException& E) {
            EXPECT_STREQ(E.what(), "instruction name must be unique");
        }
        EXPECT_EQ(B->GetName(), "");
    }
    // A case-only rename of the instruction itself is refused too.
    EXPECT_THROW(A->SetName("Add"), EGPException);
    EXPECT_EQ(A->GetName(), "add");
    // The same name again changes nothing and reports nothing.
    A->SetName("add");
    EXPECT_TRUE(VM.Log.empty());
    // Back to the empty name is refused while another instruction still has it.
    B->SetName("mul");
    EXPECT_THROW(B->SetName(""), EGPException);
    EXPECT_EQ(B->GetName(), "mul");
    C->SetName("sub");
    B->SetName("");
    EXPECT_EQ(B->GetName(), "");
    EXPECT_EQ(VM.Log,
              (std::vector<std::string>{"update mul", "update sub", "update TVMInstruction"}));

    // An instruction outside any set accepts any name; moving it into a set re-applies the rule.
    TVMInstruction Lone;
    Lone.SetName("add");
    EXPECT_EQ(Lone.GetCollection(), nullptr);
    TVMInstruction* Moved = Set.Add();
    Moved->SetName("div");
    TVMInstructionSet Other(nullptr);
    AddNamed(Other, "div2");
    Moved->SetCollection(&Other);
    EXPECT_EQ(Moved->GetCollection(), &Other);
    EXPECT_EQ(Set.IndexOf("div"), -1);
    EXPECT_THROW(Moved->SetName("DIV2"), EGPException);
    Moved->SetName("add"); // taken in the old set, free in the new one
    EXPECT_EQ(Moved->GetName(), "add");
}

TEST(Instruction, DisplayNameAndAssign) {
    TVMInstructionSet Set(nullptr);
    TVMInstruction* A = Set.Add();
    EXPECT_EQ(A->GetDisplayName(), "TVMInstruction");
    A->SetName("Push");
    A->SetComment("pushes one");
    EXPECT_EQ(A->GetDisplayName(), "Push");

    int Calls = 0;
    TVMInstruction* B = Set.Add();
    B->SetOnExecute([&](TObject*, TVMExecutionStack*, TVMInstruction*) { ++Calls; });
    B->Assign(A); // no uniqueness test when copying
    EXPECT_EQ(B->GetName(), "Push");
    EXPECT_EQ(B->GetComment(), "pushes one");
    ASSERT_TRUE(B->GetOnExecute()) << "the callback is not copied over";
    B->Execute(nullptr);
    EXPECT_EQ(Calls, 1);

    TStringList NotAnInstruction;
    EXPECT_THROW(B->Assign(&NotAnInstruction), EConvertError);
    EXPECT_EQ(B->GetName(), "Push");

    // A set assigned to a list of texts lists the display names in order.
    Set.Add();
    TStringList Names;
    Names.Add("stale");
    Names.Assign(&Set);
    ASSERT_EQ(Names.GetCount(), 3);
    EXPECT_EQ(Names[0], "Push");
    EXPECT_EQ(Names[1], "Push");
    EXPECT_EQ(Names[2], "TVMInstruction");
}

TEST(Instruction, ExecuteRunsOwnCallbackElseTheMachines) {
    TKvVirtualMachine VM;
    TVMInstructionSet& Set = *VM.GetInstructionSet();
    TVMInstruction* Own = AddNamed(Set, "own");
    TVMInstruction* Served = AddNamed(Set, "served");
    std::vector<std::string> Log;
    Own->SetOnExecute([&](TObject* Sender, TVMExecutionStack* Stack, TVMInstruction* Item) {
        EXPECT_EQ(Sender, Own);
        EXPECT_EQ(Item, Own);
        EXPECT_EQ(Stack, VM.GetStack());
        Log.push_back("own");
    });
    VM.SetOnExecuteInstruction(
        [&](TObject* Sender, TVMExecutionStack* Stack, TVMInstruction* Item) {
            EXPECT_EQ(Sender, &VM);
            EXPECT_EQ(Stack, VM.GetStack());
            Log.push_back("machine " + Item->GetName());
        });
    Own->Execute(VM.GetStack());
    Served->Execute(VM.GetStack());
    EXPECT_EQ(Log, (std::vector<std::string>{"own", "machine served"}));

    // Without a machine behind the set, or without a set, nothing happens.
    TVMInstructionSet Loose(nullptr);
    TVMInstruction* Orphan = Loose.Add();
    Orphan->Execute(VM.GetStack());
    TVMInstruction Lone;
    Lone.Execute(nullptr);
    // Moved out of the machine's set, an instruction no longer reaches the machine.
    Served->SetCollection(&Loose);
    Served->Execute(VM.GetStack());
    EXPECT_EQ(Log.size(), 2u);

    // Exceptions of either callback pass out of Execute.
    Own->SetOnExecute(
        [](TObject*, TVMExecutionStack*, TVMInstruction*) { throw EGPException("boom"); });
    EXPECT_THROW(Own->Execute(VM.GetStack()), EGPException);
}

TEST(Instruction, SetReportsAdditionsRemovalsAndChangesToItsMachine) {
    TRecordingMachine VM;
    TVMInstructionSet& Set = *VM.GetInstructionSet();
    EXPECT_EQ(Set.GetOwner(), &VM);
    AddNamed(Set, "a");
    AddNamed(Set, "b");
    Set.Insert(0)->SetName("c");
    EXPECT_EQ(VM.Log, (std::vector<std::string>{"added TVMInstruction", "update all", "update a",
                                                "added TVMInstruction", "update all", "update b",
                                                "added TVMInstruction", "update all", "update all",
                                                "update c"}));
    VM.Log.clear();
    Set.Delete(1); // "a"
    EXPECT_EQ(VM.Log, (std::vector<std::string>{"deleting a", "extracting a", "update all"}));
    VM.Log.clear();
    // An instruction deleted directly is still whole when the machine hears of it.
    delete Set.GetItem(0);
    EXPECT_EQ(VM.Log, (std::vector<std::string>{"extracting c", "update all"}));
    EXPECT_EQ(Set.GetCount(), 1);
    VM.Log.clear();
    Set.BeginUpdate();
    Set.GetItem(0)->SetName("e");
    Set.Add();
    Set.EndUpdate();
    EXPECT_EQ(VM.Log, (std::vector<std::string>{"added TVMInstruction", "update all"}));

    // A set whose owner is not a machine reports to nobody.
    TStringList NotAMachine;
    TVMInstructionSet Plain(&NotAMachine);
    EXPECT_EQ(Plain.GetOwner(), nullptr);
    AddNamed(Plain, "x");
}
