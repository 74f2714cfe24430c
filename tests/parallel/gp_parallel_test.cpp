// The genetic-program engine in parallel mode: each worker runs its own copy of the machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include <tbb/global_control.h>

#include "busy_work.h"
#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

using namespace kv;

namespace {

const tbb::global_control ThreadLimit(tbb::global_control::max_allowed_parallelism, 8);

// The quick start's machine: Dup, Add and Mul on integers.
void AddInstructions(TKvGPVirtualMachine& VM, std::atomic<int>& BoundMachineRuns) {
    for (const char* Name : {"Dup", "Add", "Mul"})
        VM.GetInstructionSet()->Add()->SetName(Name);
    VM.SetOnExecuteInstruction(
        [&VM, &BoundMachineRuns](TObject* Sender, TVMExecutionStack* S, TVMInstruction* I) {
            if (Sender == &VM)
                ++BoundMachineRuns;
            if (I->GetName() == "Dup" && S->GetCount() >= 1) {
                S->Push(S->GetTop());
            } else if (I->GetName() != "Dup" && S->GetCount() >= 2) {
                const int64_t B = S->Pop().AsInt64(), A = S->Pop().AsInt64();
                S->Push(I->GetName() == "Add" ? A + B : A * B);
            }
        });
}

struct TGPRun {
    std::vector<std::string> Bits;
    std::vector<double> Fitness;
    int BoundMachineRuns;
};

// Evolves programs for x*x + x, either with AutoExecution (the engine runs each program on one
// input pushed by OnInitializeStack) or with a callback that runs the program on seven inputs.
TGPRun Evolve(int32_t Threads, bool AutoExecution) {
    std::atomic<int> BoundMachineRuns{0};
    TKvGPVirtualMachine VM;
    TKvGeneticProgram GP;
    GP.SetVM(&VM);
    VM.SetGeneticAlgorithm(&GP);
    AddInstructions(VM, BoundMachineRuns);
    GP.SetGeneSize(8 * GP.GetGenes()->GetItem(0)->GetSize());
    GP.SetFitnessMethod(fmMaximize);
    GP.SetInitialPopulation(101);
    GP.SetEvaluationThreads(Threads);
    if (AutoExecution) {
        GP.SetAutoExecution(true);
        GP.SetOnInitializeStack([&GP](TObject*) { GP.GetGPVirtualMachine()->GetStack()->Push(3); });
        GP.SetOnEvaluateFitness([&GP](TObject*, TKvGAIndividual*, TGAFitness& F) {
            TKvGPVirtualMachine* M = GP.GetGPVirtualMachine();
            const int64_t Y = M->GetStack()->GetCount() ? M->GetStack()->GetTop().AsInt64() : 99;
            F = 1.0 / (1.0 + std::llabs(Y - 12)) + (M->IsFinished() ? 0.01 : 0);
            kvtest::BusyWork();
        });
    } else {
        GP.SetOnEvaluateFitness([&GP](TObject*, TKvGAIndividual* Item, TGAFitness& F) {
            TKvGPVirtualMachine* M = GP.GetGPVirtualMachine();
            if (!M->TryCompile(Item))
                return;
            double Error = 0;
            for (int X = -3; X <= 3; ++X) {
                GP.InitializeStack({X});
                GP.ExecuteProgram();
                const int64_t Y =
                    M->GetStack()->GetCount() ? M->GetStack()->GetTop().AsInt64() : 99;
                Error += std::llabs(Y - (X * X + X));
            }
            F = 1.0 / (1.0 + Error);
            kvtest::BusyWork();
        });
    }
    RandSeed(99);
    GP.Evolve(6);
    TGPRun R;
    for (int I = 0; I < GP.GetPopulation()->GetCount(); ++I) {
        R.Bits.push_back(GP.GetPopulation()->GetItem(I)->GetBits()->ToString());
        R.Fitness.push_back(GP.GetPopulation()->GetItem(I)->GetFitness());
    }
    R.BoundMachineRuns = BoundMachineRuns;
    return R;
}

} // namespace

TEST(ParallelGeneticProgram, EachWorkerRunsItsOwnMachineWithTheSameResults) {
    for (bool Auto : {true, false}) {
        SCOPED_TRACE(Auto ? "AutoExecution" : "callback runs the programs");
        const TGPRun One = Evolve(1, Auto);
        EXPECT_EQ(One.BoundMachineRuns, 0); // the copies ran every program
        EXPECT_GT(*std::max_element(One.Fitness.begin(), One.Fitness.end()), 0.0);
        for (int32_t Threads : {2, 3, 8}) {
            SCOPED_TRACE(Threads);
            const TGPRun R = Evolve(Threads, Auto);
            EXPECT_EQ(R.Bits, One.Bits);
            EXPECT_EQ(R.Fitness, One.Fitness);
            EXPECT_EQ(R.BoundMachineRuns, 0);
        }
        // Serial mode runs the bound machine itself.
        EXPECT_GT(Evolve(0, Auto).BoundMachineRuns, 0);
    }
}

namespace {

// A descendant that does not say how to copy itself.
class TUncopyableMachine : public TKvGPVirtualMachine {
public:
    using TKvGPVirtualMachine::TKvGPVirtualMachine;
    std::string ClassName() const override { return "TUncopyableMachine"; }
};

} // namespace

TEST(ParallelGeneticProgram, AMachineThatCannotBeCopiedIsRefusedBeforeAnythingRuns) {
    TUncopyableMachine VM;
    VM.SetName("Calculator");
    TKvGeneticProgram GP;
    GP.SetVM(&VM);
    VM.SetGeneticAlgorithm(&GP);
    VM.GetInstructionSet()->Add()->SetName("Nop");
    GP.SetInitialPopulation(10);
    int Calls = 0;
    GP.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual*, TGAFitness&) { ++Calls; });
    GP.SetEvaluationThreads(2);
    try {
        GP.Initialize();
        FAIL() << "no exception";
    } catch (const EGPException& E) {
        EXPECT_NE(std::string(E.what()).find("Calculator of class TUncopyableMachine cannot be "
                                             "copied"),
                  std::string::npos)
            << E.what();
    }
    EXPECT_EQ(Calls, 0);

    // A plain machine copies; the engine's own setters still raise on a worker.
    TKvGPVirtualMachine Plain;
    GP.SetVM(&Plain);
    Plain.SetGeneticAlgorithm(&GP);
    Plain.GetInstructionSet()->Add()->SetName("Nop");
    GP.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual*, TGAFitness&) { GP.SetLimitNumber(3); });
    EXPECT_THROW(GP.Initialize(), EGAException);
    EXPECT_EQ(GP.GetLimitNumber(), 0);
}
