// The C++ side of the Python module's seeded-run test: runs the engine with the settings, genes,
// seed and fitness that python/tests/test_engine.py uses, prints the best fitness and saves the
// engine to the file named by the argument. The Python run must give the same best fitness and a
// byte-identical document.
//   kvga_python_reference OUTPUT.xml
#include <cstdio>
#include <exception>

#include "kv/ga/KvGeneticAlgorithm.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.xml\n", argv[0]);
        return 2;
    }
    try {
        kv::TKvGeneticAlgorithm GA;
        kv::TKvGAGene* X = GA.GetGenes()->Add();
        X->SetName("X");
        X->SetGeneType(kv::gtInteger);
        X->SetSize(10);
        kv::TKvGAGene* Y = GA.GetGenes()->Add();
        Y->SetName("Y");
        Y->SetGeneType(kv::gtInteger);
        Y->SetSize(12);
        kv::TKvGAGene* Flag = GA.GetGenes()->Add();
        Flag->SetName("Flag");
        Flag->SetGeneType(kv::gtBoolean);
        Flag->SetSize(1);

        GA.SetInitialPopulation(40);
        GA.SetFitnessMethod(kv::fmMaximize);
        GA.SetSelectionMethod(kv::smTournament);
        GA.SetTournamentField(3);
        GA.SetCrossoverKind(kv::ckTwoPoint);
        GA.SetCrossoverMethod(kv::cmBitBoundary);
        GA.SetMutationProbability(0.02);
        GA.SetMutationMode(kv::mmGeometric);
        GA.SetOperations({kv::goCrossover, kv::goMutate, kv::goInvert});
        GA.SetRandomSeed(20261208);
        GA.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
            kv::TKvGABits& Bits = *Item->GetBits();
            F = double(X->GeneAsInt64(Bits)) + 2.0 * double(Y->GeneAsInt64(Bits)) +
                (Flag->GeneAsBoolean(Bits) ? 100.0 : 0.0);
        });
        GA.Evolve(30);
        std::printf("%.17g\n", GA.GetMaxFitness());
        GA.SaveToFile(argv[1]);
        return 0;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "kvga_python_reference: %s\n", E.what());
        return 1;
    }
}
