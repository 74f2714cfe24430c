// The parallel evaluator. oneTBB is reached through kv/ga/detail/parallel_for.h only.
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <exception>
#include <mutex>
#include <vector>

#include "kv/ga/detail/parallel_for.h"
#include "kv/ga/engine.h"
#include "kv/ga/evaluator.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/random.h"

namespace kv {

struct TKvGAParallelEvaluator::TImpl {
    int32_t Workers = 0;
    std::unique_ptr<detail::TTaskArena> Arena; // made on the first round
    // Reused from round to round.
    std::vector<TKvGAIndividual*> Items;
    std::vector<TGAFitness> Fitness;
    std::vector<unsigned char> Scored;
    // Wall-clock nanoseconds one individual took in the last round (0: no round yet).
    double NsPerIndividual = 0;
};

namespace {

// One round's shared data, handed to every range.
struct TRound {
    TKvCustomGeneticAlgorithm* Engine;
    TKvGAIndividual* const* Items;
    TGAFitness* Fitness;
    unsigned char* Scored;
    uint64_t Draw;
    std::atomic<bool> Stop{false};
    std::mutex FailureLock;
    int32_t FailedIndex = INT32_MAX;
    std::exception_ptr Failure;
    // oneTBB's own synchronisation is invisible to a ThreadSanitizer build (its run-time is not
    // instrumented), so the hand-over is also made explicit: the calling thread publishes the
    // round with Start, each range acquires it and publishes its results with Done.
    std::atomic<int> Start{0};
    std::atomic<int> Done{0};
    // Nanoseconds the ranges spent scoring, added up: the cost of the work itself, without the
    // time threads took to wake up or wait, which would make a tiny round look costly.
    std::atomic<int64_t> WorkNs{0};
};

using TClock = std::chrono::steady_clock;

bool ScoreRange(void* Context, int32_t Begin, int32_t End) {
    TRound& R = *static_cast<TRound*>(Context);
    (void)R.Start.load(std::memory_order_acquire);
    const TClock::time_point T0 = TClock::now();
    int32_t Index = Begin;
    bool Ok = true;
    try {
        TKvGAWorkerScope Scope(*R.Engine);
        TRandomSource Stream; // seeded per individual, lazily: no cost unless drawn from
        TRandomSourceBinding Binding(&Stream);
        for (; Index != End; ++Index) {
            if (R.Stop.load(std::memory_order_relaxed))
                break;
            Stream.SetSeed(TKvGAParallelEvaluator::IndividualSeed(R.Draw, Index));
            const size_t I = static_cast<size_t>(Index);
            R.Fitness[I] = R.Engine->EvaluateFitness(R.Items[I]);
            R.Scored[I] = 1;
        }
    } catch (...) {
        std::lock_guard<std::mutex> Lock(R.FailureLock);
        if (Index < R.FailedIndex) {
            R.FailedIndex = Index;
            R.Failure = std::current_exception();
        }
        R.Stop.store(true, std::memory_order_relaxed);
        Ok = false;
    }
    R.WorkNs.fetch_add(
        std::chrono::duration_cast<std::chrono::nanoseconds>(TClock::now() - T0).count(),
        std::memory_order_relaxed);
    R.Done.fetch_add(1, std::memory_order_acq_rel);
    return Ok;
}

// A round whose work is expected to take less than this runs on the calling thread alone: waking
// worker threads would cost more than it saves.
constexpr double InlineRoundNs = 200'000;
// The least work given to a range, so that handing out ranges stays cheap beside the work.
constexpr double RangeNs = 20'000;

} // namespace

TKvGAParallelEvaluator::TKvGAParallelEvaluator(int32_t Threads)
    : FThreads(Threads), FImpl(std::make_unique<TImpl>()) {
    if (Threads < 1 && Threads != ALL_HARDWARE_THREADS)
        throw EGAException(Format("A parallel evaluator needs at least 1 thread, not %i", Threads));
    FImpl->Workers =
        Threads == ALL_HARDWARE_THREADS ? detail::TTaskArena::DefaultConcurrency() : Threads;
    if (FImpl->Workers < 1)
        FImpl->Workers = 1;
}

TKvGAParallelEvaluator::~TKvGAParallelEvaluator() = default;

int32_t TKvGAParallelEvaluator::GetWorkers() const noexcept {
    return FImpl->Workers;
}

uint64_t TKvGAParallelEvaluator::IndividualSeed(uint64_t Round, int32_t Index) noexcept {
    // Value Index of the SplitMix64 sequence started from Round.
    uint64_t Z = Round + (static_cast<uint64_t>(Index) + 1) * 0x9e3779b97f4a7c15ULL;
    Z = (Z ^ (Z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    Z = (Z ^ (Z >> 27)) * 0x94d049bb133111ebULL;
    return Z ^ (Z >> 31);
}

void TKvGAParallelEvaluator::Evaluate(TKvCustomGeneticAlgorithm& Engine,
                                      TKvGAPopulation& Population) {
    TImpl& S = *FImpl;
    const int Count = Population.GetCount();
    if (Count == 0)
        return;
    using Clock = TClock;
    // The round's one draw from the current source.
    const uint64_t Draw = ThreadRandomSource().Next();
    if (S.Workers == 1 || (S.NsPerIndividual > 0 && S.NsPerIndividual * Count < InlineRoundNs)) {
        // Tiny work (or one thread): the calling thread alone, storing each fitness at once, which
        // leaves the individuals after a failing one untouched, as the rounds below do.
        const Clock::time_point T0 = Clock::now();
        TKvGAWorkerScope Scope(Engine);
        TRandomSource Stream;
        TRandomSourceBinding Binding(&Stream);
        for (int K = 0; K < Count; ++K) {
            TKvGAIndividual* Item = Population.GetItemUnchecked(K);
            Stream.SetSeed(IndividualSeed(Draw, K));
            StoreFitness(Item, Engine.EvaluateFitness(Item));
        }
        S.NsPerIndividual =
            std::chrono::duration<double, std::nano>(Clock::now() - T0).count() / Count + 1;
        return;
    }
    // The individuals are listed before the round: workers never read the population itself.
    S.Items.resize(static_cast<size_t>(Count));
    for (int K = 0; K < Count; ++K)
        S.Items[static_cast<size_t>(K)] = Population.GetItemUnchecked(K);
    S.Fitness.assign(static_cast<size_t>(Count), 0);
    S.Scored.assign(static_cast<size_t>(Count), 0);

    TRound Round;
    Round.Engine = &Engine;
    Round.Items = S.Items.data();
    Round.Fitness = S.Fitness.data();
    Round.Scored = S.Scored.data();
    Round.Draw = Draw;
    Round.Start.store(1, std::memory_order_release);
    // The schedule follows the cost the last round measured (the first round measures its first
    // individual, on this thread); the results do not depend on it.
    int32_t First = 0;
    if (S.NsPerIndividual == 0 && S.Workers > 1) {
        ScoreRange(&Round, 0, 1);
        S.NsPerIndividual = static_cast<double>(Round.WorkNs.load(std::memory_order_relaxed)) + 1;
        First = 1;
    }
    const int64_t ProbeNs = Round.WorkNs.load(std::memory_order_relaxed);
    const bool Inline = S.NsPerIndividual * Count < InlineRoundNs;
    if (First == Count || Round.Stop.load(std::memory_order_relaxed)) {
        // Nothing left, or the first individual failed.
    } else if (Inline || S.Workers == 1) {
        ScoreRange(&Round, First, Count);
    } else {
        if (S.Arena == nullptr)
            S.Arena = std::make_unique<detail::TTaskArena>(
                FThreads == ALL_HARDWARE_THREADS ? 0 : FThreads);
        const double Grain = S.NsPerIndividual > 0 ? std::ceil(RangeNs / S.NsPerIndividual) : 1;
        S.Arena->ParallelFor(First, Count, Grain < Count ? static_cast<int32_t>(Grain) : Count,
                             &ScoreRange, &Round);
    }
    (void)Round.Done.load(std::memory_order_acquire);
    // The next round's schedule follows the work this one measured, whatever the threads' waits.
    if (Count > First)
        S.NsPerIndividual =
            static_cast<double>(Round.WorkNs.load(std::memory_order_relaxed) - ProbeNs) /
                (Count - First) +
            1;

    // As a serial evaluation would leave them: new fitness up to the first unscored individual.
    for (size_t I = 0; I < S.Items.size() && S.Scored[I]; ++I)
        StoreFitness(S.Items[I], S.Fitness[I]);
    if (Round.Failure)
        std::rethrow_exception(Round.Failure);
}

} // namespace kv
