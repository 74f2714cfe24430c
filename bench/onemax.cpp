// OneMax with the genetic-algorithm engine: the fitness of a chromosome is its number of 1 bits,
// maximised. bench/compare runs it on three workloads and sets its time beside a hand-written
// scalar floor and DEAP.
//
//   bench_onemax L POP GENS [SEED [MUTATION]]
//
// Settings: tournament selection of 2, one-point crossover at any bit with probability 0.98,
// mutation with probability 0.01 per bit, no inversion, a fixed seed. MUTATION is perbit (the
// default: one draw per bit), geometric (MutationMode mmGeometric: one draw per flipped bit) or
// none (no mutation at all, to show what the rest of a generation costs). Only Evolve(GENS) is
// timed; building the engine and the first population is not. The one output line carries
// seconds=<s>, ns_per_bit=<ns per individual x bit x generation> and best=<fitness>, all from the
// wall clock; cpu_s=<s> is the thread's CPU time over the same span, a steadier figure on a
// loaded machine.
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <string>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/random.h"

namespace {

// A positive integer from the command line, or exits with a message naming the argument.
int32_t PositiveArg(const char* Name, const char* Text) {
    char* End = nullptr;
    const long Value = std::strtol(Text, &End, 10);
    if (End == Text || *End != '\0' || Value <= 0 || Value > 100'000'000) {
        std::fprintf(stderr, "bench_onemax: %s must be a positive integer, got \"%s\"\n", Name,
                     Text);
        std::exit(2);
    }
    return static_cast<int32_t>(Value);
}

// The number of 1 bits in N words.
[[gnu::always_inline]] inline int64_t PopcountWords(const uint64_t* W, size_t N) noexcept {
    int64_t Ones = 0;
    for (size_t I = 0; I < N; ++I)
        Ones += std::popcount(W[I]);
    return Ones;
}

int64_t PopcountGeneric(const uint64_t* W, size_t N) noexcept {
    return PopcountWords(W, N);
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same loop with the processor's popcnt instruction (the default x86-64 target lacks it and
// calls a library routine per word).
__attribute__((target("popcnt"))) int64_t PopcountHardware(const uint64_t* W, size_t N) noexcept {
    return PopcountWords(W, N);
}
const auto Popcount = __builtin_cpu_supports("popcnt") ? PopcountHardware : PopcountGeneric;
#else
const auto Popcount = PopcountGeneric;
#endif

// The number of 1 bits: a popcount over the chromosome's words (its padding bits are always 0).
kv::TGAFitness CountOnes(const kv::TBits& Bits) noexcept {
    return static_cast<kv::TGAFitness>(Popcount(Bits.Words(), Bits.WordCount()));
}

// CPU time of the calling thread in seconds: less disturbed than the wall clock when other
// processes share the cores.
double ThreadCpuSeconds() noexcept {
    timespec T{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
    return double(T.tv_sec) + double(T.tv_nsec) * 1e-9;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 6) {
        std::fprintf(stderr, "usage: %s L POP GENS [SEED [perbit|geometric|none]]\n", argv[0]);
        return 2;
    }
    const int32_t L = PositiveArg("L", argv[1]);
    const int32_t Pop = PositiveArg("POP", argv[2]);
    const int32_t Gens = PositiveArg("GENS", argv[3]);
    const uint64_t Seed = argc >= 5 ? static_cast<uint64_t>(PositiveArg("SEED", argv[4])) : 12345;
    const std::string Mutation = argc == 6 ? argv[5] : "perbit";
    if (Mutation != "perbit" && Mutation != "geometric" && Mutation != "none") {
        std::fprintf(stderr,
                     "bench_onemax: MUTATION must be perbit, geometric or none, got \"%s\"\n",
                     Mutation.c_str());
        return 2;
    }

    try {
        kv::RandSeed(Seed);
        kv::TKvGeneticAlgorithm GA;
        GA.SetGeneSize(L);
        GA.SetInitialPopulation(Pop);
        GA.SetFitnessMethod(kv::fmMaximize);
        GA.SetSelectionMethod(kv::smTournament);
        GA.SetTournamentField(2);
        GA.SetCrossoverMethod(kv::cmBitBoundary);
        GA.SetCrossoverProbability(0.98);
        GA.SetMutationProbability(0.01);
        if (Mutation == "none")
            GA.SetOperations({kv::goCrossover});
        else
            GA.SetOperations({kv::goCrossover, kv::goMutate});
        GA.SetMutationMode(Mutation == "geometric" ? kv::mmGeometric : kv::mmPerBit);
        GA.SetOnEvaluateFitness(
            [](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& Fitness) {
                Fitness = CountOnes(*Item->GetBits());
            });
        GA.Initialize();

        const double C0 = ThreadCpuSeconds();
        const auto T0 = std::chrono::steady_clock::now();
        const int32_t Done = GA.Evolve(Gens);
        const auto T1 = std::chrono::steady_clock::now();
        const double Cpu = ThreadCpuSeconds() - C0;

        const double Seconds = std::chrono::duration<double>(T1 - T0).count();
        const double NsPerBit = Seconds * 1e9 / (double(L) * double(Pop) * double(Done));
        // cpu_s comes before seconds=: bench/compare takes the last "seconds=" of the line.
        std::printf("kvga onemax L=%d pop=%d gens=%d mutation=%s cpu_s=%.6f seconds=%.6f "
                    "ns_per_bit=%.4f best=%g\n",
                    L, Pop, Done, Mutation.c_str(), Cpu, Seconds, NsPerBit, GA.GetMaxFitness());
        return Done == Gens ? 0 : 1;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "bench_onemax: %s\n", E.what());
        return 1;
    }
}
