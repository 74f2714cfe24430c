// TKvGAIndividual: one candidate solution, a collection item of a TKvGAPopulation.
//
// An individual owns its chromosome (Bits, a TKvGABits whose Owner is the individual), carries the
// fitness its engine last computed for it and an optional name. Fitness is read-only from outside:
// only the engine stores it (when it evaluates the population, or when Assign copies an
// individual).
//
// Construction: individuals are made by their population's item class (Add/Insert), fully
// constructed before they join. The chromosome is created through the overridable factory
// CreateDNA on first access to Bits, so a descendant's CreateDNA always takes part (C++ does not
// dispatch virtual calls from a constructor); the population's "added" notification, which lets
// the engine size the chromosome, is the usual first access. A new chromosome has size 0.
//
// Destruction: the chromosome is destroyed first; then the individual leaves its population,
// whose removal notifications therefore see a whole individual without a chromosome (a later
// access to Bits would create an empty one).
//
// Assign copies Fitness, Name and the chromosome (size and bits) of another individual; the
// collection, index and ID stay, and so does the chromosome object. Any other source goes through
// the cannot-assign protocol (EConvertError). Assign and SetBits report an item change, SetName
// one when the name changes; the population passes it on to its engine unless a batch is open.
//
// TKvGAIndividualClass chooses the class of the individuals a population creates; a derived
// engine hands its own class to CreatePopulation.
//
// Errors: Clone outside a population raises EGAException; a CreateDNA override that returns no
// chromosome, or one owned by another individual, raises EGAException at the first access to Bits.
#pragma once

#include <memory>
#include <string>

#include "kv/ga/bits.h"
#include "kv/rtl/collection.h"
#include "kv/vocabulary/ga_types.h"

namespace kv {

class TKvGAPopulation;
class TKvCustomGeneticAlgorithm;
class IXMLChromosome;

class TKvGAIndividual : public TCollectionItem {
public:
    TKvGAIndividual() = default;
    ~TKvGAIndividual() override;

    std::string ClassName() const override { return "TKvGAIndividual"; }

    // Copies another individual (see the class comment).
    void Assign(const TPersistent* Source) override;
    // Name, or the class name when Name is empty.
    std::string GetDisplayName() const override;

    // Appends a new individual to this individual's population and makes it a copy of this one.
    // Raises EGAException when the individual belongs to no population.
    TKvGAIndividual* Clone();

    const std::string& GetName() const noexcept { return FName; }
    // Stores the name and reports an item change when it differs (case-sensitive).
    void SetName(const std::string& Value);

    // The chromosome (never nullptr; created through CreateDNA on first access).
    TKvGABits* GetBits() { return FBits ? FBits.get() : MakeBits(); }
    const TKvGABits* GetBits() const { return FBits ? FBits.get() : MakeBits(); }
    // Copies Value's size and bits into the chromosome (the chromosome object stays) and reports
    // an item change.
    void SetBits(const TBits* Value);

    // The population the individual belongs to, or nullptr (also when its collection is not a
    // TKvGAPopulation).
    TKvGAPopulation* GetCollection() const noexcept;

    TGAFitness GetFitness() const noexcept { return FFitness; }
    // Fitness divided by the engine's fitness sum; 0 outside an engine's population or when the
    // sum is 0.
    TGAFitness GetNormalizedFitness() const noexcept;

    // ---- XML (persistence_individual.cpp; see kv/ga/persistence.h) ----
    // Reads Name and the chromosome's bits from ChromosomeXML, checking the node first.
    virtual void LoadFromXML(IXMLChromosome& ChromosomeXML);
    // Writes the display name, the whole bit string and, inside an engine, the decoded values.
    virtual void SaveToXML(IXMLChromosome& ChromosomeXML) const;

protected:
    // Creates the chromosome: a TKvGABits owned by this individual. Descendants may return a
    // descendant of TKvGABits, which must have this individual as its Owner.
    virtual std::unique_ptr<TKvGABits> CreateDNA();

private:
    friend class TKvCustomGeneticAlgorithm;
    friend class TKvGAEvaluator;

    TKvGABits* MakeBits() const;

    TGAFitness FFitness = 0;
    mutable std::unique_ptr<TKvGABits> FBits;
    std::string FName;
};

using TKvGAIndividualClass = TItemClassOf<TKvGAIndividual>;

} // namespace kv
