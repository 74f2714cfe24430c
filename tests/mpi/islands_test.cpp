// The island model on 3 ranks: a seeded run repeats exactly, and migration pays on a deceptive
// problem.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/mpi/KvMPI.h"

using namespace kv;

namespace {

constexpr int Blocks = 10;

// Trap-5: each block of 5 bits scores 5 when all are 1, else 4 minus its count of ones.
double Trap5(const TKvGABits& Bits) {
    double Sum = 0;
    for (int B = 0; B < Blocks; ++B) {
        int Ones = 0;
        for (int K = 0; K < 5; ++K)
            Ones += Bits.GetBit(5 * B + K);
        Sum += Ones == 5 ? 5 : 4 - Ones;
    }
    return Sum;
}

void SetUpTrap(TKvGeneticAlgorithm& GA) {
    GA.SetGeneSize(5 * Blocks);
    GA.SetFitnessMethod(fmMaximize);
    GA.SetInitialPopulation(40);
    GA.SetSelectionMethod(smTournament);
    GA.SetMutationProbability(0.01);
    GA.SetOnEvaluateFitness(
        [](TObject*, TKvGAIndividual* Item, TGAFitness& F) { F = Trap5(*Item->GetBits()); });
}

struct TRun {
    std::vector<std::string> Island; // this island's population
    std::string Best;                // rank 0: the gathered best
    double BestFitness = 0;
    int BestIsland = -1;
    int64_t Migrants = 0;
};

TRun RunIslands(uint64_t Seed, int32_t Interval, int32_t Generations) {
    TKvGeneticAlgorithm GA;
    SetUpTrap(GA);
    TKvMPIIslands Islands(GA);
    Islands.SetBaseSeed(Seed);
    Islands.SetMigrationInterval(Interval);
    Islands.SetMigrationSize(2);
    Islands.SetRunId(Seed);
    // Two calls: migrants sent at the end of the first are merged at the start of the second.
    Islands.Evolve(Generations / 2);
    Islands.Evolve(Generations - Generations / 2);
    TRun R;
    for (int K = 0; K < GA.GetPopulation()->GetCount(); ++K)
        R.Island.push_back(GA.GetPopulation()->GetItem(K)->GetBits()->ToString());
    if (const TKvGAIndividual* Best = Islands.GetBest()) {
        R.Best = Best->GetBits()->ToString();
        R.BestFitness = Best->GetFitness();
        R.BestIsland = Islands.GetBestIsland();
        EXPECT_EQ(R.BestFitness, Trap5(*Best->GetBits())); // trusted, and right
    }
    R.Migrants = Islands.GetMigrantsReceived();
    return R;
}

int Rank() {
    int R = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &R);
    return R;
}

} // namespace

TEST(MPIIslands, ASeededRunRepeatsAndMigrantsArrive) {
    const TRun A = RunIslands(5, 4, 20);
    const TRun B = RunIslands(5, 4, 20);
    EXPECT_EQ(A.Island, B.Island);
    EXPECT_EQ(A.Best, B.Best);
    EXPECT_EQ(A.BestIsland, B.BestIsland);
    EXPECT_EQ(A.Migrants, 2 * 4); // sent after generations 4, 8, .. 20; the last never merged
    EXPECT_EQ(!A.Best.empty(), Rank() == 0);
    // Without migration, island 0 is the lone engine seeded with IslandSeed(5, 0).
    const TRun Alone = RunIslands(5, 0, 20);
    EXPECT_EQ(Alone.Migrants, 0);
    if (Rank() == 0) {
        TKvGeneticAlgorithm GA;
        SetUpTrap(GA);
        GA.SetRandomSeed(TKvMPIIslands::IslandSeed(5, 0));
        GA.Initialize();
        for (int K = 0; K < 20; ++K)
            GA.Evolve();
        std::vector<std::string> Lone;
        for (int K = 0; K < GA.GetPopulation()->GetCount(); ++K)
            Lone.push_back(GA.GetPopulation()->GetItem(K)->GetBits()->ToString());
        EXPECT_EQ(Alone.Island, Lone);
    }
}

TEST(MPIIslands, MigrationDoesBetterOnADeceptiveProblem) {
    double With = 0, Without = 0;
    for (uint64_t Seed = 1; Seed <= 4; ++Seed) {
        With += RunIslands(Seed, 5, 60).BestFitness;
        Without += RunIslands(Seed, 0, 60).BestFitness;
    }
    if (Rank() == 0) {
        EXPECT_GT(With, Without);
    }
}
