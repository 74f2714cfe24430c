// The serial evaluator and the worker scope.
#include "kv/ga/evaluator.h"

#include "kv/ga/engine.h"
#include "kv/rtl/exceptions.h"

namespace kv {

namespace {

// The innermost TKvGAWorkerScope of this thread: its engine and the state that engine handed out.
constinit thread_local const TKvCustomGeneticAlgorithm* CurrentWorkerEngine = nullptr;
constinit thread_local TObject* CurrentWorkerState = nullptr;

} // namespace

void TKvGAEvaluator::StoreFitness(TKvGAIndividual* Item, TGAFitness Fitness) noexcept {
    Item->FFitness = Fitness;
}

void TKvGASerialEvaluator::Evaluate(TKvCustomGeneticAlgorithm& Engine,
                                    TKvGAPopulation& Population) {
    const int Count = Population.GetCount();
    const uint64_t Changes = Population.GetChangeCount();
    for (int K = 0; K < Count; ++K) {
        TKvGAIndividual* Item = Population.GetItemUnchecked(K);
        const TGAFitness Fitness = Engine.EvaluateFitness(Item);
        // The handler may have removed Item (or loaded, assigned, initialised or evolved the
        // engine): nothing read before the call may be used once the list has changed.
        if (Engine.GetPopulation() != &Population || Population.GetChangeCount() != Changes)
            throw EGAException(Format(
                "The population changed while individual %i of %i was being scored: a fitness "
                "evaluation must not add, remove or move individuals, nor load, assign, "
                "initialise or evolve the engine",
                K, Count));
        StoreFitness(Item, Fitness);
    }
}

TKvGAWorkerScope::TKvGAWorkerScope(TKvCustomGeneticAlgorithm& Engine)
    : FEngine(Engine), FState(Engine.AcquireWorkerState()), FPreviousEngine(CurrentWorkerEngine),
      FPreviousState(CurrentWorkerState) {
    CurrentWorkerEngine = &Engine;
    CurrentWorkerState = FState;
}

TKvGAWorkerScope::~TKvGAWorkerScope() {
    CurrentWorkerEngine = FPreviousEngine;
    CurrentWorkerState = FPreviousState;
    FEngine.ReleaseWorkerState(FState);
}

const TKvCustomGeneticAlgorithm* TKvGAWorkerScope::CurrentEngine() noexcept {
    return CurrentWorkerEngine;
}

TObject* TKvGAWorkerScope::CurrentState() noexcept {
    return CurrentWorkerState;
}

} // namespace kv
