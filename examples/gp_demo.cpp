// The genetic-programming demo: breeding a stack program that computes f(x) = x*x + x + 1.
//
// A stack machine gets six instructions, each a callback on its stack of values:
//   Push1  pushes 1               Add  a b -> a+b
//   Dup    x -> x x               Sub  a b -> a-b
//   Swap   a b -> b a             Mul  a b -> a*b
// An instruction that finds too few values on the stack does nothing. The program's input x is
// pushed by the engine's OnInitializeStack before each run; its answer is the value on top when
// the run ends.
//
// The engine breeds chromosomes of 12 slots of 3 bits. Six instructions need 3 bits, so with the
// default decoding the slot values 6 and 7 name no instruction: a random chromosome is usually
// undecodable. The engine runs each individual automatically (AutoExecution); an undecodable one
// does not run, and the fitness callback scores it 0. A decodable one is run on every sample
// point; its fitness is 1 / (1 + total absolute error), so an exact program scores 1 and stops the
// run. `gp_demo <seed> modulo` breeds with modulo decoding instead (6 is Push1, 7 is Dup): every
// chromosome is then a program. The demo says which decoding it uses.
//
// The run is seeded (gp_demo [seed [modulo]] picks another seed), prints one line per generation,
// writes
// the figures to gp_demo.csv and a chart to gp_demo.svg in the working directory, and ends with
// the best program as instruction names and its answers.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "examples/common/run_report.h"
#include "examples/common/seed_arg.h"
#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

namespace {

// ---- the problem ----

int64_t Target(int64_t X) {
    return X * X + X + 1;
}

const std::vector<int64_t> Samples = {-4, -3, -2, -1, 0, 1, 2, 3, 5};

// ---- the instructions ----

// Arithmetic that wraps around instead of overflowing (an evolved program may multiply often).
int64_t Wrap(uint64_t V) {
    return static_cast<int64_t>(V);
}

int64_t PopInt(kv::TVMExecutionStack& Stack) {
    return Stack.Pop().AsInt64();
}

void AddInstruction(kv::TKvVirtualMachine& VM, const char* Name, const char* Comment,
                    std::function<void(kv::TVMExecutionStack&)> Body) {
    kv::TVMInstruction* Instr = VM.GetInstructionSet()->Add();
    Instr->SetName(Name);
    Instr->SetComment(Comment);
    Instr->SetOnExecute([Body = std::move(Body)](kv::TObject*, kv::TVMExecutionStack* Stack,
                                                 kv::TVMInstruction*) { Body(*Stack); });
}

void BinaryInstruction(kv::TKvVirtualMachine& VM, const char* Name, const char* Comment,
                       int64_t (*Op)(int64_t, int64_t)) {
    AddInstruction(VM, Name, Comment, [Op](kv::TVMExecutionStack& Stack) {
        if (Stack.GetCount() < 2)
            return;
        const int64_t B = PopInt(Stack);
        const int64_t A = PopInt(Stack);
        Stack.Push(kv::Variant(Op(A, B)));
    });
}

void BuildInstructionSet(kv::TKvVirtualMachine& VM) {
    AddInstruction(VM, "Push1", "pushes 1",
                   [](kv::TVMExecutionStack& Stack) { Stack.Push(kv::Variant(int64_t{1})); });
    AddInstruction(VM, "Dup", "x -> x x", [](kv::TVMExecutionStack& Stack) {
        if (Stack.GetCount() >= 1)
            Stack.Push(Stack.GetTop());
    });
    AddInstruction(VM, "Swap", "a b -> b a", [](kv::TVMExecutionStack& Stack) {
        if (Stack.GetCount() < 2)
            return;
        const kv::Variant Top = Stack.GetItem(0);
        Stack.SetItem(0, Stack.GetItem(1));
        Stack.SetItem(1, Top);
    });
    BinaryInstruction(VM, "Add", "a b -> a+b", [](int64_t A, int64_t B) {
        return Wrap(static_cast<uint64_t>(A) + static_cast<uint64_t>(B));
    });
    BinaryInstruction(VM, "Sub", "a b -> a-b", [](int64_t A, int64_t B) {
        return Wrap(static_cast<uint64_t>(A) - static_cast<uint64_t>(B));
    });
    BinaryInstruction(VM, "Mul", "a b -> a*b", [](int64_t A, int64_t B) {
        return Wrap(static_cast<uint64_t>(A) * static_cast<uint64_t>(B));
    });
}

// ---- scoring ----

// The program's answer after a run: the value on top, or nothing for an empty stack.
bool Answer(const kv::TKvVirtualMachine& VM, int64_t& Value) {
    if (VM.GetStack()->GetCount() == 0)
        return false;
    Value = VM.GetStack()->GetTop().AsInt64();
    return true;
}

double ErrorOf(const kv::TKvVirtualMachine& VM, int64_t X) {
    int64_t Value;
    if (!Answer(VM, Value))
        return 1e6; // no answer at all
    return std::fabs(static_cast<double>(Value) - static_cast<double>(Target(X)));
}

double MillisecondsSince(std::chrono::steady_clock::time_point T0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - T0).count();
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::optional<uint64_t> SeedArg = kv::examples::SeedArgument(argc, argv, 20240612);
        if (!SeedArg)
            return 2;
        const uint64_t Seed = *SeedArg;
        const bool Modulo = argc > 2 && std::string(argv[2]) == "modulo";
        if (argc > 3 || (argc > 2 && !Modulo)) {
            std::fprintf(stderr, "usage: %s [seed [modulo]]\n", argv[0]);
            return 2;
        }
        std::puts("kvga demo: breeding a stack program for f(x) = x*x + x + 1\n");

        // The machine and the engine, bound both ways.
        kv::TKvGPVirtualMachine VM;
        kv::TKvGeneticProgram GP;
        GP.SetVM(&VM);
        VM.SetGeneticAlgorithm(&GP);
        BuildInstructionSet(VM); // lays the engine's instruction gene out as it grows
        VM.SetModuloDecoding(Modulo);

        constexpr int Slots = 12;
        const kv::TKvGAGene* Gene = GP.GetGenes()->GetItem(0);
        const int Count = VM.GetInstructionSet()->GetCount();
        if (Modulo)
            std::printf("Instructions (gene \"%s\", %d bits a slot; modulo decoding: slot value v "
                        "names instruction v mod %d):\n",
                        Gene->GetName().c_str(), Gene->GetSize(), Count);
        else
            std::printf("Instructions (gene \"%s\", %d bits a slot; default decoding: slot values "
                        "%d to %d name none):\n",
                        Gene->GetName().c_str(), Gene->GetSize(), Count,
                        (1 << Gene->GetSize()) - 1);
        for (int I = 0; I < VM.GetInstructionSet()->GetCount(); ++I) {
            const kv::TVMInstruction* Instr = VM.GetInstructionSet()->GetItem(I);
            std::printf("  %d  %-6s %s\n", I, Instr->GetName().c_str(),
                        Instr->GetComment().c_str());
        }

        kv::RandSeed(Seed);
        constexpr int MaxGenerations = 300;
        GP.SetGeneSize(Slots * Gene->GetSize());
        GP.SetInitialPopulation(400);
        GP.SetFitnessMethod(kv::fmMaximize);
        GP.SetSelectionMethod(kv::smTournament);
        GP.SetTournamentField(3);
        GP.SetCrossoverMethod(kv::cmGeneBoundary); // whole slots: crossover never splits one
        GP.SetCrossoverProbability(0.9);
        GP.SetMutationProbability(0.02);
        GP.SetOperations({kv::goCrossover, kv::goMutate});
        GP.SetUseFitnessCutoff(true);
        GP.SetFitnessCutoff(1.0); // an exact program
        GP.SetExecutionLimit(kv::elNumberOfSteps);
        GP.SetLimitNumber(4 * Slots);

        // Each run starts with the current sample point on the stack.
        size_t Current = 0;
        GP.SetOnInitializeStack(
            [&](kv::TObject*) { VM.GetStack()->Push(kv::Variant(Samples[Current])); });

        // AutoExecution runs the program on the first sample point; the callback runs the rest.
        int Undecodable = 0;
        GP.SetAutoExecution(true);
        GP.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual*, kv::TGAFitness& F) {
            const kv::TExecutionStates State = VM.GetExecutionState();
            if (State.Contains(kv::esInvalidOperation) && !State.Contains(kv::esEncoded)) {
                ++Undecodable; // a slot named no instruction: the program did not run
                F = 0;
                return;
            }
            double Error = ErrorOf(VM, Samples[0]);
            for (Current = 1; Current < Samples.size(); ++Current) {
                GP.InitializeStack(kv::TVarRecList{}); // the program stays compiled
                GP.ExecuteProgram();
                Error += ErrorOf(VM, Samples[Current]);
            }
            Current = 0;
            F = 1.0 / (1.0 + Error);
        });

        kv::examples::TRunReport Report("Breeding x*x + x + 1: fitness per generation");
        Report.SetReference(1.0, "exact program");

        // The best program seen in any generation (the population is replaced every generation).
        kv::TKvGAIndividual Best;
        double BestFitness = -1;
        int BestGeneration = -1;
        auto Record = [&] {
            const kv::TKvGAIndividual* Fittest = GP.GetFittestIndividual();
            const int Generation = GP.GetGeneration();
            const int Count = GP.GetPopulation()->GetCount();
            const double Error = GP.GetMaxFitness() > 0 ? 1.0 / GP.GetMaxFitness() - 1.0 : INFINITY;
            std::printf(
                "generation %3d   best %.6f (error %6.6g)   mean %.6f   undecodable %3.0f%%\n",
                Generation, GP.GetMaxFitness(), Error, GP.GetAvgFitness(),
                100.0 * Undecodable / Count);
            Report.Add(Generation, GP.GetMaxFitness(), GP.GetAvgFitness(), GP.GetDiversity());
            if (Fittest != nullptr && Fittest->GetFitness() > BestFitness) {
                BestFitness = Fittest->GetFitness();
                BestGeneration = Generation;
                Best.SetBits(Fittest->GetBits());
            }
            Undecodable = 0;
        };
        GP.SetOnEvolve([&](kv::TObject*) { Record(); });

        std::printf("\nPopulation %d of %d-slot programs, tournaments of %d, crossover on slot "
                    "boundaries (p = %.2f), mutation p = %.2f per bit\n\n",
                    GP.GetInitialPopulation(), Slots, GP.GetTournamentField(),
                    GP.GetCrossoverProbability(), GP.GetMutationProbability());
        const auto T0 = std::chrono::steady_clock::now();
        GP.Initialize();
        Record();
        const int Evolved = BestFitness >= 1.0 ? 0 : GP.Evolve(MaxGenerations);
        const double RunMs = MillisecondsSince(T0);

        const std::string Csv = "gp_demo.csv", Svg = "gp_demo.svg";
        Report.WriteCsv(Csv);
        Report.WriteSvg(Svg);
        std::printf("\nWrote %s and %s in %s\n", Csv.c_str(), Svg.c_str(),
                    std::filesystem::current_path().string().c_str());

        const double BestError = 1.0 / BestFitness - 1.0;
        if (BestFitness >= 1.0)
            std::printf("\nFound an exact program in generation %d (%d generations evolved, "
                        "%.1f ms).\n",
                        BestGeneration, Evolved, RunMs);
        else
            std::printf("\nNo exact program in %d generations (%.1f ms): the best one, from "
                        "generation %d, is off by %.6g in total over the %zu sample points.\n",
                        Evolved, RunMs, BestGeneration, BestError, Samples.size());

        // The best program as instruction names, then its answers, held-out points included.
        VM.DecodeProgram(&Best);
        std::printf("\nThe best program (%d slots):\n ", VM.GetGPProgram()->GetCount());
        for (int I = 0; I < VM.GetGPProgram()->GetCount(); ++I)
            std::printf(" %s", VM.GetGPProgram()->GetString(I).c_str());
        std::printf("\n\n     x   program   x*x+x+1\n");
        VM.Compile(&Best);
        for (int64_t X : {-4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 10, 100}) {
            GP.SetOnInitializeStack([&](kv::TObject*) { VM.GetStack()->Push(kv::Variant(X)); });
            GP.InitializeStack(kv::TVarRecList{});
            GP.ExecuteProgram();
            int64_t Value = 0;
            const bool HasAnswer = Answer(VM, Value);
            bool Sample = false;
            for (int64_t S : Samples)
                Sample = Sample || S == X;
            std::printf("  %4lld   %7s   %7lld%s%s\n", static_cast<long long>(X),
                        HasAnswer ? std::to_string(Value).c_str() : "(none)",
                        static_cast<long long>(Target(X)),
                        HasAnswer && Value == Target(X) ? "" : "   <- differs",
                        Sample ? "" : "   (not a sample point)");
        }
        return 0;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "gp_demo: %s\n", E.what());
        return 2;
    }
}
