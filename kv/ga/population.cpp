#include "kv/ga/population.h"

#include "kv/ga/engine.h"

namespace kv {

TKvGAPopulation::TKvGAPopulation(TPersistent* AOwner, const TKvGAIndividualClass& AItemClass)
    : TCollection(AOwner, AItemClass), FIndividualClass(AItemClass),
      FEngine(dynamic_cast<TKvCustomGeneticAlgorithm*>(AOwner)) {}

TKvGAIndividual* TKvGAPopulation::Add() {
    if (FEngine != nullptr)
        FEngine->CheckChange("Population.Add");
    return static_cast<TKvGAIndividual*>(TCollection::Add());
}

TKvGAIndividual* TKvGAPopulation::Insert(int Index) {
    if (FEngine != nullptr)
        FEngine->CheckChange("Population.Insert");
    return static_cast<TKvGAIndividual*>(TCollection::Insert(Index));
}

void TKvGAPopulation::Notify(TCollectionItem* Item, TCollectionNotification Action) {
    // Every item is a TKvGAIndividual: the item class admits nothing else, and an individual
    // leaves its population from its own destructor. A change from a worker of a parallel round
    // raises before anything is done (an addition is then taken out again by the collection).
    if (FEngine != nullptr) {
        FEngine->CheckChange("Population");
        FEngine->PopulationNotify(static_cast<TKvGAIndividual*>(Item), Action);
    }
}

void TKvGAPopulation::Update(TCollectionItem* Item) {
    if (FEngine == nullptr)
        return;
    FEngine->CheckChange("Population");
    FEngine->PopulationUpdate(static_cast<TKvGAIndividual*>(Item));
}

} // namespace kv
