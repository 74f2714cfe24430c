// The check every document target makes: load untrusted bytes into the sample engine, then
//   - a refused load (a kv::Exception) leaves the engine exactly as it was (full saves compared);
//   - a load that succeeds gives an engine whose document, loaded into another sample engine and
//     saved again, comes out the same: save(load(save(load(input)))) == save(load(input)).
// Saving may refuse a loaded engine only with EGAException (an enumerated gene whose code names
// no entry). Populations that loading made very large are not saved again: that would only
// measure how fast text is written.
// Then the loaded engine must run: EvolveLoaded breeds two generations from the loaded individuals,
// reading every gene of every individual in each of the typed forms on the way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "kv/vocabulary/ga_exceptions.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_engines.h"

namespace kv::fuzz {

inline constexpr int64_t MaxRoundTripBits = int64_t(1) << 23;
inline constexpr int64_t MaxEvolveWork = int64_t(1) << 18;

inline void EvolveLoaded(TKvGeneticAlgorithm& GA) {
    GA.SetInitialPopulation(4);
    // Keep the loaded individuals instead of randomising them.
    GA.SetOnInitialization([](TObject*, bool& Initialized) { Initialized = true; });
    GA.SetOnEvaluateFitness([&GA](TObject*, TKvGAIndividual* Item, TGAFitness& Fitness) {
        TKvGAGenes* Genes = GA.GetGenes();
        TKvGABits& Bits = *Item->GetBits();
        for (int I = 0; I < Genes->GetCount(); ++I) {
            const TKvGAGene* Gene = Genes->GetItem(I);
            Run([&] { Fitness += Gene->GeneAsBoolean(Bits) ? 1 : 0; });
            Run([&] { Fitness += static_cast<double>(Gene->GeneAsInt64(Bits) & 7); });
            Run([&] { Fitness += Gene->GeneAsInteger(Bits) & 7; });
            Run([&] { (void)Gene->GeneAsDouble(Bits); });
            Run([&] { (void)Gene->GeneAsFloat(Bits); });
            Run([&] { (void)Gene->GeneAsReal(Bits); });
            Run([&] { Fitness += static_cast<double>(Gene->AsString(Bits).size()); });
        }
    });
    Run([&] { GA.Evolve(2); });
}

// Load(Engine, Bytes) loads a document into the engine; Save(Engine) returns the document of what
// was loaded.
template <class TLoad, class TSave>
void CheckLoad(const uint8_t* Data, size_t Size, TLoad Load, TSave Save) {
    const std::string_view Bytes(reinterpret_cast<const char*>(Data), Size);
    TKvGeneticAlgorithm GA;
    MakeSampleEngine(GA);
    const std::string Before = SaveEngine(GA);
    if (!Run([&] { Load(GA, Bytes); })) {
        CheckSameDocument(Before, SaveEngine(GA), "a refused load changed the engine");
        return;
    }
    const int64_t Bits = int64_t(GA.GetGeneSize()) * GA.GetPopulation()->GetCount();
    if (Bits > MaxRoundTripBits)
        return;
    std::string First;
    try {
        First = Save(GA);
    } catch (const EGAException&) {
        First.clear();
    } catch (const kv::Exception& E) {
        Fail("saving a loaded engine raised something else than EGAException", E.what());
    }
    // A generation costs about a draw per bit and TournamentField draws per parent.
    const int64_t Work = int64_t(std::max(GA.GetPopulation()->GetCount(), 4)) *
                         (int64_t(GA.GetGeneSize()) + GA.GetTournamentField() + 1);
    if (Work <= MaxEvolveWork)
        EvolveLoaded(GA);
    if (First.empty())
        return;
    TKvGeneticAlgorithm Again;
    MakeSampleEngine(Again);
    try {
        Load(Again, First);
    } catch (const kv::Exception& E) {
        Fail("a document the library wrote does not load again",
             std::string(E.what()) + "\n" + First);
    }
    CheckSameDocument(First, Save(Again), "saving and loading again gave another document");
}

// Runs Body, which loads from Doc, and checks that Doc is the same afterwards, whether the load
// succeeded or not. Body's exception passes on.
template <class F>
void KeepsDocument(const IXMLDocument& Doc, F Body) {
    const std::string Text = Doc.SaveToString();
    try {
        Body();
    } catch (const kv::Exception&) {
        CheckSameDocument(Text, Doc.SaveToString(), "a refused load changed its document");
        throw;
    }
    CheckSameDocument(Text, Doc.SaveToString(), "loading changed its document");
}

} // namespace kv::fuzz
