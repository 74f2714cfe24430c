// Copying one engine into another (see kv/ga/persistence.h).
#include "kv/ga/engine.h"

namespace kv {

void TKvCustomGeneticAlgorithm::Assign(const TPersistent* Source) {
    CheckChange("Assign");
    const auto* S = dynamic_cast<const TKvCustomGeneticAlgorithm*>(Source);
    if (S == nullptr) {
        TComponent::Assign(Source);
        return;
    }
    if (S == this)
        return;

    FGeneration = S->FGeneration;
    FFitnessCutoff = S->FFitnessCutoff;
    FMutationProbability = S->FMutationProbability;
    FInversionProbability = S->FInversionProbability;
    FCrossoverProbability = S->FCrossoverProbability;
    FElitistPct = S->FElitistPct;
    FGeneSize = S->FGeneSize;
    FFitnessMethod = S->FFitnessMethod;
    FMaxFitness = S->FMaxFitness;
    FMinFitness = S->FMinFitness;
    FDiversityLimit = S->FDiversityLimit;
    FAvgFitness = S->FAvgFitness;
    FTournamentField = S->FTournamentField;
    FInitialized = S->FInitialized;
    FCrossoverMethod = S->FCrossoverMethod;
    FUseFitnessCutoff = S->FUseFitnessCutoff;
    FUseDiversityLimit = S->FUseDiversityLimit;
    FCrossoverKind = S->FCrossoverKind;
    FMutationMode = S->FMutationMode;
    SetSelectionMethod(S->FSelectionMethod);
    // The stream goes with the rest: a source with a stream of its own gives the copy one in the
    // same state, a source without one leaves the copy drawing from the thread's source.
    if (const TRandomSource* Stream = S->GetRandomSource()) {
        if (FRandomSource == nullptr)
            FRandomSource = std::make_unique<TRandomSource>();
        FRandomSource->SetState(Stream->GetState());
        FOwnStream = true;
    } else {
        FOwnStream = false;
    }
    SetGenes(S->GetGenes());
    SetPopulation(S->GetPopulation());

    // The previous generation is copied into this engine's own collection; a source without one
    // leaves this engine's empty.
    if (S->FPreviousGeneration != nullptr)
        SetPreviousGeneration(S->FPreviousGeneration.get());
    else if (FPreviousGeneration != nullptr)
        FPreviousGeneration->Clear();

    // The fittest individual is the copy of the source's: the same index in this population.
    FFittestIndividual = nullptr;
    const TKvGAIndividual* Fittest = S->FFittestIndividual;
    if (Fittest != nullptr && Fittest->TCollectionItem::GetCollection() == S->FPopulation.get()) {
        const int Index = Fittest->GetIndex();
        TKvGAPopulation* Population = GetPopulation();
        if (Index >= 0 && Index < Population->GetCount())
            FFittestIndividual = Population->GetItem(Index);
    }

    // The selection support data go with the statistics they were made from, so the copy's next
    // generation draws its parents as the source's would: the cumulative fitnesses are values; the
    // elitist queue holds the source's individuals and is built again over the copies.
    FFitnessSum = S->FFitnessSum;
    FFitnessSumScale = S->FFitnessSumScale;
    FAllScoredAlike = S->FAllScoredAlike;
    FCumNormFitnesses = S->FCumNormFitnesses;
    FPriorityQueue.reset();
    FQueuePopulation = nullptr;
    if (S->FPriorityQueue != nullptr && S->FQueuePopulation == S->FPopulation.get())
        PrioritizePopulation();
}

} // namespace kv
