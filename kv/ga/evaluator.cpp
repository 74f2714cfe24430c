// The serial evaluator and the worker scope.
#include "kv/ga/evaluator.h"

#include "kv/ga/engine.h"

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
    // Items are fetched with the checked accessor: a serial fitness callback may change the
    // population.
    const int Count = Population.GetCount();
    for (int K = 0; K < Count; ++K) {
        TKvGAIndividual* Item = Population.GetItem(K);
        StoreFitness(Item, Engine.EvaluateFitness(Item));
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
