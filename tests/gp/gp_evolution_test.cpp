// End to end: a seeded run breeds a stack program for x*x + 1 from four instructions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

using namespace kv;

namespace {

int64_t Target(int64_t X) {
    return X * X + 1;
}

// Push1, Dup, Add, Mul: 3-bit slots, so 4 to 7 name no instruction. An instruction short of
// operands does nothing.
void AddInstructions(TKvVirtualMachine& VM) {
    TVMInstructionSet& Set = *VM.GetInstructionSet();
    Set.Add()->SetName("Push1");
    Set.Add()->SetName("Dup");
    Set.Add()->SetName("Add");
    Set.Add()->SetName("Mul");
    // One callback serves all four, told apart by position.
    VM.SetOnExecuteInstruction([](TObject*, TVMExecutionStack* Stack, TVMInstruction* Item) {
        switch (Item->GetIndex()) {
        case 0:
            Stack->Push(Variant(int64_t{1}));
            break;
        case 1:
            if (Stack->GetCount() > 0)
                Stack->Push(Stack->GetTop());
            break;
        default:
            if (Stack->GetCount() > 1) {
                const uint64_t B = static_cast<uint64_t>(Stack->Pop().AsInt64());
                const uint64_t A = static_cast<uint64_t>(Stack->Pop().AsInt64());
                Stack->Push(Variant(static_cast<int64_t>(Item->GetIndex() == 2 ? A + B : A * B)));
            }
        }
    });
}

} // namespace

TEST(GPEvolution, SeededRunFindsAnExactProgram) {
    TKvGPVirtualMachine VM;
    TKvGeneticProgram GP;
    GP.SetVM(&VM);
    VM.SetGeneticAlgorithm(&GP);
    AddInstructions(VM);

    const std::vector<int64_t> Samples = {-3, -1, 0, 2, 5};
    int64_t X = 0;
    GP.SetOnInitializeStack([&](TObject*) { VM.GetStack()->Push(Variant(X)); });
    int Undecodable = 0;
    GP.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual* Item, TGAFitness& F) {
        if (!VM.TryCompile(Item)) {
            ++Undecodable;
            F = 0;
            return;
        }
        double Error = 0;
        for (int64_t S : Samples) {
            X = S;
            GP.InitializeStack(TVarRecList{});
            GP.ExecuteProgram();
            Error +=
                VM.GetStack()->GetCount() == 0
                    ? 1e6
                    : std::abs(static_cast<double>(VM.GetStack()->GetTop().AsInt64() - Target(S)));
        }
        F = 1.0 / (1.0 + Error);
    });

    RandSeed(2024);
    GP.SetGeneSize(6 * 3);
    GP.SetInitialPopulation(200);
    GP.SetFitnessMethod(fmMaximize);
    GP.SetSelectionMethod(smTournament);
    GP.SetTournamentField(3);
    GP.SetCrossoverMethod(cmGeneBoundary);
    GP.SetMutationProbability(0.03);
    GP.SetUseFitnessCutoff(true);
    GP.SetFitnessCutoff(1.0);
    GP.Initialize();
    ASSERT_EQ(GP.GetGenes()->GetCount(), 1);
    EXPECT_EQ(GP.GetGenes()->GetItem(0)->GetSize(), 3);
    EXPECT_LT(GP.GetMaxFitness(), 1.0) << "the first generation holds no exact program";
    const int Evolved = GP.Evolve(100);
    EXPECT_GT(Evolved, 1);
    EXPECT_LT(Evolved, 100);
    EXPECT_GT(Undecodable, 0);

    TKvGAIndividual* Best = GP.GetFittestIndividual();
    ASSERT_NE(Best, nullptr);
    ASSERT_EQ(Best->GetFitness(), 1.0);

    // The program, read back as names and compiled from them, computes x*x + 1 beyond the samples.
    VM.DecodeProgram(Best);
    ASSERT_EQ(VM.GetGPProgram()->GetCount(), 6);
    VM.Compile();
    for (int64_t S : {-7, 1, 3, 4, 11, 1000}) {
        X = S;
        GP.InitializeStack(TVarRecList{});
        GP.ExecuteProgram();
        ASSERT_GT(VM.GetStack()->GetCount(), 0);
        EXPECT_EQ(VM.GetStack()->GetTop().AsInt64(), Target(S)) << "x = " << S;
    }
}
