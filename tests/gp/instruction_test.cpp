#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kv/gp/KvGeneticProgram.h"

using namespace kv;

namespace {

using Log = std::vector<std::string>;

// A machine that records what its instruction set reports.
class TRecordingMachine : public TKvVirtualMachine {
public:
    void InstructionNotify(TVMInstruction* Item, TCollectionNotification Action) override {
        static const char* Names[] = {"added", "extracting", "deleting"};
        Trace.push_back(std::string(Names[Action]) + " " + (Item ? Item->GetDisplayName() : "?"));
    }
    void InstructionUpdate(TVMInstruction* Item) override {
        Trace.push_back("update " + (Item ? Item->GetDisplayName() : std::string("all")));
    }
    Log Trace;
};

} // namespace

TEST(Instruction, LookupByNameIgnoresCase) {
    TVMInstructionSet Set(nullptr);
    EXPECT_EQ(Set.IndexOf("push"), -1);
    Set.Add()->SetName("Push");
    Set.Add()->SetName("Pop");
    EXPECT_EQ(Set.IndexOf("push"), 0);
    EXPECT_EQ(Set.IndexOf("POP"), 1);
    EXPECT_EQ(Set.IndexOf("Dup"), -1);
    EXPECT_EQ(Set.GetItemByName("pOp"), Set.GetItem(1));
    try {
        Set.GetItemByName("Foo");
        FAIL();
    } catch (const EGPException& E) {
        EXPECT_STREQ(E.what(), "Unknown instruction \"Foo\"");
    }
}

TEST(Instruction, NamesAreUniqueInTheirSetIgnoringCase) {
    TRecordingMachine VM;
    TVMInstructionSet& Set = *VM.GetInstructionSet();
    TVMInstruction* A = Set.Add();
    A->SetName("add");
    TVMInstruction* B = Set.Add();
    TVMInstruction* C = Set.Add(); // empty names may coexist
    VM.Trace.clear();
    for (const char* Taken : {"add", "ADD"}) {
        try {
            B->SetName(Taken);
            FAIL() << Taken;
        } catch (const EGPException& E) {
            EXPECT_STREQ(E.what(), "instruction name must be unique");
        }
        EXPECT_EQ(B->GetName(), "");
    }
    EXPECT_THROW(A->SetName("Add"), EGPException) << "a case-only rename is refused";
    A->SetName("add"); // unchanged: reports nothing
    EXPECT_TRUE(VM.Trace.empty());
    B->SetName("mul");
    EXPECT_THROW(B->SetName(""), EGPException) << "C still has the empty name";
    C->SetName("sub");
    B->SetName("");
    EXPECT_EQ(VM.Trace, (Log{"update mul", "update sub", "update TVMInstruction"}));

    // Outside a set any name goes; in another set that set's names count.
    TVMInstruction Lone;
    Lone.SetName("add");
    TVMInstructionSet Other(nullptr);
    Other.Add()->SetName("div");
    C->SetCollection(&Other);
    EXPECT_EQ(C->GetCollection(), &Other);
    EXPECT_THROW(C->SetName("DIV"), EGPException);
    C->SetName("add");
    EXPECT_EQ(C->GetName(), "add");
}

TEST(Instruction, DisplayNameAssignAndListing) {
    TVMInstructionSet Set(nullptr);
    TVMInstruction* A = Set.Add();
    EXPECT_EQ(A->GetDisplayName(), "TVMInstruction");
    A->SetName("Push");
    A->SetComment("pushes one");
    TVMInstruction* B = Set.Add();
    int Calls = 0;
    B->SetOnExecute([&](TObject*, TVMExecutionStack*, TVMInstruction*) { ++Calls; });
    B->Assign(A); // copies name and comment without the uniqueness test, keeps the callback
    EXPECT_EQ(B->GetName(), "Push");
    EXPECT_EQ(B->GetComment(), "pushes one");
    B->Execute(nullptr);
    EXPECT_EQ(Calls, 1);
    TStringList Names;
    EXPECT_THROW(B->Assign(&Names), EConvertError);

    Set.Add();
    Names.Add("stale");
    Names.Assign(&Set);
    EXPECT_EQ(Names.GetText(), "Push\nPush\nTVMInstruction\n");
}

TEST(Instruction, ExecuteRunsItsOwnCallbackElseTheMachines) {
    TKvVirtualMachine VM;
    TVMInstruction* Own = VM.GetInstructionSet()->Add();
    TVMInstruction* Served = VM.GetInstructionSet()->Add();
    Served->SetName("served");
    Log Trace;
    Own->SetOnExecute([&](TObject* Sender, TVMExecutionStack* Stack, TVMInstruction* Item) {
        EXPECT_EQ(Sender, Own);
        EXPECT_EQ(Item, Own);
        EXPECT_EQ(Stack, VM.GetStack());
        Trace.push_back("own");
    });
    VM.SetOnExecuteInstruction(
        [&](TObject* Sender, TVMExecutionStack* Stack, TVMInstruction* Item) {
            EXPECT_EQ(Sender, &VM);
            EXPECT_EQ(Stack, VM.GetStack());
            Trace.push_back("machine " + Item->GetName());
        });
    Own->Execute(VM.GetStack());
    Served->Execute(VM.GetStack());
    // No machine behind the set, or no set: nothing happens.
    TVMInstructionSet Loose(nullptr);
    Loose.Add()->Execute(VM.GetStack());
    Served->SetCollection(&Loose);
    Served->Execute(VM.GetStack());
    TVMInstruction().Execute(nullptr);
    EXPECT_EQ(Trace, (Log{"own", "machine served"}));
}

TEST(Instruction, SetReportsChangesToItsMachine) {
    TRecordingMachine VM;
    TVMInstructionSet& Set = *VM.GetInstructionSet();
    EXPECT_EQ(Set.GetOwner(), &VM);
    Set.Add()->SetName("a");
    Set.Add()->SetName("b");
    EXPECT_EQ(VM.Trace, (Log{"added TVMInstruction", "update all", "update a",
                             "added TVMInstruction", "update all", "update b"}));
    VM.Trace.clear();
    Set.Delete(0);
    delete Set.GetItem(0); // still whole when the machine hears of it
    EXPECT_EQ(VM.Trace,
              (Log{"deleting a", "extracting a", "update all", "extracting b", "update all"}));
    EXPECT_EQ(Set.GetCount(), 0);

    TStringList NotAMachine;
    EXPECT_EQ(TVMInstructionSet(&NotAMachine).GetOwner(), nullptr);
}
