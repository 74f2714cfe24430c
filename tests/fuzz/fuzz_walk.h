// Reads every property of a domain, genotype or chromosome-list document through the typed nodes,
// as a caller of the document functions would. Each read either gives a value or raises a
// kv::Exception (Run checks that); reading one item past the end of a list must raise EListError.
#pragma once

#include <memory>

#include "kv/xml/KvGADomainXML.h"
#include "tests/fuzz/fuzz_check.h"

namespace kv::fuzz {

// Every item of List, then the one past its end.
template <class TList>
void WalkList(const TList& List) {
    const int Count = List.GetCount();
    for (int I = 0; I < Count; ++I)
        Run([&] { (void)List.GetItem(I); });
    try {
        (void)List.GetItem(Count);
        Fail("reading past the end of a list raised nothing");
    } catch (const EListError&) {
    } catch (const kv::Exception& E) {
        Fail("reading past the end of a list raised something else than EListError", E.what());
    }
}

inline void WalkGenoType(IXMLGenoType& GenoType) {
    Run([&] { (void)GenoType.GetSize(); });
    auto Children = GenoType.GetChildNodes();
    for (int I = 0; I < Children->GetCount(); ++I) {
        std::shared_ptr<IXMLNode> Node = Children->GetNode(I);
        if (auto Gene = std::dynamic_pointer_cast<IXMLGeneType>(Node)) {
            Run([&] { (void)Gene->GetName(); });
            Run([&] { (void)Gene->GetSize(); });
        }
        if (auto Numeric = std::dynamic_pointer_cast<IXMLNumericGeneType>(Node)) {
            Run([&] { (void)Numeric->GetMinValue(); });
            Run([&] { (void)Numeric->GetMaxValue(); });
            Run([&] { (void)Numeric->GetPreserveSignBit(); });
        }
        if (auto Enumeration = std::dynamic_pointer_cast<IXMLEnumerationGeneType>(Node))
            WalkList(*Enumeration->GetEnumeration());
    }
    WalkList(*GenoType.GetBooleanGene());
    WalkList(*GenoType.GetIntegerGene());
    WalkList(*GenoType.GetFloatGene());
    WalkList(*GenoType.GetEnumerationGene());
}

inline void WalkChromosomes(IXMLChromosomes& Chromosomes) {
    for (int I = 0; I < Chromosomes.GetCount(); ++I) {
        std::shared_ptr<IXMLChromosome> Chromosome = Chromosomes.GetChromosome(I);
        Run([&] { (void)Chromosome->GetName(); });
        std::shared_ptr<IXMLGenes> Genes = Chromosome->GetGenes();
        Run([&] { (void)Genes->GetBits(); });
        WalkList(*Genes->GetBooleanGeneValue());
        WalkList(*Genes->GetIntegerGeneValue());
        WalkList(*Genes->GetFloatGeneValue());
        WalkList(*Genes->GetEnumerationGeneValue());
    }
}

inline void WalkDomain(IXMLGADomainType& Domain) {
    WalkGenoType(*Domain.GetGenoType());
    WalkChromosomes(*Domain.GetChromosomes());
}

} // namespace kv::fuzz
