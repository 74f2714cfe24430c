#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

using namespace kv;

namespace {

using S = TExecutionStates;

std::string InstrName(int I) {
    std::string S(1, 'i');
    S.append(std::to_string(I));
    return S;
}

template <class F>
std::string MessageOf(F&& Call) {
    try {
        Call();
    } catch (const EGPException& E) {
        return E.what();
    }
    return "(nothing raised)";
}

// An engine and a machine bound both ways; the machine's instructions i0..i(N-1) log their names
// (and the stack's size when they run).
struct TRig {
    TKvGPVirtualMachine VM;
    TKvGeneticProgram GP;
    std::vector<std::string> Log;

    explicit TRig(int N) {
        for (int I = 0; I < N; ++I) {
            TVMInstruction* Instr = VM.GetInstructionSet()->Add();
            Instr->SetName(InstrName(I));
            Instr->SetOnExecute([this](TObject*, TVMExecutionStack*, TVMInstruction* Item) {
                Log.push_back(Item->GetName());
            });
        }
        GP.SetVM(&VM);
        VM.SetGeneticAlgorithm(&GP);
    }
    int SlotSize() { return GP.GetGenes()->GetItem(0)->GetSize(); }
    // An individual whose slots are Slots (raw values), the chromosome exactly that long.
    TKvGAIndividual* Individual(const std::vector<int>& Slots) {
        if (GP.GetGenes()->GetCount() == 0)
            VM.UpdateGenes(GP.GetGenes());
        const int Size = SlotSize();
        GP.SetGeneSize(static_cast<int>(Slots.size()) * Size);
        TKvGAIndividual* Item = GP.GetPopulation()->Add();
        TKvGABits& Bits = *Item->GetBits();
        Bits.PreserveSignBit = false;
        for (size_t K = 0; K < Slots.size(); ++K)
            Bits.SetAsInteger(static_cast<int32_t>(K) * Size, Size, Slots[K]);
        return Item;
    }
};

std::vector<int> Ascending(int N, int Modulo) {
    std::vector<int> R;
    for (int I = 0; I < N; ++I)
        R.push_back(I % Modulo);
    return R;
}

} // namespace

TEST(GeneticProgram, DefaultsAndTheMissingMachine) {
    TKvGeneticProgram GP;
    EXPECT_EQ(GP.GetExecutionLimit(), elNumberOfSteps);
    EXPECT_EQ(GP.GetLimitNumber(), 0);
    EXPECT_FALSE(GP.GetAutoExecution());
    EXPECT_EQ(GP.GetVM(), nullptr);
    EXPECT_EQ(GP.ClassName(), "TKvGeneticProgram");

    TKvGAIndividual* Item = GP.GetPopulation()->Add();
    EXPECT_EQ(MessageOf([&] { GP.Initialize(); }), "Missing Virtual Machine");
    EXPECT_EQ(MessageOf([&] { GP.ExecuteIndividual(Item); }), "Missing Virtual Machine");
    EXPECT_EQ(MessageOf([&] { GP.ExecuteProgram(); }), "Missing Virtual Machine");
    EXPECT_EQ(MessageOf([&] { GP.InitializeStack(TVarRecList{1}); }), "Missing Virtual Machine");
    TStringList Lines;
    EXPECT_EQ(MessageOf([&] { GP.InitializeStack(Lines); }), "Missing Virtual Machine");
    EXPECT_EQ(GP.GetGenes()->GetCount(), 0);
    // Without AutoExecution nothing needs the machine.
    GP.SetOnEvaluateFitness([](TObject*, TKvGAIndividual*, TGAFitness& F) { F = 4; });
    EXPECT_EQ(GP.EvaluateFitness(Item), 4);
    GP.SetAutoExecution(true);
    EXPECT_EQ(MessageOf([&] { GP.EvaluateFitness(Item); }), "Missing Virtual Machine");

    GP.SetLimitNumber(-5);
    EXPECT_EQ(GP.GetLimitNumber(), 0);
    GP.SetLimitNumber(12);
    EXPECT_EQ(GP.GetLimitNumber(), 12);
    GP.SetExecutionLimit(elNone);
    GP.SetExecutionLimit(static_cast<TExecutionLimit>(7));
    EXPECT_EQ(GP.GetExecutionLimit(), elNone);
}

TEST(GeneticProgram, InitializeLaysOutAnEmptyGenotypeOnly) {
    TRig R(5);
    R.GP.SetInitialPopulation(4);
    R.GP.SetGeneSize(30);
    int GenesWhenInitializing = -1;
    R.GP.SetOnInitialization(
        [&](TObject*, bool&) { GenesWhenInitializing = R.GP.GetGenes()->GetCount(); });
    R.GP.Initialize();
    EXPECT_EQ(GenesWhenInitializing, 1);
    ASSERT_EQ(R.GP.GetGenes()->GetCount(), 1);
    EXPECT_EQ(R.GP.GetGenes()->GetItem(0)->GetName(), "Instructions");
    EXPECT_EQ(R.GP.GetPopulation()->GetCount(), 4);
    EXPECT_EQ(R.GP.GetPopulation()->GetItem(0)->GetBits()->GetSize(), 30);

    // A genotype that holds genes is kept.
    TRig Own(5);
    TKvGAGene* Gene = Own.GP.GetGenes()->Add();
    Gene->SetName("Mine");
    Gene->SetGeneType(gtInteger);
    Gene->SetSize(4);
    Own.GP.SetInitialPopulation(2);
    Own.GP.Initialize();
    ASSERT_EQ(Own.GP.GetGenes()->GetCount(), 1);
    EXPECT_EQ(Own.GP.GetGenes()->GetItem(0)->GetName(), "Mine");
}

TEST(GeneticProgram, ExecutionLimitBoundsTheRun) {
    TRig R(5);
    TKvGAIndividual* Item = R.Individual(Ascending(10, 5));

    R.GP.SetLimitNumber(3);
    R.GP.ExecuteIndividual(Item);
    EXPECT_EQ(R.Log, (std::vector<std::string>{"i0", "i1", "i2"}));
    EXPECT_FALSE(R.VM.IsFinished());
    EXPECT_EQ(R.VM.GetExecutionIndex(), 3);

    for (TExecutionLimit Limit : {elNumberOfSteps, elNone, elNumberOfMilliseconds}) {
        R.Log.clear();
        R.GP.SetExecutionLimit(Limit);
        R.GP.SetLimitNumber(Limit == elNumberOfMilliseconds ? 10000 : 0);
        R.GP.ExecuteIndividual(Item);
        EXPECT_EQ(R.Log.size(), 10u) << Limit;
        EXPECT_TRUE(R.VM.GetExecutionState().Contains(esFinished)) << Limit;
    }
    // ExecuteProgram runs what the machine holds, from where it stands.
    R.Log.clear();
    R.GP.SetExecutionLimit(elNumberOfSteps);
    R.GP.SetLimitNumber(4);
    R.GP.InitializeStack(TVarRecList{});
    R.GP.ExecuteProgram();
    R.GP.ExecuteProgram();
    EXPECT_EQ(R.Log.size(), 8u);
    EXPECT_EQ(R.VM.GetExecutionIndex(), 8);
}

TEST(GeneticProgram, MillisecondLimitStopsARunThatNeverEnds) {
    TRig R(2);
    // i1 sends the run back to the start: the program never finishes on its own.
    R.VM.GetInstructionSet()->GetItem(1)->SetOnExecute(
        [&](TObject*, TVMExecutionStack*, TVMInstruction*) { R.VM.SetExecutionIndex(-1); });
    TKvGAIndividual* Item = R.Individual({0, 1});
    R.GP.SetExecutionLimit(elNumberOfMilliseconds);
    R.GP.SetLimitNumber(20);
    const auto Start = std::chrono::steady_clock::now();
    R.GP.ExecuteIndividual(Item);
    const auto Elapsed = std::chrono::steady_clock::now() - Start;
    EXPECT_GE(Elapsed, std::chrono::milliseconds(20));
    EXPECT_LT(Elapsed, std::chrono::seconds(5));
    EXPECT_FALSE(R.VM.IsFinished());
    EXPECT_GT(R.Log.size(), 16u);
}

TEST(GeneticProgram, ExecuteIndividualOrderOfPreparation) {
    TRig R(2);
    std::vector<std::string> Order;
    R.VM.SetOnInitialize([&](TObject*) { Order.push_back("OnInitialize"); });
    R.GP.SetOnInitializeStack([&](TObject* Sender) {
        EXPECT_EQ(Sender, &R.GP);
        Order.push_back("OnInitializeStack");
        // Initialized has run: the previous run's flags are gone.
        EXPECT_FALSE(R.VM.GetExecutionState().Contains(esFinished));
        EXPECT_TRUE(R.VM.GetExecutionState().Contains(esInitialized));
        R.VM.GetStack()->Push(Variant(42));
    });
    R.VM.GetInstructionSet()->GetItem(0)->SetOnExecute(
        [&](TObject*, TVMExecutionStack* Stack, TVMInstruction*) {
            Order.push_back("i0 sees " + VarToStr(Stack->GetTop()));
        });
    R.VM.SetOnExecuting([&](TObject*) {
        if (Order.size() < 3)
            Order.push_back(R.VM.GetEncodedProgram() == TIntegerArray{0, 1} ? "compiled"
                                                                            : "not compiled");
    });
    TKvGAIndividual* Item = R.Individual({0, 1});
    R.GP.ExecuteIndividual(Item);
    R.GP.ExecuteIndividual(Item);
    EXPECT_EQ(Order, (std::vector<std::string>{"OnInitialize", "OnInitializeStack", "compiled",
                                               "i0 sees 42", "OnInitialize", "OnInitializeStack",
                                               "i0 sees 42"}));

    // The list form fills the stack from the lines, then the same preparation.
    TStringList Lines;
    Lines.Add("x");
    Lines.Add("y");
    Order.clear();
    R.GP.InitializeStack(Lines);
    EXPECT_EQ(Order, (std::vector<std::string>{"OnInitialize", "OnInitializeStack"}));
    EXPECT_EQ(R.VM.GetStack()->GetCount(), 3);
    EXPECT_EQ(VarToStr(R.VM.GetStack()->GetItem(1)), "x");
    EXPECT_EQ(R.VM.GetExecutionIndex(), 0);
}

TEST(GeneticProgram, EvaluateFitnessRunsOnlyWithACallbackAndAutoExecution) {
    TRig R(3);
    TKvGAIndividual* Item = R.Individual({2, 1, 0});
    int Initializations = 0;
    R.VM.SetOnInitialize([&](TObject*) { ++Initializations; });

    // No fitness callback: 0, nothing runs, even with AutoExecution.
    R.GP.SetAutoExecution(true);
    EXPECT_EQ(R.GP.EvaluateFitness(Item), 0);
    EXPECT_EQ(Initializations, 0);
    EXPECT_TRUE(R.Log.empty());

    // AutoExecution: the callback sees the finished run.
    std::vector<std::string> Seen;
    R.GP.SetOnEvaluateFitness([&](TObject* Sender, TKvGAIndividual* It, TGAFitness& F) {
        EXPECT_EQ(Sender, &R.GP);
        EXPECT_EQ(It, Item);
        Seen = R.Log;
        F = R.VM.GetExecutionState().Contains(esFinished) ? 2.5 : -1;
    });
    EXPECT_EQ(R.GP.EvaluateFitness(Item), 2.5);
    EXPECT_EQ(Seen, (std::vector<std::string>{"i2", "i1", "i0"}));
    EXPECT_EQ(Initializations, 1);

    // Without AutoExecution the machine is not touched.
    R.GP.SetAutoExecution(false);
    R.Log.clear();
    const S Before = R.VM.GetExecutionState();
    EXPECT_EQ(R.GP.EvaluateFitness(Item), 2.5);
    EXPECT_TRUE(Seen.empty());
    EXPECT_EQ(Initializations, 1);
    EXPECT_EQ(R.VM.GetExecutionState(), Before);
}

TEST(GeneticProgram, UndecodableIndividualsAreScoredNotFatal) {
    TRig R(5); // 3-bit slots: 5, 6 and 7 are invalid
    TKvGAIndividual* Bad = R.Individual({0, 6, 1});
    TKvGAIndividual* Good = R.Individual({0, 1, 2});
    R.GP.SetAutoExecution(true);
    R.GP.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual*, TGAFitness& F) {
        const S State = R.VM.GetExecutionState();
        F = State.Contains(esInvalidOperation) && !State.Contains(esEncoded)
                ? -1
                : static_cast<TGAFitness>(R.Log.size());
    });

    R.GP.EvaluateFitness(Good); // leaves esEncoded behind
    R.Log.clear();
    EXPECT_EQ(R.GP.EvaluateFitness(Bad), -1);
    EXPECT_TRUE(R.Log.empty()); // nothing ran
    EXPECT_EQ(R.GP.EvaluateFitness(Good), 3);

    // Called directly, the compile error passes out.
    R.Log.clear();
    EXPECT_EQ(MessageOf([&] { R.GP.ExecuteIndividual(Bad); }), "Unknown instruction \"6\"");
    EXPECT_TRUE(R.Log.empty());
    // ... also right after an evaluation that skipped an undecodable individual.
    R.GP.EvaluateFitness(Bad);
    EXPECT_THROW(R.GP.ExecuteIndividual(Bad), EGPException);

    // A whole population of random chromosomes initialises and evolves.
    RandSeed(11);
    TRig P(5);
    int Invalid = 0, Scored = 0;
    P.GP.SetAutoExecution(true);
    P.GP.SetGeneSize(60);
    P.GP.SetInitialPopulation(40);
    P.GP.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual*, TGAFitness& F) {
        ++Scored;
        const bool Undecodable = P.VM.GetExecutionState().Contains(esInvalidOperation);
        Invalid += Undecodable;
        F = Undecodable ? 0 : 1;
    });
    P.GP.Initialize();
    P.GP.Evolve(3);
    EXPECT_EQ(Scored, 160);
    EXPECT_GT(Invalid, 0);
}

TEST(GeneticProgram, OtherErrorsStillPassOutOfEvaluation) {
    // The machine is not bound back to the engine: the compile cannot find the engine.
    TKvGPVirtualMachine VM;
    VM.GetInstructionSet()->Add()->SetName("a");
    TKvGeneticProgram GP;
    GP.SetVM(&VM);
    GP.SetAutoExecution(true);
    GP.SetOnEvaluateFitness([](TObject*, TKvGAIndividual*, TGAFitness& F) { F = 1; });
    TKvGAIndividual* Item = GP.GetPopulation()->Add();
    EXPECT_EQ(MessageOf([&] { GP.EvaluateFitness(Item); }), "Missing Genetic Program Engine");
    // An exception of OnInitializeStack passes out as well.
    VM.SetGeneticAlgorithm(&GP);
    GP.SetOnInitializeStack([](TObject*) { throw EGPException("inputs unavailable"); });
    EXPECT_EQ(MessageOf([&] { GP.EvaluateFitness(Item); }), "inputs unavailable");
    // Whatever ends an evaluation, a direct run afterwards raises on an undecodable individual.
    GP.SetOnInitializeStack([](TObject*) { throw std::runtime_error("no inputs"); });
    EXPECT_THROW(GP.EvaluateFitness(Item), std::runtime_error);
    GP.SetOnInitializeStack(nullptr);
    VM.UpdateGenes(GP.GetGenes());
    GP.SetGeneSize(2);
    Item->GetBits()->SetAsInteger(0, 1, 1); // slot 0 holds 1: outside the set of one
    EXPECT_EQ(MessageOf([&] { GP.ExecuteIndividual(Item); }), "Unknown instruction \"1\"");
}

namespace {

// An engine that runs individuals its own way, through the interface's raising compile.
class TOwnRunEngine : public TKvGeneticProgram {
public:
    using TKvGeneticProgram::TKvGeneticProgram;
    int Runs = 0;
    void ExecuteIndividual(TKvGAIndividual* Item) override {
        ++Runs;
        InitializeStack(TVarRecList{});
        GetVM()->Compile(Item);
        ExecuteProgram();
    }
};

} // namespace

TEST(GeneticProgram, OverriddenExecuteIndividualTakesPartAndIsForgivenUndecodableSlots) {
    TKvGPVirtualMachine VM;
    for (int I = 0; I < 3; ++I)
        VM.GetInstructionSet()->Add()->SetName(InstrName(I));
    TOwnRunEngine GP;
    GP.SetVM(&VM);
    VM.SetGeneticAlgorithm(&GP);
    VM.UpdateGenes(GP.GetGenes());
    GP.SetGeneSize(4);
    TKvGAIndividual* Item = GP.GetPopulation()->Add();
    Item->GetBits()->SetAsInteger(0, 2, 3); // 3: outside the set of three
    GP.SetAutoExecution(true);
    int Called = 0;
    GP.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual*, TGAFitness& F) {
        ++Called;
        F = VM.GetExecutionState().Contains(esInvalidOperation) ? -1 : 1;
    });
    EXPECT_EQ(GP.EvaluateFitness(Item), -1);
    EXPECT_EQ(GP.Runs, 1);
    EXPECT_EQ(Called, 1);
}

TEST(GeneticProgram, MachineAndEngineMayBeDestroyedInEitherOrder) {
    auto VM = std::make_unique<TKvGPVirtualMachine>();
    VM->GetInstructionSet()->Add()->SetName("a");
    TKvGeneticProgram GP;
    GP.SetVM(VM.get());
    VM->SetGeneticAlgorithm(&GP);
    VM.reset();
    EXPECT_EQ(GP.GetVM(), nullptr);
    EXPECT_EQ(MessageOf([&] { GP.Initialize(); }), "Missing Virtual Machine");

    // Unsetting VM stops the watch: the machine destroyed later leaves the engine's new machine.
    TKvGPVirtualMachine Kept;
    auto Dropped = std::make_unique<TKvGPVirtualMachine>();
    GP.SetVM(Dropped.get());
    GP.SetVM(&Kept);
    Dropped.reset();
    EXPECT_EQ(GP.GetVM(), &Kept);
    GP.SetVM(nullptr);

    // Engine first: the machine unbinds, the engine's watch ends with it.
    {
        TKvGPVirtualMachine M;
        M.GetInstructionSet()->Add()->SetName("a");
        auto Engine = std::make_unique<TKvGeneticProgram>();
        Engine->SetVM(&M);
        M.SetGeneticAlgorithm(Engine.get());
        Engine.reset();
        EXPECT_EQ(M.GetGeneticAlgorithm(), nullptr);
        M.GetInstructionSet()->Add()->SetName("b");
    }
    // Each owning the other's partner: the machine owned by the engine, and the reverse.
    {
        auto Engine = std::make_unique<TKvGeneticProgram>();
        auto* M = new TKvGPVirtualMachine(Engine.get());
        M->GetInstructionSet()->Add()->SetName("a");
        Engine->SetVM(M);
        M->SetGeneticAlgorithm(Engine.get());
        Engine->SetInitialPopulation(3);
        Engine->Initialize();
        Engine.reset();
    }
    {
        auto M = std::make_unique<TKvGPVirtualMachine>();
        auto* Engine = new TKvGeneticProgram(M.get());
        Engine->SetVM(M.get());
        M->SetGeneticAlgorithm(Engine);
        M->GetInstructionSet()->Add()->SetName("a");
        M.reset();
    }
}
