// Parent selection: the method/routine writers, SelectParent and the five built-in routines.
#include <cmath>

#include "kv/ga/engine.h"
#include "kv/rtl/convert.h"
#include "kv/rtl/random.h"

namespace kv {

void TKvCustomGeneticAlgorithm::SetSelectionMethod(TGASelectionMethod Value) {
    CheckChange("SetSelectionMethod");
    if (Value == FSelectionMethod || Value < smRoulette || Value > smCustom)
        return;
    FSelectionMethod = Value;
    InstallSelectionRoutine(Value);
}

void TKvCustomGeneticAlgorithm::SetOnSelection(TKvGASelectionEvent Value) {
    CheckChange("SetOnSelection");
    FOnSelection = std::move(Value);
    if (FOnSelection) {
        // Stored directly: the method writer would replace the caller's routine.
        FSelectionMethod = smCustom;
    } else {
        FSelectionMethod = smRoulette;
        InstallSelectionRoutine(smRoulette);
    }
}

void TKvCustomGeneticAlgorithm::InstallSelectionRoutine(TGASelectionMethod Method) {
    using TRoutine =
        void (TKvCustomGeneticAlgorithm::*)(TObject*, TKvGAPopulation*, TKvGAIndividual*&);
    TRoutine Routine = nullptr;
    switch (Method) {
    case smRoulette:
        Routine = &TKvCustomGeneticAlgorithm::SelectRoulette;
        break;
    case smRandom:
        Routine = &TKvCustomGeneticAlgorithm::SelectRandom;
        break;
    case smTournament:
        Routine = &TKvCustomGeneticAlgorithm::SelectTournament;
        break;
    case smStochasticTournament:
        Routine = &TKvCustomGeneticAlgorithm::SelectStochasticTournament;
        break;
    case smElitist:
        Routine = &TKvCustomGeneticAlgorithm::SelectElitist;
        break;
    default:
        FOnSelection = nullptr;
        return;
    }
    FOnSelection = [this, Routine](TObject* Sender, TKvGAPopulation* Population,
                                   TKvGAIndividual*& Parent) {
        (this->*Routine)(Sender, Population, Parent);
    };
}

TKvGAIndividual* TKvCustomGeneticAlgorithm::SelectParent(TKvGAPopulation* Population) {
    if (MustBindRandomSource()) [[unlikely]] {
        const TRandomSourceBinding Bound = BindRandomSource();
        return TKvCustomGeneticAlgorithm::SelectParent(Population);
    }
    if (!FOnSelection)
        throw EGAException(SNoSelectionFunction);
    TKvGAIndividual* Parent = nullptr;
    FOnSelection(this, Population, Parent);
    CheckBreeding("OnSelection");
    if (Parent == nullptr)
        throw EGAException(
            Format("The %s selection routine chose no parent from a population of %i",
                   EnumToIdent(FSelectionMethod), Population->GetCount()));
    return Parent;
}

void TKvCustomGeneticAlgorithm::SelectRandom(TObject* /*Sender*/, TKvGAPopulation* Population,
                                             TKvGAIndividual*& Parent) {
    // Random(0) is 0, so an empty population ends in the list's index error.
    Parent = Population->GetItem(Random(Population->GetCount()));
}

void TKvCustomGeneticAlgorithm::SelectRoulette(TObject* Sender, TKvGAPopulation* Population,
                                               TKvGAIndividual*& Parent) {
    if (FAllScoredAlike) {
        SelectRandom(Sender, Population, Parent);
        return;
    }
    const double R = Random();
    if (FCumNormFitnesses.empty())
        CalculateCumulativeNormalizedFitnesses();
    // The smallest index whose cumulative value exceeds R. A plain bisection: with fitness values
    // of both signs the entries do not rise, and the search must still end on a valid index.
    const TGAFitness* Cum = FCumNormFitnesses.data();
    size_t Lo = 0;
    size_t Hi = FCumNormFitnesses.size();
    while (Lo < Hi) {
        const size_t Mid = Lo + (Hi - Lo) / 2;
        if (Cum[Mid] > R)
            Hi = Mid;
        else
            Lo = Mid + 1;
    }
    // No entry exceeds R (a fitness sum of 0, negative fitness values, or rounding at the top):
    // the last individual that scored a number is chosen (a NaN has no share of the wheel). The
    // array may also be longer than this population when it was built from the other one; the
    // index then stays within this population.
    int32_t K = static_cast<int32_t>(Lo);
    const int32_t Last = Population->GetCount() - 1;
    if (K > Last)
        K = Last;
    if (Lo == FCumNormFitnesses.size())
        while (K > 0 && std::isnan(Population->GetItem(K)->GetFitness()))
            --K;
    if (K < 0)
        K = 0;
    FRouletteIndex = K;
    Parent = Population->GetItem(K);
}

void TKvCustomGeneticAlgorithm::SelectTournament(TObject* Sender, TKvGAPopulation* Population,
                                                 TKvGAIndividual*& Parent) {
    SelectRandom(Sender, Population, Parent);
    for (int32_t I = 1; I < FTournamentField; ++I) {
        TKvGAIndividual* Challenger = nullptr;
        SelectRandom(Sender, Population, Challenger);
        Parent = Fittest(Parent, Challenger);
    }
}

void TKvCustomGeneticAlgorithm::SelectStochasticTournament(TObject* Sender,
                                                           TKvGAPopulation* Population,
                                                           TKvGAIndividual*& Parent) {
    SelectRandom(Sender, Population, Parent);
    for (int32_t I = 1; I < FTournamentField; ++I) {
        TKvGAIndividual* Challenger = nullptr;
        SelectRoulette(Sender, Population, Challenger);
        Parent = Fittest(Parent, Challenger);
    }
}

void TKvCustomGeneticAlgorithm::SelectElitist(TObject* Sender, TKvGAPopulation* Population,
                                              TKvGAIndividual*& Parent) {
    if (FAllScoredAlike) {
        SelectRandom(Sender, Population, Parent);
        return;
    }
    ++FRouletteIndex;
    // The number of queue positions after the first that take turns: Count * ElitistPct rounded
    // to the nearest integer, halves to even.
    const int32_t Last = static_cast<int32_t>(RoundHalfEven(Population->GetCount() * FElitistPct));
    if (FRouletteIndex > Last)
        FRouletteIndex = 0;
    // The queue is built over the population the parents come from: when it is missing (an
    // individual left the population it was built over) or was built over the other collection,
    // the one being overwritten by the children.
    if (FPriorityQueue == nullptr || FQueuePopulation != Population)
        PrioritizePopulation(Population);
    // A position past the queue (ElitistPct 1, or rounding up on a tiny population) wraps to the
    // first.
    if (FRouletteIndex >= FPriorityQueue->GetCount())
        FRouletteIndex = 0;
    Parent = static_cast<TKvGAIndividual*>(FPriorityQueue->GetItem(FRouletteIndex));
}

} // namespace kv
