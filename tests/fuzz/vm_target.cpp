// Fuzz target: the stack virtual machine. The input becomes a program of instruction codes (and a
// few inputs for the stack), which the machine loads and runs under a step bound.
//
// Input layout:
//   byte 0       how the program is loaded (bits 0-1: Initialize from codes, EncodedProgram
//                written directly, Initialize from names, GPProgram written then Compile) and
//                which arguments fill the stack (bit 2: argument list or list of texts)
//   byte 1       the number of arguments (low 3 bits), followed by one byte per argument
//   the rest     one instruction code per byte: below 240 a valid code, from 240 a code from -5
//                to 10 (so codes outside the set of 9 instructions occur too)
// The instructions push constants, pop, duplicate, add, divide and jump; division by zero,
// overflow, popping an empty stack and unconvertible texts raise kv exceptions inside the step,
// which the machine reports through OnError. Besides "no crash, no foreign exception", the target
// checks the machine's own promises: what a load leaves, that a run stops within its steps, that
// ExecutionIndex stays within the program, and that a finished machine stays still.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

#include "kv/gp/KvGeneticProgram.h"
#include "tests/fuzz/fuzz_check.h"

using namespace kv;
using kv::fuzz::Check;
using kv::fuzz::Run;

namespace {

constexpr int StepBound = 2000;
const char* const Names[] = {"Push1", "Push7", "PushHalf", "PushText", "Pop",
                             "Dup",   "Add",   "Div",      "Jump"};
constexpr int NameCount = static_cast<int>(sizeof(Names) / sizeof(Names[0]));

bool IsInteger(const Variant& V) {
    return V.VarType() == varInteger || V.VarType() == varInt64;
}

Variant Add(const Variant& A, const Variant& B) {
    if (IsInteger(A) && IsInteger(B)) {
        int64_t R;
        if (__builtin_add_overflow(A.AsInt64(), B.AsInt64(), &R))
            throw EGPException("Integer overflow in Add");
        return Variant(R);
    }
    return Variant(A.AsDouble() + B.AsDouble());
}

Variant Divide(const Variant& A, const Variant& B) {
    if (IsInteger(A) && IsInteger(B)) {
        int64_t X = A.AsInt64(), Y = B.AsInt64();
        if (Y == 0)
            throw EGPException("Division by zero");
        if (X == INT64_MIN && Y == -1)
            throw EGPException("Integer overflow in Div");
        return Variant(X / Y);
    }
    double Y = B.AsDouble();
    if (Y == 0)
        throw EGPException("Division by zero");
    return Variant(A.AsDouble() / Y);
}

void AddInstructions(TKvVirtualMachine& VM) {
    TVMInstructionSet* Set = VM.GetInstructionSet();
    auto Define = [Set](const char* Name, TVMExecuteEvent Body) {
        TVMInstruction* I = Set->Add();
        I->SetName(Name);
        I->SetOnExecute(std::move(Body));
    };
    Define("Push1", [](TObject*, TVMExecutionStack* S, TVMInstruction*) { S->Push(Variant(1)); });
    Define("Push7",
           [](TObject*, TVMExecutionStack* S, TVMInstruction*) { S->Push(Variant(int64_t(7))); });
    Define("PushHalf",
           [](TObject*, TVMExecutionStack* S, TVMInstruction*) { S->Push(Variant(0.5)); });
    Define("PushText",
           [](TObject*, TVMExecutionStack* S, TVMInstruction*) { S->Push(Variant("x3")); });
    Define("Pop", [](TObject*, TVMExecutionStack* S, TVMInstruction*) { S->Pop(); });
    Define("Dup", [](TObject*, TVMExecutionStack* S, TVMInstruction*) { S->Push(S->GetTop()); });
    Define("Add", [](TObject*, TVMExecutionStack* S, TVMInstruction*) {
        Variant B = S->Pop();
        Variant A = S->Pop();
        S->Push(Add(A, B));
    });
    Define("Div", [](TObject*, TVMExecutionStack* S, TVMInstruction*) {
        Variant B = S->Pop();
        Variant A = S->Pop();
        S->Push(Divide(A, B));
    });
    // Redirects the run: the next step runs the instruction after the one popped.
    Define("Jump", [&VM](TObject*, TVMExecutionStack* S, TVMInstruction*) {
        VM.SetExecutionIndex(S->Pop().AsInteger());
    });
}

int32_t CodeOf(uint8_t Byte) {
    return Byte < 240 ? Byte % NameCount : static_cast<int32_t>(Byte) - 245;
}

// The name of a code: valid codes in a case of their own, others a name no instruction has.
std::string NameOf(int32_t Code, uint8_t Byte) {
    if (Code < 0 || Code >= NameCount)
        return Code == -1 ? std::string() : "Nope";
    std::string N = Names[Code];
    if (Byte & 1)
        for (char& C : N)
            if (C >= 'a' && C <= 'z')
                C = static_cast<char>(C - 'a' + 'A');
    return N;
}

Variant ArgValue(uint8_t Byte) {
    int V = Byte >> 2;
    switch (Byte & 3) {
    case 0:
        return Variant(V - 32);
    case 1:
        return Variant((V & 1) != 0);
    case 2:
        return Variant(V / 3.0);
    default:
        return Variant(std::to_string(V - 8));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size < 2)
        return 0;
    const int Mode = Data[0] & 3;
    const bool TextArgs = (Data[0] & 4) != 0;
    size_t ArgCount = Data[1] & 7;
    size_t Pos = 2;
    TVarRecList Args;
    TStringList TextArgList;
    for (; ArgCount > 0 && Pos < Size; --ArgCount, ++Pos) {
        Variant V = ArgValue(Data[Pos]);
        Args.push_back(TVarRec(V));
        TextArgList.Add(VarToStr(V));
    }
    TIntegerArray Codes;
    TStringList NameList;
    bool AllValid = true;
    for (; Pos < Size; ++Pos) {
        int32_t Code = CodeOf(Data[Pos]);
        AllValid = AllValid && Code >= 0 && Code < NameCount;
        Codes.push_back(Code);
        NameList.Add(NameOf(Code, Data[Pos]));
    }
    const int32_t StartIndex = Codes.empty() ? -1 : 0;

    TKvVirtualMachine VM;
    AddInstructions(VM);
    int Steps = 0, Errors = 0, Initializations = 0;
    VM.SetOnExecuting([&Steps](TObject*) { ++Steps; });
    VM.SetOnError([&Errors](TObject*, const std::exception&) { ++Errors; });
    VM.SetOnInitialize([&Initializations](TObject*) { ++Initializations; });

    bool Loaded = false;
    switch (Mode) {
    case 0:
        Loaded = Run([&] {
            if (TextArgs)
                VM.Initialize(Codes, TextArgList);
            else
                VM.Initialize(Codes, Args);
        });
        Check(Loaded == AllValid, "Initialize from codes: success must follow the codes");
        if (Loaded) {
            Check(VM.GetEncodedProgram() == Codes, "Initialize from codes: EncodedProgram");
            Check(VM.GetExecutionState() == TExecutionStates{esEncoded},
                  "Initialize from codes: state {esEncoded}");
            Check(VM.GetGPProgram()->GetCount() == static_cast<int>(Codes.size()),
                  "Initialize from codes: one name per code");
            Check(Initializations == 1, "Initialize from codes: OnInitialize once");
        } else {
            Check(VM.GetEncodedProgram().empty() && VM.GetStack()->GetCount() == 0 &&
                      Initializations == 0,
                  "a refused load of codes keeps EncodedProgram and the stack");
        }
        break;
    case 1:
        VM.SetEncodedProgram(Codes);
        VM.Initialized();
        Loaded = true;
        break;
    case 2:
        Loaded = Run([&] {
            if (TextArgs)
                VM.Initialize(NameList, TextArgList);
            else
                VM.Initialize(NameList, Args);
        });
        Check(Loaded == AllValid, "Initialize from names: success must follow the names");
        if (Loaded)
            Check(VM.GetExecutionState() == TExecutionStates{esEncoded, esInitialized},
                  "Initialize from names: state {esEncoded, esInitialized}");
        else
            Check(VM.GetExecutionState() == TExecutionStates{esInitialized},
                  "a refused load of names leaves {esInitialized}");
        break;
    default:
        VM.SetGPProgram(NameList);
        Loaded = Run([&] { VM.Compile(); });
        Check(Loaded == AllValid, "Compile: success must follow the names");
        Check(VM.GetEncodedProgram().size() == Codes.size(), "Compile: one code per line");
        if (!Loaded)
            Check(VM.GetExecutionState().Contains(esInvalidOperation) &&
                      !VM.GetExecutionState().Contains(esEncoded),
                  "a failed Compile adds esInvalidOperation, not esEncoded");
        break;
    }
    if (Loaded)
        Check(VM.GetExecutionIndex() == StartIndex, "a loaded program starts at its first step");

    // Run twice: the second time from the start again, over what the first run left on the stack.
    for (int Round = 0; Round < 2; ++Round) {
        Steps = 0;
        bool Ran = Run([&] { VM.Execute(StepBound); });
        Check(Ran || !Loaded, "Execute raised on a loaded program");
        Check(Steps <= StepBound, "Execute(N) ran more than N steps");
        Check(!Ran || VM.IsFinished() || Steps == StepBound,
              "a run stopped early without finishing");
        const int32_t Index = VM.GetExecutionIndex();
        Check(Index >= -1 && Index < static_cast<int32_t>(VM.GetEncodedProgram().size()),
              "ExecutionIndex left the program");
        if (VM.GetExecutionState().Contains(esFinished)) {
            const TExecutionStates Before = VM.GetExecutionState();
            const int Depth = VM.GetStack()->GetCount();
            Run([&] { VM.Execute(); });
            Check(VM.GetExecutionState() == Before && VM.GetStack()->GetCount() == Depth &&
                      VM.GetExecutionIndex() == Index,
                  "a step on a finished machine changed it");
        }
        VM.Initialized();
        Check(VM.GetExecutionIndex() == (VM.GetEncodedProgram().empty() ? -1 : 0),
              "Initialized returns to the first step");
    }
    (void)Errors;
    return 0;
}
