#include "kv/gp/genetic_program.h"

#include <chrono>
#include <climits>
#include <typeinfo>
#include <optional>
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

} // namespace

TKvGeneticProgram::~TKvGeneticProgram() {
    SetVM(nullptr);
}

void TKvGeneticProgram::SetExecutionLimit(TExecutionLimit Value) noexcept {
    if (Value >= elNumberOfSteps && Value <= elNone)
        FExecutionLimit = Value;
}

void TKvGeneticProgram::SetVM(IKvGPVirtualMachine* Value) {
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
    if (FVM == nullptr)
        throw EGPException(SMissingVirtualMachine);
    return *FVM;
}

void TKvGeneticProgram::EnsureGenes() {
    TKvGAGenes* Genes = GetGenes();
    if (Genes->GetCount() == 0)
        FVM->UpdateGenes(Genes);
}

void TKvGeneticProgram::Initialize() {
    const TRandomSourceBinding Bound = BindRandomSource();
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
    // straight from Args, without the argument list and the virtual calls.
    if (FBatchMachine != nullptr && typeid(*this) == typeid(TKvGeneticProgram) &&
        (typeid(*FBatchMachine) == typeid(TKvGPVirtualMachine) ||
         typeid(*FBatchMachine) == typeid(TKvVirtualMachine))) {
        TKvVirtualMachine& VM = *FBatchMachine;
        VM.FillStack(Args);
        VM.TKvVirtualMachine::Initialized();
        if (FOnInitializeStack)
            FOnInitializeStack(this);
        return;
    }
    if (FArgsInUse) {
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
    const bool SkipUndecodable = std::exchange(FSkipUndecodable, false);
    Machine();
    EnsureGenes();
    static const TVarRecList NoArguments;
    InitializeStack(NoArguments);
    // Machine() again: OnInitializeStack may have unset or replaced the machine.
    IKvGPVirtualMachine& VM = Machine();
    if (SkipUndecodable && FGPMachine != nullptr) {
        if (!FGPMachine->TryCompile(Item))
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
    if (FGPMachine != nullptr)
        ExecuteUnderLimit(*FGPMachine, FExecutionLimit, FLimitNumber);
    else
        ExecuteUnderLimit(VM, FExecutionLimit, FLimitNumber);
}

void TKvGeneticProgram::ExecuteBatch(TVMBatchStack& Stack) {
    const TRandomSourceBinding Bound = BindRandomSource();
    Machine();
    if (FBatchMachine == nullptr)
        throw EGPException(SNoBatchMachine);
    TKvVirtualMachine& VM = *FBatchMachine;
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
            bool& Flag;
            explicit TSkipScope(bool& F) : Flag(F) { Flag = true; }
            ~TSkipScope() { Flag = false; }
        } Scope(FSkipUndecodable);
        try {
            ExecuteIndividual(Item);
        } catch (const EGPException&) {
            // A machine other than TKvGPVirtualMachine, or an override of ExecuteIndividual,
            // reports an undecodable individual by the compile's exception.
            if (FVM == nullptr || !IsUndecodable(FVM->GetExecutionState()))
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
