#include "kv/ga/population.h"

#include "kv/ga/engine.h"

namespace kv {

TKvGAPopulation::TKvGAPopulation(TPersistent* AOwner, const TKvGAIndividualClass& AItemClass)
    : TCollection(AOwner, AItemClass), FIndividualClass(AItemClass),
      FEngine(dynamic_cast<TKvCustomGeneticAlgorithm*>(AOwner)) {}

void TKvGAPopulation::Notify(TCollectionItem* Item, TCollectionNotification Action) {
    // Every item is a TKvGAIndividual: the item class admits nothing else, and an individual
    // leaves its population from its own destructor.
    if (FEngine != nullptr)
        FEngine->PopulationNotify(static_cast<TKvGAIndividual*>(Item), Action);
}

void TKvGAPopulation::Update(TCollectionItem* Item) {
    if (FEngine != nullptr)
        FEngine->PopulationUpdate(static_cast<TKvGAIndividual*>(Item));
}

} // namespace kv
