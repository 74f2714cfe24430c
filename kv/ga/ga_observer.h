// TKvGAObserver: something that watches an engine's run, such as a record of the best individuals
// or a log of the generations. It is an addition beside the engine's events: an event holds one
// handler, which belongs to the caller; an engine keeps any number of observers besides.
//
// When the engine calls an observer, in the order the observers were added:
//   AfterEvaluation   after every scoring of the whole current population (by Initialize, by each
//                     generation, or by a direct EvaluateFitness() call), once every individual has
//                     its fitness and the statistics (MaxFitness, MinFitness, AvgFitness,
//                     FittestIndividual) and the selection support data are computed. Inside a
//                     generation Generation has not advanced yet. Also called for an empty
//                     population (then there is no fittest individual to read).
//   AfterGeneration   after Initialize has finished (Generation 0) and after each generation that
//                     Evolve breeds, once Generation has advanced and before OnEvolve fires, so
//                     that OnEvolve already sees what the observers recorded.
//   EngineDestroyed   from the engine's destructor, for each observer still added; the observer
//                     forgets the engine and must not call it.
// Not called: when a generation or an evaluation fails (an exception from a callback passes out
// first), and on an empty population's Evolve, which does nothing.
//
// What an observer may do: read the engine's public state (settings, statistics, the current
// population and its individuals, their chromosomes and fitness) and copy what it needs. It must
// not change the population, the individuals, the genotype or the settings, and must not call
// Initialize, Evolve or EvaluateFitness: the engine is in the middle of a run. It may add or
// remove observers (the change counts from the next notification). An exception it raises passes
// out of the engine's call like an exception from an event; inside a generation the generation
// then counts as failed (Generation does not advance, OnEvolve does not fire).
//
// Ownership: the engine does not own its observers. An observer that is destroyed before its
// engine removes itself first (RemoveObserver); the records of kv/records do so on their own.
// Copying an engine (Assign) does not copy its observers.
#pragma once

namespace kv {

class TKvCustomGeneticAlgorithm;

class TKvGAObserver {
public:
    virtual ~TKvGAObserver() = default;

    virtual void AfterEvaluation(const TKvCustomGeneticAlgorithm& Engine) { (void)Engine; }
    virtual void AfterGeneration(const TKvCustomGeneticAlgorithm& Engine) { (void)Engine; }
    virtual void EngineDestroyed(const TKvCustomGeneticAlgorithm& Engine) noexcept { (void)Engine; }

protected:
    TKvGAObserver() = default;
    TKvGAObserver(const TKvGAObserver&) = default;
    TKvGAObserver& operator=(const TKvGAObserver&) = default;
};

} // namespace kv
