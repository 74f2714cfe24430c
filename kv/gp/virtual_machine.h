// TKvVirtualMachine: a component that runs programs of caller-defined instructions over an
// execution stack of variant values.
//
// Program
//   A program has two forms kept side by side: GPProgram, a list of instruction names (one per
//   line), and EncodedProgram, the instruction codes (positions in InstructionSet). Compile turns
//   the names into codes; the machine always executes the codes. One step runs the instruction at
//   ExecutionIndex and moves the index on. The machine has no jumps or operands of its own:
//   everything an instruction does happens in its callback, which may also write ExecutionIndex to
//   redirect the run (the next step runs the instruction after the one it chose).
//
// Ownership: the machine owns its instruction set, its stack and its program list; the encoded
// program is a value. The setters (SetInstructionSet, SetGPProgram, SetStack, SetEncodedProgram)
// copy what they are given. The getters return the machine's own objects, valid for its lifetime.
//
// State (GetExecutionState, a TExecutionStates set)
//   Compile         adds esEncoding while it runs; on success adds esEncoded and sets
//                   ExecutionIndex to 0 (-1 for an empty program); on a name that is not in the set
//                   adds esInvalidOperation and raises EGPException SUnknownInstruction with the
//                   line (EncodedProgram then has the program's length and -1 at that line).
//   Execute()       one step:
//                     1. with esFinished held: nothing at all;
//                     2. without esEncoded: Compile (its exception passes out);
//                     3. when ExecutionIndex addresses no instruction (empty program, index -1):
//                        nothing is run and the run ends (Finished);
//                     4. adds esExecuting, calls OnExecuting (when OnExecuting leaves the index
//                        addressing no instruction, step 5 treats it as a code outside the set);
//                     5. runs the instruction whose code is at ExecutionIndex. An exception derived
//                        from std::exception (every kv::Exception among them) is caught:
//                        esExecuting is removed, esError added, OnError receives it, and it goes no
//                        further. Anything else thrown passes out. A code outside the instruction
//                        set removes esExecuting and adds esInvalidOperation (nothing raised, no
//                        OnError);
//                     6. calls OnExecuted;
//                     7. when ExecutionIndex (as the instruction left it) is at or past the last
//                        instruction, or a member of FinishedStates is held, Finished; otherwise
//                        ExecutionIndex moves on by one.
//   Execute(N)      steps while N > 0 and not IsFinished(); N <= 0 does nothing. A program that
//                   was never compiled leaves IsFinished() true, so Execute(N) does nothing until
//                   Compile, Initialize or a single Execute() has run.
//   Finished        adds esFinishing, removes esExecuting, calls OnFinished, adds esFinished.
//   Initialized     ExecutionIndex to 0 (-1 for an empty program), adds esInitialized, removes
//                   esExecuting and every member of FinishedStates; the program can run again.
//   ProgramChange   empties the state; runs on every change of GPProgram (each assignment, the end
//                   of each batch), so the next step compiles again.
//   IsFinished      true when ExecutionIndex addresses no instruction or a member of FinishedStates
//                   is held.
//   Typical life: {} -> Initialize from names {esEncoded, esInitialized} -> running: +esExecuting
//   -> ended: {esEncoded, esInitialized, esFinishing, esFinished} (+esError or esInvalidOperation
//   after a failed step) -> Initialized: {esEncoded, esInitialized}.
//
// Loading (Initialize)
//   From names: state {esInitializing}; GPProgram takes a copy of AProgram (state empties);
//     Compile; InitializeStack(Args); Initialized, also when a step before raised. Afterwards
//     {esEncoded, esInitialized}; a Compile error passes out and leaves {esInitialized}.
//   From codes: state {esInitializing}; GPProgram becomes the names of the codes (one batch); a
//     code outside the set raises EGPException SInvalidInstructionIndex with the code;
//     InitializeStack(Args); EncodedProgram becomes a copy of AProgram (only when all went well);
//     Initialized (always); the batch of GPProgram closes (state empties); on success esEncoded is
//     added. Afterwards {esEncoded}. After a bad code GPProgram holds the names before it, and
//     EncodedProgram and the stack are unchanged.
//   InitializeStack(argument list) clears the stack, pushes each argument in order (the last ends
//     on top) and calls OnInitialize. Integers, booleans, floating-point numbers, currency amounts
//     and variants are pushed as such; 64-bit integers as 64-bit integers; characters, short, long,
//     null-terminated, 16-bit and wide strings as strings; pointers, objects, classes and
//     interfaces push nothing. InitializeStack(list of texts) loads the list (line 0 on top, every
//     value a string) and calls OnInitialize. Neither touches the state, the index or the program.
//
// Batch runs (ExecuteBatch(Stack, N), opt-in)
//   Run the encoded program over a whole data set at once: Stack (kv/gp/batch_stack.h) holds
//   columns of values, one value per data row, and each step calls the instruction's
//   OnExecuteBatch callback with the columns. One batch run computes for every row what a
//   row-by-row run computes for that row, as long as each instruction's batch callback does to the
//   columns what its OnExecute does to single values (the helpers of batch_stack.h do, for the
//   usual arithmetic and stack instructions).
//   Before the first step the program is compiled if it needs to be (as a step would), then every
//   instruction of the program is checked: one without an OnExecuteBatch callback makes the run
//   raise EGPException naming it and its position, before anything runs. Steps then follow the
//   rules of Execute(N) (at most N steps, from ExecutionIndex, ending at the last instruction,
//   Finished, OnFinished, ExecutionIndex left as a row-by-row run leaves it), except that:
//   OnExecuting and OnExecuted are not called (they belong to row-by-row steps, and may redirect
//   them), instructions without a batch callback of their own are not handed to
//   OnExecuteInstruction, and a TVMInstruction descendant's Execute override is not used. An
//   exception from a batch callback ends the run like a failing step: esError, OnError, Finished.
//   A code outside the instruction set ends it with esInvalidOperation. The callbacks see only the
//   columns, so they cannot move ExecutionIndex: a batch run has no jumps. ExecuteBatch does not
//   touch the row-by-row stack.
//
// ExecutionIndex writes: the value is clamped first, then stored: below -1 becomes -1; at or past
// the end of EncodedProgram its length - 1 (so -1 for an empty program). Clamping comes first so
// that an index a longer program left behind (SetEncodedProgram does not move it) is brought into
// the new program even by writing the same value again.
//
// Callbacks (Sender is always the machine), in the order of a step: OnExecuting; the instruction's
// OnExecute or, for an instruction without one, OnExecuteInstruction (or OnError when it raised);
// OnExecuted; OnFinished when the run ends with the step. OnInitialize after InitializeStack.
// Exceptions raised by OnExecuting, OnExecuted, OnFinished, OnInitialize and OnError pass out.
//
// Extending: Compile, the four Initialize, both InitializeStack, Initialized, Finished,
// ProgramChange, InstructionNotify and InstructionUpdate are virtual. The stepping operations
// (Execute(), Execute(N), IsFinished, GetExecutionState) are final so that the step loop compiles
// to straight code. A descendant that compiles programs of its own (from an individual's
// chromosome) works on the protected FExecutionState, FExecutionIndex and FEncodedProgram. A
// descendant that declares another overload of a name (Compile(GA, Item)) should bring the
// inherited ones back with a using-declaration. The instruction set reports to
// InstructionNotify/InstructionUpdate, which do nothing here. IKvSimpleVirtualMachine is a virtual
// base, so an extended interface that also derives from it virtually shares these operations.
//
// Performance: a step indexes the encoded program and the instruction set directly; names are
// looked up only when compiling. A step allocates nothing of its own.
//
// Not thread-safe: a machine, its instructions and its callbacks are used from one thread.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <span>

#include "kv/gp/batch_stack.h"
#include "kv/gp/execution_stack.h"
#include "kv/gp/instruction.h"
#include "kv/gp/vm_events.h"
#include "kv/gp/vm_interfaces.h"
#include "kv/rtl/component.h"
#include "kv/rtl/strings.h"
#include "kv/rtl/var_rec.h"
#include "kv/vocabulary/KvGAConsts.h"

namespace kv {

class TKvVirtualMachine : public TComponent, public virtual IKvSimpleVirtualMachine {
public:
    explicit TKvVirtualMachine(TComponent* AOwner = nullptr);
    // Releases the stack, then the instruction set, then the program list.
    ~TKvVirtualMachine() override;

    std::string ClassName() const override { return "TKvVirtualMachine"; }

    // ---- program, instructions and stack ----

    TVMInstructionSet* GetInstructionSet() noexcept { return FInstructionSet.get(); }
    const TVMInstructionSet* GetInstructionSet() const noexcept { return FInstructionSet.get(); }
    // The machine's set takes a copy of Value's instructions (names and comments, not callbacks).
    void SetInstructionSet(const TVMInstructionSet& Value);

    TStrings* GetGPProgram() noexcept { return FGPProgram.get(); }
    const TStrings* GetGPProgram() const noexcept { return FGPProgram.get(); }
    // The machine's program list takes a copy of Value's lines; ends in ProgramChange.
    void SetGPProgram(const TStrings& Value);

    TVMExecutionStack* GetStack() noexcept { return FStack.get(); }
    const TVMExecutionStack* GetStack() const noexcept { return FStack.get(); }
    // The machine's stack becomes a copy of Value (same values, same order).
    void SetStack(const TVMExecutionStack& Value);

    const TIntegerArray& GetEncodedProgram() const noexcept { return FEncodedProgram; }
    // Keeps a copy of Value and adds esEncoded; ExecutionIndex and GPProgram are not touched.
    // Codes outside the instruction set are accepted here and stop the run when reached.
    void SetEncodedProgram(const TIntegerArray& Value);

    int32_t GetExecutionIndex() const noexcept { return FExecutionIndex; }
    // See "ExecutionIndex writes" above.
    void SetExecutionIndex(int32_t Value) noexcept;

    TExecutionStates GetExecutionState() const final { return FExecutionState; }

    // ---- running ----

    void Compile() override;
    void Execute() final;
    void Execute(int NumSteps) final;
    // Runs OnExecuteInstruction(this, Stack, Item) if assigned; the instructions without a callback
    // of their own come here.
    void Execute(TVMExecutionStack* Stack, TVMInstruction* Item);
    // Runs up to NumSteps steps over the columns of Stack; see "Batch runs" above.
    void ExecuteBatch(TVMBatchStack& Stack, int NumSteps = INT_MAX);
    bool IsFinished() const final {
        return !AddressesInstruction(FExecutionIndex) ||
               !(FExecutionState * FinishedStates).Empty();
    }

    // ---- loading ----

    void Initialize(const TStrings& AProgram, const TVarRecList& Args) override;
    void Initialize(const TIntegerArray& AProgram, const TVarRecList& Args) override;
    void Initialize(const TStrings& AProgram, const TStrings& Args) override;
    void Initialize(const TIntegerArray& AProgram, const TStrings& Args) override;
    void InitializeStack(const TVarRecList& Args) override;
    void InitializeStack(const TStrings& Args) override;
    // What InitializeStack(argument list) does here, for any sequence of arguments and without the
    // virtual call: the stack is cleared and filled from Args, then OnInitialize. A descendant's
    // override of InitializeStack is not consulted (the genetic-program engine calls this only on
    // machines of this library's own classes, which override nothing).
    void FillStack(std::span<const TVarRec> Args);
    void Initialized() override;

    // ---- hooks ----

    // Ends the run (see State above).
    virtual void Finished();
    // The program list's change handler: empties the state.
    virtual void ProgramChange(TObject* Sender);
    // Called by the instruction set after its own handling; nothing here.
    virtual void InstructionNotify(TVMInstruction* Item, TCollectionNotification Action);
    virtual void InstructionUpdate(TVMInstruction* Item);

    // ---- events ----

    const TVMErrorEvent& GetOnError() const noexcept { return FOnError; }
    void SetOnError(TVMErrorEvent Value) { FOnError = std::move(Value); }
    const TNotifyEvent& GetOnExecuting() const noexcept { return FOnExecuting; }
    void SetOnExecuting(TNotifyEvent Value) { FOnExecuting = std::move(Value); }
    const TNotifyEvent& GetOnExecuted() const noexcept { return FOnExecuted; }
    void SetOnExecuted(TNotifyEvent Value) { FOnExecuted = std::move(Value); }
    const TVMExecuteEvent& GetOnExecuteInstruction() const noexcept {
        return FOnExecuteInstruction;
    }
    void SetOnExecuteInstruction(TVMExecuteEvent Value) {
        FOnExecuteInstruction = std::move(Value);
    }
    const TNotifyEvent& GetOnFinished() const noexcept { return FOnFinished; }
    void SetOnFinished(TNotifyEvent Value) { FOnFinished = std::move(Value); }
    const TNotifyEvent& GetOnInitialize() const noexcept { return FOnInitialize; }
    void SetOnInitialize(TNotifyEvent Value) { FOnInitialize = std::move(Value); }

protected:
    // The state, for descendants that compile programs of their own.
    TExecutionStates FExecutionState;
    int32_t FExecutionIndex = 0;
    TIntegerArray FEncodedProgram;

private:
    // True when Index addresses an instruction of EncodedProgram.
    bool AddressesInstruction(int64_t Index) const noexcept {
        return Index >= 0 && Index < static_cast<int64_t>(FEncodedProgram.size());
    }
    // A step in two halves: PrepareStep does the checks that may end the step early (false),
    // RunStep runs the instruction at ExecutionIndex (which must address one) and tells whether
    // the next step may run without PrepareStep's checks.
    bool PrepareStep();
    bool RunStep();
    // ExecuteBatch's step and its check of the batch callbacks.
    bool RunBatchStep(TVMBatchStack& Stack);
    void CheckBatchCallbacks() const;
    template <class TArgs>
    void InitializeFromNames(const TStrings& AProgram, const TArgs& Args);
    template <class TArgs>
    void InitializeFromCodes(const TIntegerArray& AProgram, const TArgs& Args);

    TVMExecuteEvent FOnExecuteInstruction;
    std::unique_ptr<TVMInstructionSet> FInstructionSet;
    std::unique_ptr<TVMExecutionStack> FStack;
    std::unique_ptr<TStringList> FGPProgram;
    TNotifyEvent FOnInitialize;
    TNotifyEvent FOnFinished;
    TNotifyEvent FOnExecuted;
    TNotifyEvent FOnExecuting;
    TVMErrorEvent FOnError;
};

} // namespace kv
