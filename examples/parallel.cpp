// Use every core: the quick start's problem with a noisy, costly fitness, scored in parallel. The
// same seed gives the same run on one thread and on every hardware thread.
#include <cstdint>
#include <cstdio>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/random.h"

namespace {

// A stand-in for a simulation: some microseconds of arithmetic whose result is used.
double Simulate(double DX, double DY) {
    double Sum = 0;
    for (int I = 1; I <= 5000; ++I)
        Sum += (DX * DX + DY * DY) / (I * 5000.0);
    return Sum;
}

} // namespace

int main() {
    double Best[2];
    for (int Run = 0; Run < 2; ++Run) {
        const int32_t Threads = Run == 0 ? 1 : kv::ALL_HARDWARE_THREADS;
        kv::RandSeed(42);
        kv::TKvGeneticAlgorithm GA;
        kv::TKvGAGene* X = GA.GetGenes()->Add();
        X->SetName("X");
        X->SetGeneType(kv::gtInteger);
        X->SetSize(10);
        kv::TKvGAGene* Y = GA.GetGenes()->Add();
        Y->Assign(X);
        Y->SetName("Y");
        GA.SetFitnessMethod(kv::fmMaximize);
        GA.SetInitialPopulation(500);
        GA.SetEvaluationThreads(Threads); // 0, the default, scores one individual after another
        // Runs on several threads at once, one individual each: it reads its individual and the
        // genes and changes nothing else. kv::Random() draws from the individual's own stream.
        GA.SetOnEvaluateFitness([X, Y](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
            const double DX = X->GeneAsInteger(*Item->GetBits()) - 300;
            const double DY = Y->GeneAsInteger(*Item->GetBits()) - 700;
            const double Noise = 0.001 * kv::Random(); // measurement noise
            F = 1.0 / (1.0 + Simulate(DX, DY)) + Noise;
        });
        GA.Evolve(40);

        kv::TKvGAIndividual* Fittest = GA.GetFittestIndividual();
        Best[Run] = Fittest->GetFitness();
        std::printf("%s: X = %s, Y = %s, fitness %.9f\n",
                    Threads == 1 ? "1 thread" : "every hardware thread",
                    X->AsString(*Fittest->GetBits()).c_str(),
                    Y->AsString(*Fittest->GetBits()).c_str(), Best[Run]);
    }
    std::printf(Best[0] == Best[1] ? "the same run on both\n" : "the runs differ\n");
    return Best[0] == Best[1] ? 0 : 1;
}
