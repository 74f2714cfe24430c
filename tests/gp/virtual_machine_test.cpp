#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kv/gp/KvGeneticProgram.h"

using namespace kv;

namespace {

using S = TExecutionStates;

std::unique_ptr<TStringList> Program(std::initializer_list<const char*> Lines) {
    auto L = std::make_unique<TStringList>();
    for (const char* Line : Lines)
        L->Add(Line);
    return L;
}

std::vector<std::string> Lines(const TStrings& L) {
    std::vector<std::string> R;
    for (int I = 0; I < L.GetCount(); ++I)
        R.push_back(L[I]);
    return R;
}

std::vector<Variant> Contents(const TVMExecutionStack& Stack) {
    std::vector<Variant> R;
    for (int I = 0; I < Stack.GetCount(); ++I)
        R.push_back(Stack.GetItem(I));
    return R;
}

// "i<I>", built without operator+ (g++ 12 -O3 reports a false -Wrestrict on "i" + to_string).
std::string InstrName(int I) {
    std::string S(1, 'i');
    S.append(std::to_string(I));
    return S;
}

// A machine with instructions i0..i(N-1) that log their names as they run.
struct TLoggingMachine {
    explicit TLoggingMachine(int N) {
        for (int I = 0; I < N; ++I) {
            TVMInstruction* Instr = VM.GetInstructionSet()->Add();
            Instr->SetName(InstrName(I));
            Instr->SetOnExecute([this](TObject*, TVMExecutionStack*, TVMInstruction* Item) {
                Log.push_back(Item->GetName());
            });
        }
        VM.SetOnFinished([this](TObject*) { ++FinishedCalls; });
    }
    void Load(int Length) {
        TStringList P;
        for (int I = 0; I < Length; ++I)
            P.Add(InstrName(I % VM.GetInstructionSet()->GetCount()));
        VM.Initialize(P, TVarRecList{});
    }
    TKvVirtualMachine VM;
    std::vector<std::string> Log;
    int FinishedCalls = 0;
};

} // namespace

TEST(VirtualMachine, NewMachineIsEmptyAndFinished) {
    TKvVirtualMachine VM;
    EXPECT_TRUE(VM.GetExecutionState().Empty());
    EXPECT_TRUE(VM.IsFinished());
    EXPECT_EQ(VM.GetExecutionIndex(), 0);
    EXPECT_TRUE(VM.GetEncodedProgram().empty());
    EXPECT_EQ(VM.GetStack()->GetCount(), 0);
    EXPECT_EQ(VM.GetGPProgram()->GetCount(), 0);
    EXPECT_EQ(VM.ClassName(), "TKvVirtualMachine");
    // An owned machine is destroyed by its owner.
    TComponent Owner;
    auto* Owned = new TKvVirtualMachine(&Owner);
    EXPECT_EQ(Owner.GetComponentCount(), 1);
    EXPECT_EQ(Owned->GetOwner(), &Owner);
}

TEST(VirtualMachine, CompileTurnsNamesIntoCodes) {
    TKvVirtualMachine VM;
    VM.GetInstructionSet()->Add()->SetName("Push");
    VM.GetInstructionSet()->Add()->SetName("Add");
    VM.GetGPProgram()->Add("push");
    VM.GetGPProgram()->Add("ADD");
    VM.GetGPProgram()->Add("Push");
    VM.Compile();
    EXPECT_EQ(VM.GetEncodedProgram(), (TIntegerArray{0, 1, 0}));
    EXPECT_EQ(VM.GetExecutionIndex(), 0);
    EXPECT_EQ(VM.GetExecutionState(), S{esEncoded});

    VM.GetGPProgram()->Insert(1, "Mul"); // empties the state
    EXPECT_TRUE(VM.GetExecutionState().Empty());
    try {
        VM.Compile();
        FAIL();
    } catch (const EGPException& E) {
        EXPECT_STREQ(E.what(), "Unknown instruction \"Mul\"");
    }
    EXPECT_EQ(VM.GetExecutionState(), S{esInvalidOperation});
    ASSERT_EQ(VM.GetEncodedProgram().size(), 4u);
    EXPECT_EQ(VM.GetEncodedProgram()[0], 0);
    EXPECT_EQ(VM.GetEncodedProgram()[1], -1);

    // An empty program compiles to nothing, with no instruction to stand at.
    VM.GetGPProgram()->Clear();
    VM.Compile();
    EXPECT_TRUE(VM.GetEncodedProgram().empty());
    EXPECT_EQ(VM.GetExecutionIndex(), -1);
    EXPECT_EQ(VM.GetExecutionState(), S{esEncoded});
}

TEST(VirtualMachine, StateSetsThroughTheLifeOfAMachine) {
    TLoggingMachine M(2);
    TKvVirtualMachine& VM = M.VM;
    std::vector<S> Seen;
    M.VM.GetInstructionSet()->GetItem(0)->SetOnExecute(
        [&](TObject*, TVMExecutionStack*, TVMInstruction*) {
            Seen.push_back(VM.GetExecutionState());
        });
    M.Load(3);
    EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized}));
    EXPECT_EQ(VM.GetExecutionIndex(), 0);
    EXPECT_FALSE(VM.IsFinished());

    VM.Execute();
    EXPECT_EQ(Seen.back(), (S{esEncoded, esInitialized, esExecuting})) << "inside the step";
    EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized, esExecuting}));
    EXPECT_EQ(VM.GetExecutionIndex(), 1);
    VM.Execute();
    EXPECT_FALSE(VM.IsFinished()) << "standing at the last instruction, not yet run";
    VM.Execute();
    EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized, esFinishing, esFinished}));
    EXPECT_EQ(VM.GetExecutionState().Bits(), 0x030A);
    EXPECT_EQ(VM.GetExecutionIndex(), 2);
    EXPECT_TRUE(VM.IsFinished());
    EXPECT_EQ(M.FinishedCalls, 1);

    VM.Initialized();
    EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized}));
    EXPECT_EQ(VM.GetExecutionIndex(), 0);
    VM.Execute(100);
    EXPECT_EQ(Seen.size(), 4u) << "the same program ran again from its start";
    EXPECT_EQ(M.FinishedCalls, 2);

    // Writing the encoded program adds esEncoded and touches nothing else.
    VM.Initialized();
    VM.SetEncodedProgram({1});
    EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized}));
    EXPECT_EQ(VM.GetExecutionIndex(), 0);
    EXPECT_EQ(VM.GetGPProgram()->GetCount(), 3);
}

TEST(VirtualMachine, StepsStopAtTheEndOfTheProgram) {
    TLoggingMachine One(1);
    One.Load(1);
    One.VM.Execute(10);
    EXPECT_EQ(One.Log, (std::vector<std::string>{"i0"}));
    EXPECT_EQ(One.VM.GetExecutionState(), (S{esEncoded, esInitialized, esFinishing, esFinished}));
    EXPECT_EQ(One.VM.GetExecutionIndex(), 0);
    EXPECT_TRUE(One.VM.IsFinished());
    EXPECT_EQ(One.FinishedCalls, 1);
    One.VM.Execute();
    One.VM.Execute(5);
    EXPECT_EQ(One.Log.size(), 1u);
    EXPECT_EQ(One.FinishedCalls, 1);

    TLoggingMachine Five(5);
    Five.Load(5);
    Five.VM.Execute(2);
    EXPECT_EQ(Five.Log, (std::vector<std::string>{"i0", "i1"}));
    EXPECT_EQ(Five.VM.GetExecutionIndex(), 2);
    EXPECT_FALSE(Five.VM.IsFinished());
    Five.VM.Execute(0);
    Five.VM.Execute(-3);
    EXPECT_EQ(Five.Log.size(), 2u);
    Five.VM.Execute(10);
    EXPECT_EQ(Five.Log, (std::vector<std::string>{"i0", "i1", "i2", "i3", "i4"}));
    EXPECT_TRUE(Five.VM.GetExecutionState().Contains(esFinished));
    EXPECT_EQ(Five.FinishedCalls, 1);
}

TEST(VirtualMachine, CallbacksComeInStepOrder) {
    TLoggingMachine M(2);
    TKvVirtualMachine& VM = M.VM;
    VM.SetOnExecuting([&](TObject* Sender) {
        EXPECT_EQ(Sender, &VM);
        M.Log.push_back("executing");
    });
    VM.SetOnExecuted([&](TObject* Sender) {
        EXPECT_EQ(Sender, &VM);
        M.Log.push_back("executed");
    });
    VM.SetOnFinished([&](TObject* Sender) {
        EXPECT_EQ(Sender, &VM);
        EXPECT_TRUE(VM.GetExecutionState().Contains(esFinishing));
        EXPECT_FALSE(VM.GetExecutionState().Contains(esFinished));
        EXPECT_FALSE(VM.GetExecutionState().Contains(esExecuting));
        M.Log.push_back("finished");
    });
    M.Load(2);
    VM.Execute(2);
    EXPECT_EQ(M.Log, (std::vector<std::string>{"executing", "i0", "executed", "executing", "i1",
                                               "executed", "finished"}));
}

TEST(VirtualMachine, ThrowingInstructionEndsTheRunThroughOnError) {
    TLoggingMachine M(3);
    TKvVirtualMachine& VM = M.VM;
    VM.GetInstructionSet()->GetItem(1)->SetOnExecute(
        [](TObject*, TVMExecutionStack* Stack, TVMInstruction*) { Stack->Pop(); });
    std::vector<std::string> Errors;
    VM.SetOnError([&](TObject* Sender, const std::exception& E) {
        EXPECT_EQ(Sender, &VM);
        EXPECT_NE(dynamic_cast<const EListError*>(&E), nullptr);
        EXPECT_FALSE(VM.GetExecutionState().Contains(esExecuting));
        EXPECT_TRUE(VM.GetExecutionState().Contains(esError));
        Errors.push_back(E.what());
    });
    int Executed = 0;
    VM.SetOnExecuted([&](TObject*) { ++Executed; });
    auto PPtr = Program({"i0", "i1", "i2", "i0"});
    TStringList& P = *PPtr;
    VM.Initialize(P, TVarRecList{});
    EXPECT_NO_THROW(VM.Execute(10));
    EXPECT_EQ(M.Log, (std::vector<std::string>{"i0"})) << "nothing after the failing instruction";
    EXPECT_EQ(Errors, (std::vector<std::string>{SListEmpty}));
    EXPECT_EQ(Executed, 2) << "OnExecuted still follows the failed step";
    EXPECT_EQ(VM.GetExecutionState(),
              (S{esEncoded, esInitialized, esError, esFinishing, esFinished}));
    EXPECT_EQ(VM.GetExecutionIndex(), 1);
    EXPECT_EQ(M.FinishedCalls, 1);

    // Without an OnError callback the exception is still swallowed; any std::exception counts.
    VM.SetOnError(nullptr);
    VM.GetInstructionSet()->GetItem(1)->SetOnExecute(
        [](TObject*, TVMExecutionStack*, TVMInstruction*) { throw std::runtime_error("plain"); });
    VM.Initialized();
    EXPECT_NO_THROW(VM.Execute(10));
    EXPECT_TRUE(VM.GetExecutionState().Contains(esError));

    // Something that is not an exception class passes out; so do errors of OnError itself.
    VM.GetInstructionSet()->GetItem(1)->SetOnExecute(
        [](TObject*, TVMExecutionStack*, TVMInstruction*) { throw 42; });
    VM.Initialized();
    EXPECT_THROW(VM.Execute(10), int);
    VM.GetInstructionSet()->GetItem(1)->SetOnExecute(
        [](TObject*, TVMExecutionStack*, TVMInstruction*) { throw EGPException("inner"); });
    VM.SetOnError([](TObject*, const std::exception&) { throw std::logic_error("outer"); });
    VM.Initialized();
    EXPECT_THROW(VM.Execute(10), std::logic_error);
}

TEST(VirtualMachine, CodesOutsideTheSetStopTheRunWithoutError) {
    TLoggingMachine M(2);
    TKvVirtualMachine& VM = M.VM;
    int Errors = 0;
    VM.SetOnError([&](TObject*, const std::exception&) { ++Errors; });
    for (int32_t Bad : {2, -1, 1000000}) {
        M.Log.clear();
        VM.SetEncodedProgram({0, Bad, 1});
        VM.Initialized();
        EXPECT_NO_THROW(VM.Execute(10));
        EXPECT_EQ(M.Log, (std::vector<std::string>{"i0"})) << Bad;
        EXPECT_TRUE(VM.GetExecutionState().Contains(esInvalidOperation));
        EXPECT_TRUE(VM.GetExecutionState().Contains(esFinished));
        EXPECT_FALSE(VM.GetExecutionState().Contains(esExecuting));
        EXPECT_EQ(VM.GetExecutionIndex(), 1);
    }
    EXPECT_EQ(Errors, 0);
}

TEST(VirtualMachine, StepWithoutAnInstructionToRunEndsTheRun) {
    TLoggingMachine M(2);
    TKvVirtualMachine& VM = M.VM;
    int Executing = 0;
    VM.SetOnExecuting([&](TObject*) { ++Executing; });

    // An empty program: the single step compiles it, runs nothing and finishes.
    VM.Execute();
    EXPECT_EQ(Executing, 0);
    EXPECT_EQ(M.FinishedCalls, 1);
    EXPECT_TRUE(VM.GetExecutionState().Contains(esFinished));
    VM.Execute();
    EXPECT_EQ(M.FinishedCalls, 1);

    // An index written as -1.
    M.Load(3);
    VM.SetExecutionIndex(-1);
    EXPECT_TRUE(VM.IsFinished());
    VM.Execute();
    EXPECT_TRUE(M.Log.empty());
    EXPECT_EQ(M.FinishedCalls, 2);

    // A program shortened under a standing index.
    M.Load(3);
    VM.SetExecutionIndex(2);
    VM.SetEncodedProgram({0});
    EXPECT_TRUE(VM.IsFinished());
    VM.Execute();
    EXPECT_TRUE(M.Log.empty());
    EXPECT_EQ(M.FinishedCalls, 3);

    // OnExecuting that empties the program: the step treats the missing code as invalid.
    M.Load(2);
    VM.SetOnExecuting([&](TObject*) { VM.SetEncodedProgram({}); });
    VM.Execute();
    EXPECT_TRUE(M.Log.empty());
    EXPECT_TRUE(VM.GetExecutionState().Contains(esInvalidOperation));
    EXPECT_TRUE(VM.GetExecutionState().Contains(esFinished));
}

TEST(VirtualMachine, ExecutionIndexWritesAreClamped) {
    TLoggingMachine M(1);
    TKvVirtualMachine& VM = M.VM;
    VM.SetExecutionIndex(5);
    EXPECT_EQ(VM.GetExecutionIndex(), -1) << "every write of 0 or more on an empty program";
    M.Load(3);
    VM.SetExecutionIndex(100);
    EXPECT_EQ(VM.GetExecutionIndex(), 2);
    VM.SetExecutionIndex(-5);
    EXPECT_EQ(VM.GetExecutionIndex(), -1);
    VM.SetExecutionIndex(1);
    EXPECT_EQ(VM.GetExecutionIndex(), 1);
    VM.SetExecutionIndex(INT32_MIN);
    EXPECT_EQ(VM.GetExecutionIndex(), -1);
    VM.SetExecutionIndex(INT32_MAX);
    EXPECT_EQ(VM.GetExecutionIndex(), 2);
}

TEST(VirtualMachine, InstructionCanRedirectTheRun) {
    TLoggingMachine M(4);
    TKvVirtualMachine& VM = M.VM;
    M.Load(4);
    // i1 jumps to 2, so the next step runs i3.
    VM.GetInstructionSet()->GetItem(1)->SetOnExecute(
        [&](TObject*, TVMExecutionStack*, TVMInstruction*) {
            M.Log.push_back("i1");
            VM.SetExecutionIndex(2);
        });
    VM.Execute(10);
    EXPECT_EQ(M.Log, (std::vector<std::string>{"i0", "i1", "i3"}));
    // A jump to -1 restarts the program at its first instruction.
    M.Log.clear();
    int Jumps = 0;
    VM.GetInstructionSet()->GetItem(2)->SetOnExecute(
        [&](TObject*, TVMExecutionStack*, TVMInstruction*) {
            M.Log.push_back("i2");
            if (Jumps++ == 0)
                VM.SetExecutionIndex(-1);
        });
    VM.GetInstructionSet()->GetItem(1)->SetOnExecute(nullptr);
    VM.Initialized();
    VM.SetExecutionIndex(2);
    VM.Execute(10);
    EXPECT_EQ(M.Log, (std::vector<std::string>{"i2", "i0", "i2", "i3"}));
}

TEST(VirtualMachine, ProgramChangesEmptyTheStateAndForceACompile) {
    TLoggingMachine M(2);
    TKvVirtualMachine& VM = M.VM;
    M.Load(2);
    VM.Execute();
    VM.SetEncodedProgram({1, 1}); // differs from what the names compile to
    auto SamePtr = Program({"i0", "i1"});
    TStringList& Same = *SamePtr;
    VM.SetGPProgram(Same);
    EXPECT_TRUE(VM.GetExecutionState().Empty());
    VM.Execute(); // compiles again first
    EXPECT_EQ(VM.GetEncodedProgram(), (TIntegerArray{0, 1}));
    EXPECT_EQ(M.Log, (std::vector<std::string>{"i0", "i0"}));

    // Every batch of the program list counts, even an empty one; the setter copies.
    VM.Execute();
    VM.GetGPProgram()->BeginUpdate();
    VM.GetGPProgram()->EndUpdate();
    EXPECT_TRUE(VM.GetExecutionState().Empty());
    Same.Add("i1");
    EXPECT_EQ(VM.GetGPProgram()->GetCount(), 2);
    VM.SetGPProgram(*VM.GetGPProgram()); // assigning its own list keeps the lines
    EXPECT_EQ(Lines(*VM.GetGPProgram()), (std::vector<std::string>{"i0", "i1"}));
}

TEST(VirtualMachine, InitializeFromNames) {
    TLoggingMachine M(2);
    TKvVirtualMachine& VM = M.VM;
    int Inits = 0;
    VM.SetOnInitialize([&](TObject* Sender) {
        EXPECT_EQ(Sender, &VM);
        ++Inits;
    });
    VM.GetStack()->Push("stale");
    auto PPtr = Program({"I1", "i0"});
    TStringList& P = *PPtr;
    VM.Initialize(P, {1, true, 2.5});
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{2.5, true, 1}));
    EXPECT_EQ(Inits, 1);
    EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized}));
    EXPECT_EQ(VM.GetEncodedProgram(), (TIntegerArray{1, 0}));
    EXPECT_EQ(Lines(*VM.GetGPProgram()), (std::vector<std::string>{"I1", "i0"}));
    EXPECT_EQ(VM.GetExecutionIndex(), 0);

    // A list of texts as the inputs: line 0 on top.
    auto ArgsPtr = Program({"a", "b"});
    TStringList& Args = *ArgsPtr;
    VM.Initialize(P, Args);
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{"a", "b"}));
    EXPECT_EQ(Inits, 2);

    // An empty program.
    TStringList None;
    VM.Initialize(None, TVarRecList{});
    EXPECT_EQ(VM.GetExecutionIndex(), -1);
    EXPECT_EQ(VM.GetExecutionState(), (S{esEncoded, esInitialized}));
    EXPECT_TRUE(VM.IsFinished());

    // A name that is not in the set: the error passes out, the stack keeps its contents, the next
    // step compiles (and fails) again.
    VM.GetStack()->Clear();
    VM.GetStack()->Push(7);
    auto BadPtr = Program({"i0", "Mul"});
    TStringList& Bad = *BadPtr;
    EXPECT_THROW(VM.Initialize(Bad, {1}), EGPException);
    EXPECT_EQ(VM.GetExecutionState(), S{esInitialized});
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{7}));
    EXPECT_EQ(Inits, 3);
    EXPECT_THROW(VM.Execute(), EGPException);
    EXPECT_TRUE(M.Log.empty());
}

TEST(VirtualMachine, InitializeFromCodes) {
    TKvVirtualMachine VM;
    VM.GetInstructionSet()->Add()->SetName("Push");
    VM.GetInstructionSet()->Add()->SetName("Add");
    int Inits = 0;
    VM.SetOnInitialize([&](TObject*) { ++Inits; });
    VM.GetGPProgram()->Add("earlier line");
    VM.Initialize(TIntegerArray{1, 0}, {3});
    EXPECT_EQ(Lines(*VM.GetGPProgram()), (std::vector<std::string>{"Add", "Push"}));
    EXPECT_EQ(VM.GetEncodedProgram(), (TIntegerArray{1, 0}));
    EXPECT_EQ(VM.GetExecutionState(), S{esEncoded});
    EXPECT_EQ(VM.GetExecutionIndex(), 0);
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{3}));
    EXPECT_EQ(Inits, 1);
    EXPECT_FALSE(VM.IsFinished());

    // Its own encoded program as the source.
    VM.Initialize(VM.GetEncodedProgram(), TStringList());
    EXPECT_EQ(VM.GetEncodedProgram(), (TIntegerArray{1, 0}));
    EXPECT_EQ(VM.GetStack()->GetCount(), 0);

    VM.GetStack()->Push("kept");
    Inits = 0;
    try {
        VM.Initialize(TIntegerArray{0, 5, 1}, {1});
        FAIL();
    } catch (const EGPException& E) {
        EXPECT_STREQ(E.what(), "5 is an invalid instruction set encoding");
    }
    EXPECT_TRUE(VM.GetExecutionState().Empty());
    EXPECT_EQ(Lines(*VM.GetGPProgram()), (std::vector<std::string>{"Push"}));
    EXPECT_EQ(VM.GetEncodedProgram(), (TIntegerArray{1, 0}));
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{"kept"}));
    EXPECT_EQ(Inits, 0);
    EXPECT_EQ(VM.GetGPProgram()->GetUpdateCount(), 0) << "the batch is closed";
    EXPECT_THROW(VM.Initialize(TIntegerArray{-1}, TVarRecList{}), EGPException);

    VM.Initialize(TIntegerArray{}, TVarRecList{});
    EXPECT_EQ(VM.GetExecutionIndex(), -1);
    EXPECT_EQ(VM.GetExecutionState(), S{esEncoded});
}

TEST(VirtualMachine, InitializeStackPushesEveryArgumentKind) {
    TKvVirtualMachine VM;
    VM.GetStack()->Push("stale");
    TObject Obj;
    const char Raw[] = "raw";
    int Inits = 0;
    VM.SetOnInitialize([&](TObject*) { ++Inits; });
    VM.InitializeStack({
        1,                                 // vtInteger
        true,                              // vtBoolean
        'c',                               // vtChar
        2.5,                               // vtExtended
        TVarRec::FromShortString("short"), // vtString
        static_cast<const void*>(&Obj),    // vtPointer: nothing
        TVarRec::FromPChar(Raw),           // vtPChar: nothing
        &Obj,                              // vtObject: nothing
        TVarRec::FromClass<TObject>(),     // vtClass: nothing
        u'w',                              // vtWideChar
        TVarRec::FromPWideChar(u"pw"),     // vtPWideChar: nothing
        std::string("ansi"),               // vtAnsiString
        Currency::FromScaled(12345),       // vtCurrency
        Variant(int64_t(-9)),              // vtVariant
        TVarRec::FromInterface(&Obj),      // vtInterface: nothing
        TVarRec::FromWideString(u"wide"),  // vtWideString
        int64_t(1) << 40,                  // vtInt64
        std::u16string(u"uni\u00e9"),      // vtUnicodeString
    });
    const std::vector<Variant> Bottom_to_top = {1,
                                                true,
                                                "c",
                                                2.5,
                                                "short",
                                                "w",
                                                "ansi",
                                                Currency::FromScaled(12345),
                                                int64_t(-9),
                                                "wide",
                                                int64_t(1) << 40,
                                                "uni\xc3\xa9"};
    std::vector<Variant> Expected(Bottom_to_top.rbegin(), Bottom_to_top.rend());
    EXPECT_EQ(Contents(*VM.GetStack()), Expected);
    EXPECT_EQ(VM.GetStack()->GetItem(10).VarType(), varBoolean);
    EXPECT_EQ(VM.GetStack()->GetItem(1).VarType(), varInt64);
    EXPECT_EQ(Inits, 1);
    EXPECT_TRUE(VM.GetExecutionState().Empty()) << "the state is not touched";
    EXPECT_EQ(VM.GetExecutionIndex(), 0);

    VM.InitializeStack(TVarRecList{});
    EXPECT_EQ(VM.GetStack()->GetCount(), 0);
    EXPECT_EQ(Inits, 2);
}

TEST(VirtualMachine, StackRoundTripsThroughListsOfTexts) {
    TKvVirtualMachine VM;
    VM.InitializeStack({1, "two", 3.5, false});
    TStringList Saved;
    Saved.Assign(VM.GetStack());
    EXPECT_EQ(Lines(Saved), (std::vector<std::string>{"False", "3.5", "two", "1"}));
    VM.InitializeStack(TVarRecList{});
    VM.InitializeStack(Saved);
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{"False", "3.5", "two", "1"}));
    TStringList Again;
    Again.Assign(VM.GetStack());
    EXPECT_TRUE(Again.Equals(Saved));
}

TEST(VirtualMachine, MachineCallbackServesInstructionsWithoutOne) {
    TKvVirtualMachine VM;
    for (const char* Name : {"Push1", "Add", "Own"})
        VM.GetInstructionSet()->Add()->SetName(Name);
    VM.GetInstructionSet()->GetItem(2)->SetOnExecute(
        [](TObject*, TVMExecutionStack* Stack, TVMInstruction*) { Stack->Push("own"); });
    VM.SetOnExecuteInstruction(
        [&](TObject* Sender, TVMExecutionStack* Stack, TVMInstruction* Item) {
            EXPECT_EQ(Sender, &VM);
            EXPECT_EQ(Stack, VM.GetStack());
            if (Item->GetName() == "Push1")
                Stack->Push(1);
            else if (Item->GetName() == "Add")
                Stack->Push(Stack->Pop().AsInteger() + Stack->Pop().AsInteger());
            else
                ADD_FAILURE() << "called for an instruction with a callback of its own";
        });
    auto PPtr = Program({"Push1", "Push1", "Add", "Push1", "Add", "Own"});
    TStringList& P = *PPtr;
    VM.Initialize(P, TVarRecList{});
    VM.Execute(100);
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{"own", 3}));
    EXPECT_FALSE(VM.GetExecutionState().Contains(esError));
}

TEST(VirtualMachine, SettersCopyTheirSources) {
    TKvVirtualMachine Source;
    TVMInstruction* I = Source.GetInstructionSet()->Add();
    I->SetName("Push");
    I->SetComment("c");
    I->SetOnExecute([](TObject*, TVMExecutionStack*, TVMInstruction*) {});
    Source.GetStack()->Push(1);
    Source.GetStack()->Push(2);

    TKvVirtualMachine VM;
    VM.GetInstructionSet()->Add()->SetName("old");
    VM.SetInstructionSet(*Source.GetInstructionSet());
    ASSERT_EQ(VM.GetInstructionSet()->GetCount(), 1);
    EXPECT_EQ(VM.GetInstructionSet()->GetItem(0)->GetName(), "Push");
    EXPECT_EQ(VM.GetInstructionSet()->GetItem(0)->GetComment(), "c");
    EXPECT_FALSE(VM.GetInstructionSet()->GetItem(0)->GetOnExecute());
    EXPECT_NE(VM.GetInstructionSet()->GetItem(0), I);

    VM.SetStack(*Source.GetStack());
    EXPECT_EQ(Contents(*VM.GetStack()), (std::vector<Variant>{2, 1}));
    VM.GetStack()->Pop();
    EXPECT_EQ(Source.GetStack()->GetCount(), 2);
}

TEST(VirtualMachine, DrivenThroughItsInterface) {
    EXPECT_EQ(IKvSimpleVirtualMachine::IID, "{B9E4D97F-1A50-4D73-8CB9-AF0BD61DBF75}");
    TLoggingMachine M(2);
    IKvSimpleVirtualMachine& Intf = M.VM;
    auto PPtr = Program({"i1", "i0", "i1"});
    TStringList& P = *PPtr;
    Intf.Initialize(P, TVarRecList{5});
    EXPECT_EQ(Intf.GetExecutionState(), (S{esEncoded, esInitialized}));
    while (!Intf.IsFinished())
        Intf.Execute();
    EXPECT_EQ(M.Log, (std::vector<std::string>{"i1", "i0", "i1"}));
    Intf.InitializeStack(P);
    Intf.Initialized();
    Intf.Execute(2);
    EXPECT_EQ(M.Log.size(), 5u);
    EXPECT_EQ(M.VM.GetStack()->GetCount(), 3);
}
