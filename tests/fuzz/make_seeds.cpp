// Writes the seed documents of the fuzz targets: what the library itself writes for a handful of
// engines, as settings documents (engine/), domains (domain/), genotypes (genotype/) and
// chromosome lists (chromosomes/) under the directory given as the only argument. ./dev fuzz runs
// it before fuzzing so that the seeds always follow the current format; tests/fuzz/corpus holds a
// copy made with it.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "kv/rtl/random.h"
#include "tests/fuzz/fuzz_engines.h"

using namespace kv;

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& Dir, const std::string& Target, const std::string& Name,
           const std::string& Text) {
    fs::create_directories(Dir / Target);
    std::ofstream Out(Dir / Target / (Name + ".xml"), std::ios::binary);
    Out << Text;
    if (!Out)
        throw Exception("cannot write " + (Dir / Target / Name).string());
}

void WriteAll(const fs::path& Dir, const std::string& Name, const TKvGeneticAlgorithm& GA) {
    Write(Dir, "engine", Name, fuzz::SaveEngine(GA));
    Write(Dir, "domain", Name, fuzz::SaveDomain(GA));
    Write(Dir, "genotype", Name, fuzz::SaveGenoType(GA));
    Write(Dir, "chromosomes", Name, fuzz::SaveChromosomes(GA));
}

// Wide genes of every kind (a 32-bit float is stored as its IEEE bits), eight random individuals.
void MakeWideEngine(TKvGeneticAlgorithm& GA) {
    struct TGeneSpec {
        const char* Name;
        TGeneType Type;
        int Size;
        bool Signed;
    };
    const TGeneSpec Specs[] = {{"Big", gtInteger, 32, true},
                               {"Real", gtFloat, 32, false},
                               {"Small", gtFloat, 5, true},
                               {"On", gtBoolean, 1, false},
                               {"Unsigned", gtInteger, 12, false}};
    for (const TGeneSpec& S : Specs) {
        TKvGAGene* Gene = GA.GetGenes()->Add();
        Gene->SetName(S.Name);
        Gene->SetGeneType(S.Type);
        Gene->SetSize(S.Size);
        Gene->SetPreserveSignBit(S.Signed);
    }
    TKvGAGene* Day = GA.GetGenes()->Add();
    Day->SetGeneType(gtEnumeration);
    const char* const Days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun", "Holiday"};
    for (const char* D : Days)
        Day->GetEnumerations()->Add(D);
    RandSeed(20240607);
    for (int I = 0; I < 8; ++I) {
        TKvGABits* Bits = GA.GetPopulation()->Add()->GetBits();
        Bits->Randomize();
        // Random bits may hold a code past the last day, which cannot be saved.
        Day->SetGeneAsEnumeration(*Bits, Days[I]);
    }
    GA.SetSelectionMethod(smCustom);
    GA.SetCrossoverMethod(cmLongwordBoundary);
}

// The operators beyond the classic set: two-point crossover, geometric mutation, and integer
// genes with a real interval, one of them in Gray code.
void MakeOperatorsEngine(TKvGeneticAlgorithm& GA) {
    GA.SetCrossoverKind(ckTwoPoint);
    GA.SetMutationMode(mmGeometric);
    for (int I = 0; I < 3; ++I) {
        TKvGAGene* Gene = GA.GetGenes()->Add();
        Gene->SetName(I == 0 ? "X" : I == 1 ? "Y" : "Count");
        Gene->SetGeneType(gtInteger);
        Gene->SetSize(I == 2 ? 6 : 16);
        if (I < 2)
            Gene->SetRealInterval(-5.12, 5.12);
        Gene->SetGrayCode(I == 1);
    }
    RandSeed(20240608);
    for (int I = 0; I < 4; ++I)
        GA.GetPopulation()->Add()->GetBits()->Randomize();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const fs::path Dir(argv[1]);
    try {
        TKvGeneticAlgorithm Empty;
        WriteAll(Dir, "new_engine", Empty);

        TKvGeneticAlgorithm Sample;
        fuzz::MakeSampleEngine(Sample);
        WriteAll(Dir, "sample", Sample);

        TKvGeneticAlgorithm NoGenes;
        NoGenes.SetGeneSize(20);
        NoGenes.GetPopulation()->Add()->SetName("Lone");
        NoGenes.GetPopulation()->Add();
        NoGenes.SetFitnessMethod(fmMaximize);
        WriteAll(Dir, "size_without_genes", NoGenes);

        TKvGeneticAlgorithm Wide;
        MakeWideEngine(Wide);
        WriteAll(Dir, "wide", Wide);

        TKvGeneticAlgorithm Operators;
        MakeOperatorsEngine(Operators);
        WriteAll(Dir, "operators", Operators);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "%s\n", E.what());
        return 1;
    }
    return 0;
}
