// Worker evaluation on 3 ranks: the run equals the parallel mode's in one process, and a worker's
// failure reaches rank 0 while every rank goes on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/gp/KvGeneticProgram.h"
#include "kv/mpi/KvMPI.h"
#include "kv/rtl/random.h"

using namespace kv;

namespace {

int Rank() {
    int R = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &R);
    return R;
}

// 7 integer genes of 12 bits (84 bits: two words per chromosome); the fitness draws noise from
// the individual's stream, so that a wrong stream shows in the values.
void SetUpEngine(TKvGeneticAlgorithm& GA, int32_t Population) {
    for (int K = 0; K < 7; ++K) {
        TKvGAGene* G = GA.GetGenes()->Add();
        G->SetGeneType(gtInteger);
        G->SetSize(12);
    }
    GA.SetFitnessMethod(fmMaximize);
    GA.SetInitialPopulation(Population);
    GA.SetOnEvaluateFitness([&GA](TObject*, TKvGAIndividual* Item, TGAFitness& F) {
        double Sum = 1;
        for (int K = 0; K < GA.GetGenes()->GetCount(); ++K)
            Sum += GA.GetGenes()->GetItem(K)->GeneAsInteger(*Item->GetBits()) % 97;
        F = Sum + kv::Random();
    });
}

struct TSnapshot {
    std::vector<std::string> Bits;
    std::vector<double> Fitness;
    double Max, Avg;
    int Fittest;
};

TSnapshot Take(TKvGeneticAlgorithm& GA) {
    TSnapshot S;
    for (int K = 0; K < GA.GetPopulation()->GetCount(); ++K) {
        S.Bits.push_back(GA.GetPopulation()->GetItem(K)->GetBits()->ToString());
        S.Fitness.push_back(GA.GetPopulation()->GetItem(K)->GetFitness());
    }
    S.Max = GA.GetMaxFitness();
    S.Avg = GA.GetAvgFitness();
    S.Fittest = GA.GetFittestIndividual()->GetIndex();
    return S;
}

} // namespace

TEST(MPIWorkers, ResultsEqualTheParallelModeInOneProcess) {
    // Batches of 3 among 3 ranks, and the chosen sizes: both give the one-process run.
    for (int32_t Batch : {3, 0}) {
        TKvGeneticAlgorithm GA;
        SetUpEngine(GA, 61);
        TKvMPIWorkerOptions Options;
        Options.BatchSize = Batch;
        Options.RunId = 11;
        std::vector<int64_t> PerRank;
        TSnapshot Farm;
        const bool Master = RunMPIWorkers(
            GA,
            [&] {
                GA.SetRandomSeed(2024);
                GA.Evolve(4);
                PerRank = dynamic_cast<TKvMPIEvaluator&>(*GA.GetEvaluator()).GetScoredPerRank();
                Farm = Take(GA);
            },
            Options);
        ASSERT_EQ(Master, Rank() == 0);
        if (!Master)
            continue;
        EXPECT_EQ(GA.GetEvaluator()->ClassName(), "TKvGASerialEvaluator"); // given back

        TKvGeneticAlgorithm Alone;
        SetUpEngine(Alone, 61);
        Alone.SetEvaluationThreads(1);
        Alone.SetRandomSeed(2024);
        Alone.Evolve(4);
        const TSnapshot Ref = Take(Alone);
        EXPECT_EQ(Farm.Bits, Ref.Bits);
        EXPECT_EQ(Farm.Fitness, Ref.Fitness);
        EXPECT_EQ(Farm.Max, Ref.Max);
        EXPECT_EQ(Farm.Avg, Ref.Avg);
        EXPECT_EQ(Farm.Fittest, Ref.Fittest);
        ASSERT_EQ(PerRank.size(), 3u);
        EXPECT_EQ(PerRank[0] + PerRank[1] + PerRank[2], 61);
        if (Batch == 3) { // chosen sizes keep a cheap fitness together
            EXPECT_GT(PerRank[1], 0);
            EXPECT_GT(PerRank[2], 0);
        }
    }
}

TEST(MPIWorkers, AFailureReachesRankZeroAndEveryRankGoesOn) {
    const int Me = Rank();
    TKvMPIWorkerOptions Options;
    Options.BatchSize = 4;
    Options.MasterScores = false; // rank 1 scores 0..3, rank 2 4..7, then 8..11 and 12..15
    {
        TKvGeneticAlgorithm GA;
        SetUpEngine(GA, 20);
        TKvGAFitnessEvent Score = GA.GetOnEvaluateFitness();
        GA.SetOnEvaluateFitness([&, Score](TObject* S, TKvGAIndividual* Item, TGAFitness& F) {
            if (Me == 2)
                throw std::runtime_error("no score on rank 2");
            Score(S, Item, F);
        });
        bool Raised = false;
        try {
            RunMPIWorkers(
                GA, [&] { GA.Initialize(); }, Options);
        } catch (const EMPIRemoteError& E) {
            Raised = true;
            EXPECT_EQ(E.GetRank(), 2);
            EXPECT_EQ(E.GetIndex(), 4); // the lowest failing individual
            EXPECT_EQ(E.GetRemoteMessage(), "no score on rank 2");
            EXPECT_NE(std::string(E.what()).find("individual 4"), std::string::npos) << E.what();
            // Fitness up to the first unscored individual, as a serial evaluation leaves it.
            for (int K = 0; K < 20; ++K)
                EXPECT_EQ(GA.GetPopulation()->GetItem(K)->GetFitness() > 0, K < 4) << K;
        }
        EXPECT_EQ(Raised, Me == 0);
        EXPECT_FALSE(GA.GetInitialized());
    }
    {
        // A worker whose engine has another chromosome length refuses the batch: rank 0 raises its
        // words; then every rank goes on to the next run.
        TKvGeneticAlgorithm GA;
        SetUpEngine(GA, 12);
        if (Me == 1)
            GA.GetGenes()->GetItem(0)->SetSize(13);
        bool Raised = false;
        try {
            RunMPIWorkers(
                GA, [&] { GA.Initialize(); }, Options);
        } catch (const EMPIRemoteError& E) {
            Raised = true;
            EXPECT_EQ(E.GetRank(), 1);
            EXPECT_NE(E.GetRemoteMessage().find("chromosomes of 84 bits; this engine's have 85"),
                      std::string::npos)
                << E.what();
        }
        EXPECT_EQ(Raised, Me == 0);
    }
    TKvGeneticAlgorithm GA;
    SetUpEngine(GA, 12);
    RunMPIWorkers(
        GA, [&] { GA.Evolve(2); }, Options);
    EXPECT_EQ(GA.GetGeneration(), Me == 0 ? 2 : 0);
}

namespace {

// The parallel tests' genetic program for x*x + x with AutoExecution: every rank runs the
// programs on its own copy of the machine.
std::vector<double> EvolveProgram(bool Farm) {
    TKvGPVirtualMachine VM;
    TKvGeneticProgram GP;
    GP.SetVM(&VM);
    VM.SetGeneticAlgorithm(&GP);
    for (const char* Name : {"Dup", "Add", "Mul"})
        VM.GetInstructionSet()->Add()->SetName(Name);
    VM.SetOnExecuteInstruction([](TObject*, TVMExecutionStack* S, TVMInstruction* I) {
        if (I->GetName() == "Dup" && S->GetCount() >= 1) {
            S->Push(S->GetTop());
        } else if (I->GetName() != "Dup" && S->GetCount() >= 2) {
            const int64_t B = S->Pop().AsInt64(), A = S->Pop().AsInt64();
            S->Push(I->GetName() == "Add" ? A + B : A * B);
        }
    });
    GP.SetGeneSize(8 * GP.GetGenes()->GetItem(0)->GetSize());
    GP.SetFitnessMethod(fmMaximize);
    GP.SetInitialPopulation(41);
    GP.SetAutoExecution(true);
    GP.SetOnInitializeStack([&GP](TObject*) { GP.GetGPVirtualMachine()->GetStack()->Push(3); });
    GP.SetOnEvaluateFitness([&GP](TObject*, TKvGAIndividual*, TGAFitness& F) {
        TKvGPVirtualMachine* M = GP.GetGPVirtualMachine();
        const int64_t Y = M->GetStack()->GetCount() ? M->GetStack()->GetTop().AsInt64() : 99;
        F = 1.0 / (1.0 + std::llabs(Y - 12)) + 0.001 * kv::Random();
    });
    auto Run = [&] {
        GP.SetRandomSeed(99);
        GP.Evolve(3);
    };
    if (Farm) {
        TKvMPIWorkerOptions Options;
        Options.BatchSize = 2;
        RunMPIWorkers(GP, Run, Options);
    } else {
        GP.SetEvaluationThreads(1);
        Run();
    }
    std::vector<double> Fitness;
    for (int K = 0; K < GP.GetPopulation()->GetCount(); ++K)
        Fitness.push_back(GP.GetPopulation()->GetItem(K)->GetFitness());
    return Fitness;
}

} // namespace

TEST(MPIWorkers, AGeneticProgramRunsAsInOneProcess) {
    const std::vector<double> Farm = EvolveProgram(true);
    if (Rank() == 0) {
        EXPECT_EQ(Farm, EvolveProgram(false));
    }
}
