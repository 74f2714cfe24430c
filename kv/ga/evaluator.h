// The evaluation seam: how an engine scores its population.
//
// An engine scores its whole population in two phases. First its evaluator computes every
// individual's fitness (TKvGAEvaluator::Evaluate); then the engine, on the calling thread, computes
// the statistics, the fittest individual and the support data of the selection method in index
// order (kv/ga/engine.h). The engine owns exactly one evaluator; it makes it with its overridable
// factory CreateEvaluator (from its EvaluationThreads setting), and a caller may install another
// with SetEvaluator.
//
// TKvGAEvaluator (abstract)
//   Evaluate(Engine, Population) scores every individual of Population: its fitness is
//   Engine.EvaluateFitness(Item) (the engine's per-individual operation, which calls
//   OnEvaluateFitness), stored into the individual with StoreFitness. When an evaluation fails, it
//   passes the exception on, and the individuals before the first one it did not score hold their
//   new fitness while every other one keeps its old fitness, as a serial evaluation that failed at
//   that individual leaves them.
//   GetWorkers() is 0 for an evaluator that calls the engine only on the calling thread, else the
//   most threads on which it may call the engine at once. For an evaluator with workers the engine
//   forbids its own changes while Evaluate runs (see "Calls from a worker" in kv/ga/engine.h), and
//   the evaluator wraps each stretch of work on a thread in a TKvGAWorkerScope.
//
// TKvGASerialEvaluator: the default. Scores the individuals one after another in index order on the
//   calling thread, each fitness stored right after its callback, with the draws of the current
//   random source; exactly the engine's behaviour without an evaluator.
//
// TKvGAParallelEvaluator(Threads): scores the individuals concurrently on at most Threads threads
//   (the calling thread among them) of a oneTBB task arena of that size; ALL_HARDWARE_THREADS asks
//   for the machine's default concurrency. Individuals are handed out dynamically, in small ranges
//   that idle threads steal, so that individuals of different costs balance out.
//   Random numbers: each round takes exactly one raw value R from the calling thread's current
//   random source. Individual i (its index in the population) draws from a stream of its own
//   seeded with value i of the SplitMix64 sequence that starts from R, computed directly as
//   mix(R + (i + 1) * 0x9e3779b97f4a7c15) with SplitMix64's output function mix (a bijection). The
//   seed depends only on R and i, never on the thread or the order, so a seeded run gives the same
//   results on any number of threads. The stream is bound as the thread's current source while the
//   individual is scored, so kv::Random() in the callback draws from it; it is seeded lazily, so a
//   callback that draws nothing costs no seeding.
//   Failures: an exception from one individual stops the round (the other threads take no more
//   work) and is raised again on the calling thread with its own class and message; when several
//   individuals failed, the one with the lowest index among them is raised. Fitness is stored only
//   for the individuals before the first one left unscored (see Evaluate above).
//   The population must not change while the round runs: the engine raises EGAException on any
//   attempt from a callback.
//
// TKvGAWorkerScope: marks the calling thread as a worker of an engine while it lives. While it
//   lives, the engine's changing operations raise EGAException on this thread, and an engine that
//   keeps per-worker state (the genetic-program engine's copy of its machine) hands this thread
//   its own. Scopes nest (restored in reverse order); a scope is used on the thread that made it.
//
// Ownership: the engine owns its evaluator; an evaluator keeps no pointer to an engine beyond one
// Evaluate call. An evaluator is used by one engine at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kv/rtl/object.h"
#include "kv/vocabulary/KvGAConsts.h"

namespace kv {

class TKvCustomGeneticAlgorithm;
class TKvGAIndividual;
class TKvGAPopulation;

// EvaluationThreads / TKvGAParallelEvaluator: as many threads as the machine runs at once.
constexpr int32_t ALL_HARDWARE_THREADS = -1;

class TKvGAEvaluator : public TObject {
public:
    ~TKvGAEvaluator() override = default;
    std::string ClassName() const override { return "TKvGAEvaluator"; }

    // Scores every individual of Population (see the file comment).
    virtual void Evaluate(TKvCustomGeneticAlgorithm& Engine, TKvGAPopulation& Population) = 0;
    // 0 when Evaluate calls the engine only on the calling thread; otherwise the most threads it
    // calls the engine on at once.
    virtual int32_t GetWorkers() const noexcept = 0;

protected:
    static void StoreFitness(TKvGAIndividual* Item, TGAFitness Fitness) noexcept;
};

class TKvGASerialEvaluator : public TKvGAEvaluator {
public:
    std::string ClassName() const override { return "TKvGASerialEvaluator"; }
    void Evaluate(TKvCustomGeneticAlgorithm& Engine, TKvGAPopulation& Population) override;
    int32_t GetWorkers() const noexcept override { return 0; }
};

class TKvGAParallelEvaluator : public TKvGAEvaluator {
public:
    // Threads >= 1, or ALL_HARDWARE_THREADS; EGAException naming the value otherwise.
    explicit TKvGAParallelEvaluator(int32_t Threads);
    ~TKvGAParallelEvaluator() override;
    std::string ClassName() const override { return "TKvGAParallelEvaluator"; }

    void Evaluate(TKvCustomGeneticAlgorithm& Engine, TKvGAPopulation& Population) override;
    // The arena's size: Threads, or the default concurrency for ALL_HARDWARE_THREADS.
    int32_t GetWorkers() const noexcept override;
    // The value given to the constructor.
    int32_t GetThreads() const noexcept { return FThreads; }

    // The seed of individual Index's stream in a round whose draw was Round (see the file
    // comment).
    static uint64_t IndividualSeed(uint64_t Round, int32_t Index) noexcept;

private:
    struct TImpl;
    int32_t FThreads;
    std::unique_ptr<TImpl> FImpl;
};

class TKvGAWorkerScope {
public:
    explicit TKvGAWorkerScope(TKvCustomGeneticAlgorithm& Engine);
    ~TKvGAWorkerScope();
    TKvGAWorkerScope(const TKvGAWorkerScope&) = delete;
    TKvGAWorkerScope& operator=(const TKvGAWorkerScope&) = delete;

    // The engine whose worker the calling thread is (innermost scope), or nullptr.
    static const TKvCustomGeneticAlgorithm* CurrentEngine() noexcept;
    // The per-worker state that engine handed to the innermost scope, or nullptr.
    static TObject* CurrentState() noexcept;

private:
    TKvCustomGeneticAlgorithm& FEngine;
    TObject* FState;
    const TKvCustomGeneticAlgorithm* FPreviousEngine;
    TObject* FPreviousState;
};

} // namespace kv
