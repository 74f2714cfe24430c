// Shared helpers for the persistence tests: an engine with a gene of every kind and named
// individuals, documents as text, and a snapshot of everything an engine holds.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"

namespace kvtest {

inline std::string SaveText(const kv::TKvCustomGeneticAlgorithm& Engine) {
    std::ostringstream S;
    Engine.SaveToStream(S);
    return S.str();
}

inline void LoadText(kv::TKvCustomGeneticAlgorithm& Engine, const std::string& Text) {
    std::istringstream S(Text);
    Engine.LoadFromStream(S);
}

// Genes Flag (boolean, 1 bit), Count (signed integer, 8), Rate (float, 32), Colour (enumeration
// Red/Green/Blue, 2 bits); individuals Best, unnamed and Third with distinct values.
inline void BuildEngine(kv::TKvCustomGeneticAlgorithm& Engine) {
    using namespace kv;
    TKvGAGenes* Genes = Engine.GetGenes();
    TKvGAGene* Flag = Genes->Add();
    Flag->SetName("Flag");
    Flag->SetGeneType(gtBoolean);
    Flag->SetSize(1);
    TKvGAGene* Count = Genes->Add();
    Count->SetName("Count");
    Count->SetGeneType(gtInteger);
    Count->SetSize(8);
    Count->SetPreserveSignBit(true);
    TKvGAGene* Rate = Genes->Add();
    Rate->SetName("Rate");
    Rate->SetGeneType(gtFloat);
    Rate->SetSize(32);
    TKvGAGene* Colour = Genes->Add();
    Colour->SetName("Colour");
    Colour->SetGeneType(gtEnumeration);
    for (const char* Text : {"Red", "Green", "Blue"})
        Colour->GetEnumerations()->Add(Text);
    const char* Names[] = {"Best", "", "Third"};
    for (int I = 0; I < 3; ++I) {
        Engine.GetPopulation()->Add()->SetName(Names[I]);
        Flag->SetAsBoolean(I, I != 1);
        Count->SetAsInteger(I, -40 + 37 * I);
        Rate->SetAsFloat(I, 0.1f * float(I + 1));
        Colour->SetAsEnumeration(I, I == 0 ? "Blue" : I == 1 ? "Red" : "Green");
    }
}

// The decoded values of every gene for every individual, as text.
inline std::vector<std::string> Values(const kv::TKvCustomGeneticAlgorithm& Engine) {
    std::vector<std::string> Out;
    const kv::TKvGAGenes* Genes = Engine.GetGenes();
    for (int I = 0; I < Engine.GetPopulation()->GetCount(); ++I)
        for (int G = 0; G < Genes->GetCount(); ++G)
            Out.push_back(Genes->GetItem(G)->AsString(I));
    return Out;
}

// Everything observable of an engine that a load could touch: the saved document, and what the
// document does not hold (fitness values, offsets, the identity of the individuals, flags).
inline std::string Snapshot(const kv::TKvCustomGeneticAlgorithm& Engine) {
    std::ostringstream S;
    S.precision(17);
    S << SaveText(Engine) << "|Settings " << Engine.GetDiversityLimit() << " "
      << Engine.GetFitnessCutoff() << " " << Engine.GetCrossoverProbability() << " "
      << Engine.GetInversionProbability() << " " << Engine.GetMutationProbability() << " "
      << Engine.GetElitistPct() << "|GeneSize " << Engine.GetGeneSize() << "|Initialized "
      << Engine.GetInitialized() << "|Fittest " << Engine.GetFittestIndividual() << "|Selection "
      << static_cast<bool>(Engine.GetOnSelection());
    for (int I = 0; I < Engine.GetGenes()->GetCount(); ++I)
        S << "|Offset " << Engine.GetGenes()->GetItem(I)->GetOffset();
    for (int I = 0; I < Engine.GetPopulation()->GetCount(); ++I) {
        const kv::TKvGAIndividual* Item = Engine.GetPopulation()->GetItem(I);
        S << "|" << Item << " " << Item->GetFitness() << " " << Item->GetBits()->GetSize();
    }
    return S.str();
}

// A fresh, empty directory for one test.
inline std::filesystem::path TestDir(const std::string& Name) {
    const char* Base = std::getenv("KVGA_TEST_TMP");
    std::filesystem::path Dir =
        std::filesystem::path(Base ? Base : "/tmp") / ("kvga_persistence_" + Name);
    std::filesystem::remove_all(Dir);
    std::filesystem::create_directories(Dir);
    return Dir;
}

// Replaces the first occurrence of From in Text (which must hold it).
inline std::string Replaced(std::string Text, const std::string& From, const std::string& To) {
    const size_t At = Text.find(From);
    if (At == std::string::npos)
        throw std::runtime_error("the document holds no " + From);
    Text.replace(At, From.size(), To);
    return Text;
}

} // namespace kvtest
