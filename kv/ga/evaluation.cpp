// Fitness evaluation, the population's statistics and the data selection needs.
#include <algorithm>
#include <cmath>

#include "kv/ga/engine.h"
#include "kv/rtl/convert.h"

namespace kv {

namespace {

// The power of two a sum that overflowed is scaled down by: 2^-64 takes even 2^31 values of the
// largest finite double to a finite sum, and a power of two scales exactly.
constexpr int OverflowScale = 64;

} // namespace

TGAFitness TKvCustomGeneticAlgorithm::EvaluateFitness(TKvGAIndividual* Item) {
    if (MustBindRandomSource()) [[unlikely]] {
        const TRandomSourceBinding Bound = BindRandomSource();
        return TKvCustomGeneticAlgorithm::EvaluateFitness(Item);
    }
    TGAFitness Fitness = 0;
    if (FOnEvaluateFitness)
        FOnEvaluateFitness(this, Item, Fitness);
    return Fitness;
}

void TKvCustomGeneticAlgorithm::EvaluatePopulation() {
    TKvGAPopulation& Population = *GetPopulation();
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
    const TRandomSourceBinding Bound = BindRandomSource();
    CheckChange("EvaluateFitness");
    TKvGAPopulation* Population = GetPopulation();
    if (Population->GetCount() == 0) {
        FMaxFitness = 0;
        FMinFitness = 0;
        FAvgFitness = 0;
        FAllScoredAlike = true;
        NotifyObservers(&TKvGAObserver::AfterEvaluation);
        return;
    }
    EvaluatePopulation();
    CalculateStatistics();
    PrepareSelection();
    NotifyObservers(&TKvGAObserver::AfterEvaluation);
}

void TKvCustomGeneticAlgorithm::CalculateStatistics() {
    TKvGAPopulation* Population = GetPopulation();
    const int Count = Population->GetCount();
    TKvGAIndividual* Best = Population->GetItemUnchecked(0);
    TGAFitness Sum = 0;
    TGAFitness Min = 0;
    TGAFitness Max = 0;
    int Numbers = 0;
    bool Infinite = false;
    for (int K = 0; K < Count; ++K) {
        TKvGAIndividual* Item = Population->GetItemUnchecked(K);
        if (K > 0)
            Best = Fittest(Best, Item);
        const TGAFitness F = Item->FFitness;
        // A NaN fitness is no number: it takes no part in the statistics (and Fittest ranks it
        // below every number).
        if (std::isnan(F))
            continue;
        if (std::isinf(F))
            Infinite = true;
        if (Numbers == 0) {
            Sum = F;
            Min = F;
            Max = F;
        } else {
            Sum += F;
            if (F < Min)
                Min = F;
            else if (F > Max)
                Max = F;
        }
        ++Numbers;
    }
    FFittestIndividual = Best;
    FMinFitness = Min;
    FMaxFitness = Max;
    FAllScoredAlike = Numbers == 0 || (Numbers == Count && Min == Max);
    FFitnessSumScale = 0;
    if (Numbers == 0) {
        FFitnessSum = 0;
        FAvgFitness = 0;
    } else if (std::isfinite(Sum) || Infinite) {
        FFitnessSum = Sum;
        FAvgFitness = Sum / Numbers;
    } else {
        // Finite values whose sum overflowed: the sum is kept scaled down by a power of two, so
        // that the normalised fitnesses and the mean stay finite. The mean lies between the
        // smallest and the largest value; the clamp only keeps rounding from leaving that range.
        TGAFitness Scaled = 0;
        for (int K = 0; K < Count; ++K) {
            const TGAFitness F = Population->GetItemUnchecked(K)->FFitness;
            if (!std::isnan(F))
                Scaled += std::ldexp(F, -OverflowScale);
        }
        FFitnessSum = Scaled;
        FFitnessSumScale = OverflowScale;
        FAvgFitness = std::clamp(std::ldexp(Scaled / Numbers, OverflowScale), Min, Max);
    }
}

TGAFitness TKvCustomGeneticAlgorithm::GetNormalizedFitness(TGAFitness Fitness) const noexcept {
    if (FFitnessSum == 0 || std::isnan(Fitness))
        return 0;
    if (FFitnessSumScale != 0)
        return std::ldexp(Fitness, -FFitnessSumScale) / FFitnessSum;
    return Fitness / FFitnessSum;
}

TGAFitness TKvCustomGeneticAlgorithm::GetFitnessSum() const noexcept {
    return FFitnessSumScale == 0 ? FFitnessSum : std::ldexp(FFitnessSum, FFitnessSumScale);
}

void TKvCustomGeneticAlgorithm::PrepareSelection() {
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
    PrioritizePopulation(GetPopulation());
}

void TKvCustomGeneticAlgorithm::PrioritizePopulation(TKvGAPopulation* Population) {
    if (FPriorityQueue == nullptr)
        FPriorityQueue = std::make_unique<TFloatPriorityQueue>();
    FPriorityQueue->Clear();
    FPriorityQueue->SetOrder(FFitnessMethod == fmMaximize ? hoLargestFirst : hoSmallestFirst);
    // The keys are single precision; a fitness beyond the float range becomes an infinity, and a
    // NaN key comes after every number under either order.
    for (TCollectionItem* Item : Population->Items())
        FPriorityQueue->Push(Item,
                             SaturateToSingle(static_cast<TKvGAIndividual*>(Item)->GetFitness()));
    // A population of another owner tells the engine nothing when its individuals leave, so a
    // queue over it is used for this selection only and built again for the next.
    FQueuePopulation = Population->GetOwner() == this ? Population : nullptr;
}

TKvGAIndividual* TKvCustomGeneticAlgorithm::Fittest(TKvGAIndividual* Parent1,
                                                    TKvGAIndividual* Parent2) {
    const TGAFitness F1 = Parent1->GetFitness();
    const TGAFitness F2 = Parent2->GetFitness();
    // NaN ranks below every number under both methods; two NaNs are equal.
    if (std::isnan(F2))
        return Parent1;
    if (std::isnan(F1))
        return Parent2;
    if (FFitnessMethod == fmMaximize)
        return F1 >= F2 ? Parent1 : Parent2;
    return F1 <= F2 ? Parent1 : Parent2;
}

} // namespace kv
