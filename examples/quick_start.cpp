// Quick start: the genetic-algorithm engine in twenty lines. Finds the point (x, y) of a 10-bit
// grid that is closest to (300, 700), prints the best individual decoded and saves the engine.
#include <cstdio>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/random.h"

int main() {
    kv::RandSeed(42); // the library never seeds: seed for a repeatable run
    kv::TKvGeneticAlgorithm GA;
    kv::TKvGAGene* X = GA.GetGenes()->Add(); // genes describe runs of the chromosome's bits
    X->SetName("X");
    X->SetGeneType(kv::gtInteger);
    X->SetSize(10); // 0 .. 1023
    kv::TKvGAGene* Y = GA.GetGenes()->Add();
    Y->Assign(X); // the same kind and size
    Y->SetName("Y");

    GA.SetFitnessMethod(kv::fmMaximize); // the default is fmMinimize
    GA.SetUseFitnessCutoff(true);        // stop once a fitness reaches FitnessCutoff (1.0)
    GA.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        const double DX = X->GeneAsInteger(*Item->GetBits()) - 300;
        const double DY = Y->GeneAsInteger(*Item->GetBits()) - 700;
        F = 1.0 / (1.0 + DX * DX + DY * DY);
    });
    const int Generations = GA.Evolve(500); // Initialize (100 random individuals), then breed

    kv::TKvGAIndividual* Best = GA.GetFittestIndividual();
    std::printf("after %d generations: X = %s, Y = %s, fitness %g\n", Generations,
                X->AsString(*Best->GetBits()).c_str(), Y->AsString(*Best->GetBits()).c_str(),
                Best->GetFitness());
    GA.SaveToFile("quick_start.xml"); // settings, genes and population; LoadFromFile reads it
}
