#include "kv/gp/genetic_program.h"

#include <chrono>
#include <climits>
#include <typeinfo>
#include <utility>

#include "kv/gp/gp_virtual_machine.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/text.h"
#include "kv/vocabulary/enum_names.h"
#include "kv/xml/xml_node.h"

namespace kv {

namespace {

// Steps run between two readings of the clock under elNumberOfMilliseconds.
constexpr int ClockStride = 16;

constexpr char SNoBatchMachine[] =
    "The virtual machine cannot run programs over a batch: it is not a TKvVirtualMachine";

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
    FBatchMachine = dynamic_cast<TKvVirtualMachine*>(Value);
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
        FBatchMachine = nullptr;
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
    const TRandomSourceBinding Bound = BindRandomSource();
    CheckChange("Initialize");
    Machine();
    EnsureGenes();
    TKvGeneticAlgorithm::Initialize();
}

void TKvGeneticProgram::InitializeStack(const TVarRecList& Args) {
    const TRandomSourceBinding Bound = BindRandomSource();
    IKvGPVirtualMachine& VM = Machine();
    VM.InitializeStack(Args);
    VM.Initialized();
    if (FOnInitializeStack)
        FOnInitializeStack(this);
}

void TKvGeneticProgram::InitializeStack(std::initializer_list<TVarRec> Args) {
    const TRandomSourceBinding Bound = BindRandomSource();
    // An engine and a machine of the library's own classes override nothing: their work is done
    // straight from Args, without the argument list and the virtual calls. In a parallel round
    // the machine is the worker's copy, and the shared argument list is not used.
    const bool Parallel = GetEvaluatingInParallel();
    TKvVirtualMachine* Fast = Parallel ? GetGPVirtualMachine() : FBatchMachine;
    if (Fast != nullptr && typeid(*this) == typeid(TKvGeneticProgram) &&
        (typeid(*Fast) == typeid(TKvGPVirtualMachine) ||
         typeid(*Fast) == typeid(TKvVirtualMachine))) {
        TKvVirtualMachine& VM = *Fast;
        VM.FillStack(Args);
        VM.TKvVirtualMachine::Initialized();
        if (FOnInitializeStack)
            FOnInitializeStack(this);
        return;
    }
    if (FArgsInUse || Parallel) {
        InitializeStack(TVarRecList(Args));
        return;
    }
    struct TInUse {
        TKvGeneticProgram& GP;
        explicit TInUse(TKvGeneticProgram& Engine) : GP(Engine) { GP.FArgsInUse = true; }
        ~TInUse() {
            GP.FArgs.clear(); // keeps the storage, drops copies of the caller's values
            GP.FArgsInUse = false;
        }
    } InUse(*this);
    FArgs.assign(Args.begin(), Args.end());
    InitializeStack(FArgs);
}

void TKvGeneticProgram::InitializeStack(const TStrings& Args) {
    const TRandomSourceBinding Bound = BindRandomSource();
    IKvGPVirtualMachine& VM = Machine();
    VM.InitializeStack(Args);
    VM.Initialized();
    if (FOnInitializeStack)
        FOnInitializeStack(this);
}

void TKvGeneticProgram::ExecuteIndividual(TKvGAIndividual* Item) {
    const TRandomSourceBinding Bound = BindRandomSource();
    const bool Skip = std::exchange(SkipUndecodable, nullptr) == this;
    Machine();
    EnsureGenes();
    static const TVarRecList NoArguments;
    // OnInitializeStack must leave the individual where it is: one of the engine's population
    // that it removed (or freed by loading or assigning the engine) must not be compiled.
    const TKvGAPopulation* Population = std::as_const(*this).GetPopulation();
    const bool InPopulation =
        Population != nullptr && Item != nullptr && Item->GetCollection() == Population;
    const uint64_t Changes = InPopulation ? Population->GetChangeCount() : 0;
    InitializeStack(NoArguments);
    if (InPopulation && (std::as_const(*this).GetPopulation() != Population ||
                         Population->GetChangeCount() != Changes))
        throw EGPException("The population changed while the stack was initialised for an "
                           "individual: OnInitializeStack must not add, remove or move "
                           "individuals, nor load, assign, initialise or evolve the engine");
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

namespace {

// Runs a program under the limit (see ExecuteProgram): Run(N) runs up to N steps, Done() tells
// whether the machine is finished. Templates, so that a TKvGPVirtualMachine is driven through its
// final stepping functions, without the interface's virtual calls.
template <class TRun, class TDone>
void RunUnderLimit(const TRun& Run, const TDone& Done, TExecutionLimit Limit, int32_t LimitNumber) {
    switch (Limit) {
    case elNumberOfSteps:
        if (LimitNumber > 0) {
            Run(LimitNumber);
            return;
        }
        break;
    case elNumberOfMilliseconds:
        if (LimitNumber > 0) {
            using Clock = std::chrono::steady_clock;
            const Clock::time_point Deadline =
                Clock::now() + std::chrono::milliseconds(LimitNumber);
            while (!Done()) {
                Run(ClockStride);
                if (Clock::now() >= Deadline)
                    return;
            }
            return;
        }
        break;
    case elNone:
        break;
    }
    while (!Done())
        Run(INT_MAX);
}

template <class TMachine>
void ExecuteUnderLimit(TMachine& VM, TExecutionLimit Limit, int32_t LimitNumber) {
    RunUnderLimit([&VM](int N) { VM.Execute(N); }, [&VM] { return VM.IsFinished(); }, Limit,
                  LimitNumber);
}

} // namespace

void TKvGeneticProgram::ExecuteProgram() {
    const TRandomSourceBinding Bound = BindRandomSource();
    IKvGPVirtualMachine& VM = Machine();
    if (TKvGPVirtualMachine* GPMachine = GetGPVirtualMachine())
        ExecuteUnderLimit(*GPMachine, FExecutionLimit, FLimitNumber);
    else
        ExecuteUnderLimit(VM, FExecutionLimit, FLimitNumber);
}

void TKvGeneticProgram::ExecuteBatch(TVMBatchStack& Stack) {
    const TRandomSourceBinding Bound = BindRandomSource();
    Machine();
    TKvVirtualMachine* Batch = GetEvaluatingInParallel() ? GetGPVirtualMachine() : FBatchMachine;
    if (Batch == nullptr)
        throw EGPException(SNoBatchMachine);
    TKvVirtualMachine& VM = *Batch;
    VM.Initialized();
    RunUnderLimit([&](int N) { VM.ExecuteBatch(Stack, N); }, [&VM] { return VM.IsFinished(); },
                  FExecutionLimit, FLimitNumber);
}

TGAFitness TKvGeneticProgram::EvaluateFitness(TKvGAIndividual* Item) {
    const TRandomSourceBinding Bound = BindRandomSource();
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

void TKvGeneticProgram::SaveCheckpointState(IXMLNode& Checkpoint) const {
    TKvGeneticAlgorithm::SaveCheckpointState(Checkpoint);
    std::shared_ptr<IXMLNode> Node = Checkpoint.GetChildNode("GeneticProgram");
    Node->SetChildText("ExecutionLimit", EnumToIdent(FExecutionLimit));
    Node->SetChildAsInteger("LimitNumber", FLimitNumber);
    Node->SetChildAsBoolean("AutoExecution", FAutoExecution);
}

std::function<void()> TKvGeneticProgram::ReadCheckpointState(IXMLNode& Checkpoint) {
    std::function<void()> Base = TKvGeneticAlgorithm::ReadCheckpointState(Checkpoint);
    std::shared_ptr<IXMLNode> Node = Checkpoint.FindChildNode("GeneticProgram");
    if (Node == nullptr)
        return Base;
    TExecutionLimit Limit;
    int32_t LimitNumber;
    bool AutoExecution;
    try {
        const std::string Text = Node->GetChildText("ExecutionLimit");
        std::optional<TExecutionLimit> Value = TryIdentToEnum<TExecutionLimit>(Text);
        if (!Value)
            throw EConvertError(Format("\"%s\" is not a valid TExecutionLimit identifier for "
                                       "element \"ExecutionLimit\"",
                                       TextExcerpt(Text)));
        Limit = *Value;
        LimitNumber = Node->GetChildAsInteger("LimitNumber");
        if (LimitNumber < 0)
            throw EConvertError(
                Format("The value %d of element \"LimitNumber\" is negative", LimitNumber));
        AutoExecution = Node->GetChildAsBoolean("AutoExecution");
    } catch (const EConvertError& E) {
        throw EConvertError(Format("Checkpoint, GeneticProgram: %s", E.Message()));
    }
    return [this, Base = std::move(Base), Limit, LimitNumber, AutoExecution] {
        if (Base)
            Base();
        FExecutionLimit = Limit;
        FLimitNumber = LimitNumber;
        FAutoExecution = AutoExecution;
    };
}

} // namespace kv
