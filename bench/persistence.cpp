// Saving and loading whole engines (the settings document with the genotype and the population)
// against pugixml alone writing and parsing the same document.
//
//   BM_EngineSave    engine.SaveToStream into a string stream
//   BM_PugiSave      pugixml builds the same document from the engine and writes it to the same
//                    kind of stream (the two texts are checked to be equal)
//   BM_EngineLoad    engine.LoadFromStream of that document into an engine
//   BM_PugiLoad      pugixml parses it from the same kind of stream and reads what a loader needs:
//                    the settings, each gene's name and size, each individual's name and bits
//   BM_CheckpointSave, BM_PugiCheckpointSave, BM_CheckpointLoad, BM_PugiCheckpointLoad
//                    the same for a checkpoint of the engine (scored, with its own random stream):
//                    the document above with each individual's fitness and the Checkpoint element
//
// Compare the loads on the medians of repeated runs, for example
//   bench_persistence --benchmark_filter=Load --benchmark_repetitions=10
//       --benchmark_report_aggregates_only=true
//
// Arguments: individuals, bits (one boolean gene per bit). 100 x 1024 is the W1 population.
//
// Freed memory is kept in the process (mallopt), so that both sides are timed on their work rather
// than on the page faults of fresh memory, which some virtual machines make very costly.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <pugixml.hpp>

#include <cinttypes>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bench_xml_support.h"
#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/xml/xml_text.h"

namespace {

using kv::TKvGeneticAlgorithm;

std::string Numbered(const char* Prefix, int Number) {
    char Name[48];
    std::snprintf(Name, sizeof Name, "%s%d", Prefix, Number);
    return Name;
}

// An engine with Size boolean genes of one bit and Count named individuals, built once per shape.
const TKvGeneticAlgorithm& Engine(int Count, int Size) {
    static std::map<std::pair<int, int>, std::unique_ptr<TKvGeneticAlgorithm>> Engines;
    auto& Slot = Engines[{Count, Size}];
    if (!Slot) {
        Slot = std::make_unique<TKvGeneticAlgorithm>();
        for (int I = 0; I < Size; ++I) {
            kv::TKvGAGene* Gene = Slot->GetGenes()->Add();
            Gene->SetName(Numbered("B", I));
            Gene->SetGeneType(kv::gtBoolean);
            Gene->SetSize(1);
        }
        for (int I = 0; I < Count; ++I) {
            kv::TKvGAIndividual* Item = Slot->GetPopulation()->Add();
            Item->SetName(Numbered("Individual", I));
            Item->GetBits()->SetAsBitString(0, Size, kvbench::BitPattern(I, Size));
        }
    }
    return *Slot;
}

// An engine whose fitness sum can be read, for pugixml to write it.
class TScoredEngine : public TKvGeneticAlgorithm {
public:
    using TKvCustomGeneticAlgorithm::GetFitnessSum;
};

// The same engine scored, with its own random stream: what a checkpoint holds in a real run.
const TScoredEngine& ScoredEngine(int Count, int Size) {
    static std::map<std::pair<int, int>, std::unique_ptr<TScoredEngine>> Engines;
    auto& Slot = Engines[{Count, Size}];
    if (!Slot) {
        Slot = std::make_unique<TScoredEngine>();
        Slot->Assign(&Engine(Count, Size));
        Slot->SetRandomSeed(1);
        Slot->SetInitialPopulation(0);
        Slot->SetOnInitialization([](kv::TObject*, bool& Initialized) { Initialized = true; });
        Slot->SetOnEvaluateFitness([](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
            F = Item->GetBits()->GetSize() * kv::Random();
        });
        Slot->Initialize();
    }
    return *Slot;
}

std::string SaveEngine(const TKvGeneticAlgorithm& E) {
    std::ostringstream S;
    E.SaveToStream(S);
    return S.str();
}

std::string SaveCheckpoint(const TKvGeneticAlgorithm& E) {
    std::ostringstream S;
    E.SaveCheckpoint(S);
    return S.str();
}

void Text(pugi::xml_node Parent, const char* Name, const std::string& Value) {
    Parent.append_child(Name).text().set(Value.c_str());
}

std::string Single(double Value) {
    return kv::SingleToXMLText(static_cast<float>(Value));
}

std::string Double(double Value) {
    return kv::DoubleToXMLText(Value);
}

// The settings document of E; with a fitness sum, the checkpoint.
std::string SavePugi(const TKvGeneticAlgorithm& E, const double* FitnessSum = nullptr) {
    const bool Checkpoint = FitnessSum != nullptr;
    pugi::xml_document Doc;
    auto Decl = Doc.append_child(pugi::node_declaration);
    Decl.append_attribute("version") = "1.0";
    Decl.append_attribute("encoding") = "UTF-8";
    auto GA = Doc.append_child("GeneticAlgorithm");
    Text(GA, "DiversityLimit", Single(E.GetDiversityLimit()));
    Text(GA, "FitnessCutoff", Single(E.GetFitnessCutoff()));
    Text(GA, "FitnessMethod", kv::EnumToIdent(E.GetFitnessMethod()));
    GA.append_child("Generation").text().set(E.GetGeneration());
    GA.append_child("UseDiversityLimit").text().set(E.GetUseDiversityLimit());
    GA.append_child("UseFitnessCutoff").text().set(E.GetUseFitnessCutoff());
    auto Reproduction = GA.append_child("Reproduction");
    Text(Reproduction, "CrossoverMethod", kv::EnumToIdent(E.GetCrossoverMethod()));
    Text(Reproduction, "CrossoverProbability", Single(E.GetCrossoverProbability()));
    Text(Reproduction, "InversionProbability", Single(E.GetInversionProbability()));
    Text(Reproduction, "MutationProbability", Single(E.GetMutationProbability()));
    auto Selection = Reproduction.append_child("SelectionMethod");
    Text(Selection, "Method", kv::EnumToIdent(E.GetSelectionMethod()));
    Text(Selection, "ElitistPercent", Single(E.GetElitistPct()));
    Selection.append_child("TournamentField").text().set(E.GetTournamentField());
    auto Domain = GA.append_child("Domain");
    auto GenoType = Domain.append_child("GenoType");
    const kv::TKvGAGenes* Genes = E.GetGenes();
    for (int I = 0; I < Genes->GetCount(); ++I) {
        auto Gene = GenoType.append_child("BooleanGene");
        Text(Gene, "Name", Genes->GetItem(I)->GetDisplayName());
        Gene.append_child("Size").text().set(Genes->GetItem(I)->GetSize());
    }
    GenoType.append_attribute("Size") = E.GetGeneSize();
    auto Chromosomes = Domain.append_child("Chromosomes");
    const kv::TKvGAPopulation* Population = E.GetPopulation();
    for (int I = 0; I < Population->GetCount(); ++I) {
        const kv::TKvGAIndividual* Item = Population->GetItem(I);
        auto C = Chromosomes.append_child("Chromosome");
        Text(C, "Name", Item->GetDisplayName());
        auto Values = C.append_child("Genes");
        const std::string Bits = Item->GetBits()->ToBitString();
        Text(Values, "Bits", Bits);
        for (int K = 0; K < Genes->GetCount(); ++K)
            Values.append_child("BooleanGeneValue")
                .text()
                .set(Bits[static_cast<size_t>(Genes->GetItem(K)->GetOffset())] == '1');
        if (Checkpoint)
            Text(C, "Fitness", Double(Item->GetFitness()));
    }
    if (Checkpoint) {
        auto K = GA.append_child("Checkpoint");
        K.append_child("Initialized").text().set(E.GetInitialized());
        K.append_child("InitialPopulation").text().set(E.GetInitialPopulation());
        Text(K, "Operations", "goCrossover goMutate goInvert");
        Text(K, "DiversityLimit", Double(E.GetDiversityLimit()));
        Text(K, "FitnessCutoff", Double(E.GetFitnessCutoff()));
        Text(K, "CrossoverProbability", Double(E.GetCrossoverProbability()));
        Text(K, "InversionProbability", Double(E.GetInversionProbability()));
        Text(K, "MutationProbability", Double(E.GetMutationProbability()));
        Text(K, "ElitistPercent", Double(E.GetElitistPct()));
        Text(K, "MaxFitness", Double(E.GetMaxFitness()));
        Text(K, "MinFitness", Double(E.GetMinFitness()));
        Text(K, "AvgFitness", Double(E.GetAvgFitness()));
        Text(K, "FitnessSum", Double(*FitnessSum));
        K.append_child("FittestIndex").text().set(E.GetFittestIndividual()->GetIndex());
        const kv::TRandomSource::TState State = E.GetRandomSource()->GetState();
        auto Random = K.append_child("RandomState");
        Random.append_child("Position").text().set(State.Position);
        std::string Words;
        char Word[24];
        for (const auto& Row : State.Words)
            for (uint64_t W : Row) {
                std::snprintf(Word, sizeof Word, "%016" PRIx64, W);
                Words += Words.empty() ? "" : " ";
                Words += Word;
            }
        Text(Random, "Words", Words);
    }
    std::ostringstream S;
    Doc.save(S, "  ", pugi::format_indent, pugi::encoding_utf8);
    return S.str();
}

struct TPugiLoaded {
    float Settings[6] = {};
    std::vector<std::pair<std::string, int>> Genes;
    std::vector<std::pair<std::string, std::string>> Individuals;
    std::vector<double> Fitness;
    double Checkpoint[11] = {};
    std::string RandomWords;
};

// What a loader needs of a settings document parsed by pugixml.
TPugiLoaded ReadPugi(const pugi::xml_document& Doc) {
    TPugiLoaded R;
    auto GA = Doc.child("GeneticAlgorithm");
    auto Reproduction = GA.child("Reproduction");
    R.Settings[0] = GA.child("DiversityLimit").text().as_float();
    R.Settings[1] = GA.child("FitnessCutoff").text().as_float();
    R.Settings[2] = Reproduction.child("CrossoverProbability").text().as_float();
    R.Settings[3] = Reproduction.child("InversionProbability").text().as_float();
    R.Settings[4] = Reproduction.child("MutationProbability").text().as_float();
    R.Settings[5] = Reproduction.child("SelectionMethod").child("ElitistPercent").text().as_float();
    auto Domain = GA.child("Domain");
    for (auto G : Domain.child("GenoType").children())
        R.Genes.emplace_back(G.child("Name").text().get(), G.child("Size").text().as_int());
    for (auto C : Domain.child("Chromosomes").children("Chromosome"))
        R.Individuals.emplace_back(C.child("Name").text().get(),
                                   C.child("Genes").child("Bits").text().get());
    return R;
}

TPugiLoaded LoadPugi(const std::string& Text) {
    std::istringstream S(Text);
    pugi::xml_document Doc;
    Doc.load(S);
    return ReadPugi(Doc);
}

// The same, and what a checkpoint adds.
TPugiLoaded LoadPugiCheckpoint(const std::string& Text) {
    std::istringstream S(Text);
    pugi::xml_document Doc;
    Doc.load(S);
    TPugiLoaded R = ReadPugi(Doc);
    auto GA = Doc.child("GeneticAlgorithm");
    for (auto C : GA.child("Domain").child("Chromosomes").children("Chromosome"))
        R.Fitness.push_back(C.child("Fitness").text().as_double());
    auto K = GA.child("Checkpoint");
    int I = 0;
    for (const char* Name :
         {"DiversityLimit", "FitnessCutoff", "CrossoverProbability", "InversionProbability",
          "MutationProbability", "ElitistPercent", "MaxFitness", "MinFitness", "AvgFitness",
          "FitnessSum", "FittestIndex"})
        R.Checkpoint[I++] = K.child(Name).text().as_double();
    R.RandomWords = K.child("RandomState").child("Words").text().get();
    return R;
}

const bool KeepFreedMemory = [] {
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    return true;
}();

const TKvGeneticAlgorithm& Shape(benchmark::State& State) {
    return Engine(static_cast<int>(State.range(0)), static_cast<int>(State.range(1)));
}

void BM_EngineSave(benchmark::State& State) {
    const TKvGeneticAlgorithm& E = Shape(State);
    for (auto _ : State)
        benchmark::DoNotOptimize(SaveEngine(E));
}

void BM_PugiSave(benchmark::State& State) {
    const TKvGeneticAlgorithm& E = Shape(State);
    if (SavePugi(E) != SaveEngine(E)) {
        State.SkipWithError("pugixml and the engine write different documents");
        return;
    }
    for (auto _ : State)
        benchmark::DoNotOptimize(SavePugi(E));
}

void BM_EngineLoad(benchmark::State& State) {
    const std::string Text = SaveEngine(Shape(State));
    TKvGeneticAlgorithm E;
    for (auto _ : State) {
        std::istringstream S(Text);
        E.LoadFromStream(S);
        benchmark::DoNotOptimize(E.GetPopulation()->GetCount());
    }
}

void BM_PugiLoad(benchmark::State& State) {
    const std::string Text = SaveEngine(Shape(State));
    for (auto _ : State)
        benchmark::DoNotOptimize(LoadPugi(Text));
}

const TScoredEngine& ScoredShape(benchmark::State& State) {
    return ScoredEngine(static_cast<int>(State.range(0)), static_cast<int>(State.range(1)));
}

void BM_CheckpointSave(benchmark::State& State) {
    const TScoredEngine& E = ScoredShape(State);
    for (auto _ : State)
        benchmark::DoNotOptimize(SaveCheckpoint(E));
}

void BM_PugiCheckpointSave(benchmark::State& State) {
    const TScoredEngine& E = ScoredShape(State);
    const double Sum = E.GetFitnessSum();
    if (SavePugi(E, &Sum) != SaveCheckpoint(E)) {
        State.SkipWithError("pugixml and the engine write different checkpoints");
        return;
    }
    for (auto _ : State)
        benchmark::DoNotOptimize(SavePugi(E, &Sum));
}

void BM_CheckpointLoad(benchmark::State& State) {
    const std::string Text = SaveCheckpoint(ScoredShape(State));
    TKvGeneticAlgorithm E;
    for (auto _ : State) {
        std::istringstream S(Text);
        E.LoadCheckpoint(S);
        benchmark::DoNotOptimize(E.GetPopulation()->GetCount());
    }
}

void BM_PugiCheckpointLoad(benchmark::State& State) {
    const std::string Text = SaveCheckpoint(ScoredShape(State));
    for (auto _ : State)
        benchmark::DoNotOptimize(LoadPugiCheckpoint(Text));
}

} // namespace

#define KV_SHAPES(B)                                                                               \
    B->Args({100, 1024})->Args({10000, 100})->Unit(benchmark::kMillisecond)->MinTime(2)
KV_SHAPES(BENCHMARK(BM_EngineSave));
KV_SHAPES(BENCHMARK(BM_PugiSave));
KV_SHAPES(BENCHMARK(BM_EngineLoad));
KV_SHAPES(BENCHMARK(BM_PugiLoad));
KV_SHAPES(BENCHMARK(BM_CheckpointSave));
KV_SHAPES(BENCHMARK(BM_PugiCheckpointSave));
KV_SHAPES(BENCHMARK(BM_CheckpointLoad));
KV_SHAPES(BENCHMARK(BM_PugiCheckpointLoad));
