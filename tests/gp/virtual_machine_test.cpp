#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kv/gp/KvGeneticProgram.h"

using namespace kv;

namespace {

using S = TExecutionStates;
using Log = std::vector<std::string>;

std::vector<Variant> Contents(const TVMExecutionStack& Stack) {
    std::vector<Variant> R;
    for (int I = 0; I < Stack.GetCount(); ++I)
        R.push_back(Stack.GetItem(I));
    return R;
}

// A machine whose instructions i0..i(N-1) log their names; Load runs Initialize from names.
struct TMachine {
    explicit TMachine(int N) {
        for (int I = 0; I < N; ++I) {
            TVMInstruction* Instr = VM.GetInstructionSet()->Add();
            Instr->SetName(std::string(1, 'i').append(std::to_string(I)));
            Instr->SetOnExecute([this](TObject*, TVMExecutionStack*, TVMInstruction* Item) {
                Trace.push_back(Item->GetName());
            });
        }
        VM.SetOnFinished([this](TObject*) { Trace.push_back("finished"); });
    }
    void Load(std::initializer_list<const char*> Lines, const TVarRecList& Args = {}) {
        TStringList P;
        for (const char* Line : Lines)
            P.Add(Line);
        VM.Initialize(P, Args);
    }
    TVMInstruction* Item(int I) { return VM.GetInstructionSet()->GetItem(I); }
    TKvVirtualMachine VM;
    Log Trace;
};

} // namespace

TEST(VirtualMachine, StatesAndCallbacksThroughTheLifeOfAMachine) {
    TMachine M(2);
    TKvVirtualMachine& VM = M.VM;
    EXPECT_TRUE(VM.GetExecutionState().Empty());
    EXPECT_TRUE(VM.IsFinished());
    VM.SetOnExecuting([&](TObject* Sender) {
        EXPECT_EQ(Sender, &VM);
        M.Trace.push_back("executing");
    });
    VM.SetOnExecuted([&](TObject*) { M.Trace.push_back("executed"); });
    M.Load({"i0", "I1", "i0"});
    EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized}));
    EXPECT_EQ(VM.GetEncodedProgram(), (TIntegerArray{0, 1, 0}));
    VM.Execute();
    EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized, esExecuting}));
    VM.Execute();
    EXPECT_EQ(VM.GetExecutionIndex(), 2);
    EXPECT_FALSE(VM.IsFinished()) << "standing at the last instruction, not yet run";
    VM.Execute(10);
    EXPECT_EQ(M.Trace, (Log{"executing", "i0", "executed", "executing", "i1", "executed",
                            "executing", "i0", "executed", "finished"}));
    EXPECT_EQ(VM.GetExecutionState().Bits(),
              (S{esEncoded, esInitialized, esFinishing, esFinished}).Bits());
    EXPECT_EQ(VM.GetExecutionIndex(), 2);
    EXPECT_TRUE(VM.IsFinished());
    VM.Execute(); // nothing once finished
    EXPECT_EQ(M.Trace.size(), 10u);

    // Initialized lets the same program run again from its start; Execute(N) stops after N.
    VM.Initialized();
    EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized}));
    M.Trace.clear();
    VM.SetOnExecuting(nullptr);
    VM.SetOnExecuted(nullptr);
    VM.Execute(2);
    VM.Execute(0);
    VM.Execute(-1);
    EXPECT_EQ(M.Trace, (Log{"i0", "i1"}));
    EXPECT_EQ(VM.GetExecutionIndex(), 2);
    EXPECT_FALSE(VM.IsFinished());
}

TEST(VirtualMachine, CompileMapsNamesToCodesAndRejectsUnknownNames) {
    TMachine M(2);
    TKvVirtualMachine& VM = M.VM;
    VM.GetGPProgram()->Add("i1");
    VM.GetGPProgram()->Add("Mul");
    VM.GetGPProgram()->Add("i0");
    try {
        VM.Compile();
        FAIL();
    } catch (const EGPException& E) {
        EXPECT_STREQ(E.what(), "Unknown instruction \"Mul\"");
    }
    EXPECT_EQ(VM.GetExecutionState(), S{esInvalidOperation});
    ASSERT_EQ(VM.GetEncodedProgram().size(), 3u);
    EXPECT_EQ(VM.GetEncodedProgram()[1], -1);
    EXPECT_THROW(VM.Execute(), EGPException) << "a step compiles first";

    VM.GetGPProgram()->Clear();
    VM.Compile();
    EXPECT_EQ(VM.GetExecutionState(), S{esEncoded});
    EXPECT_EQ(VM.GetExecutionIndex(), -1);
}

TEST(VirtualMachine, ThrowingInstructionEndsTheRunThroughOnError) {
    TMachine M(3);
    TKvVirtualMachine& VM = M.VM;
    M.Item(1)->SetOnExecute(
        [](TObject*, TVMExecutionStack* Stack, TVMInstruction*) { Stack->Pop(); });
    int Executed = 0;
    VM.SetOnExecuted([&](TObject*) { ++Executed; });
    VM.SetOnError([&](TObject* Sender, const std::exception& E) {
        EXPECT_EQ(Sender, &VM);
        EXPECT_NE(dynamic_cast<const EListError*>(&E), nullptr);
        EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized, esError}));
        M.Trace.push_back(E.what());
    });
    M.Load({"i0", "i1", "i2", "i0"});
    EXPECT_NO_THROW(VM.Execute(10));
    EXPECT_EQ(M.Trace, (Log{"i0", SListEmpty, "finished"}));
    EXPECT_EQ(Executed, 2);
    EXPECT_EQ(VM.GetExecutionState(),
              (S{esEncoded, esInitialized, esError, esFinishing, esFinished}));
    EXPECT_EQ(VM.GetExecutionIndex(), 1);

    // Any std::exception is caught, also without OnError; other throws pass out.
    VM.SetOnError(nullptr);
    M.Item(1)->SetOnExecute(
        [](TObject*, TVMExecutionStack*, TVMInstruction*) { throw std::runtime_error("x"); });
    VM.Initialized();
    EXPECT_NO_THROW(VM.Execute(10));
    EXPECT_TRUE(VM.GetExecutionState().Contains(esError));
    M.Item(1)->SetOnExecute([](TObject*, TVMExecutionStack*, TVMInstruction*) { throw 42; });
    VM.Initialized();
    EXPECT_THROW(VM.Execute(10), int);
}

TEST(VirtualMachine, StepsThatFindNoInstructionEndTheRunSafely) {
    TMachine M(2);
    TKvVirtualMachine& VM = M.VM;
    int Errors = 0;
    VM.SetOnError([&](TObject*, const std::exception&) { ++Errors; });
    // Codes outside the set stop the run without an error.
    for (int32_t Bad : {2, -1}) {
        M.Trace.clear();
        VM.SetEncodedProgram({0, Bad, 1});
        VM.Initialized();
        VM.Execute(10);
        EXPECT_EQ(M.Trace, (Log{"i0", "finished"})) << Bad;
        EXPECT_EQ(VM.GetExecutionState(),
                  (S{esEncoded, esInitialized, esInvalidOperation, esFinishing, esFinished}));
    }
    EXPECT_EQ(Errors, 0);

    // A single step with no instruction at ExecutionIndex runs nothing and finishes: an empty
    // program, an index written as -1, a program shortened under the index.
    TMachine Empty(1);
    Empty.VM.Execute();
    EXPECT_EQ(Empty.Trace, (Log{"finished"}));
    EXPECT_TRUE(Empty.VM.GetExecutionState().Contains(esFinished));
    M.Load({"i0", "i1", "i0"});
    M.Trace.clear();
    VM.SetExecutionIndex(-1);
    VM.Execute();
    M.Load({"i0", "i1", "i0"});
    VM.SetExecutionIndex(2);
    VM.SetEncodedProgram({0});
    EXPECT_TRUE(VM.IsFinished());
    VM.Execute();
    EXPECT_EQ(M.Trace, (Log{"finished", "finished"}));
}

TEST(VirtualMachine, ExecutionIndexIsClampedAndRedirectsTheRun) {
    TMachine M(4);
    TKvVirtualMachine& VM = M.VM;
    VM.SetExecutionIndex(5);
    EXPECT_EQ(VM.GetExecutionIndex(), -1) << "an empty program has no position";
    M.Load({"i0", "i1", "i2", "i3"});
    VM.SetExecutionIndex(100);
    EXPECT_EQ(VM.GetExecutionIndex(), 3);
    VM.SetExecutionIndex(-5);
    EXPECT_EQ(VM.GetExecutionIndex(), -1);
    VM.SetExecutionIndex(INT32_MAX);
    EXPECT_EQ(VM.GetExecutionIndex(), 3);

    // i1 jumps to 2, so the next step runs i3.
    VM.Initialized();
    M.Item(1)->SetOnExecute([&](TObject*, TVMExecutionStack*, TVMInstruction*) {
        M.Trace.push_back("i1");
        VM.SetExecutionIndex(2);
    });
    VM.Execute(10);
    EXPECT_EQ(M.Trace, (Log{"i0", "i1", "i3", "finished"}));

    // A longer program left the index at 4 and a program of four is loaded without moving it:
    // writing 4 (its Count) clamps to 3 although the stored index already reads 4, so the last
    // instruction still runs.
    VM.SetEncodedProgram({0, 0, 0, 0, 0, 0});
    VM.Initialized();
    VM.SetExecutionIndex(4);
    VM.SetEncodedProgram({0, 0, 0, 2});
    ASSERT_EQ(VM.GetExecutionIndex(), 4);
    VM.SetExecutionIndex(4);
    EXPECT_EQ(VM.GetExecutionIndex(), 3);
    M.Trace.clear();
    VM.Execute(10);
    EXPECT_EQ(M.Trace, (Log{"i2", "finished"}));
}

TEST(VirtualMachine, ProgramChangesEmptyTheStateAndForceACompile) {
    TMachine M(2);
    TKvVirtualMachine& VM = M.VM;
    M.Load({"i0", "i1"});
    VM.SetEncodedProgram({1, 1}); // not what the names compile to
    EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized}));
    VM.SetGPProgram(*VM.GetGPProgram()); // the same lines
    EXPECT_TRUE(VM.GetExecutionState().Empty());
    EXPECT_EQ(VM.GetGPProgram()->GetCount(), 2);
    VM.Execute();
    EXPECT_EQ(VM.GetEncodedProgram(), (TIntegerArray{0, 1}));
    EXPECT_EQ(M.Trace, (Log{"i0"}));
    VM.GetGPProgram()->BeginUpdate();
    VM.GetGPProgram()->EndUpdate();
    EXPECT_TRUE(VM.GetExecutionState().Empty());
}

TEST(VirtualMachine, InitializeFromNames) {
    TMachine M(2);
    TKvVirtualMachine& VM = M.VM;
    int Inits = 0;
    VM.SetOnInitialize([&](TObject*) { ++Inits; });
    VM.GetStack()->Push("stale");
    M.Load({"i1", "i0"}, {1, true, 2.5});
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{2.5, true, 1}));
    EXPECT_EQ(Inits, 1);
    EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized}));
    EXPECT_EQ(VM.GetExecutionIndex(), 0);

    TStringList P;
    P.Add("i0");
    TStringList Args;
    Args.Add("a");
    Args.Add("b");
    VM.Initialize(P, Args);
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{"a", "b"}));

    // A name not in the set: the error passes out after Initialized; the stack is kept.
    P.Add("Mul");
    EXPECT_THROW(VM.Initialize(P, {9}), EGPException);
    EXPECT_EQ(VM.GetExecutionState(), S{esInitialized});
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{"a", "b"}));
    EXPECT_EQ(Inits, 2);
}

TEST(VirtualMachine, InitializeFromCodes) {
    TMachine M(2);
    TKvVirtualMachine& VM = M.VM;
    int Inits = 0;
    VM.SetOnInitialize([&](TObject*) { ++Inits; });
    VM.GetGPProgram()->Add("earlier line");
    VM.Initialize(TIntegerArray{1, 0}, {3});
    EXPECT_EQ(VM.GetGPProgram()->GetText(), "i1\ni0\n");
    EXPECT_EQ(VM.GetEncodedProgram(), (TIntegerArray{1, 0}));
    EXPECT_EQ(VM.GetExecutionState(), S{esEncoded});
    EXPECT_EQ(VM.GetExecutionIndex(), 0);
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{3}));
    VM.Execute(5);
    EXPECT_EQ(M.Trace, (Log{"i1", "i0", "finished"})) << "the codes run without a compile";

    try {
        VM.Initialize(TIntegerArray{0, 5, 1}, {1});
        FAIL();
    } catch (const EGPException& E) {
        EXPECT_STREQ(E.what(), "5 is an invalid instruction set encoding");
    }
    EXPECT_TRUE(VM.GetExecutionState().Empty());
    EXPECT_EQ(VM.GetGPProgram()->GetText(), "i0\n");
    EXPECT_EQ(VM.GetEncodedProgram(), (TIntegerArray{1, 0}));
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{3}));
    EXPECT_EQ(Inits, 1);
    EXPECT_EQ(VM.GetGPProgram()->GetUpdateCount(), 0);
    EXPECT_THROW(VM.Initialize(TIntegerArray{-1}, TStringList()), EGPException);

    VM.Initialize(TIntegerArray{}, TStringList());
    EXPECT_EQ(VM.GetExecutionIndex(), -1);
    EXPECT_EQ(VM.GetExecutionState(), S{esEncoded});
}

TEST(VirtualMachine, InitializeStackPushesEveryArgumentKind) {
    TKvVirtualMachine VM;
    VM.GetStack()->Push("stale");
    TObject Obj;
    VM.InitializeStack({
        1,                                 // vtInteger
        true,                              // vtBoolean
        'c',                               // vtChar
        2.5,                               // vtExtended
        TVarRec::FromShortString("short"), // vtString
        static_cast<const void*>(&Obj),    // vtPointer: nothing
        TVarRec::FromPChar("raw"),         // vtPChar
        &Obj,                              // vtObject: nothing
        TVarRec::FromClass<TObject>(),     // vtClass: nothing
        u'w',                              // vtWideChar
        TVarRec::FromPWideChar(u"pw"),     // vtPWideChar
        std::string("ansi"),               // vtAnsiString
        Currency::FromScaled(12345),       // vtCurrency
        Variant(int64_t(-9)),              // vtVariant
        TVarRec::FromInterface(&Obj),      // vtInterface: nothing
        TVarRec::FromWideString(u"wide"),  // vtWideString
        int64_t(1) << 40,                  // vtInt64
        std::u16string(u"uni\u00e9"),      // vtUnicodeString
    });
    std::vector<Variant> Pushed = {1,
                                   true,
                                   "c",
                                   2.5,
                                   "short",
                                   "raw",
                                   "w",
                                   "pw",
                                   "ansi",
                                   Currency::FromScaled(12345),
                                   int64_t(-9),
                                   "wide",
                                   int64_t(1) << 40,
                                   "uni\xc3\xa9"};
    EXPECT_EQ(Contents(*VM.GetStack()), std::vector<Variant>(Pushed.rbegin(), Pushed.rend()));
    EXPECT_EQ(VM.GetStack()->GetItem(1).VarType(), varInt64);
    EXPECT_TRUE(VM.GetExecutionState().Empty());
}

TEST(VirtualMachine, MachineCallbackServesInstructionsWithoutOne) {
    TMachine M(1);
    TKvVirtualMachine& VM = M.VM;
    VM.GetInstructionSet()->Add()->SetName("Push1");
    VM.GetInstructionSet()->Add()->SetName("Add");
    VM.SetOnExecuteInstruction(
        [&](TObject* Sender, TVMExecutionStack* Stack, TVMInstruction* Item) {
            EXPECT_EQ(Sender, &VM);
            if (Item->GetName() == "Push1")
                Stack->Push(1);
            else if (Item->GetName() == "Add")
                Stack->Push(Stack->Pop().AsInteger() + Stack->Pop().AsInteger());
            else
                ADD_FAILURE() << "called for an instruction with a callback of its own";
        });
    VM.Initialize(TIntegerArray{1, 1, 2, 0, 1, 2}, TVarRecList{});
    VM.Execute(100);
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{3}));
    EXPECT_EQ(M.Trace, (Log{"i0", "finished"}));
}

TEST(VirtualMachine, StepsRunOverriddenExecute) {
    struct TCounting : TVMInstruction {
        void Execute(TVMExecutionStack* Stack) override { Stack->Push("override"); }
    };
    TMachine M(1);
    TGCollection<TVMInstruction> Holder(nullptr, TItemClassOf<TVMInstruction>::Of<TCounting>());
    Holder.Add()->SetCollection(M.VM.GetInstructionSet());
    M.VM.Initialize(TIntegerArray{1, 0}, TVarRecList{});
    M.VM.Execute(5);
    EXPECT_EQ(Contents(*M.VM.GetStack()), (std::vector<Variant>{"override"}));
    EXPECT_EQ(M.Trace, (Log{"i0", "finished"}));
}

TEST(VirtualMachine, SettersCopyAndTheInterfaceDrivesTheMachine) {
    TMachine Source(1);
    Source.Item(0)->SetComment("c");
    Source.VM.GetStack()->Push(1);
    Source.VM.GetStack()->Push(2);
    TComponent Owner;
    auto* VM = new TKvVirtualMachine(&Owner); // the owner destroys it
    VM->GetInstructionSet()->Add()->SetName("old");
    VM->SetInstructionSet(*Source.VM.GetInstructionSet());
    ASSERT_EQ(VM->GetInstructionSet()->GetCount(), 1);
    EXPECT_EQ(VM->GetInstructionSet()->GetItem(0)->GetName(), "i0");
    EXPECT_EQ(VM->GetInstructionSet()->GetItem(0)->GetComment(), "c");
    EXPECT_FALSE(VM->GetInstructionSet()->GetItem(0)->GetOnExecute());
    VM->SetStack(*Source.VM.GetStack());
    VM->GetStack()->Pop();
    EXPECT_EQ(Contents(*VM->GetStack()), (std::vector<Variant>{1}));
    EXPECT_EQ(Source.VM.GetStack()->GetCount(), 2);

    EXPECT_EQ(IKvSimpleVirtualMachine::IID, "{B9E4D97F-1A50-4D73-8CB9-AF0BD61DBF75}");
    IKvSimpleVirtualMachine& Intf = Source.VM;
    Intf.Initialize(TIntegerArray{0, 0}, TVarRecList{});
    while (!Intf.IsFinished())
        Intf.Execute();
    EXPECT_EQ(Source.Trace, (Log{"i0", "i0", "finished"}));
    EXPECT_TRUE(Intf.GetExecutionState().Contains(esFinished));
}
