// Classic problems, each over many seeds, with the classic operators and with the newer ones.
//
//   classics [SEEDS]     (default 50 seeds per problem and set-up; about a minute in all)
//
// Genetic algorithm: De Jong's F1 (sphere, 3 variables) and F2 (Rosenbrock, 2 variables),
// Rastrigin with 10 variables, ten concatenated 5-bit traps, and a 0/1 knapsack of 50 items whose
// optimum is found first by dynamic programming. Each runs with four set-ups that share
// everything else (tournaments of 3, crossover probability 0.9, mutation probability 1/L for a
// chromosome of L bits, no inversion):
//   classic    one-point crossover at any bit, one draw per bit for mutation, and the real
//              variables as plain integer genes scaled by hand in the fitness function
//   Gray       one-point crossover, geometric-gap mutation (the same flip statistics, another
//              random stream), and the real variables as integer genes with a real interval
//              (SetRealInterval) and Gray coding (SetGrayCode). The bit-string problems have no
//              real variables: there it differs from classic only in the random stream, which
//              shows how much the figures vary from one set of seeds to another.
//   two-point  the same with two-point crossover
//   uniform    the same with uniform crossover
// Genetic programming: Koza's quartic x^4 + x^3 + x^2 + x on 20 points of [-1, 1], from six
// instructions (X, Add, Sub, Mul, Div, Dup: 3-bit slots, two codes unused) in 24 slots, with the
// default decoding (a slot value of 6 or 7 makes the program undecodable) and with modulo
// decoding (SetModuloDecoding). The evolved codes are compiled by the machine (TryCompile) and run
// by a small evaluator over doubles, so that the comparison measures the decoding only.
//
// A run succeeds when an evaluated individual reaches the problem's target (below); it stops there
// or at its budget of generations. The Markdown table it prints gives the share of seeds that
// succeeded and the median number of fitness evaluations up to the first success (over the
// successful seeds). Seed s of every set-up starts from RandSeed(s).
#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

namespace {

// ---- running one set-up over the seeds ----

struct TOutcome {
    int Seeds = 0;
    int Successes = 0;
    std::vector<int64_t> Evaluations; // up to the first success, per successful seed
};

// Runs Seed = 1 .. Seeds: Run(Seed) returns the evaluations up to the first success, or -1.
TOutcome OverSeeds(int Seeds, const std::function<int64_t(uint64_t)>& Run) {
    TOutcome O;
    O.Seeds = Seeds;
    for (int S = 1; S <= Seeds; ++S) {
        const int64_t Evaluations = Run(static_cast<uint64_t>(S));
        if (Evaluations >= 0) {
            ++O.Successes;
            O.Evaluations.push_back(Evaluations);
        }
    }
    return O;
}

// "success rate | median evaluations" as two cells of a Markdown table.
std::string Cells(const TOutcome& O) {
    char Text[64];
    if (O.Successes == 0)
        return "0% | -";
    std::vector<int64_t> E = O.Evaluations;
    std::sort(E.begin(), E.end());
    const size_t N = E.size();
    const double Median =
        N % 2 == 1 ? double(E[N / 2]) : (double(E[N / 2 - 1]) + double(E[N / 2])) / 2;
    std::snprintf(Text, sizeof Text, "%.0f%% | %.0f", 100.0 * O.Successes / O.Seeds, Median);
    return Text;
}

// ---- the genetic-algorithm set-ups ----

struct TSetUp {
    const char* Name;
    bool RealGenes; // real interval and Gray coding instead of scaling by hand
    kv::TGACrossoverKind Kind;
    kv::TGAMutationMode Mode;
};

const TSetUp SetUps[] = {
    {"classic", false, kv::ckOnePoint, kv::mmPerBit},
    {"Gray", true, kv::ckOnePoint, kv::mmGeometric},
    {"two-point", true, kv::ckTwoPoint, kv::mmGeometric},
    {"uniform", true, kv::ckUniform, kv::mmGeometric},
};

// The settings every set-up shares, for a chromosome of L bits.
void Configure(kv::TKvGeneticAlgorithm& GA, const TSetUp& S, int32_t Population, int32_t L,
               kv::TGAFitnessMethod Method) {
    GA.SetInitialPopulation(Population);
    GA.SetFitnessMethod(Method);
    GA.SetSelectionMethod(kv::smTournament);
    GA.SetTournamentField(3);
    GA.SetCrossoverMethod(kv::cmBitBoundary);
    GA.SetCrossoverProbability(0.9);
    GA.SetMutationProbability(1.0 / L);
    GA.SetOperations({kv::goCrossover, kv::goMutate});
    GA.SetCrossoverKind(S.Kind);
    GA.SetMutationMode(S.Mode);
}

// Evolves until Solved or Generations generations; Evaluations counts the fitness calls and At is
// the count at the first success.
struct TRunState {
    int64_t Evaluations = 0;
    int64_t At = -1;
    void Score(bool Success) {
        ++Evaluations;
        if (Success && At < 0)
            At = Evaluations;
    }
};

int64_t Evolve(kv::TKvGeneticAlgorithm& GA, TRunState& State, int32_t Generations) {
    GA.Initialize();
    for (int32_t G = 0; G < Generations && State.At < 0; ++G)
        GA.Evolve();
    return State.At;
}

// ---- real-valued functions ----

struct TRealProblem {
    const char* Name;
    int Variables;
    int Bits; // per variable
    double Low, High;
    double Target; // success: f <= Target
    int32_t Population, Generations;
    double (*F)(const double* X, int N);
};

double Sphere(const double* X, int N) {
    double S = 0;
    for (int I = 0; I < N; ++I)
        S += X[I] * X[I];
    return S;
}

double Rosenbrock(const double* X, int) {
    const double A = X[0] * X[0] - X[1], B = 1 - X[0];
    return 100 * A * A + B * B;
}

double Rastrigin(const double* X, int N) {
    const double Pi = 3.14159265358979323846;
    double S = 10.0 * N;
    for (int I = 0; I < N; ++I)
        S += X[I] * X[I] - 10 * std::cos(2 * Pi * X[I]);
    return S;
}

int64_t RunReal(const TRealProblem& P, const TSetUp& S, uint64_t Seed) {
    kv::RandSeed(Seed);
    kv::TKvGeneticAlgorithm GA;
    std::vector<kv::TKvGAGene*> Genes;
    for (int I = 0; I < P.Variables; ++I) {
        kv::TKvGAGene* G = GA.GetGenes()->Add();
        G->SetGeneType(kv::gtInteger);
        G->SetSize(P.Bits);
        if (S.RealGenes) {
            G->SetRealInterval(P.Low, P.High);
            G->SetGrayCode(true);
        }
        Genes.push_back(G);
    }
    Configure(GA, S, P.Population, P.Variables * P.Bits, kv::fmMinimize);
    const double Scale = (P.High - P.Low) / (std::ldexp(1.0, P.Bits) - 1);
    TRunState State;
    std::vector<double> X(static_cast<size_t>(P.Variables));
    GA.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        kv::TKvGABits& Bits = *Item->GetBits();
        for (int I = 0; I < P.Variables; ++I)
            X[size_t(I)] = S.RealGenes ? Genes[size_t(I)]->GeneAsReal(Bits)
                                       : P.Low + Genes[size_t(I)]->GeneAsInteger(Bits) * Scale;
        F = P.F(X.data(), P.Variables);
        State.Score(F <= P.Target);
    });
    return Evolve(GA, State, P.Generations);
}

// ---- bit-string problems ----

// Ten 5-bit traps side by side: a block of u ones scores 5 when u = 5, else 4 - u. Maximum 50.
int64_t RunTrap(const TSetUp& S, uint64_t Seed) {
    constexpr int Blocks = 10, L = 5 * Blocks;
    kv::RandSeed(Seed);
    kv::TKvGeneticAlgorithm GA;
    GA.SetGeneSize(L);
    Configure(GA, S, 1000, L, kv::fmMaximize);
    TRunState State;
    GA.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        const uint64_t W = Item->GetBits()->Words()[0];
        int Sum = 0;
        for (int B = 0; B < Blocks; ++B) {
            const int U = std::popcount((W >> (5 * B)) & 31u);
            Sum += U == 5 ? 5 : 4 - U;
        }
        F = Sum;
        State.Score(Sum == 5 * Blocks);
    });
    return Evolve(GA, State, 200);
}

// A 0/1 knapsack of 50 items with weights and values 10 to 100 from a fixed generator and the
// capacity half the total weight.
struct TKnapsack {
    static constexpr int Items = 50;
    int Weight[Items], Value[Items];
    int Capacity = 0;
    int Optimum = 0;

    TKnapsack() {
        uint64_t X = 20240601;
        auto Next = [&X] { // a linear congruential generator of its own: the instance is fixed
            X = X * 6364136223846793005ULL + 1442695040888963407ULL;
            return static_cast<int>((X >> 33) % 91);
        };
        int Total = 0;
        for (int I = 0; I < Items; ++I) {
            Weight[I] = 10 + Next();
            Value[I] = 10 + Next();
            Total += Weight[I];
        }
        Capacity = Total / 2;
        // Dynamic programming over the capacities: Best[c] = the most value within weight c.
        std::vector<int> Best(static_cast<size_t>(Capacity) + 1, 0);
        for (int I = 0; I < Items; ++I)
            for (int C = Capacity; C >= Weight[I]; --C)
                Best[size_t(C)] = std::max(Best[size_t(C)], Best[size_t(C - Weight[I])] + Value[I]);
        Optimum = Best[size_t(Capacity)];
    }
};

const TKnapsack Knapsack;

int64_t RunKnapsack(const TSetUp& S, uint64_t Seed) {
    kv::RandSeed(Seed);
    kv::TKvGeneticAlgorithm GA;
    GA.SetGeneSize(TKnapsack::Items); // one bit per item: packed or not
    Configure(GA, S, 200, TKnapsack::Items, kv::fmMaximize);
    TRunState State;
    GA.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        const uint64_t W = Item->GetBits()->Words()[0];
        int Weight = 0, Value = 0;
        for (int I = 0; I < TKnapsack::Items; ++I)
            if ((W >> I) & 1u) {
                Weight += Knapsack.Weight[I];
                Value += Knapsack.Value[I];
            }
        // Overweight costs 10 per unit of excess weight, more than any item is worth per unit.
        const int Excess = std::max(0, Weight - Knapsack.Capacity);
        F = Value - 10.0 * Excess;
        State.Score(Excess == 0 && Value == Knapsack.Optimum);
    });
    return Evolve(GA, State, 500);
}

// ---- the quartic, by genetic programming ----

double Quartic(double X) {
    return X * X * X * X + X * X * X + X * X + X;
}

// Runs the codes of a compiled program (X, Add, Sub, Mul, Div, Dup) on X: binary instructions
// with fewer than two values, and Dup with none, do nothing; Div by 0 gives 1. The answer is the
// value on top, false when the stack ends empty.
bool RunCodes(const kv::TIntegerArray& Codes, double X, double& Answer) {
    double Stack[32];
    int Top = 0;
    for (int32_t Code : Codes) {
        switch (Code) {
        case 0: // X
            if (Top < 32)
                Stack[Top++] = X;
            break;
        case 5: // Dup
            if (Top > 0 && Top < 32) {
                Stack[Top] = Stack[Top - 1];
                ++Top;
            }
            break;
        default: { // Add, Sub, Mul, Div
            if (Top < 2)
                break;
            const double B = Stack[--Top], A = Stack[Top - 1];
            Stack[Top - 1] = Code == 1   ? A + B
                             : Code == 2 ? A - B
                             : Code == 3 ? A * B
                             : B == 0    ? 1.0
                                         : A / B;
            break;
        }
        }
    }
    if (Top == 0)
        return false;
    Answer = Stack[Top - 1];
    return true;
}

int64_t RunQuartic(bool Modulo, uint64_t Seed) {
    constexpr int Slots = 24, Points = 20;
    kv::TKvGPVirtualMachine VM;
    kv::TKvGeneticProgram GP;
    GP.SetVM(&VM);
    VM.SetGeneticAlgorithm(&GP);
    for (const char* Name : {"X", "Add", "Sub", "Mul", "Div", "Dup"})
        VM.GetInstructionSet()->Add()->SetName(Name);
    VM.SetModuloDecoding(Modulo);
    kv::RandSeed(Seed);
    const int32_t L = Slots * GP.GetGenes()->GetItem(0)->GetSize();
    GP.SetGeneSize(L);
    Configure(GP, SetUps[0], 500, L, kv::fmMinimize);
    TRunState State;
    GP.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        F = 1e9; // undecodable, or no answer
        if (VM.TryCompile(Item)) {
            double Error = 0, Worst = 0;
            for (int I = 0; I < Points && F == 1e9; ++I) {
                const double X = -1 + 2.0 * I / (Points - 1);
                double Y;
                if (!RunCodes(VM.GetEncodedProgram(), X, Y) || !std::isfinite(Y))
                    break;
                const double E = std::fabs(Y - Quartic(X));
                Error += E;
                Worst = std::max(Worst, E);
                if (I == Points - 1)
                    F = Error;
            }
            State.Score(F < 1e9 && Worst <= 0.01); // every point within 0.01: Koza's hits
            return;
        }
        State.Score(false);
    });
    return Evolve(GP, State, 50);
}

} // namespace

int main(int argc, char** argv) {
    int Seeds = 50;
    if (argc > 2 || (argc == 2 && ((Seeds = std::atoi(argv[1])) <= 0 || Seeds > 10000))) {
        std::fprintf(stderr, "usage: %s [SEEDS]   (1 to 10000 seeds per problem; default 50)\n",
                     argv[0]);
        return 2;
    }
    try {
        const TRealProblem Reals[] = {
            {"De Jong F1 (sphere, 3 x 10 bits)", 3, 10, -5.12, 5.12, 1e-3, 50, 200, Sphere},
            {"De Jong F2 (Rosenbrock, 2 x 12 bits)", 2, 12, -2.048, 2.048, 1e-3, 100, 300,
             Rosenbrock},
            {"Rastrigin (10 x 16 bits)", 10, 16, -5.12, 5.12, 0.1, 200, 500, Rastrigin},
        };
        const auto T0 = std::chrono::steady_clock::now();
        std::printf("%d seeds per problem and set-up: the share of seeds that reached the target "
                    "and the median evaluations up to it\n\n",
                    Seeds);
        std::printf(
            "| problem | target | population x generations | classic | evaluations | "
            "Gray | evaluations | two-point | evaluations | uniform | evaluations |\n"
            "| --- | --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |\n");
        std::fflush(stdout);
        auto Row = [&](const char* Problem, const std::string& Target, int32_t Population,
                       int32_t Generations,
                       const std::function<int64_t(const TSetUp&, uint64_t)>& Run) {
            std::printf("| %s | %s | %d x %d |", Problem, Target.c_str(), Population, Generations);
            for (const TSetUp& S : SetUps)
                std::printf(" %s |", Cells(OverSeeds(Seeds, [&](uint64_t Seed) {
                                         return Run(S, Seed);
                                     })).c_str());
            std::printf("\n");
            std::fflush(stdout);
        };
        for (const TRealProblem& P : Reals) {
            char Target[32];
            std::snprintf(Target, sizeof Target, "f <= %g", P.Target);
            Row(P.Name, Target, P.Population, P.Generations,
                [&](const TSetUp& S, uint64_t Seed) { return RunReal(P, S, Seed); });
        }
        Row("trap-5 (10 traps, 50 bits)", "f = 50", 1000, 200, RunTrap);
        Row("knapsack (50 items)", "the optimum, " + std::to_string(Knapsack.Optimum), 200, 500,
            RunKnapsack);

        std::printf("\n| problem | target | population x generations | default decoding | "
                    "evaluations | modulo decoding | evaluations |\n"
                    "| --- | --- | --- | ---: | ---: | ---: | ---: |\n"
                    "| quartic by GP (24 slots, 6 instructions) | every point within 0.01 | "
                    "500 x 50 |");
        std::fflush(stdout);
        for (bool Modulo : {false, true})
            std::printf(" %s |", Cells(OverSeeds(Seeds, [&](uint64_t Seed) {
                                     return RunQuartic(Modulo, Seed);
                                 })).c_str());
        std::printf("\n\n%.1f seconds in all\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - T0).count());
        return 0;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "classics: %s\n", E.what());
        return 1;
    }
}
