// Symbolic regression of Koza's quartic f(x) = x^4 + x^3 + x^2 + x on 1,000 points, each program
// scored by one batch run over all the points instead of 1,000 runs of one point.
//
// The machine has seven stack instructions: X (pushes x), Dup, Swap, Add, Sub, Mul and Div
// (protected: a / 0 is 1). Each has two callbacks: OnExecute works on single values (a run for
// one point), OnExecuteBatch on columns of values, one value per point (a run for every point at
// once). The batch callbacks come from the helpers of kv/gp/batch_stack.h, except X's, which
// pushes the column of the 1,000 x values. A run starts with x on the stack.
//
// The fitness callback compiles the individual (TryCompile: a slot value of 7 names no
// instruction, and such an individual scores 1e300), pushes the x column on a TVMBatchStack, and
// lets the engine run the program over it (ExecuteBatch); the column left on top holds the
// program's value at every point, and the fitness is the mean squared error (minimised).
//
// At the end the best program of the run is printed, and run again point by point (InitializeStack,
// ExecuteProgram) to show that both ways give the same values.
//
// gp_quartic [seed] picks another seed.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <exception>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "examples/common/seed_arg.h"
#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

namespace {

double Quartic(double X) {
    return X * X * X * X + X * X * X + X * X + X;
}

double Protected(double A, double B) {
    return B == 0 ? 1.0 : A / B;
}

// Adds an instruction with its point-by-point and its batch behaviour.
void AddInstruction(kv::TKvVirtualMachine& VM, const char* Name, kv::TVMExecuteEvent Row,
                    kv::TVMBatchEvent Batch) {
    kv::TVMInstruction* Instr = VM.GetInstructionSet()->Add();
    Instr->SetName(Name);
    Instr->SetOnExecute(std::move(Row));
    Instr->SetOnExecuteBatch(std::move(Batch));
}

// a b -> Op(a, b); does nothing on fewer than two values. Its batch form is BatchBinary(Op): a
// lambda, which the compiler inlines into the loop over the column (a function pointer would be
// called for every value).
template <class F>
void AddBinary(kv::TKvVirtualMachine& VM, const char* Name, F Op) {
    AddInstruction(
        VM, Name,
        [Op](kv::TObject*, kv::TVMExecutionStack* S, kv::TVMInstruction*) {
            if (S->GetCount() >= 2) {
                const double B = S->Pop().AsDouble();
                const double A = S->Pop().AsDouble();
                S->Push(Op(A, B));
            }
        },
        kv::BatchBinary(Op));
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::optional<uint64_t> Seed = kv::examples::SeedArgument(argc, argv, 6);
        if (!Seed)
            return 2;

        constexpr int Points = 1000;
        std::vector<double> X(Points), Target(Points);
        for (int I = 0; I < Points; ++I) {
            X[I] = -1.0 + 2.0 * I / Points;
            Target[I] = Quartic(X[I]);
        }

        kv::TKvGPVirtualMachine VM;
        kv::TKvGeneticProgram GP;
        GP.SetVM(&VM);
        VM.SetGeneticAlgorithm(&GP);
        double CurrentX = 0; // the point of a point-by-point run
        AddInstruction(
            VM, "X",
            [&](kv::TObject*, kv::TVMExecutionStack* S, kv::TVMInstruction*) { S->Push(CurrentX); },
            kv::BatchPush(X));
        AddInstruction(
            VM, "Dup",
            [](kv::TObject*, kv::TVMExecutionStack* S, kv::TVMInstruction*) {
                if (S->GetCount() >= 1)
                    S->Push(S->GetTop());
            },
            kv::BatchDup());
        AddInstruction(
            VM, "Swap",
            [](kv::TObject*, kv::TVMExecutionStack* S, kv::TVMInstruction*) {
                if (S->GetCount() >= 2) {
                    const kv::Variant Top = S->GetItem(0);
                    S->SetItem(0, S->GetItem(1));
                    S->SetItem(1, Top);
                }
            },
            kv::BatchSwap());
        AddBinary(VM, "Add", [](double A, double B) { return A + B; });
        AddBinary(VM, "Sub", [](double A, double B) { return A - B; });
        AddBinary(VM, "Mul", [](double A, double B) { return A * B; });
        AddBinary(VM, "Div", [](double A, double B) { return Protected(A, B); });

        GP.SetGeneSize(24 * GP.GetGenes()->GetItem(0)->GetSize()); // programs of 24 slots
        GP.SetInitialPopulation(300);
        GP.SetFitnessMethod(kv::fmMinimize);
        GP.SetSelectionMethod(kv::smTournament);
        GP.SetTournamentField(3);
        GP.SetCrossoverMethod(kv::cmGeneBoundary);
        GP.SetCrossoverProbability(0.9);
        GP.SetMutationProbability(0.01);
        GP.SetOperations({kv::goCrossover, kv::goMutate});

        kv::TVMBatchStack Columns(Points); // the batch run's stack: columns of 1,000 values
        long Runs = 0;
        GP.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
            F = 1e300;
            if (!VM.TryCompile(Item))
                return; // undecodable: the worst score, nothing runs
            Columns.Clear();
            Columns.Push(X); // x on the stack, at every point
            GP.ExecuteBatch(Columns);
            ++Runs;
            const std::span<const double> Y = Columns.GetTop();
            double Sum = 0;
            for (int I = 0; I < Points; ++I)
                Sum += (Y[I] - Target[I]) * (Y[I] - Target[I]);
            if (std::isfinite(Sum))
                F = Sum / Points;
        });
        // The best program of any generation (each generation replaces the whole population).
        kv::TKvGAIndividual Best;
        double BestError = INFINITY;
        GP.SetOnEvolve([&](kv::TObject*) {
            const kv::TKvGAIndividual* Fittest = GP.GetFittestIndividual();
            if (Fittest != nullptr && Fittest->GetFitness() < BestError) {
                BestError = Fittest->GetFitness();
                Best.SetBits(Fittest->GetBits());
            }
            if (GP.GetGeneration() % 10 == 0)
                std::printf("generation %2d   best mean squared error %.6g\n", GP.GetGeneration(),
                            GP.GetMinFitness());
        });

        std::printf("Koza's quartic on %d points, 300 programs of 24 slots, 40 generations\n",
                    Points);
        kv::RandSeed(*Seed);
        const std::clock_t C0 = std::clock();
        const auto T0 = std::chrono::steady_clock::now();
        GP.Initialize();
        GP.Evolve(40);
        const double Seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - T0).count();
        const double Cpu = static_cast<double>(std::clock() - C0) / CLOCKS_PER_SEC;
        std::printf("\n%ld programs run over all %d points in %.3f s, %.3f s of CPU time (%.2f us "
                    "of CPU a program, the breeding included)\n",
                    Runs, Points, Seconds, Cpu, 1e6 * Cpu / static_cast<double>(Runs));

        VM.DecodeProgram(&Best);
        std::printf("\nThe best program (mean squared error %.3g):\n ", BestError);
        for (int I = 0; I < VM.GetGPProgram()->GetCount(); ++I)
            std::printf(" %s", VM.GetGPProgram()->GetString(I).c_str());

        // The same program point by point gives the batch run's values.
        VM.Compile(&Best);
        Columns.Clear();
        Columns.Push(X);
        GP.ExecuteBatch(Columns);
        std::printf("\n\n      x   batch run   point run   x^4+x^3+x^2+x\n");
        for (int I : {0, 250, 500, 750, 999}) {
            CurrentX = X[I];
            GP.InitializeStack({CurrentX});
            GP.ExecuteProgram();
            std::printf("  %5.3f   %9.6f   %9.6f   %9.6f\n", X[I], Columns.GetTop()[I],
                        VM.GetStack()->GetTop().AsDouble(), Target[I]);
        }
        return 0;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "gp_quartic: %s\n", E.what());
        return 2;
    }
}
