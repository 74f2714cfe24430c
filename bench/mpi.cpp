// The MPI layer's figures, a plain program run under mpirun (bench/compare_mpi runs both):
//
//   mpirun -np 2 bench_mpi workers [GENERATIONS [REPEATS]]
//       Worker evaluation against serial: population 500, a fitness that costs 200 microseconds
//       (a busy wait on the clock, then the count of 1 bits of 64 bits), Initialize plus
//       GENERATIONS generations (4 by default). Rank 0 times the serial engine alone while the
//       other ranks wait, then the same run with every rank scoring (RunMPIWorkers); the best
//       of REPEATS (3) of each is kept. Prints both times and the speed-up.
//   mpirun -np 4 bench_mpi islands [SEEDS [GENERATIONS]]
//       Trap-5 (20 blocks of 5 bits, optimum 100) with the same total population (400) and the
//       same evaluations (400 per generation, GENERATIONS generations, 500 by default): one
//       island per rank (400 / ranks individuals each; the 2 best travel every 5 generations)
//       against one engine of 400, over SEEDS seeds (50 by default). A run succeeds when any
//       individual reaches the optimum; its evaluations to the optimum are those made until the
//       end of the generation that found it, counted over all islands. The one-engine runs are
//       shared out among the ranks. Prints the success rates and the mean evaluations of the
//       successful runs, side by side.
// Timings are wall-clock. The machine's load shows in them: run it on an idle machine.
#include <mpi.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "examples/common/trap5.h"
#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/mpi/KvMPI.h"

namespace {

using Clock = std::chrono::steady_clock;

int Rank() {
    int R = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &R);
    return R;
}

int Ranks() {
    int N = 0;
    MPI_Comm_size(MPI_COMM_WORLD, &N);
    return N;
}

int ArgOr(int argc, char** argv, int Index, int Default) {
    if (argc <= Index)
        return Default;
    const int V = std::atoi(argv[Index]);
    if (V <= 0) {
        std::fprintf(stderr, "argument %d must be a positive integer, not %s\n", Index,
                     argv[Index]);
        MPI_Abort(MPI_COMM_WORLD, 2);
    }
    return V;
}

// ---- worker evaluation ----

void SetUpCostly(kv::TKvGeneticAlgorithm& GA) {
    GA.SetGeneSize(64);
    GA.SetFitnessMethod(kv::fmMaximize);
    GA.SetInitialPopulation(500);
    GA.SetOnEvaluateFitness([](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        const Clock::time_point End = Clock::now() + std::chrono::microseconds(200);
        while (Clock::now() < End) {
        }
        F = std::popcount(Item->GetBits()->Words()[0]);
    });
}

double Seconds(Clock::time_point T0) {
    return std::chrono::duration<double>(Clock::now() - T0).count();
}

int Workers(int argc, char** argv) {
    const int Generations = ArgOr(argc, argv, 2, 4);
    const int Repeats = ArgOr(argc, argv, 3, 3);
    double Serial = 1e300, Farm = 1e300, SerialBest = 0, FarmBest = 0;
    for (int R = 0; R < Repeats; ++R) {
        if (Rank() == 0) {
            kv::TKvGeneticAlgorithm GA;
            SetUpCostly(GA);
            GA.SetRandomSeed(7);
            const Clock::time_point T0 = Clock::now();
            GA.Evolve(Generations);
            Serial = std::min(Serial, Seconds(T0));
            SerialBest = GA.GetMaxFitness();
        }
        MPI_Barrier(MPI_COMM_WORLD);
        kv::TKvGeneticAlgorithm GA;
        SetUpCostly(GA);
        kv::RunMPIWorkers(GA, [&] {
            GA.SetRandomSeed(7);
            const Clock::time_point T0 = Clock::now();
            GA.Evolve(Generations);
            Farm = std::min(Farm, Seconds(T0));
            FarmBest = GA.GetMaxFitness();
        });
    }
    if (Rank() == 0) {
        const double Individuals = 500.0 * (Generations + 1);
        std::printf("worker evaluation: population 500, 200 us per fitness, Initialize + %d "
                    "generations (%.0f evaluations), best of %d\n",
                    Generations, Individuals, Repeats);
        std::printf("  serial (1 process)   %8.3f s   %6.1f us per individual   best %.0f\n",
                    Serial, Serial / Individuals * 1e6, SerialBest);
        std::printf("  %d ranks              %8.3f s   %6.1f us per individual   best %.0f\n",
                    Ranks(), Farm, Farm / Individuals * 1e6, FarmBest);
        std::printf("  speed-up             %8.2fx\n", Serial / Farm);
    }
    return 0;
}

// ---- islands against one engine ----

constexpr int Blocks = 20;
constexpr int TotalPopulation = 400;

// The engine of both runs; FirstHit is set to the first generation whose best is the optimum.
void SetUpTrap(kv::TKvGeneticAlgorithm& GA, int32_t Population, int& FirstHit) {
    GA.SetGeneSize(5 * Blocks);
    GA.SetFitnessMethod(kv::fmMaximize);
    GA.SetSelectionMethod(kv::smTournament);
    GA.SetInitialPopulation(Population);
    GA.SetMutationProbability(0.005);
    GA.SetOnEvaluateFitness([](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        F = kv::examples::Trap5(*Item->GetBits(), Blocks);
    });
    FirstHit = -1;
    GA.SetOnEvolve([&GA, &FirstHit](kv::TObject*) {
        if (FirstHit < 0 && GA.GetMaxFitness() == 5 * Blocks)
            FirstHit = GA.GetGeneration();
    });
}

int Islands(int argc, char** argv) {
    const int Seeds = ArgOr(argc, argv, 2, 50);
    const int Generations = ArgOr(argc, argv, 3, 500);
    const int N = Ranks();
    // Islands: every seed on every rank.
    int IslandWins = 0;
    double IslandEvaluations = 0;
    const Clock::time_point T0 = Clock::now();
    for (int Seed = 1; Seed <= Seeds; ++Seed) {
        kv::TKvGeneticAlgorithm GA;
        int FirstHit = -1;
        SetUpTrap(GA, TotalPopulation / N, FirstHit);
        kv::TKvMPIIslands Islands(GA);
        Islands.SetBaseSeed(static_cast<uint64_t>(Seed));
        Islands.SetRunId(static_cast<uint64_t>(Seed));
        Islands.SetMigrationInterval(5);
        Islands.SetMigrationSize(2);
        Islands.Initialize();
        if (GA.GetMaxFitness() == 5 * Blocks)
            FirstHit = 0;
        Islands.Evolve(Generations);
        int Mine = FirstHit < 0 ? Generations + 1 : FirstHit, First = 0;
        MPI_Allreduce(&Mine, &First, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
        if (First <= Generations) {
            ++IslandWins;
            IslandEvaluations += static_cast<double>(First + 1) * TotalPopulation;
        }
    }
    const double IslandSeconds = Seconds(T0);
    // One engine: the seeds shared out among the ranks.
    int Wins = 0;
    double Evaluations = 0;
    for (int Seed = 1; Seed <= Seeds; ++Seed) {
        if (Seed % N != Rank())
            continue;
        kv::TKvGeneticAlgorithm GA;
        int FirstHit = -1;
        SetUpTrap(GA, TotalPopulation, FirstHit);
        GA.SetRandomSeed(kv::TKvMPIIslands::IslandSeed(static_cast<uint64_t>(Seed), 0));
        GA.Initialize();
        if (GA.GetMaxFitness() == 5 * Blocks)
            FirstHit = 0;
        for (int G = 0; G < Generations; ++G)
            GA.Evolve();
        if (FirstHit >= 0) {
            ++Wins;
            Evaluations += static_cast<double>(FirstHit + 1) * TotalPopulation;
        }
    }
    int AllWins = 0;
    double AllEvaluations = 0;
    MPI_Reduce(&Wins, &AllWins, 1, MPI_INT, MPI_SUM, 0, MPI_COMM_WORLD);
    MPI_Reduce(&Evaluations, &AllEvaluations, 1, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
    if (Rank() == 0) {
        std::printf("trap-5, 20 blocks of 5 bits: total population %d, %d generations, %d seeds\n",
                    TotalPopulation, Generations, Seeds);
        std::printf("  %-34s %9s %24s\n", "", "success", "evaluations to optimum");
        char Label[64];
        std::snprintf(Label, sizeof Label, "%d islands of %d (2 every 5 gen.)", N,
                      TotalPopulation / N);
        std::printf("  %-34s %4d/%-4d %24.0f\n", Label, IslandWins, Seeds,
                    IslandWins ? IslandEvaluations / IslandWins : 0.0);
        std::snprintf(Label, sizeof Label, "one engine of %d", TotalPopulation);
        std::printf("  %-34s %4d/%-4d %24.0f\n", Label, AllWins, Seeds,
                    AllWins ? AllEvaluations / AllWins : 0.0);
        std::printf("  (islands: %.1f s of wall clock for all seeds)\n", IslandSeconds);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    int Status = 2;
    const std::string Mode = argc > 1 ? argv[1] : "";
    try {
        if (Mode == "workers")
            Status = Workers(argc, argv);
        else if (Mode == "islands")
            Status = Islands(argc, argv);
        else if (Rank() == 0)
            std::fprintf(stderr, "usage: mpirun -np 2 bench_mpi workers [GENERATIONS [REPEATS]]\n"
                                 "       mpirun -np 4 bench_mpi islands [SEEDS [GENERATIONS]]\n");
    } catch (const std::exception& E) {
        std::fprintf(stderr, "rank %d: %s\n", Rank(), E.what());
        MPI_Abort(MPI_COMM_WORLD, 1);
    }
    MPI_Finalize();
    return Status;
}
