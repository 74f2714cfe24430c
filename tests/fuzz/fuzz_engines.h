// Engines and documents shared by the fuzz targets, the seed maker and the hostile-input tests.
//
// MakeSampleEngine gives an engine that differs from a new one in every saved respect: settings
// away from their defaults, one gene of each kind (20 bits in all) and three named individuals
// with fixed bits. Loading into it and comparing full saves before and after shows whether a
// refused load left the engine alone. The Save* helpers return the documents the library writes.
#pragma once

#include <sstream>
#include <string>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/xml/KvGADomainXML.h"
#include "kv/xml/KvGeneticAlgorithmXML.h"

namespace kv::fuzz {

inline void MakeSampleEngine(TKvCustomGeneticAlgorithm& GA) {
    GA.SetGeneration(7);
    GA.SetFitnessCutoff(42.5);
    GA.SetUseFitnessCutoff(true);
    GA.SetDiversityLimit(0.125);
    GA.SetFitnessMethod(fmMaximize);
    GA.SetCrossoverMethod(cmByteBoundary);
    GA.SetCrossoverProbability(0.75);
    GA.SetInversionProbability(0.25);
    GA.SetMutationProbability(0.0625);
    GA.SetSelectionMethod(smTournament);
    GA.SetElitistPct(0.5);
    GA.SetTournamentField(3);

    TKvGAGenes* Genes = GA.GetGenes();
    TKvGAGene* Flag = Genes->Add();
    Flag->SetName("Flag");
    Flag->SetGeneType(gtBoolean);
    Flag->SetSize(1);
    TKvGAGene* Count = Genes->Add();
    Count->SetName("Count");
    Count->SetGeneType(gtInteger);
    Count->SetSize(6);
    Count->SetPreserveSignBit(true);
    TKvGAGene* Rate = Genes->Add();
    Rate->SetName("Rate");
    Rate->SetGeneType(gtFloat);
    Rate->SetSize(10);
    TKvGAGene* Colour = Genes->Add();
    Colour->SetName("Colour");
    Colour->SetGeneType(gtEnumeration);
    for (const char* Name : {"Red", "Green", "Blue", "Black"})
        Colour->GetEnumerations()->Add(Name);

    const char* const Names[] = {"Best", "", "Third"};
    const char* const Bits[] = {"10110011100011110100", "00000000000000000000",
                                "11111111111111111010"};
    for (int I = 0; I < 3; ++I) {
        TKvGAIndividual* Item = GA.GetPopulation()->Add();
        Item->SetName(Names[I]);
        Item->GetBits()->SetAsBitString(0, Item->GetBits()->GetSize(), Bits[I]);
    }
}

// The engine's settings document, as SaveToStream writes it.
inline std::string SaveEngine(const TKvCustomGeneticAlgorithm& GA) {
    std::ostringstream Out;
    GA.SaveToStream(Out);
    return Out.str();
}

// The engine's domain (genotype and population) as a stand-alone GADomain document.
inline std::string SaveDomain(const TKvCustomGeneticAlgorithm& GA) {
    auto Domain = NewGADomain();
    GA.SaveToXML(*Domain);
    return Domain->GetOwnerDocument()->SaveToString();
}

// The engine's genotype as a stand-alone GenoType document.
inline std::string SaveGenoType(const TKvCustomGeneticAlgorithm& GA) {
    auto GenoType = NewGenoType();
    GA.GetGenes()->SaveToXML(*GenoType);
    return GenoType->GetOwnerDocument()->SaveToString();
}

// The engine's population as a stand-alone Chromosomes document.
inline std::string SaveChromosomes(const TKvCustomGeneticAlgorithm& GA) {
    auto Chromosomes = NewChromosomes();
    GA.GetPopulation()->SaveToXML(*Chromosomes);
    return Chromosomes->GetOwnerDocument()->SaveToString();
}

} // namespace kv::fuzz
