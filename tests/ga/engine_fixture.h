// Shared helpers for the engine tests: an engine that exposes its protected operations (the API a
// derived engine has) and a fitness table indexed by an individual's position.
#pragma once

#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"

namespace kvtest {

class TOpenEngine : public kv::TKvGeneticAlgorithm {
public:
    using TKvCustomGeneticAlgorithm::Crossover;
    using TKvCustomGeneticAlgorithm::EvaluateFitness;
    using TKvCustomGeneticAlgorithm::Evolve;
    using TKvCustomGeneticAlgorithm::GetCumNormFitnesses;
    using TKvCustomGeneticAlgorithm::GetFitnessSum;
    using TKvCustomGeneticAlgorithm::GetPriorityQueue;
    using TKvCustomGeneticAlgorithm::GetRouletteIndex;
    using TKvCustomGeneticAlgorithm::Invert;
    using TKvCustomGeneticAlgorithm::IsCustomSelection;
    using TKvCustomGeneticAlgorithm::Mutate;
    using TKvCustomGeneticAlgorithm::SelectParent;
    using TKvGeneticAlgorithm::TKvGeneticAlgorithm;
};

// Fills the engine's population with Fitness.size() individuals of GeneSize bits and scores them
// with the table (fitness of individual i = Fitness[i]).
inline void ScoreWith(kv::TKvCustomGeneticAlgorithm& Engine, const std::vector<double>& Fitness) {
    Engine.SetOnEvaluateFitness(
        [Fitness](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
            F = Fitness[static_cast<size_t>(Item->GetIndex())];
        });
    kv::TKvGAPopulation* Population = Engine.GetPopulation();
    while (Population->GetCount() < static_cast<int>(Fitness.size()))
        Population->Add();
    Engine.EvaluateFitness();
}

} // namespace kvtest
