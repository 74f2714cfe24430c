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
using Names = std::vector<std::string>;

// "i<I>", built without operator+ (g++ 12 -O3 reports a false -Wrestrict on "i" + to_string).
std::string InstrName(int I) {
    std::string Name(1, 'i');
    Name.append(std::to_string(I));
    return Name;
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

// An engine and a machine bound both ways; instructions i0..i(N-1) log their names.
struct TRig {
    TKvGPVirtualMachine VM;
    TKvGeneticProgram GP;
    Names Log;

    explicit TRig(int N) {
        for (int I = 0; I < N; ++I)
            VM.GetInstructionSet()->Add()->SetName(InstrName(I));
        VM.SetOnExecuteInstruction([this](TObject*, TVMExecutionStack*, TVMInstruction* Item) {
            Log.push_back(Item->GetName());
        });
        GP.SetVM(&VM);
        VM.SetGeneticAlgorithm(&GP);
    }
    // An individual whose chromosome is exactly the slots given (raw values, valid or not).
    TKvGAIndividual* Individual(const std::vector<int>& Slots) {
        VM.UpdateGenes(GP.GetGenes());
        const int Size = GP.GetGenes()->GetItem(0)->GetSize();
        GP.SetGeneSize(static_cast<int>(Slots.size()) * Size);
        TKvGAIndividual* Item = GP.GetPopulation()->Add();
        for (size_t K = 0; K < Slots.size(); ++K)
            Item->GetBits()->SetAsInteger(static_cast<int32_t>(K) * Size, Size, Slots[K]);
        return Item;
    }
};

} // namespace

TEST(GeneticProgram, DefaultsPropertiesAndTheMissingMachine) {
    TKvGeneticProgram GP;
    EXPECT_EQ(GP.GetExecutionLimit(), elNumberOfSteps);
    EXPECT_EQ(GP.GetLimitNumber(), 0);
    EXPECT_FALSE(GP.GetAutoExecution());
    EXPECT_EQ(GP.GetVM(), nullptr);
    TKvGAIndividual* Item = GP.GetPopulation()->Add();
    TStringList Lines;
    for (const std::string& M :
         {MessageOf([&] { GP.Initialize(); }), MessageOf([&] { GP.ExecuteIndividual(Item); }),
          MessageOf([&] { GP.ExecuteProgram(); }),
          MessageOf([&] { GP.InitializeStack(TVarRecList{1}); }),
          MessageOf([&] { GP.InitializeStack(Lines); })})
        EXPECT_EQ(M, "Missing Virtual Machine");
    EXPECT_EQ(GP.GetGenes()->GetCount(), 0);
    GP.SetOnEvaluateFitness([](TObject*, TKvGAIndividual*, TGAFitness& F) { F = 4; });
    EXPECT_EQ(GP.EvaluateFitness(Item), 4); // needs no machine without AutoExecution
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
    int GenesSeen = -1;
    R.GP.SetOnInitialization([&](TObject*, bool&) { GenesSeen = R.GP.GetGenes()->GetCount(); });
    R.GP.Initialize();
    EXPECT_EQ(GenesSeen, 1);
    EXPECT_EQ(R.GP.GetGenes()->GetItem(0)->GetName(), "Instructions");
    EXPECT_EQ(R.GP.GetPopulation()->GetItem(3)->GetBits()->GetSize(), 30);

    TRig Own(5);
    Own.GP.GetGenes()->Add()->SetName("Mine");
    Own.GP.Initialize();
    ASSERT_EQ(Own.GP.GetGenes()->GetCount(), 1);
    EXPECT_EQ(Own.GP.GetGenes()->GetItem(0)->GetName(), "Mine");
}

TEST(GeneticProgram, ExecutionLimitBoundsTheRun) {
    TRig R(5);
    TKvGAIndividual* Item = R.Individual({0, 1, 2, 3, 4, 0, 1, 2, 3, 4});
    R.GP.SetLimitNumber(3);
    R.GP.ExecuteIndividual(Item);
    EXPECT_EQ(R.Log, (Names{"i0", "i1", "i2"}));
    EXPECT_FALSE(R.VM.IsFinished());

    for (TExecutionLimit Limit : {elNumberOfSteps, elNone, elNumberOfMilliseconds}) {
        R.Log.clear();
        R.GP.SetExecutionLimit(Limit);
        R.GP.SetLimitNumber(Limit == elNumberOfMilliseconds ? 10000 : 0);
        R.GP.ExecuteIndividual(Item);
        EXPECT_EQ(R.Log.size(), 10u) << Limit;
        EXPECT_TRUE(R.VM.GetExecutionState().Contains(esFinished)) << Limit;
    }
    // ExecuteProgram goes on from where the machine stands.
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

TEST(GeneticProgram, EachRunIsPreparedInOrderAndStartsWithTheInputs) {
    TRig R(2);
    Names Order;
    R.VM.SetOnInitialize([&](TObject*) { Order.push_back("OnInitialize"); });
    R.GP.SetOnInitializeStack([&](TObject* Sender) {
        EXPECT_EQ(Sender, &R.GP);
        EXPECT_FALSE(R.VM.GetExecutionState().Contains(esFinished)); // Initialized has run
        Order.push_back("OnInitializeStack");
        R.VM.GetStack()->Push(Variant(42));
    });
    R.VM.GetInstructionSet()->GetItem(0)->SetOnExecute(
        [&](TObject*, TVMExecutionStack* Stack, TVMInstruction*) {
            Order.push_back(VarToStr(Stack->GetTop()) + " on top");
        });
    TKvGAIndividual* Item = R.Individual({0, 1});
    R.GP.ExecuteIndividual(Item);
    R.GP.ExecuteIndividual(Item);
    EXPECT_EQ(Order, (Names{"OnInitialize", "OnInitializeStack", "42 on top", "OnInitialize",
                            "OnInitializeStack", "42 on top"}));

    TStringList Lines;
    Lines.Add("x");
    R.GP.InitializeStack(Lines);
    ASSERT_EQ(R.VM.GetStack()->GetCount(), 2);
    EXPECT_EQ(VarToStr(R.VM.GetStack()->GetItem(0)), "42");
    EXPECT_EQ(VarToStr(R.VM.GetStack()->GetItem(1)), "x");
}

TEST(GeneticProgram, EvaluateFitnessRunsOnlyWithACallbackAndAutoExecution) {
    TRig R(3);
    TKvGAIndividual* Item = R.Individual({2, 1, 0});
    R.GP.SetAutoExecution(true);
    EXPECT_EQ(R.GP.EvaluateFitness(Item), 0);
    EXPECT_TRUE(R.Log.empty());

    Names Seen;
    R.GP.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual* It, TGAFitness& F) {
        EXPECT_EQ(It, Item);
        Seen = R.Log;
        F = 2.5;
    });
    EXPECT_EQ(R.GP.EvaluateFitness(Item), 2.5);
    EXPECT_EQ(Seen, (Names{"i2", "i1", "i0"}));

    R.GP.SetAutoExecution(false);
    R.Log.clear();
    const S Before = R.VM.GetExecutionState();
    EXPECT_EQ(R.GP.EvaluateFitness(Item), 2.5);
    EXPECT_TRUE(Seen.empty());
    EXPECT_EQ(R.VM.GetExecutionState(), Before);
}

TEST(GeneticProgram, UndecodableIndividualsAreScoredNotFatal) {
    TRig R(5); // 3-bit slots: 5, 6 and 7 are outside the set
    TKvGAIndividual* Good = R.Individual({0, 1, 2});
    TKvGAIndividual* Bad = R.Individual({0, 6, 1});
    R.GP.SetAutoExecution(true);
    R.GP.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual*, TGAFitness& F) {
        const S State = R.VM.GetExecutionState();
        F = State.Contains(esInvalidOperation) && !State.Contains(esEncoded)
                ? -1.0
                : static_cast<double>(R.Log.size());
    });
    EXPECT_EQ(R.GP.EvaluateFitness(Good), 3);
    R.Log.clear();
    EXPECT_EQ(R.GP.EvaluateFitness(Bad), -1);
    EXPECT_TRUE(R.Log.empty());
    // Called directly, the compile error passes out, also right after a forgiven evaluation.
    EXPECT_EQ(MessageOf([&] { R.GP.ExecuteIndividual(Bad); }), "Unknown instruction \"6\"");
    EXPECT_TRUE(R.Log.empty());

    // A population of random chromosomes initialises and evolves.
    RandSeed(11);
    TRig P(5);
    int Invalid = 0, Scored = 0;
    P.GP.SetAutoExecution(true);
    P.GP.SetGeneSize(60);
    P.GP.SetInitialPopulation(40);
    P.GP.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual*, TGAFitness& F) {
        ++Scored;
        Invalid += P.VM.GetExecutionState().Contains(esInvalidOperation);
        F = 1;
    });
    P.GP.Initialize();
    P.GP.Evolve(3);
    EXPECT_EQ(Scored, 160);
    EXPECT_GT(Invalid, 0);
}

// A stack handler that removes the individual about to be compiled: refused before the compile
// reads it (under AddressSanitizer the compile would read freed memory), nothing runs.
TEST(GeneticProgram, AStackHandlerThatChangesThePopulationIsRefusedBeforeTheCompile) {
    TRig R(3);
    R.Individual({0, 1, 2});
    R.GP.SetAutoExecution(true);
    R.GP.SetOnEvaluateFitness([](TObject*, TKvGAIndividual*, TGAFitness& F) { F = 1; });
    R.GP.SetOnInitializeStack([&](TObject*) { R.GP.GetPopulation()->Clear(); });
    EXPECT_THROW(R.GP.EvaluateFitness(R.GP.GetPopulation()->GetItem(0)), EGPException);
    EXPECT_TRUE(R.Log.empty());
    EXPECT_EQ(R.GP.GetPopulation()->GetCount(), 0);
}

namespace {

// Runs individuals its own way, through the interface's raising compile.
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

TEST(GeneticProgram, OnlyTheUndecodableSlotIsForgiven) {
    TKvGPVirtualMachine VM;
    VM.GetInstructionSet()->Add()->SetName("a");
    TOwnRunEngine GP;
    GP.SetVM(&VM);
    GP.SetAutoExecution(true);
    GP.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual*, TGAFitness& F) {
        F = VM.GetExecutionState().Contains(esInvalidOperation) ? -1 : 1;
    });
    TKvGAIndividual* Item = GP.GetPopulation()->Add();
    // The machine is not bound back: its compile cannot find the engine.
    EXPECT_EQ(MessageOf([&] { GP.EvaluateFitness(Item); }), "Missing Genetic Program Engine");

    // An override of ExecuteIndividual takes part, and its compile error on a slot is forgiven.
    VM.SetGeneticAlgorithm(&GP);
    VM.UpdateGenes(GP.GetGenes());
    GP.SetGeneSize(2);
    Item->GetBits()->SetAsInteger(0, 1, 1); // 1 is outside the set of one
    EXPECT_EQ(GP.EvaluateFitness(Item), -1);
    EXPECT_EQ(GP.Runs, 2);

    // Errors of the caller's callbacks pass out; a direct run afterwards still raises.
    GP.SetOnInitializeStack([](TObject*) { throw EGPException("inputs unavailable"); });
    EXPECT_EQ(MessageOf([&] { GP.EvaluateFitness(Item); }), "inputs unavailable");
    GP.SetOnInitializeStack([](TObject*) { throw std::runtime_error("no inputs"); });
    EXPECT_THROW(GP.EvaluateFitness(Item), std::runtime_error);
    GP.SetOnInitializeStack(nullptr);
    EXPECT_EQ(MessageOf([&] { GP.TKvGeneticProgram::ExecuteIndividual(Item); }),
              "Unknown instruction \"1\"");
}

namespace {

// Compiles every slot, reading a value outside the set modulo the set's size.
class TWrappingMachine : public TKvGPVirtualMachine {
public:
    using TKvGPVirtualMachine::Compile;
    using TKvGPVirtualMachine::TKvGPVirtualMachine;
    int Compiles = 0;
    void Compile(const TKvGeneticAlgorithm* GA, const TKvGAIndividual* Item) override {
        ++Compiles;
        const int Size = GA->GetGenes()->GetItem(0)->GetSize();
        const int Count = GetInstructionSet()->GetCount();
        TIntegerArray Codes;
        for (int K = 0; K + Size <= Item->GetBits()->GetSize(); K += Size)
            Codes.push_back(Item->GetBits()->GetAsInteger(K, Size) % Count);
        SetEncodedProgram(Codes);
        SetExecutionIndex(0);
    }
};

} // namespace

TEST(GeneticProgram, MachineCompileOverrideTakesPartOnEveryPath) {
    TWrappingMachine VM;
    TKvGeneticProgram GP;
    Names Log;
    for (int I = 0; I < 5; ++I)
        VM.GetInstructionSet()->Add()->SetName(InstrName(I));
    VM.SetOnExecuteInstruction([&](TObject*, TVMExecutionStack*, TVMInstruction* Item) {
        Log.push_back(Item->GetName());
    });
    GP.SetVM(&VM);
    VM.SetGeneticAlgorithm(&GP);
    GP.SetGeneSize(9);
    TKvGAIndividual* Item = GP.GetPopulation()->Add();
    const int Slots[] = {3, 6, 1}; // 6 is outside the set of five; the machine reads it as 1
    for (int K = 0; K < 3; ++K)
        Item->GetBits()->SetAsInteger(3 * K, 3, Slots[K]);
    GP.SetAutoExecution(true);
    GP.SetOnEvaluateFitness(
        [&](TObject*, TKvGAIndividual*, TGAFitness& F) { F = static_cast<double>(Log.size()); });

    GP.EvaluateFitness(); // the population's evaluation, as Initialize and Evolve score it
    EXPECT_EQ(VM.Compiles, 1);
    const Names Scored = Log;
    EXPECT_EQ(Scored, (Names{"i3", "i1", "i1"}));
    EXPECT_EQ(Item->GetFitness(), 3);

    Log.clear();
    GP.ExecuteIndividual(Item);
    EXPECT_EQ(VM.Compiles, 2);
    EXPECT_EQ(Log, Scored);
}

TEST(GeneticProgram, MachineAndEngineMayBeDestroyedInEitherOrder) {
    auto VM = std::make_unique<TKvGPVirtualMachine>();
    TKvGeneticProgram GP;
    GP.SetVM(VM.get());
    VM->SetGeneticAlgorithm(&GP);
    VM.reset();
    EXPECT_EQ(GP.GetVM(), nullptr);
    EXPECT_EQ(MessageOf([&] { GP.Initialize(); }), "Missing Virtual Machine");

    // A machine replaced before it is destroyed is no longer watched.
    TKvGPVirtualMachine Kept;
    auto Dropped = std::make_unique<TKvGPVirtualMachine>();
    GP.SetVM(Dropped.get());
    GP.SetVM(&Kept);
    Dropped.reset();
    EXPECT_EQ(GP.GetVM(), &Kept);

    // Each owning the other's partner.
    auto Engine = std::make_unique<TKvGeneticProgram>();
    auto* Owned = new TKvGPVirtualMachine(Engine.get());
    Owned->GetInstructionSet()->Add()->SetName("a");
    Engine->SetVM(Owned);
    Owned->SetGeneticAlgorithm(Engine.get());
    Engine->SetInitialPopulation(3);
    Engine->Initialize();
    Engine.reset();
    auto Machine = std::make_unique<TKvGPVirtualMachine>();
    auto* Child = new TKvGeneticProgram(Machine.get());
    Child->SetVM(Machine.get());
    Machine->SetGeneticAlgorithm(Child);
    Machine->GetInstructionSet()->Add()->SetName("a");
    Machine.reset();
}
