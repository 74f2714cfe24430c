// Initialize and the generation loop.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "kv/ga/engine.h"
#include "kv/rtl/update_guard.h"
#include "kv/vocabulary/ga_messages.h"

namespace kv {

void TKvCustomGeneticAlgorithm::Initialize() {
    const TRandomSourceBinding Bound = BindRandomSource();
    CheckChange("Initialize");
    FInitialized = false;
    TKvGAPopulation* Population = GetPopulation();
    while (Population->GetCount() < FInitialPopulation)
        Population->Add();
    if (FOnInitialization)
        FOnInitialization(this, FInitialized);
    if (!FInitialized) {
        for (int I = 0; I < Population->GetCount(); ++I)
            Population->GetItem(I)->GetBits()->Randomize();
    }
    EvaluateFitness();
    SetPreviousGeneration(GetPopulation());
    FInitialized = true;
    FGeneration = 0;
    NotifyObservers(&TKvGAObserver::AfterGeneration);
}

void TKvCustomGeneticAlgorithm::Evolve() {
    const TRandomSourceBinding Bound = BindRandomSource();
    CheckChange("Evolve");
    if (!FInitialized)
        Initialize();
    if (GetPopulation()->GetCount() == 0)
        return;
    if (!FOnEvaluateFitness)
        throw EGAException(SNoFitnessFunction);
    if (FSelectionMethod == smCustom && !FOnSelection)
        throw EGAException(SNoSelectionFunction);
    // Generation is a 32-bit count (a loaded document or SetGeneration may put it at the top).
    if (FGeneration == std::numeric_limits<int32_t>::max())
        throw EGAException(Format("Generation %i is the largest the engine can count: set a "
                                  "smaller Generation to evolve further",
                                  FGeneration));
    // An engine marked initialised without a previous generation (a copied engine) gets one as a
    // copy of its population, so that the exchange below has a partner.
    if (FPreviousGeneration == nullptr)
        SetPreviousGeneration(GetPopulation());
    FRouletteIndex = -1;
    FPopulation.swap(FPreviousGeneration);

    TKvGAPopulation* Children = FPopulation.get();
    TKvGAPopulation* Parents = FPreviousGeneration.get();
    {
        TUpdateGuard Batch(*Children);
        // The operators hold parents and children across the handlers they call; CheckBreeding
        // refuses a handler that changed either list. The state of an enclosing Evolve (a handler
        // that evolves the engine) is restored on every path out.
        struct TBreeding {
            TKvCustomGeneticAlgorithm& E;
            const TKvGAPopulation* Parents;
            const TKvGAPopulation* Children;
            uint64_t ParentChanges, ChildChanges;
            TBreeding(TKvCustomGeneticAlgorithm& AEngine, const TKvGAPopulation* P,
                      const TKvGAPopulation* C)
                : E(AEngine), Parents(E.FBreedParents), Children(E.FBreedChildren),
                  ParentChanges(E.FBreedParentChanges), ChildChanges(E.FBreedChildChanges) {
                E.FBreedParents = P;
                E.FBreedChildren = C;
                E.FBreedParentChanges = P->GetChangeCount();
                E.FBreedChildChanges = C->GetChangeCount();
            }
            ~TBreeding() {
                E.FBreedParents = Parents;
                E.FBreedChildren = Children;
                E.FBreedParentChanges = ParentChanges;
                E.FBreedChildChanges = ChildChanges;
            }
        };
        {
            const TBreeding Breeding(*this, Parents, Children);
            const int Count = Children->GetCount();
            for (int I = 0; I < Count; I += 2) {
                TKvGAIndividual* Parent1 = SelectParent(Parents);
                TKvGAIndividual* Parent2 = SelectParent(Parents);
                if (I + 1 < Count)
                    Reproduce(Parent1, Parent2, Children->GetItem(I), Children->GetItem(I + 1));
                else
                    Reproduce(Parent1, Parent2, Children->GetItem(I));
            }
        }
        EvaluateFitness();
    }
    ++FGeneration;
    NotifyObservers(&TKvGAObserver::AfterGeneration);
    if (FOnEvolve)
        FOnEvolve(this);
}

void TKvCustomGeneticAlgorithm::CheckBreeding(const char* Event) const {
    if (FBreedChildren == nullptr)
        return;
    if (FPopulation.get() != FBreedChildren || FPreviousGeneration.get() != FBreedParents ||
        FBreedChildren->GetChangeCount() != FBreedChildChanges ||
        FBreedParents->GetChangeCount() != FBreedParentChanges)
        throw EGAException(Format(
            "%s changed the populations while a generation was being bred: a handler must not "
            "add, remove or move individuals, nor load, assign, initialise or evolve the engine",
            Event));
}

int32_t TKvCustomGeneticAlgorithm::Evolve(int32_t Generations) {
    const TRandomSourceBinding Bound = BindRandomSource();
    if (Generations <= 0)
        return 0;
    // The initialisation the first Evolve would make is made first, because it resets Generation:
    // the count of bred generations starts from the reset value.
    if (!FInitialized)
        Initialize();
    const int32_t Start = FGeneration;
    for (int32_t G = 0; G < Generations; ++G) {
        Evolve();
        // Without a fittest individual (a population that has always been empty) there is nothing
        // to compare with the cut-off.
        if (FUseFitnessCutoff && FFittestIndividual != nullptr) {
            const TGAFitness Best = FFittestIndividual->GetFitness();
            if (FFitnessMethod == fmMaximize ? Best >= FFitnessCutoff : Best <= FFitnessCutoff)
                break;
        }
        if (FUseDiversityLimit && GetDiversity() < FDiversityLimit)
            break;
    }
    // Generation advances by one per bred generation. A handler that sets Generation itself can
    // move the difference out of 0 .. Generations; the result stays in that range.
    const int64_t Bred = int64_t(FGeneration) - Start;
    return static_cast<int32_t>(std::clamp<int64_t>(Bred, 0, Generations));
}

} // namespace kv
