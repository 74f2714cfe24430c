// Taking control of the engine: one generation of a tiny, seeded run with every event printed.
//
// The engine offers two ways in, and this example uses both:
//   - a subclass overrides a virtual operator: TTracingGA::Mutate calls the engine's own mutation
//     and prints the bits it flipped;
//   - events steer each step of reproduction:
//       OnSelection        a custom selection: a random parent from the better half of the
//                          previous generation (assigning it makes SelectionMethod smCustom);
//       OnInitializeChild  reports each child as it starts as a copy of its first parent;
//       OnCrossover        moves the crossover point to the nearest gene boundary and makes the
//                          crossover happen whatever CrossoverProbability decided;
//       OnMutation         vetoes the mutation of a child that already scores at least the best
//                          fitness of the previous generation, so a good child is kept as it is;
//       OnReproduction, OnEvaluateFitness, OnEvolve report the finished children, their scores
//                          and the end of the generation.
//
// The problem is deliberately small: three integer genes A, B and C of 4 bits each (a 12-bit
// chromosome), fitness A + B + C to be maximised, and a population of six.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/random.h"

namespace {

// The chromosome as text, bit 0 first, a space between the genes.
std::string BitsText(const kv::TKvGAGenes& Genes, const kv::TKvGABits& Bits) {
    const std::string All = Bits.ToBitString();
    std::string Out;
    for (int I = 0; I < Genes.GetCount(); ++I) {
        const kv::TKvGAGene* Gene = Genes.GetItem(I);
        if (I > 0)
            Out += ' ';
        Out.append(All, static_cast<size_t>(Gene->GetOffset()),
                   static_cast<size_t>(Gene->GetSize()));
    }
    return Out;
}

// The engine with a traced mutation: a descendant overrides the operator and calls the original.
class TTracingGA : public kv::TKvGeneticAlgorithm {
public:
    using kv::TKvGeneticAlgorithm::TKvGeneticAlgorithm;

protected:
    bool Mutate(kv::TKvGAIndividual* Item) override {
        const std::string Before = Item->GetBits()->ToBitString();
        // The base class asks OnMutation first, then flips each bit with MutationProbability.
        const bool Flipped = kv::TKvGeneticAlgorithm::Mutate(Item);
        const std::string After = Item->GetBits()->ToBitString();
        std::string Which;
        for (size_t I = 0; I < Before.size(); ++I)
            if (Before[I] != After[I]) {
                if (!Which.empty())
                    Which += ", ";
                Which += std::to_string(I);
            }
        if (Flipped)
            std::printf("  mutate      child #%d: flipped bit %s -> %s\n", Item->GetIndex(),
                        Which.c_str(), BitsText(*GetGenes(), *Item->GetBits()).c_str());
        else
            std::printf("  mutate      child #%d: no bit flipped\n", Item->GetIndex());
        return Flipped;
    }
};

} // namespace

int main() {
    try {
        kv::RandSeed(2024);
        TTracingGA GA;
        kv::TKvGAGenes* Genes = GA.GetGenes();
        for (const char* Name : {"A", "B", "C"}) {
            kv::TKvGAGene* Gene = Genes->Add();
            Gene->SetName(Name);
            Gene->SetGeneType(kv::gtInteger);
            Gene->SetSize(4); // 0 .. 15
        }
        auto Score = [Genes](kv::TKvGAIndividual* Item) {
            int Sum = 0;
            for (int I = 0; I < Genes->GetCount(); ++I)
                Sum += Genes->GetItem(I)->GeneAsInteger(*Item->GetBits());
            return static_cast<kv::TGAFitness>(Sum);
        };
        // An individual as "#index bits (fitness)".
        auto Show = [&](kv::TKvGAIndividual* Item) {
            char Text[64];
            std::snprintf(Text, sizeof Text, "#%d %s (%2d)", Item->GetIndex(),
                          BitsText(*Genes, *Item->GetBits()).c_str(),
                          static_cast<int>(Score(Item)));
            return std::string(Text);
        };

        GA.SetInitialPopulation(6);
        GA.SetFitnessMethod(kv::fmMaximize);
        GA.SetCrossoverMethod(kv::cmBitBoundary); // any bit; OnCrossover moves it
        GA.SetCrossoverProbability(0.5);
        GA.SetMutationProbability(0.1);
        GA.SetOperations({kv::goCrossover, kv::goMutate});

        bool Tracing = false; // the events print during the traced generation only
        GA.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
            F = Score(Item);
            if (Tracing)
                std::printf("  evaluate    child %s\n", Show(Item).c_str());
        });

        // Custom selection: a random parent among the better half of the population.
        GA.SetOnSelection([&](kv::TObject*, kv::TKvGAPopulation* Population,
                              kv::TKvGAIndividual*& Parent) {
            std::vector<kv::TKvGAIndividual*> Ranked;
            for (int I = 0; I < Population->GetCount(); ++I)
                Ranked.push_back(Population->GetItem(I));
            std::stable_sort(Ranked.begin(), Ranked.end(),
                             [](auto* A, auto* B) { return A->GetFitness() > B->GetFitness(); });
            const int Half = std::max(1, static_cast<int>(Ranked.size()) / 2);
            Parent = Ranked[static_cast<size_t>(kv::Random(Half))];
            std::printf("  select      parent %s\n", Show(Parent).c_str());
        });

        GA.SetOnInitializeChild([&](kv::TObject*, kv::TKvGAIndividual* Parent1,
                                    kv::TKvGAIndividual*, kv::TKvGAIndividual* Child) {
            std::printf("  child       #%d starts as a copy of parent #%d\n", Child->GetIndex(),
                        Parent1->GetIndex());
        });

        // Crossover takes bits 0 .. CrossoverBit from the first parent and the rest from the
        // second, so the last bit of a gene is a gene boundary. The two children of a pair are
        // crossed at one point: the call for the second child receives the point and the decision
        // that the call for the first one left.
        GA.SetOnCrossover([&](kv::TObject*, kv::TKvGAIndividual* Parent1,
                              kv::TKvGAIndividual* Parent2, kv::TKvGAIndividual* Child,
                              int32_t& CrossoverBit, bool& DoCrossover) {
            const int32_t Given = CrossoverBit;
            // The nearest end of gene A or B: bit 3 or bit 7.
            CrossoverBit = std::clamp((CrossoverBit + 2) / 4 * 4 - 1, 3, 7);
            std::printf("  crossover   child #%d: point %d -> %d, %s; bits 0..%d from #%d, the "
                        "rest from #%d\n",
                        Child->GetIndex(), Given, CrossoverBit,
                        DoCrossover ? "crossover drawn" : "no crossover drawn, forced",
                        CrossoverBit, Parent1->GetIndex(), Parent2->GetIndex());
            DoCrossover = true;
        });

        // Keep a child that is already as good as the best of the previous generation (the
        // engine's statistics still describe it while the generation is being bred).
        GA.SetOnMutation([&](kv::TObject*, kv::TKvGAIndividual* Item, bool& DoMutation) {
            const kv::TGAFitness Best = GA.GetMaxFitness();
            DoMutation = Score(Item) < Best;
            std::printf("  mutation    child %s: %s %g\n", Show(Item).c_str(),
                        DoMutation ? "allowed, below the previous best"
                                   : "vetoed, it reaches the previous best",
                        Best);
        });

        GA.SetOnReproduction([&](kv::TObject*, kv::TKvGAIndividual* Item) {
            std::printf("  reproduced  child %s\n", Show(Item).c_str());
        });
        GA.SetOnEvolve([&](kv::TObject*) {
            std::printf("  evolved     generation %d: best %g, mean %g\n", GA.GetGeneration(),
                        GA.GetMaxFitness(), GA.GetAvgFitness());
        });

        GA.Initialize();
        std::printf("Generation 0 (random), fitness A + B + C in brackets, bits 0..11:\n");
        for (int I = 0; I < GA.GetPopulation()->GetCount(); ++I)
            std::printf("  %s\n", Show(GA.GetPopulation()->GetItem(I)).c_str());

        std::printf("\nOne Evolve(): the events in the order they fire\n");
        Tracing = true;
        GA.Evolve();
        Tracing = false;

        std::printf("\nGeneration 1:\n");
        for (int I = 0; I < GA.GetPopulation()->GetCount(); ++I)
            std::printf("  %s\n", Show(GA.GetPopulation()->GetItem(I)).c_str());
        return 0;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "control_demo: %s\n", E.what());
        return 2;
    }
}
