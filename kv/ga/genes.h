// TKvGAGenes: the genotype, the ordered collection of an engine's genes.
//
// Layout: the genes lie end to end in index order. For every gene at index i >= 1, Offset is the
// Offset + Size of gene i - 1; Size of the genotype is the last gene's Offset + Size (0 when
// empty). The first gene's Offset is never recomputed: a first gene created at index 0 has offset
// 0, while a gene that becomes first by a deletion or a move keeps the offset it had (the bits
// before it are then unused, and Size counts them).
//
// Notifications. The genotype keeps the layout and, when its owner is a TKvCustomGeneticAlgorithm,
// reports to it:
//   Notify (added, extracting, deleting)  offsets recomputed, then the engine's GeneNotify
//   Update(nullptr) (general change)      offsets recomputed, the engine's GenesSizeChange (so the
//                                         chromosomes cover a genotype that grew by an insertion,
//                                         a move or a whole Assign), then GeneUpdate(nullptr)
//   Update(Gene) (one gene's own change)  the engine's GeneUpdate(Gene); offsets stay
//   SizeChange(Index) (a gene's new Size) the genes after Index move; the engine's GenesSizeChange
// A genotype owned by anything else only keeps its layout.
//
// Items are TKvGAGene or a descendant, created by the item class given to the constructor.
//
// Errors: EListError for an index outside the genotype; EGAException when the layout would place
// a bit beyond 2^31 - 1.
#pragma once

#include <cstdint>

#include "kv/ga/gene.h"
#include "kv/rtl/collection.h"

namespace kv {

class TKvCustomGeneticAlgorithm;
class TKvGAIndividual;
class IXMLGenoType;
class IXMLGenes;

class TKvGAGenes : public TCollection {
public:
    explicit TKvGAGenes(TPersistent* AOwner, const TKvGAGeneClass& AItemClass = TKvGAGeneClass());

    std::string ClassName() const override { return "TKvGAGenes"; }

    // The owning engine, or nullptr when the owner is not a TKvCustomGeneticAlgorithm.
    TKvCustomGeneticAlgorithm* GetOwner() const noexcept { return FEngine; }
    // Raises EGAException naming Operation when called from a worker of the owning engine's
    // parallel evaluation (see kv/ga/engine.h); the gene setters call it before changing anything.
    void CheckChange(const char* Operation) const;

    TKvGAGene* Add() { return static_cast<TKvGAGene*>(TCollection::Add()); }
    TKvGAGene* Insert(int Index) { return static_cast<TKvGAGene*>(TCollection::Insert(Index)); }
    TKvGAGene* FindItemID(int ID) const noexcept {
        return static_cast<TKvGAGene*>(TCollection::FindItemID(ID));
    }
    TKvGAGene* GetItem(int Index) { return static_cast<TKvGAGene*>(TCollection::GetItem(Index)); }
    const TKvGAGene* GetItem(int Index) const {
        return static_cast<const TKvGAGene*>(TCollection::GetItem(Index));
    }
    // Assigns Value to the gene at Index (EListError outside the genotype).
    void SetItem(int Index, const TKvGAGene* Value) { TCollection::SetItem(Index, Value); }

    // Total bits of the genotype: the last gene's Offset + Size, 0 when empty.
    int32_t GetSize() const noexcept;

    // Recomputes the offsets of the genes from index Start on (Start 0 counts as 1: the first
    // gene's offset is never written).
    void UpdateOffsets(int Start);

    // ---- XML (persistence_genes.cpp; see kv/ga/persistence.h) ----
    // Replaces every gene by those of GenoTypeXML, checking the whole node first.
    virtual void LoadFromXML(IXMLGenoType& GenoTypeXML);
    // Appends one gene element per gene (genes of type gtUnknown are left out) and sets Size.
    virtual void SaveToXML(IXMLGenoType& GenoTypeXML) const;
    // Appends the decoded value of every gene in Item's chromosome to GenesXML.
    virtual void SaveToXML(IXMLGenes& GenesXML, const TKvGAIndividual& Item) const;

protected:
    // Called by a gene whose Size changed: re-lays the genes after Index and tells the engine.
    virtual void SizeChange(int Index);

    void Notify(TCollectionItem* Item, TCollectionNotification Action) override;
    void Update(TCollectionItem* Item) override;

private:
    friend class TKvGAGene;

    TKvCustomGeneticAlgorithm* FEngine;
};

} // namespace kv
