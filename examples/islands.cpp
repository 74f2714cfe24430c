// Beyond one machine: trap-5 (20 blocks of 5 bits) on several MPI ranks, as islands or with
// worker evaluation.
//
//   mpirun -np 4 build/release/examples/islands            every rank evolves an island; the
//                                                          best travel around the ring
//   mpirun -np 4 build/release/examples/islands --workers  rank 0 evolves one engine, every rank
//                                                          scores its population
//
// One program runs on every rank and sets up the same engine; the MPI layer (kv/mpi/KvMPI.h,
// target kvga::mpi) does the rest. Trap-5 is deceptive: inside a block, fewer 1 bits score more,
// except that all five score most, so a lone population tends to settle on blocks of 0 bits.
// The seeded runs print the same on every start, whatever the timing of the ranks.
#include <mpi.h>

#include <cstdio>
#include <cstring>

#include "examples/common/trap5.h"
#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/mpi/KvMPI.h"

namespace {

constexpr int Blocks = 20;

// The same engine on every rank.
void SetUp(kv::TKvGeneticAlgorithm& GA, int32_t Population) {
    GA.SetGeneSize(5 * Blocks);
    GA.SetFitnessMethod(kv::fmMaximize);
    GA.SetSelectionMethod(kv::smTournament);
    GA.SetInitialPopulation(Population);
    GA.SetMutationProbability(0.005);
    GA.SetOnEvaluateFitness([](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        F = kv::examples::Trap5(*Item->GetBits(), Blocks);
    });
}

// Complete blocks of the best individual, as one character per block.
void Show(const char* Who, const kv::TKvGAIndividual& Best) {
    char Line[Blocks + 1] = {};
    for (int B = 0; B < Blocks; ++B) {
        int Ones = 0;
        for (int K = 0; K < 5; ++K)
            Ones += Best.GetBits()->GetBit(5 * B + K);
        Line[B] = Ones == 5 ? '#' : '.';
    }
    std::printf("%-28s fitness %5.1f of %d   blocks %s\n", Who, Best.GetFitness(), 5 * Blocks,
                Line);
}

} // namespace

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    int Rank = 0, Ranks = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &Rank);
    MPI_Comm_size(MPI_COMM_WORLD, &Ranks);
    const bool Workers = argc > 1 && std::strcmp(argv[1], "--workers") == 0;
    int Status = 0;
    try {
        kv::TKvGeneticAlgorithm GA;
        if (Workers) {
            // One engine of 400 individuals on rank 0; every rank scores batches of them.
            SetUp(GA, 400);
            kv::RunMPIWorkers(GA, [&] {
                GA.SetRandomSeed(42);
                GA.Evolve(100);
                char Who[64];
                std::snprintf(Who, sizeof Who, "one engine on %d ranks", Ranks);
                Show(Who, *GA.GetFittestIndividual());
            });
        } else {
            // An island of 100 individuals per rank; the 2 best travel every 5 generations.
            SetUp(GA, 100);
            kv::TKvMPIIslands Islands(GA);
            Islands.SetBaseSeed(42);
            Islands.SetMigrationInterval(5);
            Islands.SetMigrationSize(2);
            Islands.Evolve(100);
            // The best of each island and of all, gathered to rank 0.
            if (Rank == 0) {
                char Who[64];
                for (int R = 0; R < Ranks; ++R) {
                    std::snprintf(Who, sizeof Who, "island %d of %d", R, Ranks);
                    Show(Who, *Islands.GetIslandBest(R));
                }
                std::snprintf(Who, sizeof Who, "best of all (island %d)", Islands.GetBestIsland());
                Show(Who, *Islands.GetBest());
            }
        }
    } catch (const std::exception& E) {
        std::fprintf(stderr, "rank %d: %s\n", Rank, E.what());
        Status = 1;
    }
    MPI_Finalize();
    return Status;
}
