// Whole runs of symbolic regression of Koza's quartic f(x) = x^4 + x^3 + x^2 + x with the
// genetic-program engine, over several seeds: the kvga side of bench/compare_gp (whose DEAP side
// is bench/deap_quartic.py, the same problem in DEAP's tree GP).
//
//   bench_gp_quartic MODE POINTS SEEDS      MODE: row (row by row, as the quick start) or batch
//
// The problem: POINTS points evenly spaced in [-1, 1) (20 gives DEAP's example points -1, -0.9,
// ..., 0.9), fitness the mean squared error, minimised. Programs of 24 slots of 3 bits over seven
// instructions: X (pushes x), Dup, Swap, Add, Sub, Mul and Div (protected: a / 0 is 1, as in
// DEAP's example); the slot value 7 names no instruction, and a chromosome holding it scores
// 1e300 without running. Each run starts with x on the stack; an instruction that finds too few
// values does nothing. Population 300, 40 generations, tournaments of 3, one-point crossover on
// slot boundaries (p = 0.9), mutation p = 0.01 per bit.
//
// Each seed's run (Initialize and Evolve, the whole breeding and scoring) is timed on the thread's
// CPU clock and the wall clock. Output: one line per seed, then
//   kvga quartic mode=<m> points=<n> seeds=<k> median_s=<cpu s> median_wall_s=<s> solved=<j>
// where solved counts the runs whose best program has an error below 1e-12 (an exact program).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

namespace {

constexpr int Slots = 24;

double Quartic(double X) {
    return X * X * X * X + X * X * X + X * X + X;
}

double Protected(double A, double B) {
    return B == 0 ? 1.0 : A / B;
}

double ThreadCpuSeconds() noexcept {
    timespec T{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
    return double(T.tv_sec) + double(T.tv_nsec) * 1e-9;
}

int PositiveArg(const char* Name, const char* Text) {
    char* End = nullptr;
    const long Value = std::strtol(Text, &End, 10);
    if (End == Text || *End != '\0' || Value <= 0 || Value > 10'000'000) {
        std::fprintf(stderr, "bench_gp_quartic: %s must be a positive integer, got \"%s\"\n", Name,
                     Text);
        std::exit(2);
    }
    return static_cast<int>(Value);
}

struct TRun {
    double Cpu, Wall, Error;
};

TRun Run(bool Batch, const std::vector<double>& X, uint64_t Seed) {
    kv::TKvGPVirtualMachine VM;
    kv::TKvGeneticProgram GP;
    GP.SetVM(&VM);
    VM.SetGeneticAlgorithm(&GP);

    double CurrentX = 0;
    auto Add = [&](const char* Name, kv::TVMExecuteEvent Row, kv::TVMBatchEvent Columns) {
        kv::TVMInstruction* I = VM.GetInstructionSet()->Add();
        I->SetName(Name);
        I->SetOnExecute(std::move(Row));
        I->SetOnExecuteBatch(std::move(Columns));
    };
    auto Binary = [&](const char* Name, double (*Op)(double, double), kv::TVMBatchEvent Columns) {
        Add(
            Name,
            [Op](kv::TObject*, kv::TVMExecutionStack* S, kv::TVMInstruction*) {
                if (S->GetCount() >= 2) {
                    const double B = S->Pop().AsDouble();
                    const double A = S->Pop().AsDouble();
                    S->Push(Op(A, B));
                }
            },
            std::move(Columns));
    };
    Add(
        "X",
        [&](kv::TObject*, kv::TVMExecutionStack* S, kv::TVMInstruction*) { S->Push(CurrentX); },
        kv::BatchPush(X));
    Add(
        "Dup",
        [](kv::TObject*, kv::TVMExecutionStack* S, kv::TVMInstruction*) {
            if (S->GetCount() >= 1)
                S->Push(S->GetTop());
        },
        kv::BatchDup());
    Add(
        "Swap",
        [](kv::TObject*, kv::TVMExecutionStack* S, kv::TVMInstruction*) {
            if (S->GetCount() >= 2) {
                const kv::Variant Top = S->GetItem(0);
                S->SetItem(0, S->GetItem(1));
                S->SetItem(1, Top);
            }
        },
        kv::BatchSwap());
    Binary(
        "Add", [](double A, double B) { return A + B; }, kv::BatchAdd());
    Binary(
        "Sub", [](double A, double B) { return A - B; }, kv::BatchSub());
    Binary(
        "Mul", [](double A, double B) { return A * B; }, kv::BatchMul());
    Binary("Div", Protected, kv::BatchBinary([](double A, double B) { return Protected(A, B); }));

    std::vector<double> Target(X.size());
    for (size_t I = 0; I < X.size(); ++I)
        Target[I] = Quartic(X[I]);
    kv::TVMBatchStack Columns(static_cast<int>(X.size()));

    GP.SetGeneSize(Slots * GP.GetGenes()->GetItem(0)->GetSize());
    GP.SetInitialPopulation(300);
    GP.SetFitnessMethod(kv::fmMinimize);
    GP.SetSelectionMethod(kv::smTournament);
    GP.SetTournamentField(3);
    GP.SetCrossoverMethod(kv::cmGeneBoundary);
    GP.SetCrossoverProbability(0.9);
    GP.SetMutationProbability(0.01);
    GP.SetOperations({kv::goCrossover, kv::goMutate});
    GP.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        F = 1e300;
        if (!VM.TryCompile(Item))
            return;
        double Sum = 0;
        if (Batch) {
            Columns.Clear();
            Columns.Push(X);
            GP.ExecuteBatch(Columns);
            const std::span<const double> Y = Columns.GetTop();
            for (size_t I = 0; I < Y.size(); ++I)
                Sum += (Y[I] - Target[I]) * (Y[I] - Target[I]);
        } else {
            for (size_t I = 0; I < X.size(); ++I) {
                CurrentX = X[I];
                GP.InitializeStack({CurrentX});
                GP.ExecuteProgram();
                const double Y = VM.GetStack()->GetTop().AsDouble();
                Sum += (Y - Target[I]) * (Y - Target[I]);
            }
        }
        if (std::isfinite(Sum))
            F = Sum / static_cast<double>(X.size());
    });

    kv::RandSeed(Seed);
    const double C0 = ThreadCpuSeconds();
    const auto T0 = std::chrono::steady_clock::now();
    GP.Initialize();
    GP.Evolve(40);
    const double Cpu = ThreadCpuSeconds() - C0;
    const double Wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - T0).count();
    return TRun{Cpu, Wall, GP.GetMinFitness()};
}

double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    const size_t N = V.size();
    return N % 2 ? V[N / 2] : (V[N / 2 - 1] + V[N / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "row") != 0 && std::strcmp(argv[1], "batch") != 0)) {
        std::fprintf(stderr, "usage: %s row|batch POINTS SEEDS\n", argv[0]);
        return 2;
    }
    const bool Batch = std::strcmp(argv[1], "batch") == 0;
    const int Points = PositiveArg("POINTS", argv[2]);
    const int Seeds = PositiveArg("SEEDS", argv[3]);
    std::vector<double> X(static_cast<size_t>(Points));
    for (int I = 0; I < Points; ++I)
        X[static_cast<size_t>(I)] = -1.0 + 2.0 * I / Points;
    try {
        std::vector<double> Cpu, Wall;
        int Solved = 0;
        for (int Seed = 1; Seed <= Seeds; ++Seed) {
            const TRun R = Run(Batch, X, static_cast<uint64_t>(Seed));
            Cpu.push_back(R.Cpu);
            Wall.push_back(R.Wall);
            Solved += R.Error < 1e-12;
            std::printf("seed %d cpu_s=%.6f wall_s=%.6f best_mse=%.3g\n", Seed, R.Cpu, R.Wall,
                        R.Error);
        }
        std::printf("kvga quartic mode=%s points=%d seeds=%d median_s=%.6f median_wall_s=%.6f "
                    "solved=%d\n",
                    argv[1], Points, Seeds, Median(Cpu), Median(Wall), Solved);
        return 0;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "bench_gp_quartic: %s\n", E.what());
        return 1;
    }
}
