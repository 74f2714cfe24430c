// Initialize and the generation loop.
#include "kv/ga/engine.h"
#include "kv/rtl/update_guard.h"
#include "kv/vocabulary/ga_messages.h"

namespace kv {

void TKvCustomGeneticAlgorithm::Initialize() {
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
}

void TKvCustomGeneticAlgorithm::Evolve() {
    CheckChange("Evolve");
    if (!FInitialized)
        Initialize();
    if (GetPopulation()->GetCount() == 0)
        return;
    if (!FOnEvaluateFitness)
        throw EGAException(SNoFitnessFunction);
    if (FSelectionMethod == smCustom && !FOnSelection)
        throw EGAException(SNoSelectionFunction);
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
        const int Count = Children->GetCount();
        for (int I = 0; I < Count; I += 2) {
            TKvGAIndividual* Parent1 = SelectParent(Parents);
            TKvGAIndividual* Parent2 = SelectParent(Parents);
            if (I + 1 < Count)
                Reproduce(Parent1, Parent2, Children->GetItem(I), Children->GetItem(I + 1));
            else
                Reproduce(Parent1, Parent2, Children->GetItem(I));
        }
        EvaluateFitness();
    }
    ++FGeneration;
    if (FOnEvolve)
        FOnEvolve(this);
}

int32_t TKvCustomGeneticAlgorithm::Evolve(int32_t Generations) {
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
    return FGeneration - Start;
}

} // namespace kv
