// TKvGeneticProgram: the genetic-algorithm engine specialised to breed programs.
//
// Each individual's chromosome encodes a program for a GA-bound machine (TKvGPVirtualMachine, see
// kv/gp/gp_virtual_machine.h for the encoding); its fitness comes from running that program and
// letting OnEvaluateFitness look at the outcome. Everything else (population, selection,
// reproduction, stopping aids) is TKvGeneticAlgorithm's. The properties added here are not saved
// with the engine's settings; a checkpoint (SaveCheckpoint) holds ExecutionLimit, LimitNumber and
// AutoExecution in its element GeneticProgram, and loading one restores them (a checkpoint
// without that element leaves them as they are). The machine is not saved: the caller sets it up
// and binds it as before loading. With its own random stream (SetRandomSeed) the engine binds it
// also around ExecuteIndividual, ExecuteProgram and InitializeStack, so draws of instruction
// callbacks come from it.
//
// Wiring: a working set-up binds both ways, because an individual is compiled through the
// machine's bound engine:
//
//     TKvGPVirtualMachine VM;         TKvGeneticProgram GP;
//     GP.SetVM(&VM);                  VM.SetGeneticAlgorithm(&GP);
//
// Ownership: the engine does not own the machine. When the machine is a component (as
// TKvGPVirtualMachine is), the engine asks for its free notification and VM becomes nullptr when
// the machine is destroyed, so the engine never keeps a dangling machine. A machine reached only
// through the interface and not a component must outlive the engine, or be unset first. The
// destructor unsets VM.
//
// Properties (defaults): ExecutionLimit (elNumberOfSteps), LimitNumber (0; a negative value is
// stored as 0; values outside TExecutionLimit are ignored), AutoExecution (false), VM (nullptr),
// OnInitializeStack (unset).
//
// Operations (each raises EGPException "Missing Virtual Machine" first when VM is nullptr)
//   Initialize           when the genotype is empty, VM->UpdateGenes(Genes) lays it out as the one
//                        instruction gene; then the engine's own Initialize (population filled and
//                        randomised, fitness evaluated). A genotype with genes is left as it is.
//   InitializeStack(Args) (argument list or list of texts): VM->InitializeStack(Args) (stack
//                        cleared and filled, the machine's OnInitialize), VM->Initialized()
//                        (finished flags cleared, index at the program's start), then
//                        OnInitializeStack(this): the place to push each run's inputs.
//   ExecuteIndividual(Item) lays out the genes when the genotype is empty; InitializeStack with no
//                        arguments (virtual, so a descendant may supply inputs); VM->Compile(Item)
//                        through the machine's bound engine; ExecuteProgram. A slot outside the
//                        instruction set raises EGPException SUnknownInstruction from the compile,
//                        and nothing runs.
//   ExecuteProgram       runs the loaded program under the limit:
//                          elNumberOfSteps, LimitNumber > 0   at most LimitNumber steps; an
//                                                             unfinished program is left standing
//                          elNumberOfSteps, LimitNumber = 0   until the machine is finished
//                          elNone                             until the machine is finished
//                          elNumberOfMilliseconds             until finished or LimitNumber
//                                                             milliseconds of a steady clock have
//                                                             passed (0: no bound). The clock is
//                                                             read every 16 steps, so a run may
//                                                             overshoot by up to 16 steps.
//                        A run without a bound ends, because the machine has no jumps of its own,
//                        unless instruction callbacks move ExecutionIndex backwards.
//   ExecuteBatch(Stack)  the opt-in run over a whole data set (TKvVirtualMachine::ExecuteBatch):
//                        VM->Initialized(), then the machine's compiled program runs over the
//                        columns of Stack under the same limit as ExecuteProgram (LimitNumber
//                        steps, no bound, or milliseconds). The caller fills Stack first (for
//                        example Stack.Clear(); Stack.Push(X) for an input column X) and compiles
//                        the individual (VM.TryCompile); the stack of row-by-row runs and
//                        OnInitializeStack are not involved. EGPException when the machine is not
//                        a TKvVirtualMachine, or (from the machine) when an instruction of the
//                        program has no OnExecuteBatch.
//   EvaluateFitness(Item) 0 without OnEvaluateFitness (nothing runs). Otherwise, with
//                        AutoExecution, ExecuteIndividual(Item) first; then OnEvaluateFitness,
//                        whose fitness is the result. The callback finds the machine as the run
//                        left it.
//                        An undecodable individual does not stop the generation: when its compile
//                        fails on a slot outside the instruction set, its program does not run,
//                        the machine holds esInvalidOperation (and not esEncoded), and the fitness
//                        callback still follows, so that it can score the individual as invalid.
//                        Every other exception passes out, and ExecuteIndividual called directly
//                        still raises on such a slot. With a TKvGPVirtualMachine this costs no
//                        exception: the machine's TryCompile is used, which runs the machine's
//                        (virtual) Compile(GA, Item) in its quiet mode, so a descendant machine's
//                        Compile override takes part here exactly as in a direct
//                        ExecuteIndividual.
//
// Events: OnInitializeStack (Sender = the engine) as above, besides the engine's own. Per
// individual evaluated with AutoExecution the order is: the machine's stack cleared and refilled,
// its OnInitialize, Initialized, OnInitializeStack, compile, the run with its per-step callbacks,
// OnEvaluateFitness.
//
// Performance: evaluating an individual reuses the machine's stack nodes and encoded program;
// once they have grown, an evaluation allocates nothing of its own.
//
// Overloads: EvaluateFitness(Item) and both InitializeStack forms are overridden or added here; a
// descendant that overrides one form adds a using-declaration to keep the others visible.
//
// One thread at a time, like the engine and the machine.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "kv/ga/engine.h"
#include "kv/gp/gp_vm_interface.h"
#include "kv/rtl/notify_event.h"
#include "kv/rtl/strings.h"
#include "kv/rtl/var_rec.h"

namespace kv {

class TKvGPVirtualMachine;
class TKvVirtualMachine;
class TVMBatchStack;

class TKvGeneticProgram : public TKvGeneticAlgorithm {
public:
    using TKvGeneticAlgorithm::TKvGeneticAlgorithm;
    // Unsets VM, then the engine is destroyed as a TKvGeneticAlgorithm.
    ~TKvGeneticProgram() override;

    std::string ClassName() const override { return "TKvGeneticProgram"; }

    // ---- properties ----

    TExecutionLimit GetExecutionLimit() const noexcept { return FExecutionLimit; }
    // Ignores a value that is not a member of TExecutionLimit.
    void SetExecutionLimit(TExecutionLimit Value) noexcept;
    int32_t GetLimitNumber() const noexcept { return FLimitNumber; }
    // A negative value is stored as 0.
    void SetLimitNumber(int32_t Value) noexcept { FLimitNumber = Value < 0 ? 0 : Value; }
    bool GetAutoExecution() const noexcept { return FAutoExecution; }
    void SetAutoExecution(bool Value) noexcept { FAutoExecution = Value; }
    IKvGPVirtualMachine* GetVM() const noexcept { return FVM; }
    // Stores the machine (not owned) and watches it for destruction when it is a component. A
    // component that is already being destroyed is stored as nullptr.
    void SetVM(IKvGPVirtualMachine* Value);
    const TNotifyEvent& GetOnInitializeStack() const noexcept { return FOnInitializeStack; }
    void SetOnInitializeStack(TNotifyEvent Value) { FOnInitializeStack = std::move(Value); }

    // ---- operations ----

    void Initialize() override;
    virtual void ExecuteIndividual(TKvGAIndividual* Item);
    virtual void ExecuteProgram();
    // Runs the machine's compiled program over the columns of Stack (a whole data set at once),
    // from its first instruction and under the execution limit; see ExecuteBatch above.
    void ExecuteBatch(TVMBatchStack& Stack);
    virtual void InitializeStack(const TVarRecList& Args);
    virtual void InitializeStack(const TStrings& Args);
    // InitializeStack({x, y}) without building a new argument list for each call: the arguments
    // are copied into a list the engine keeps (its storage is reused) and handed to the virtual
    // InitializeStack(const TVarRecList&), so a descendant's override still takes part.
    void InitializeStack(std::initializer_list<TVarRec> Args);

    using TKvGeneticAlgorithm::EvaluateFitness;
    TGAFitness EvaluateFitness(TKvGAIndividual* Item) override;

protected:
    // The execution settings, in a checkpoint's element GeneticProgram.
    void SaveCheckpointState(IXMLNode& Checkpoint) const override;
    std::function<void()> ReadCheckpointState(IXMLNode& Checkpoint) override;

    // Unsets VM when the machine is destroyed.
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    // VM, or EGPException "Missing Virtual Machine".
    IKvGPVirtualMachine& Machine() const;
    // Lays out the instruction gene when the genotype is empty.
    void EnsureGenes();

    IKvGPVirtualMachine* FVM = nullptr;
    TExecutionLimit FExecutionLimit = elNumberOfSteps;
    int32_t FLimitNumber = 0;
    TNotifyEvent FOnInitializeStack;
    bool FAutoExecution = false;
    // The machine as a component (watched for destruction) and as the concrete machine (for the
    // compile that does not raise), or nullptr.
    TComponent* FVMComponent = nullptr;
    TKvGPVirtualMachine* FGPMachine = nullptr;
    TKvVirtualMachine* FBatchMachine = nullptr; // the machine when it can run batches
    // The reused argument list of InitializeStack(initializer_list), and whether it is in use (a
    // callback that prepares another run from inside one gets a list of its own).
    TVarRecList FArgs;
    bool FArgsInUse = false;
    // Set by EvaluateFitness for the ExecuteIndividual it calls, which takes and clears it: an
    // undecodable individual then skips its run instead of raising.
    bool FSkipUndecodable = false;
};

} // namespace kv
