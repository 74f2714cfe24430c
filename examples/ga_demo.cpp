// The genetic-algorithm demo: packing a rucksack for a three-day hike.
//
// The problem uses all four kinds of gene:
//   boolean       one gene per piece of gear: take it or leave it
//   integer       how many one-litre water bottles to carry (0 .. 7)
//   float         how many kilograms of food to carry (0 .. 15; a 4-bit float gene holds whole
//                 numbers)
//   enumeration   which rucksack to carry: each has its own capacity and weight
// Every choice has a value in points; every kilogram carried costs points; a load beyond the
// rucksack's capacity costs many points. The best packing is found by brute force first (the
// search space is small enough), so the run can show how close the engine comes to it.
//
// The run is seeded (ga_demo [seed] picks another seed). The library's run records watch it: a
// progress line (redrawn in place on a terminal, one line per generation otherwise), a statistics
// log written to ga_demo.csv and drawn as a chart in ga_demo.svg in the working directory, and a
// hall of fame that keeps the best packing ever found, shown gene by gene at the end. Then it saves
// the engine to ga_demo.xml, loads that file into a new engine, shows that the fittest individual
// decodes to the same values there, and lets the reloaded engine evolve a few generations more.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "examples/common/seed_arg.h"
#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/records/KvRecords.h"
#include "kv/rtl/random.h"
#include "kv/rtl/strings.h"

namespace {

// ---- the problem ----

struct TGear {
    const char* Name;
    int Grams;
    int Points;
};

constexpr std::array<TGear, 16> Gear{{
    {"Tent", 2100, 60},
    {"Sleeping bag", 1300, 50},
    {"Sleeping mat", 500, 24},
    {"Stove and pot", 800, 30},
    {"Rain jacket", 450, 28},
    {"Warm fleece", 400, 19},
    {"First-aid kit", 300, 22},
    {"Head torch", 100, 12},
    {"Map and compass", 150, 18},
    {"Water filter", 300, 13},
    {"Camera", 900, 14},
    {"Binoculars", 700, 9},
    {"Paperback", 350, 5},
    {"Camp chair", 1100, 11},
    {"Spare shoes", 1200, 9},
    {"Guitar", 2500, 17},
}};

struct TRucksack {
    const char* Name;
    int CapacityGrams; // the most it carries, its own weight not counted
    int Grams;         // its own weight
};

constexpr std::array<TRucksack, 3> Rucksacks{{
    {"Daypack 25 L", 8000, 700},
    {"Trekker 45 L", 13000, 1500},
    {"Expedition 70 L", 19000, 2600},
}};

constexpr int MaxWater = 7;          // litres (integer gene of 3 bits)
constexpr int MaxFoodKg = 15;        // kilograms (float gene of 4 bits)
constexpr double PointsPerKg = 10;   // the cost of every kilogram carried
constexpr double OverloadPerKg = 60; // the extra cost of every kilogram beyond the capacity

// The value of a packing. The gear enters as its total grams and points (integers, so the sums
// do not depend on the order of adding); Rucksack is an index into Rucksacks. The weights are
// whole grams and every term is a whole number of points or milli-points, so the result is exact
// (a multiple of 0.5) and the brute force and the engine's fitness callback agree to the bit.
double PackingFitness(int GearGrams, int GearPoints, int Water, double FoodKg, int Rucksack) {
    // Water: 20 points a litre for the first three litres, 2 for each further one.
    const double WaterPoints = 20.0 * std::min(Water, 3) + 2.0 * std::max(Water - 3, 0);
    // Food: 15 points a kilogram for the first three kilograms, 1 for each further one.
    const double FoodPoints = 15.0 * std::min(FoodKg, 3.0) + 1.0 * std::max(FoodKg - 3.0, 0.0);
    const TRucksack& R = Rucksacks[static_cast<size_t>(Rucksack)];
    const double LoadGrams = GearGrams + 1000.0 * Water + 1000.0 * FoodKg;
    const double CarriedGrams = LoadGrams + R.Grams;
    const double OverGrams = std::max(LoadGrams - R.CapacityGrams, 0.0);
    const double MilliPoints = 1000.0 * (GearPoints + WaterPoints + FoodPoints) -
                               PointsPerKg * CarriedGrams - OverloadPerKg * OverGrams;
    return std::max(MilliPoints / 1000.0, 0.0);
}

// The best fitness over every packing, by trying them all.
struct TOptimum {
    double Fitness = 0;
    long Packings = 0;
    long Optimal = 0; // how many packings reach it
};

TOptimum BruteForce() {
    constexpr unsigned Subsets = 1u << Gear.size();
    std::vector<int> SubsetGrams(Subsets), SubsetPoints(Subsets);
    for (unsigned Mask = 1; Mask < Subsets; ++Mask) {
        const unsigned Low = static_cast<unsigned>(__builtin_ctz(Mask));
        const unsigned Rest = Mask & (Mask - 1);
        SubsetGrams[Mask] = SubsetGrams[Rest] + Gear[Low].Grams;
        SubsetPoints[Mask] = SubsetPoints[Rest] + Gear[Low].Points;
    }
    TOptimum Best;
    for (int R = 0; R < static_cast<int>(Rucksacks.size()); ++R)
        for (int Water = 0; Water <= MaxWater; ++Water)
            for (int Food = 0; Food <= MaxFoodKg; ++Food)
                for (unsigned Mask = 0; Mask < Subsets; ++Mask) {
                    const double F =
                        PackingFitness(SubsetGrams[Mask], SubsetPoints[Mask], Water, Food, R);
                    ++Best.Packings;
                    if (F > Best.Fitness) {
                        Best.Fitness = F;
                        Best.Optimal = 1;
                    } else if (F == Best.Fitness) {
                        ++Best.Optimal;
                    }
                }
    return Best;
}

// ---- the genotype ----

struct TGenotype {
    std::vector<kv::TKvGAGene*> GearGenes;
    kv::TKvGAGene* Water = nullptr;
    kv::TKvGAGene* Food = nullptr;
    kv::TKvGAGene* Rucksack = nullptr;
};

TGenotype BuildGenotype(kv::TKvGeneticAlgorithm& GA) {
    kv::TKvGAGenes* Genes = GA.GetGenes();
    TGenotype G;
    for (const TGear& Item : Gear) {
        kv::TKvGAGene* Gene = Genes->Add();
        Gene->SetName(Item.Name);
        Gene->SetGeneType(kv::gtBoolean);
        Gene->SetSize(1);
        G.GearGenes.push_back(Gene);
    }
    G.Water = Genes->Add();
    G.Water->SetName("Water (litres)");
    G.Water->SetGeneType(kv::gtInteger);
    G.Water->SetSize(kv::BitsRequired(MaxWater)); // 0 .. 7

    G.Food = Genes->Add();
    G.Food->SetName("Food (kg)");
    G.Food->SetGeneType(kv::gtFloat);
    G.Food->SetSize(kv::BitsRequired(MaxFoodKg)); // 0 .. 15

    G.Rucksack = Genes->Add();
    G.Rucksack->SetName("Rucksack");
    G.Rucksack->SetGeneType(kv::gtEnumeration);
    kv::TStringList Names;
    for (const TRucksack& R : Rucksacks)
        Names.Add(R.Name);
    G.Rucksack->SetEnumerations(&Names); // 3 entries: 2 bits, and code 3 names no rucksack
    return G;
}

// The rucksack coded in Bits, or -1 when the code names none (an enumerated gene of 3 entries
// has 2 bits, so code 3 is possible in a random or mutated chromosome).
int RucksackIndex(const TGenotype& G, kv::TKvEncodedBits& Bits) {
    const int32_t Code = G.Rucksack->GeneAsInteger(Bits);
    return Code >= 0 && Code < static_cast<int32_t>(Rucksacks.size()) ? Code : -1;
}

double Evaluate(const TGenotype& G, kv::TKvEncodedBits& Bits) {
    const int Rucksack = RucksackIndex(G, Bits);
    if (Rucksack < 0)
        return 0; // no rucksack, no hike
    int Grams = 0, Points = 0;
    for (size_t I = 0; I < Gear.size(); ++I)
        if (G.GearGenes[I]->GeneAsBoolean(Bits)) {
            Grams += Gear[I].Grams;
            Points += Gear[I].Points;
        }
    return PackingFitness(Grams, Points, G.Water->GeneAsInteger(Bits), G.Food->GeneAsFloat(Bits),
                          Rucksack);
}

// ---- output ----

void PrintGenotype(const kv::TKvGeneticAlgorithm& GA) {
    const kv::TKvGAGenes* Genes = GA.GetGenes();
    std::printf("Genotype: %d genes, %d bits per chromosome (%.0f possible chromosomes)\n",
                Genes->GetCount(), Genes->GetSize(), std::ldexp(1.0, Genes->GetSize()));
    for (int I = 0; I < Genes->GetCount(); ++I) {
        const kv::TKvGAGene* Gene = Genes->GetItem(I);
        if (Gene->GetGeneType() == kv::gtBoolean && I > 0 && I + 1 < Genes->GetCount() &&
            Genes->GetItem(I + 1)->GetGeneType() == kv::gtBoolean &&
            Genes->GetItem(I - 1)->GetGeneType() == kv::gtBoolean)
            continue; // the run of gear genes is shown by its first and last gene
        std::printf("  bits %2d..%2d  %-13s %s", Gene->GetOffset(),
                    Gene->GetOffset() + Gene->GetSize() - 1,
                    kv::EnumToIdent(Gene->GetGeneType()).c_str(), Gene->GetDisplayName().c_str());
        if (Gene->GetGeneType() == kv::gtInteger || Gene->GetGeneType() == kv::gtFloat)
            std::printf("  (range %g .. %g)", Gene->GetMinValue(), Gene->GetMaxValue());
        if (Gene->IsEnumeration()) {
            const kv::TStrings* Names = Gene->GetEnumerations();
            std::string Joined;
            for (int K = 0; K < Names->GetCount(); ++K)
                Joined += (K ? ", " : "") + (*Names)[K];
            std::printf("  (%s)", Joined.c_str());
        }
        std::printf("\n");
        if (Gene->GetGeneType() == kv::gtBoolean && I + 1 < Genes->GetCount() &&
            Genes->GetItem(I + 1)->GetGeneType() == kv::gtBoolean)
            std::printf("  ...\n");
    }
}

void PrintBest(const kv::TKvGeneticAlgorithm& GA, const TGenotype& G, kv::TKvGABits& Bits) {
    std::printf("\nThe best packing, gene by gene:\n");
    const kv::TKvGAGenes* Genes = GA.GetGenes();
    for (int I = 0; I < Genes->GetCount(); ++I) {
        const kv::TKvGAGene* Gene = Genes->GetItem(I);
        std::printf("  %-16s %-14s %s\n", Gene->GetDisplayName().c_str(),
                    kv::EnumToIdent(Gene->GetGeneType()).c_str(), Gene->AsString(Bits).c_str());
    }
    const int R = RucksackIndex(G, Bits);
    if (R < 0)
        return;
    int Grams = 0;
    for (size_t I = 0; I < Gear.size(); ++I)
        if (G.GearGenes[I]->GeneAsBoolean(Bits))
            Grams += Gear[I].Grams;
    const double LoadKg =
        (Grams + 1000.0 * G.Water->GeneAsInteger(Bits) + 1000.0 * G.Food->GeneAsFloat(Bits)) /
        1000.0;
    std::printf("  load %.2f kg of the %s's %.1f kg capacity, %.2f kg carried with the "
                "rucksack\n",
                LoadKg, Rucksacks[static_cast<size_t>(R)].Name,
                Rucksacks[static_cast<size_t>(R)].CapacityGrams / 1000.0,
                LoadKg + Rucksacks[static_cast<size_t>(R)].Grams / 1000.0);
}

double MillisecondsSince(std::chrono::steady_clock::time_point T0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - T0).count();
}

// ---- saving, reloading and evolving on ----

// The genotype of an engine whose genes BuildGenotype made, or that were loaded from a file it
// saved: the gear genes, then water, food and rucksack.
TGenotype GenotypeOf(kv::TKvGeneticAlgorithm& GA) {
    kv::TKvGAGenes* Genes = GA.GetGenes();
    const int Count = static_cast<int>(Gear.size());
    if (Genes->GetCount() != Count + 3)
        throw kv::EGAException(
            kv::Format("Expected %d genes, found %d", Count + 3, Genes->GetCount()));
    TGenotype G;
    for (int I = 0; I < Count; ++I)
        G.GearGenes.push_back(Genes->GetItem(I));
    G.Water = Genes->GetItem(Count);
    G.Food = Genes->GetItem(Count + 1);
    G.Rucksack = Genes->GetItem(Count + 2);
    return G;
}

// A gene's value as text; an enumerated code that names no entry has none.
std::string Decoded(const kv::TKvGAGene& Gene, kv::TKvGABits& Bits) {
    try {
        return Gene.AsString(Bits);
    } catch (const kv::EGAException&) {
        return "(no entry)";
    }
}

// Saves GA to File, loads the file into a new engine, compares the fittest individual in both
// and evolves the reloaded engine a few generations more. False when a value differs.
bool SaveReloadAndEvolve(kv::TKvGeneticAlgorithm& GA, const std::string& File) {
    kv::TKvGAIndividual* Fittest = GA.GetFittestIndividual();
    if (Fittest == nullptr)
        return true;
    // Individuals are saved with their names: this one is found by its name after loading.
    Fittest->SetName("Fittest");
    auto T0 = std::chrono::steady_clock::now();
    GA.SaveToFile(File);
    const double SaveMs = MillisecondsSince(T0);

    kv::TKvGeneticAlgorithm Reloaded;
    T0 = std::chrono::steady_clock::now();
    Reloaded.LoadFromFile(File);
    const double LoadMs = MillisecondsSince(T0);
    std::printf("\nSaved the engine to %s (%.0f KB, %.1f ms) and loaded it into a new engine "
                "(%.1f ms): %d genes, %d individuals of %d bits, generation %d.\n",
                File.c_str(), std::filesystem::file_size(File) / 1024.0, SaveMs, LoadMs,
                Reloaded.GetGenes()->GetCount(), Reloaded.GetPopulation()->GetCount(),
                Reloaded.GetGeneSize(), Reloaded.GetGeneration());

    kv::TKvGAIndividual* Copy = nullptr;
    for (int I = 0; I < Reloaded.GetPopulation()->GetCount() && Copy == nullptr; ++I)
        if (Reloaded.GetPopulation()->GetItem(I)->GetName() == "Fittest")
            Copy = Reloaded.GetPopulation()->GetItem(I);
    if (Copy == nullptr) {
        std::printf("The reloaded population has no individual named Fittest.\n");
        return false;
    }
    std::printf("\nThe fittest individual of the last generation, decoded in both engines:\n");
    std::printf("  %-16s %-14s %s\n", "gene", "saved", "reloaded");
    bool Same = true;
    for (int I = 0; I < GA.GetGenes()->GetCount(); ++I) {
        const std::string Before = Decoded(*GA.GetGenes()->GetItem(I), *Fittest->GetBits());
        const std::string After = Decoded(*Reloaded.GetGenes()->GetItem(I), *Copy->GetBits());
        Same = Same && Before == After;
        std::printf("  %-16s %-14s %s%s\n",
                    Reloaded.GetGenes()->GetItem(I)->GetDisplayName().c_str(), Before.c_str(),
                    After.c_str(), Before == After ? "" : "  DIFFERENT");
    }
    std::printf("%s\n", Same ? "Every value is the same." : "The reloaded values differ!");

    // A file holds the settings, the genes and the chromosomes. The events, Operations and
    // InitialPopulation are set again; fitness values are not saved, so the loaded individuals
    // are scored by Initialize, which keeps their chromosomes because OnInitialization reports
    // them initialised (without it, Initialize would randomise them). Initialize also restarts
    // the generation count, which is set back to the saved one.
    const TGenotype Genotype = GenotypeOf(Reloaded);
    Reloaded.SetOnEvaluateFitness(
        [&Genotype](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& Fitness) {
            Fitness = Evaluate(Genotype, *Item->GetBits());
        });
    Reloaded.SetOnInitialization([](kv::TObject*, bool& Initialized) { Initialized = true; });
    Reloaded.SetOperations(GA.GetOperations());
    Reloaded.SetUseFitnessCutoff(false); // evolve the few generations even at the optimum
    const int Generation = Reloaded.GetGeneration();
    Reloaded.Initialize();
    Reloaded.SetGeneration(Generation);
    std::printf("\nThe reloaded population scored again: best %.4f, mean %.4f (the saved engine: "
                "best %.4f, mean %.4f).\n",
                Reloaded.GetMaxFitness(), Reloaded.GetAvgFitness(), GA.GetMaxFitness(),
                GA.GetAvgFitness());
    std::printf("Evolving the reloaded engine 5 generations more:\n");
    std::fflush(stdout);
    kv::TKvProgressLine Progress(std::cout, kv::psLines);
    Progress.SetGenerations(Generation + 5);
    Progress.Attach(Reloaded);
    Reloaded.Evolve(5);
    return Same;
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::optional<uint64_t> SeedArg = kv::examples::SeedArgument(argc, argv, 20240611);
        if (!SeedArg)
            return 2;
        const uint64_t Seed = *SeedArg;
        std::puts("kvga demo: packing a rucksack for a three-day hike with a genetic algorithm\n");

        // The known optimum.
        auto T0 = std::chrono::steady_clock::now();
        const TOptimum Optimum = BruteForce();
        std::printf("Brute force: %ld packings tried in %.0f ms; the best fitness is %.6g "
                    "(reached by %ld of them)\n\n",
                    Optimum.Packings, MillisecondsSince(T0), Optimum.Fitness, Optimum.Optimal);

        // The engine. The library never seeds the random source: the demo does, so every run
        // is the same.
        kv::RandSeed(Seed);
        kv::TKvGeneticAlgorithm GA;
        const TGenotype Genotype = BuildGenotype(GA);
        PrintGenotype(GA);

        constexpr int MaxGenerations = 200;
        GA.SetInitialPopulation(300);
        GA.SetFitnessMethod(kv::fmMaximize);
        GA.SetSelectionMethod(kv::smTournament);
        GA.SetTournamentField(3);
        GA.SetCrossoverMethod(kv::cmGeneBoundary);
        GA.SetCrossoverProbability(0.9);
        GA.SetMutationProbability(0.03);
        GA.SetOperations({kv::goCrossover, kv::goMutate});
        // Stop as soon as a packing reaches the known optimum.
        GA.SetUseFitnessCutoff(true);
        GA.SetFitnessCutoff(Optimum.Fitness);

        GA.SetOnEvaluateFitness(
            [&Genotype](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& Fitness) {
                Fitness = Evaluate(Genotype, *Item->GetBits());
            });

        // The run records: the best packing ever found (each generation replaces the
        // population), one line of figures per generation, and a progress line.
        kv::TKvHallOfFame Hall;
        kv::TKvStatisticsLog Log;
        kv::TKvProgressLine Progress(std::cout);
        Progress.SetGenerations(MaxGenerations);
        Hall.Attach(GA);
        Log.Attach(GA);
        Progress.Attach(GA);

        std::printf("\nPopulation %d, tournaments of %d, crossover on gene boundaries (p = %.2f), "
                    "mutation p = %.2f per bit\n\n",
                    GA.GetInitialPopulation(), GA.GetTournamentField(),
                    GA.GetCrossoverProbability(), GA.GetMutationProbability());
        T0 = std::chrono::steady_clock::now();
        std::fflush(stdout); // the progress line writes to std::cout
        GA.Initialize();
        const int Evolved = GA.Evolve(MaxGenerations);
        const double RunMs = MillisecondsSince(T0);
        Progress.Finish();

        const std::string Csv = "ga_demo.csv", Svg = "ga_demo.svg";
        Log.SaveCsv(Csv);
        kv::TKvConvergencePlot Plot("Packing a rucksack: fitness per generation");
        char Label[64];
        std::snprintf(Label, sizeof Label, "known optimum %.6g", Optimum.Fitness);
        Plot.SetReference(Optimum.Fitness, Label);
        Plot.SaveToFile(Log, Svg);
        std::printf("\nWrote %s and %s in %s\n", Csv.c_str(), Svg.c_str(),
                    std::filesystem::current_path().string().c_str());

        kv::TKvGAIndividual Best;
        Best.Assign(Hall.GetBest());
        const double BestFitness = Best.GetFitness();
        const int BestGeneration = Hall.GetGeneration(0);
        if (BestFitness == Optimum.Fitness)
            std::printf("\nReached the known optimum %.6g in generation %d (%d generations "
                        "evolved, %.1f ms).\n",
                        Optimum.Fitness, BestGeneration, Evolved, RunMs);
        else
            std::printf("\nDid not reach the known optimum in %d generations (%.1f ms): the best "
                        "fitness %.6g is %.6g below it (%.2f%%).\n",
                        Evolved, RunMs, BestFitness, Optimum.Fitness - BestFitness,
                        100.0 * (Optimum.Fitness - BestFitness) / Optimum.Fitness);
        std::printf("Best fitness %.6g, found in generation %d.\n", BestFitness, BestGeneration);
        PrintBest(GA, Genotype, *Best.GetBits());

        return SaveReloadAndEvolve(GA, "ga_demo.xml") ? 0 : 1;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "ga_demo: %s\n", E.what());
        return 2;
    }
}
