#include "kv/gp/genetic_program.h"

#include <chrono>
#include <climits>
#include <typeinfo>
#include <utility>

#include "kv/gp/gp_virtual_machine.h"

namespace kv {

namespace {

// Steps run between two readings of the clock under elNumberOfMilliseconds.
constexpr int ClockStride = 16;

// The state a compile leaves when it met a slot outside the instruction set.
bool IsUndecodable(TExecutionStates State) noexcept {
    return State.Contains(esInvalidOperation) && !State.Contains(esEncoded);
}

// Set by EvaluateFitness for the ExecuteIndividual it calls on this thread, which takes and clears
// it: an undecodable individual then skips its run instead of raising. Per thread, because workers
// of a parallel round evaluate at once.
constinit thread_local const TKvGeneticProgram* SkipUndecodable = nullptr;

} // namespace

TKvGeneticProgram::~TKvGeneticProgram() {
    SetVM(nullptr);
}

void TKvGeneticProgram::SetExecutionLimit(TExecutionLimit Value) {
    CheckChange("SetExecutionLimit");
    if (Value >= elNumberOfSteps && Value <= elNone)
        FExecutionLimit = Value;
}

void TKvGeneticProgram::SetVM(IKvGPVirtualMachine* Value) {
    CheckChange("SetVM");
    if (Value == FVM)
        return;
    if (FVMComponent != nullptr)
        FVMComponent->RemoveFreeNotification(this);
    TComponent* Component = dynamic_cast<TComponent*>(Value);
    // A machine that is already being destroyed could not tell us when it is gone.
    if (Component != nullptr && Component->IsDestroying()) {
        Value = nullptr;
        Component = nullptr;
    }
    FVM = Value;
    FVMComponent = Component;
    FGPMachine = dynamic_cast<TKvGPVirtualMachine*>(Value);
    if (FVMComponent != nullptr)
        FVMComponent->FreeNotification(this);
}

void TKvGeneticProgram::Notification(TComponent* AComponent, TOperation Operation) {
    TKvGeneticAlgorithm::Notification(AComponent, Operation);
    if (Operation == opRemove && FVMComponent != nullptr && AComponent == FVMComponent) {
        // The link is gone already; only the references remain to be dropped.
        FVM = nullptr;
        FVMComponent = nullptr;
        FGPMachine = nullptr;
    }
}

IKvGPVirtualMachine& TKvGeneticProgram::Machine() const {
    IKvGPVirtualMachine* VM = GetVM();
    if (VM == nullptr)
        throw EGPException(SMissingVirtualMachine);
    return *VM;
}

void TKvGeneticProgram::EnsureGenes() {
    TKvGAGenes* Genes = GetGenes();
    if (Genes->GetCount() == 0)
        Machine().UpdateGenes(Genes);
}

// ---- parallel mode ----

IKvGPVirtualMachine* TKvGeneticProgram::AsInterface(TKvGPVirtualMachine* Machine) noexcept {
    return Machine;
}

TKvGPVirtualMachine* TKvGeneticProgram::WorkerMachine() const noexcept {
    return IsWorkerThread() ? static_cast<TKvGPVirtualMachine*>(TKvGAWorkerScope::CurrentState())
                            : nullptr;
}

std::unique_ptr<TKvGPVirtualMachine> TKvGeneticProgram::CopyMachine() const {
    const TComponent* Component = FVMComponent;
    if (FGPMachine == nullptr)
        throw EGPException(
            Format("The machine of %s cannot be copied for parallel evaluation: it is not a "
                   "TKvGPVirtualMachine",
                   GetName().empty() ? ClassName() : GetName()));
    std::unique_ptr<TKvGPVirtualMachine> Copy = FGPMachine->CreateCopy();
    const TKvGPVirtualMachine* Made = Copy.get();
    const TKvGPVirtualMachine* Original = FGPMachine;
    if (Made == nullptr || typeid(*Made) != typeid(*Original))
        throw EGPException(Format("The machine %s of class %s cannot be copied for parallel "
                                  "evaluation: its CreateCopy does not make a %s",
                                  Component != nullptr && !Component->GetName().empty()
                                      ? Component->GetName()
                                      : std::string("(unnamed)"),
                                  FGPMachine->ClassName(), FGPMachine->ClassName()));
    return Copy;
}

void TKvGeneticProgram::BeginConcurrentEvaluation(int32_t Workers) {
    TKvGeneticAlgorithm::BeginConcurrentEvaluation(Workers);
    Machine();
    EnsureGenes();
    std::unique_ptr<TKvGPVirtualMachine> First = CopyMachine(); // raises before anything runs
    std::lock_guard<std::mutex> Lock(FCopiesLock);
    FCopies.clear();
    FIdleCopies.clear();
    FIdleCopies.push_back(First.get());
    FCopies.push_back(std::move(First));
}

void TKvGeneticProgram::EndConcurrentEvaluation() noexcept {
    {
        std::lock_guard<std::mutex> Lock(FCopiesLock);
        FIdleCopies.clear();
        FCopies.clear();
    }
    TKvGeneticAlgorithm::EndConcurrentEvaluation();
}

TObject* TKvGeneticProgram::AcquireWorkerState() {
    std::lock_guard<std::mutex> Lock(FCopiesLock);
    if (FIdleCopies.empty()) {
        FCopies.push_back(CopyMachine());
        FIdleCopies.reserve(FCopies.size());
        return FCopies.back().get();
    }
    TKvGPVirtualMachine* Copy = FIdleCopies.back();
    FIdleCopies.pop_back();
    return Copy;
}

void TKvGeneticProgram::ReleaseWorkerState(TObject* State) noexcept {
    if (State == nullptr)
        return;
    std::lock_guard<std::mutex> Lock(FCopiesLock);
    // Room was reserved when the copy was made, so this does not allocate.
    FIdleCopies.push_back(static_cast<TKvGPVirtualMachine*>(State));
}

void TKvGeneticProgram::Initialize() {
    CheckChange("Initialize");
    Machine();
    EnsureGenes();
    TKvGeneticAlgorithm::Initialize();
}

void TKvGeneticProgram::InitializeStack(const TVarRecList& Args) {
    IKvGPVirtualMachine& VM = Machine();
    VM.InitializeStack(Args);
    VM.Initialized();
    if (FOnInitializeStack)
        FOnInitializeStack(this);
}

void TKvGeneticProgram::InitializeStack(const TStrings& Args) {
    IKvGPVirtualMachine& VM = Machine();
    VM.InitializeStack(Args);
    VM.Initialized();
    if (FOnInitializeStack)
        FOnInitializeStack(this);
}

void TKvGeneticProgram::ExecuteIndividual(TKvGAIndividual* Item) {
    const bool Skip = std::exchange(SkipUndecodable, nullptr) == this;
    Machine();
    EnsureGenes();
    static const TVarRecList NoArguments;
    InitializeStack(NoArguments);
    // Machine() again: OnInitializeStack may have unset or replaced the machine.
    IKvGPVirtualMachine& VM = Machine();
    TKvGPVirtualMachine* GPMachine = GetGPVirtualMachine();
    if (Skip && GPMachine != nullptr) {
        if (!GPMachine->TryCompile(Item))
            return; // EvaluateFitness scores it as it stands
    } else {
        VM.Compile(Item);
    }
    ExecuteProgram();
}

void TKvGeneticProgram::ExecuteProgram() {
    IKvGPVirtualMachine& VM = Machine();
    switch (FExecutionLimit) {
    case elNumberOfSteps:
        if (FLimitNumber > 0) {
            VM.Execute(FLimitNumber);
            return;
        }
        break;
    case elNumberOfMilliseconds:
        if (FLimitNumber > 0) {
            using Clock = std::chrono::steady_clock;
            const Clock::time_point Deadline =
                Clock::now() + std::chrono::milliseconds(FLimitNumber);
            while (!VM.IsFinished()) {
                VM.Execute(ClockStride);
                if (Clock::now() >= Deadline)
                    return;
            }
            return;
        }
        break;
    case elNone:
        break;
    }
    while (!VM.IsFinished())
        VM.Execute(INT_MAX);
}

TGAFitness TKvGeneticProgram::EvaluateFitness(TKvGAIndividual* Item) {
    if (!GetOnEvaluateFitness())
        return 0;
    if (FAutoExecution) {
        // The flag is taken by the ExecuteIndividual called here; it is cleared on every path,
        // so that a later direct call raises as usual.
        struct TSkipScope {
            explicit TSkipScope(const TKvGeneticProgram* Engine) { SkipUndecodable = Engine; }
            ~TSkipScope() { SkipUndecodable = nullptr; }
        } Scope(this);
        try {
            ExecuteIndividual(Item);
        } catch (const EGPException&) {
            // A machine other than TKvGPVirtualMachine, or an override of ExecuteIndividual,
            // reports an undecodable individual by the compile's exception.
            IKvGPVirtualMachine* VM = GetVM();
            if (VM == nullptr || !IsUndecodable(VM->GetExecutionState()))
                throw;
        }
    }
    return TKvGeneticAlgorithm::EvaluateFitness(Item);
}

} // namespace kv
