// A program outside the kvga tree that uses the installed package.
#include <cstdio>
#include <string>

#include "kv/records/KvRecords.h"
#include "kv/rtl/random.h"
#include "kv/xml/KvGeneticAlgorithmXML.h"

int main() {
    kv::RandSeed(1);
    double R = kv::Random();
    if (!(R >= 0.0 && R < 1.0))
        return 1;
    // The XML layer links the parser library through the package's dependency.
    auto GA = kv::NewGeneticAlgorithm();
    GA->SetGeneration(3);
    if (GA->GetOwnerDocument()->SaveToString().find("<Generation>3</Generation>") ==
        std::string::npos)
        return 1;
    // The run records come with the library.
    kv::TKvGeneticAlgorithm Engine;
    Engine.GetGenes()->Add()->SetSize(4);
    Engine.SetInitialPopulation(5);
    kv::TKvStatisticsLog Log;
    Log.Attach(Engine);
    Engine.Initialize();
    if (Log.GetCount() != 1 || Log.GetRecord(0).Evaluations != 5)
        return 1;
    std::printf("installed kvga works: Random() = %.6f\n", R);
    return 0;
}
