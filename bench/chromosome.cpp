// Per-bit cost of the chromosome operators. Each benchmark reports per_bit, the time per bit (lower
// is better), and bits/s as items per second.
#include <benchmark/benchmark.h>

#include "kv/ga/bits.h"
#include "kv/rtl/random.h"

namespace {

void SetBitCounters(benchmark::State& State, int64_t Bits) {
    State.SetItemsProcessed(State.iterations() * Bits);
    // Seconds per bit; printed with an SI prefix, e.g. "per_bit=0.8ns".
    State.counters["per_bit"] = benchmark::Counter(static_cast<double>(Bits),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void BM_Randomize(benchmark::State& State) {
    const auto Size = static_cast<int32_t>(State.range(0));
    kv::RandSeed(1);
    kv::TKvGABits B;
    B.SetSize(Size);
    for (auto _ : State) {
        B.Randomize();
        benchmark::DoNotOptimize(B.Words());
        benchmark::ClobberMemory();
    }
    SetBitCounters(State, Size);
}

void BM_Mutate(benchmark::State& State) {
    const auto Size = static_cast<int32_t>(State.range(0));
    kv::RandSeed(2);
    kv::TKvGABits B;
    B.SetSize(Size);
    B.Randomize();
    for (auto _ : State) {
        benchmark::DoNotOptimize(B.Mutate(0.01));
        benchmark::ClobberMemory();
    }
    SetBitCounters(State, Size);
}

void BM_MutateGeometric(benchmark::State& State) {
    const auto Size = static_cast<int32_t>(State.range(0));
    kv::RandSeed(2);
    kv::TKvGABits B;
    B.SetSize(Size);
    B.Randomize();
    for (auto _ : State) {
        benchmark::DoNotOptimize(B.MutateGeometric(0.01));
        benchmark::ClobberMemory();
    }
    SetBitCounters(State, Size);
}

void BM_CrossOverTwoPoint(benchmark::State& State) {
    const auto Size = static_cast<int32_t>(State.range(0));
    kv::RandSeed(3);
    kv::TKvGABits A, B, Child;
    A.SetSize(Size);
    B.SetSize(Size);
    Child.SetSize(Size);
    A.Randomize();
    B.Randomize();
    for (auto _ : State) {
        Child.CrossOver(A, B, kv::Random(Size), kv::Random(Size));
        benchmark::DoNotOptimize(Child.Words());
        benchmark::ClobberMemory();
    }
    SetBitCounters(State, Size);
}

// Uniform crossover: a fresh random mask (one raw value per word), then the masked crossover.
void BM_CrossOverUniform(benchmark::State& State) {
    const auto Size = static_cast<int32_t>(State.range(0));
    kv::RandSeed(3);
    kv::TKvGABits A, B, Child;
    kv::TBits Mask;
    A.SetSize(Size);
    B.SetSize(Size);
    Child.SetSize(Size);
    Mask.SetSize(Size);
    A.Randomize();
    B.Randomize();
    kv::TRandomSource& Source = kv::ThreadRandomSource();
    for (auto _ : State) {
        for (size_t I = 0; I < Mask.WordCount(); ++I)
            Mask.Words()[I] = Source.Next();
        Mask.ClearPadding();
        Child.CrossOver(A, B, Mask);
        benchmark::DoNotOptimize(Child.Words());
        benchmark::ClobberMemory();
    }
    SetBitCounters(State, Size);
}

void BM_CrossOver(benchmark::State& State) {
    const auto Size = static_cast<int32_t>(State.range(0));
    kv::RandSeed(3);
    kv::TKvGABits A, B, Child;
    A.SetSize(Size);
    B.SetSize(Size);
    Child.SetSize(Size);
    A.Randomize();
    B.Randomize();
    for (auto _ : State) {
        Child.CrossOver(A, B); // includes the draw of the point
        benchmark::DoNotOptimize(Child.Words());
        benchmark::ClobberMemory();
    }
    SetBitCounters(State, Size);
}

void BM_Invert(benchmark::State& State) {
    const auto Size = static_cast<int32_t>(State.range(0));
    kv::RandSeed(4);
    kv::TKvGABits B;
    B.SetSize(Size);
    for (auto _ : State) {
        B.Invert(-1, -1); // random run; on average a third of the bits
        benchmark::DoNotOptimize(B.Words());
        benchmark::ClobberMemory();
    }
    SetBitCounters(State, Size);
}

} // namespace

BENCHMARK(BM_Randomize)->Arg(100)->Arg(1024)->Arg(10000);
BENCHMARK(BM_Mutate)->Arg(100)->Arg(1024)->Arg(10000);
BENCHMARK(BM_MutateGeometric)->Arg(100)->Arg(1024)->Arg(10000);
BENCHMARK(BM_CrossOver)->Arg(100)->Arg(1024)->Arg(10000);
BENCHMARK(BM_CrossOverTwoPoint)->Arg(100)->Arg(1024)->Arg(10000);
BENCHMARK(BM_CrossOverUniform)->Arg(100)->Arg(1024)->Arg(10000);
BENCHMARK(BM_Invert)->Arg(100)->Arg(1024)->Arg(10000);
