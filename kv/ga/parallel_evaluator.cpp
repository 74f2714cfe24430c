// The parallel evaluator on oneTBB. Nothing of oneTBB appears in the library's headers.
#include <atomic>
#include <climits>
#include <exception>
#include <mutex>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include "kv/ga/engine.h"
#include "kv/ga/evaluator.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/random.h"

namespace kv {

struct TKvGAParallelEvaluator::TImpl {
    int32_t Workers = 0;
    std::unique_ptr<tbb::task_arena> Arena; // made on the first round
    // Reused from round to round.
    std::vector<TKvGAIndividual*> Items;
    std::vector<TGAFitness> Fitness;
    std::vector<unsigned char> Scored;
};

TKvGAParallelEvaluator::TKvGAParallelEvaluator(int32_t Threads)
    : FThreads(Threads), FImpl(std::make_unique<TImpl>()) {
    if (Threads < 1 && Threads != ALL_HARDWARE_THREADS)
        throw EGAException(Format("A parallel evaluator needs at least 1 thread, not %i", Threads));
    FImpl->Workers = Threads == ALL_HARDWARE_THREADS ? tbb::info::default_concurrency() : Threads;
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
    // The individuals are listed before the round: workers never read the population itself.
    S.Items.resize(static_cast<size_t>(Count));
    for (int K = 0; K < Count; ++K)
        S.Items[static_cast<size_t>(K)] = Population.GetItemUnchecked(K);
    S.Fitness.assign(static_cast<size_t>(Count), 0);
    S.Scored.assign(static_cast<size_t>(Count), 0);
    // The round's one draw from the calling thread's current source.
    const uint64_t Round = ThreadRandomSource().Next();
    if (S.Arena == nullptr)
        S.Arena = std::make_unique<tbb::task_arena>(
            FThreads == ALL_HARDWARE_THREADS ? static_cast<int>(tbb::task_arena::automatic)
                                             : S.Workers);

    std::atomic<bool> Stop{false};
    std::mutex FailureLock;
    int FailedIndex = INT_MAX;
    std::exception_ptr Failure;
    // oneTBB's own synchronisation is invisible to a ThreadSanitizer build (the library is not
    // instrumented), so the hand-over of the round's data is also made explicit: the calling
    // thread publishes with Start, each range acquires it and publishes its results with Done.
    std::atomic<int> Start{0};
    std::atomic<int> Done{0};
    Start.store(1, std::memory_order_release);
    tbb::task_group_context Context;

    auto Body = [&](const tbb::blocked_range<int>& Range) {
        (void)Start.load(std::memory_order_acquire);
        int Index = Range.begin();
        try {
            TKvGAWorkerScope Scope(Engine);
            TRandomSource Stream; // seeded per individual, lazily: no cost unless drawn from
            TRandomSourceBinding Binding(&Stream);
            for (; Index != Range.end(); ++Index) {
                if (Stop.load(std::memory_order_relaxed))
                    break;
                Stream.SetSeed(IndividualSeed(Round, Index));
                const size_t I = static_cast<size_t>(Index);
                S.Fitness[I] = Engine.EvaluateFitness(S.Items[I]);
                S.Scored[I] = 1;
            }
        } catch (...) {
            {
                std::lock_guard<std::mutex> Lock(FailureLock);
                if (Index < FailedIndex) {
                    FailedIndex = Index;
                    Failure = std::current_exception();
                }
            }
            Stop.store(true, std::memory_order_relaxed);
            Context.cancel_group_execution();
        }
        Done.fetch_add(1, std::memory_order_acq_rel);
    };
    S.Arena->execute([&] {
        tbb::parallel_for(tbb::blocked_range<int>(0, Count), Body, tbb::auto_partitioner(),
                          Context);
    });
    (void)Done.load(std::memory_order_acquire);

    // As a serial evaluation would leave them: new fitness up to the first unscored individual.
    for (size_t I = 0; I < S.Items.size() && S.Scored[I]; ++I)
        StoreFitness(S.Items[I], S.Fitness[I]);
    if (Failure)
        std::rethrow_exception(Failure);
}

} // namespace kv
