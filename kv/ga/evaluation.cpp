// Fitness evaluation, the population's statistics and the data selection needs.
#include "kv/ga/engine.h"
#include "kv/rtl/convert.h"

namespace kv {

TGAFitness TKvCustomGeneticAlgorithm::EvaluateFitness(TKvGAIndividual* Item) {
    TGAFitness Fitness = 0;
    if (FOnEvaluateFitness)
        FOnEvaluateFitness(this, Item, Fitness);
    return Fitness;
}

void TKvCustomGeneticAlgorithm::ScorePopulation(TKvGAPopulation& Population) {
    TKvGAEvaluator& Evaluator = *GetEvaluator();
    struct TRunning {
        bool& Flag;
        ~TRunning() { Flag = false; }
    };
    FEvaluating = true;
    TRunning Evaluating{FEvaluating};
    const int32_t Workers = Evaluator.GetWorkers();
    if (Workers <= 0) {
        Evaluator.Evaluate(*this, Population);
        return;
    }
    BeginConcurrentEvaluation(Workers);
    struct TRound {
        TKvCustomGeneticAlgorithm& Engine;
        ~TRound() {
            Engine.FConcurrentEvaluation = false;
            Engine.EndConcurrentEvaluation();
        }
    } Round{*this};
    FConcurrentEvaluation = true;
    Evaluator.Evaluate(*this, Population);
}

void TKvCustomGeneticAlgorithm::EvaluateFitness() {
    CheckChange("EvaluateFitness");
    TKvGAPopulation* Population = GetPopulation();
    if (Population->GetCount() > 0)
        ScorePopulation(*Population);
    // The statistics come from the stored fitness values, in index order, on this thread. A serial
    // callback may have changed the population; it is taken as it stands now.
    const int Count = Population->GetCount();
    if (Count == 0) {
        FMaxFitness = 0;
        FMinFitness = 0;
        FAvgFitness = 0;
        return;
    }
    TKvGAIndividual* First = Population->GetItemUnchecked(0);
    FFittestIndividual = First;
    const TGAFitness F0 = First->FFitness;
    FMaxFitness = F0;
    FMinFitness = F0;
    FAvgFitness = F0;
    FFitnessSum = F0;
    for (int K = 1; K < Count; ++K) {
        TKvGAIndividual* Item = Population->GetItemUnchecked(K);
        const TGAFitness F = Item->FFitness;
        FFitnessSum += F;
        FFittestIndividual = Fittest(FFittestIndividual, Item);
        FAvgFitness += F;
        if (F < FMinFitness)
            FMinFitness = F;
        else if (F > FMaxFitness)
            FMaxFitness = F;
    }
    FAvgFitness /= Count;
    switch (FSelectionMethod) {
    case smRoulette:
    case smStochasticTournament:
        CalculateCumulativeNormalizedFitnesses();
        break;
    case smElitist:
        PrioritizePopulation();
        break;
    default:
        break;
    }
}

void TKvCustomGeneticAlgorithm::CalculateCumulativeNormalizedFitnesses() {
    const TKvGAPopulation* Population = GetPopulation();
    const int Count = Population->GetCount();
    FCumNormFitnesses.resize(static_cast<size_t>(Count));
    if (Count == 0)
        return;
    TGAFitness Sum = GetNormalizedFitness(Population->GetItemUnchecked(0)->GetFitness());
    FCumNormFitnesses[0] = Sum;
    for (int K = 1; K < Count; ++K) {
        Sum += GetNormalizedFitness(Population->GetItemUnchecked(K)->GetFitness());
        FCumNormFitnesses[static_cast<size_t>(K)] = Sum;
    }
}

void TKvCustomGeneticAlgorithm::PrioritizePopulation() {
    if (FPriorityQueue == nullptr)
        FPriorityQueue = std::make_unique<TFloatPriorityQueue>();
    FPriorityQueue->Clear();
    FPriorityQueue->SetOrder(FFitnessMethod == fmMaximize ? hoLargestFirst : hoSmallestFirst);
    TKvGAPopulation* Population = GetPopulation();
    // The keys are single precision; a fitness beyond the float range becomes an infinity.
    for (TCollectionItem* Item : Population->Items())
        FPriorityQueue->Push(Item,
                             SaturateToSingle(static_cast<TKvGAIndividual*>(Item)->GetFitness()));
    FQueuePopulation = Population;
}

TKvGAIndividual* TKvCustomGeneticAlgorithm::Fittest(TKvGAIndividual* Parent1,
                                                    TKvGAIndividual* Parent2) {
    if (FFitnessMethod == fmMaximize)
        return Parent1->GetFitness() >= Parent2->GetFitness() ? Parent1 : Parent2;
    return Parent1->GetFitness() <= Parent2->GetFitness() ? Parent1 : Parent2;
}

} // namespace kv
