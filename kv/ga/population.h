// TKvGAPopulation: the ordered collection of individuals that an engine breeds.
//
// An engine owns two populations (its current population and its previous generation); a
// population made by a caller may have any owner, or none. The population does no work of its
// own: when its owner is a TKvCustomGeneticAlgorithm it passes every membership change (Notify:
// added, extracting, deleting) and every update (an individual's change, or a general change with
// nullptr) on to that engine, which sizes new chromosomes and forgets individuals that leave.
// A population owned by anything else sends nothing.
//
// Items are TKvGAIndividual or a descendant, created by the item class given to the constructor.
// GetItem is inline and bounds-checked (EListError naming the index and the count);
// GetItemUnchecked skips the check for loops that know the range.
//
// Ownership: the population owns its individuals (see TCollection); it does not own its owner.
#pragma once

#include "kv/ga/individual.h"
#include "kv/rtl/collection.h"

namespace kv {

class TKvCustomGeneticAlgorithm;
class IXMLChromosomes;

class TKvGAPopulation : public TCollection {
public:
    explicit TKvGAPopulation(TPersistent* AOwner,
                             const TKvGAIndividualClass& AItemClass = TKvGAIndividualClass());

    std::string ClassName() const override { return "TKvGAPopulation"; }

    // The owning engine, or nullptr when the owner is not a TKvCustomGeneticAlgorithm.
    TKvCustomGeneticAlgorithm* GetOwner() const noexcept { return FEngine; }
    // The class of the individuals Add and Insert create (the typed form of GetItemClass).
    const TKvGAIndividualClass& GetIndividualClass() const noexcept { return FIndividualClass; }

    // Raise EGAException before anything changes when called from a worker of the owning engine's
    // parallel evaluation (see kv/ga/engine.h).
    TKvGAIndividual* Add();
    TKvGAIndividual* Insert(int Index);
    TKvGAIndividual* FindItemID(int ID) const noexcept {
        return static_cast<TKvGAIndividual*>(TCollection::FindItemID(ID));
    }
    TKvGAIndividual* GetItem(int Index) {
        return static_cast<TKvGAIndividual*>(TCollection::GetItem(Index));
    }
    const TKvGAIndividual* GetItem(int Index) const {
        return static_cast<const TKvGAIndividual*>(TCollection::GetItem(Index));
    }
    TKvGAIndividual* GetItemUnchecked(int Index) noexcept {
        return static_cast<TKvGAIndividual*>(TCollection::GetItemUnchecked(Index));
    }
    const TKvGAIndividual* GetItemUnchecked(int Index) const noexcept {
        return static_cast<const TKvGAIndividual*>(TCollection::GetItemUnchecked(Index));
    }
    // Assigns Value to the individual at Index (EListError outside the population).
    void SetItem(int Index, const TKvGAIndividual* Value) { TCollection::SetItem(Index, Value); }

    // ---- XML (persistence_individual.cpp; see kv/ga/persistence.h) ----
    // Replaces every individual by those of ChromosomesXML, checking the whole node first.
    virtual void LoadFromXML(IXMLChromosomes& ChromosomesXML);
    // Appends one Chromosome per individual.
    virtual void SaveToXML(IXMLChromosomes& ChromosomesXML) const;

protected:
    // Forwarded to the owning engine's PopulationNotify / PopulationUpdate.
    void Notify(TCollectionItem* Item, TCollectionNotification Action) override;
    void Update(TCollectionItem* Item) override;

private:
    TKvGAIndividualClass FIndividualClass;
    TKvCustomGeneticAlgorithm* FEngine;
};

} // namespace kv
