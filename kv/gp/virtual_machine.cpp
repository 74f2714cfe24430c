#include "kv/gp/virtual_machine.h"

#include <exception>
#include <typeinfo>
#include <utility>

#include "kv/rtl/update_guard.h"

namespace kv {

TKvVirtualMachine::TKvVirtualMachine(TComponent* AOwner)
    : TComponent(AOwner), FInstructionSet(std::make_unique<TVMInstructionSet>(this)),
      FStack(std::make_unique<TVMExecutionStack>()), FGPProgram(std::make_unique<TStringList>()) {
    FGPProgram->SetOnChange([this](TObject* Sender) { ProgramChange(Sender); });
}

TKvVirtualMachine::~TKvVirtualMachine() {
    FStack.reset();
    FInstructionSet.reset();
    FGPProgram.reset();
}

// ---- properties ----

void TKvVirtualMachine::SetInstructionSet(const TVMInstructionSet& Value) {
    FInstructionSet->Assign(&Value);
}

void TKvVirtualMachine::SetGPProgram(const TStrings& Value) {
    FGPProgram->Assign(&Value);
}

void TKvVirtualMachine::SetStack(const TVMExecutionStack& Value) {
    FStack->Assign(&Value);
}

void TKvVirtualMachine::SetEncodedProgram(const TIntegerArray& Value) {
    FEncodedProgram = Value;
    FExecutionState.Include(esEncoded);
}

void TKvVirtualMachine::SetExecutionIndex(int32_t Value) noexcept {
    // Clamped on every write, also of the value already stored: that index may lie past the end
    // of a program loaded after it was set (SetEncodedProgram keeps it).
    const int64_t Length = static_cast<int64_t>(FEncodedProgram.size());
    if (Value < -1)
        Value = -1;
    else if (Value >= Length)
        Value = static_cast<int32_t>(Length - 1);
    FExecutionIndex = Value;
}

// ---- running ----

void TKvVirtualMachine::Compile() {
    FExecutionState.Include(esEncoding);
    struct EncodingEnds {
        TExecutionStates& State;
        ~EncodingEnds() { State.Exclude(esEncoding); }
    } Ends{FExecutionState};

    const int Count = FGPProgram->GetCount();
    FEncodedProgram.resize(static_cast<size_t>(Count));
    for (int I = 0; I < Count; ++I) {
        const std::string& Line = FGPProgram->GetString(I);
        const int Code = FInstructionSet->IndexOf(Line);
        FEncodedProgram[static_cast<size_t>(I)] = Code;
        if (Code < 0) {
            FExecutionState.Include(esInvalidOperation);
            throw EGPException(Format(SUnknownInstruction, Line));
        }
    }
    FExecutionState.Include(esEncoded);
    FExecutionIndex = Count > 0 ? 0 : -1;
}

// The step is laid out for the loop of Execute(N) and the fast path of Execute(): RunStep is
// inlined into both, the rarely needed PrepareStep is kept out of the way.
#if defined(__GNUC__)
#define KV_ALWAYS_INLINE [[gnu::always_inline]] inline
#define KV_NOINLINE [[gnu::noinline]]
#else
#define KV_ALWAYS_INLINE inline
#define KV_NOINLINE
#endif

KV_NOINLINE bool TKvVirtualMachine::PrepareStep() {
    if (FExecutionState.Contains(esFinished))
        return false;
    if (!FExecutionState.Contains(esEncoded))
        Compile();
    if (!AddressesInstruction(FExecutionIndex)) {
        // Nothing to run: an empty program or an index written as -1.
        Finished();
        return false;
    }
    return true;
}

KV_ALWAYS_INLINE bool TKvVirtualMachine::RunStep() {
    FExecutionState.Include(esExecuting);
    int32_t Code;
    if (FOnExecuting) [[unlikely]] {
        FOnExecuting(this);
        // OnExecuting may have replaced the program; a position it no longer has counts as a
        // code outside the set.
        Code = AddressesInstruction(FExecutionIndex)
                   ? FEncodedProgram[static_cast<size_t>(FExecutionIndex)]
                   : -1;
    } else {
        Code = FEncodedProgram[static_cast<size_t>(FExecutionIndex)];
    }
    if (static_cast<uint32_t>(Code) < static_cast<uint32_t>(FInstructionSet->GetCount())) {
        try {
            TVMInstruction* Instruction = FInstructionSet->GetItemUnchecked(Code);
#if defined(__GNUC__)
            if (Instruction == nullptr) // a collection holds no null items; typeid need not check
                __builtin_unreachable();
#endif
            // Plain instructions, the usual case, are run without the virtual call so that
            // Execute is inlined here; descendants get their override. (Comparing the type_info
            // objects can only miss a match, never invent one; a miss takes the virtual call.)
            if (&typeid(*Instruction) == &typeid(TVMInstruction)) [[likely]]
                Instruction->TVMInstruction::Execute(FStack.get());
            else
                Instruction->Execute(FStack.get());
        } catch (const std::exception& E) {
            FExecutionState.Exclude(esExecuting);
            FExecutionState.Include(esError);
            if (FOnError)
                FOnError(this, E);
        }
    } else {
        FExecutionState.Exclude(esExecuting);
        FExecutionState.Include(esInvalidOperation);
    }
    if (FOnExecuted) [[unlikely]]
        FOnExecuted(this);
    // One test of the state after the step: a finished flag ends the run; so does an index at or
    // past the last instruction. Otherwise the index moves on, and the next step may follow
    // without the checks of Execute when the program is still encoded.
    const TExecutionStates State = FExecutionState;
    const int64_t Last = static_cast<int64_t>(FEncodedProgram.size()) - 1;
    if (static_cast<int64_t>(FExecutionIndex) >= Last || !(State * FinishedStates).Empty()) {
        Finished();
        return false;
    }
    ++FExecutionIndex; // from -1 (written by a callback) or more, so at most Last now
    return State.Contains(esEncoded);
}

void TKvVirtualMachine::Execute() {
    // The usual case first: a compiled program standing at an instruction.
    if (FExecutionState.Contains(esEncoded) && !FExecutionState.Contains(esFinished) &&
        AddressesInstruction(FExecutionIndex))
        RunStep();
    else if (PrepareStep())
        RunStep();
}

void TKvVirtualMachine::Execute(int NumSteps) {
    while (NumSteps > 0 && !IsFinished()) {
        // IsFinished has ruled out esFinished and an index outside the program; only a compile
        // may be due.
        if (!FExecutionState.Contains(esEncoded) && !PrepareStep()) {
            --NumSteps;
            continue;
        }
        // Steps follow one another here as long as each leaves the machine at an instruction of
        // an encoded program with no finished flag, which RunStep has just checked.
        while (RunStep() && --NumSteps > 0) {
        }
        --NumSteps;
    }
}

// ---- batch runs ----

namespace {

constexpr char SNoBatchCallback[] =
    "Instruction \"%s\" at position %d has no batch callback (OnExecuteBatch): the program cannot "
    "run over a batch";

} // namespace

void TKvVirtualMachine::CheckBatchCallbacks() const {
    const int Count = FInstructionSet->GetCount();
    for (size_t K = 0; K < FEncodedProgram.size(); ++K) {
        const int32_t Code = FEncodedProgram[K];
        if (Code < 0 || Code >= Count)
            continue; // a code outside the set ends the run when it is reached
        const TVMInstruction* Instruction = FInstructionSet->GetItemUnchecked(Code);
        if (!Instruction->GetOnExecuteBatch())
            throw EGPException(
                Format(SNoBatchCallback, Instruction->GetDisplayName(), static_cast<int>(K)));
    }
}

bool TKvVirtualMachine::RunBatchStep(TVMBatchStack& Stack) {
    FExecutionState.Include(esExecuting);
    const int32_t Code = FEncodedProgram[static_cast<size_t>(FExecutionIndex)];
    if (static_cast<uint32_t>(Code) < static_cast<uint32_t>(FInstructionSet->GetCount())) {
        try {
            const TVMInstruction* Instruction = FInstructionSet->GetItemUnchecked(Code);
            const TVMBatchEvent& Callback = Instruction->GetOnExecuteBatch();
            if (!Callback) // taken away by a callback of the run
                throw EGPException(Format(SNoBatchCallback, Instruction->GetDisplayName(),
                                          static_cast<int>(FExecutionIndex)));
            Callback(Stack);
        } catch (const std::exception& E) {
            FExecutionState.Exclude(esExecuting);
            FExecutionState.Include(esError);
            if (FOnError)
                FOnError(this, E);
        }
    } else {
        FExecutionState.Exclude(esExecuting);
        FExecutionState.Include(esInvalidOperation);
    }
    const TExecutionStates State = FExecutionState;
    const int64_t Last = static_cast<int64_t>(FEncodedProgram.size()) - 1;
    if (static_cast<int64_t>(FExecutionIndex) >= Last || !(State * FinishedStates).Empty()) {
        Finished();
        return false;
    }
    ++FExecutionIndex;
    return State.Contains(esEncoded);
}

void TKvVirtualMachine::ExecuteBatch(TVMBatchStack& Stack, int NumSteps) {
    bool Checked = false;
    while (NumSteps > 0 && !IsFinished()) {
        if (!FExecutionState.Contains(esEncoded)) {
            Compile();
            Checked = false;
            if (!AddressesInstruction(FExecutionIndex)) {
                Finished();
                return;
            }
        }
        if (!Checked) {
            CheckBatchCallbacks();
            Checked = true;
        }
        while (RunBatchStep(Stack) && --NumSteps > 0) {
        }
        --NumSteps;
    }
}

void TKvVirtualMachine::Execute(TVMExecutionStack* Stack, TVMInstruction* Item) {
    if (FOnExecuteInstruction)
        FOnExecuteInstruction(this, Stack, Item);
}

void TKvVirtualMachine::Finished() {
    FExecutionState.Include(esFinishing);
    FExecutionState.Exclude(esExecuting);
    if (FOnFinished)
        FOnFinished(this);
    FExecutionState.Include(esFinished);
}

// ---- loading ----

template <class TArgs>
void TKvVirtualMachine::InitializeFromNames(const TStrings& AProgram, const TArgs& Args) {
    FExecutionState = TExecutionStates{esInitializing};
    try {
        SetGPProgram(AProgram);
        Compile();
        InitializeStack(Args);
    } catch (...) {
        Initialized();
        throw;
    }
    Initialized();
}

template <class TArgs>
void TKvVirtualMachine::InitializeFromCodes(const TIntegerArray& AProgram, const TArgs& Args) {
    FExecutionState = TExecutionStates{esInitializing};
    TUpdateGuard Batch(*FGPProgram);
    try {
        FGPProgram->Clear();
        const int Count = FInstructionSet->GetCount();
        for (const int32_t Code : AProgram) {
            if (Code < 0 || Code >= Count)
                throw EGPException(Format(SInvalidInstructionIndex, static_cast<int>(Code)));
            FGPProgram->Add(FInstructionSet->GetItemUnchecked(Code)->GetName());
        }
        InitializeStack(Args);
        // AProgram may be this machine's own EncodedProgram; assigning a vector to itself is safe.
        FEncodedProgram = AProgram;
    } catch (...) {
        Initialized();
        throw; // the guard closes the batch, which empties the state
    }
    Initialized();
    Batch.Close();
    FExecutionState.Include(esEncoded);
}

void TKvVirtualMachine::Initialize(const TStrings& AProgram, const TVarRecList& Args) {
    InitializeFromNames(AProgram, Args);
}

void TKvVirtualMachine::Initialize(const TIntegerArray& AProgram, const TVarRecList& Args) {
    InitializeFromCodes(AProgram, Args);
}

void TKvVirtualMachine::Initialize(const TStrings& AProgram, const TStrings& Args) {
    InitializeFromNames(AProgram, Args);
}

void TKvVirtualMachine::Initialize(const TIntegerArray& AProgram, const TStrings& Args) {
    InitializeFromCodes(AProgram, Args);
}

void TKvVirtualMachine::InitializeStack(const TVarRecList& Args) {
    FillStack(Args);
}

void TKvVirtualMachine::FillStack(std::span<const TVarRec> Args) {
    FStack->Clear();
    Variant Value;
    for (const TVarRec& Arg : Args)
        if (VarRecToVariant(Arg, Value))
            FStack->Push(std::move(Value));
    if (FOnInitialize)
        FOnInitialize(this);
}

void TKvVirtualMachine::InitializeStack(const TStrings& Args) {
    FStack->Assign(&Args);
    if (FOnInitialize)
        FOnInitialize(this);
}

void TKvVirtualMachine::Initialized() {
    FExecutionIndex = FEncodedProgram.empty() ? -1 : 0;
    FExecutionState.Include(esInitialized);
    FExecutionState = FExecutionState - FinishedStates;
    FExecutionState.Exclude(esExecuting);
}

void TKvVirtualMachine::ProgramChange(TObject* /*Sender*/) {
    FExecutionState = TExecutionStates();
}

void TKvVirtualMachine::InstructionNotify(TVMInstruction* /*Item*/,
                                          TCollectionNotification /*Action*/) {}

void TKvVirtualMachine::InstructionUpdate(TVMInstruction* /*Item*/) {}

} // namespace kv
