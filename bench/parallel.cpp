// Parallel fitness evaluation: Initialize plus 20 generations of a population of 1,000, evaluated
// serially (EvaluationThreads 0) and in parallel mode on 1 and 2 threads, for three fitness costs:
//   Heavy    about 20 microseconds of integer arithmetic per individual (a chain of multiply,
//            add and xor-shift steps seeded from the chromosome, whose result is the fitness, so
//            the compiler cannot drop it);
//   OneMax   the number of 1 bits of a 100-bit chromosome (about 0.1 microseconds);
//   GP       the genetic-program quick start's machine (Dup, Add, Mul; programs of six
//            instructions), each program run on 20 data points by the fitness callback.
// Wall-clock time (UseRealTime): the work is spread over threads. The speed-up is the serial time
// over the parallel one.
#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <cstdlib>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

namespace {

constexpr int Population = 1000;
constexpr int Generations = 20;
// Steps of the heavy fitness: about 20 microseconds on the machine of the README's figures.
constexpr int HeavySteps = 11000;

double HeavyFitness(const kv::TBits& Bits) noexcept {
    uint64_t H = Bits.Words()[0] | 1;
    for (int I = 0; I < HeavySteps; ++I) {
        H = H * 6364136223846793005ULL + 1442695040888963407ULL;
        H ^= H >> 29;
    }
    return static_cast<double>(H >> 11) * 0x1.0p-53;
}

double CountOnes(const kv::TBits& Bits) noexcept {
    int64_t Ones = 0;
    for (size_t I = 0; I < Bits.WordCount(); ++I)
        Ones += std::popcount(Bits.Words()[I]);
    return static_cast<double>(Ones);
}

void Configure(kv::TKvGeneticAlgorithm& GA, int32_t Threads) {
    GA.SetGeneSize(100);
    GA.SetInitialPopulation(Population);
    GA.SetFitnessMethod(kv::fmMaximize);
    GA.SetSelectionMethod(kv::smTournament);
    GA.SetCrossoverMethod(kv::cmBitBoundary);
    GA.SetOperations({kv::goCrossover, kv::goMutate});
    GA.SetEvaluationThreads(Threads);
}

template <double (*Fitness)(const kv::TBits&)>
void BM_GA(benchmark::State& State) {
    const auto Threads = static_cast<int32_t>(State.range(0));
    for (auto _ : State) {
        kv::RandSeed(1);
        kv::TKvGeneticAlgorithm GA;
        Configure(GA, Threads);
        GA.SetOnEvaluateFitness([](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
            F = Fitness(*Item->GetBits());
        });
        GA.Evolve(Generations);
        benchmark::DoNotOptimize(GA.GetMaxFitness());
    }
    State.counters["evaluations/s"] =
        benchmark::Counter(double(Population) * (Generations + 1) * double(State.iterations()),
                           benchmark::Counter::kIsRate);
}

void BM_GP(benchmark::State& State) {
    const auto Threads = static_cast<int32_t>(State.range(0));
    for (auto _ : State) {
        kv::RandSeed(7);
        kv::TKvGPVirtualMachine VM;
        kv::TKvGeneticProgram GP;
        GP.SetVM(&VM);
        VM.SetGeneticAlgorithm(&GP);
        for (const char* Name : {"Dup", "Add", "Mul"})
            VM.GetInstructionSet()->Add()->SetName(Name);
        VM.SetOnExecuteInstruction(
            [](kv::TObject*, kv::TVMExecutionStack* S, kv::TVMInstruction* I) {
                if (I->GetName() == "Dup" && S->GetCount() >= 1) {
                    S->Push(S->GetTop());
                } else if (I->GetName() != "Dup" && S->GetCount() >= 2) {
                    const int64_t B = S->Pop().AsInt64(), A = S->Pop().AsInt64();
                    S->Push(I->GetName() == "Add" ? A + B : A * B);
                }
            });
        GP.SetGeneSize(6 * GP.GetGenes()->GetItem(0)->GetSize());
        GP.SetFitnessMethod(kv::fmMaximize);
        GP.SetInitialPopulation(Population);
        GP.SetEvaluationThreads(Threads);
        GP.SetOnEvaluateFitness([&GP](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
            kv::TKvGPVirtualMachine* M = GP.GetGPVirtualMachine(); // this worker's machine
            if (!M->TryCompile(Item))
                return;
            double Error = 0;
            for (int X = -10; X < 10; ++X) {
                GP.InitializeStack({X});
                GP.ExecuteProgram();
                const int64_t Y =
                    M->GetStack()->GetCount() ? M->GetStack()->GetTop().AsInt64() : 99;
                Error += double(std::llabs(Y - (X * X + X)));
            }
            F = 1.0 / (1.0 + Error);
        });
        GP.Evolve(Generations);
        benchmark::DoNotOptimize(GP.GetMaxFitness());
    }
}

// Arguments: EvaluationThreads (0 = serial).
BENCHMARK(BM_GA<HeavyFitness>)
    ->Name("Heavy20us")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK(BM_GA<CountOnes>)
    ->Name("OneMax")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1);
BENCHMARK(BM_GP)
    ->Name("GPQuickStart20Points")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1);

} // namespace
