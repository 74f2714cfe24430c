#include <gtest/gtest.h>

#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"

using namespace kv;

namespace {

std::vector<int32_t> Offsets(const TKvGAGenes& Genes) {
    std::vector<int32_t> Out;
    for (int I = 0; I < Genes.GetCount(); ++I)
        Out.push_back(Genes.GetItem(I)->GetOffset());
    return Out;
}

void AddSizes(TKvGAGenes& Genes, std::initializer_list<int32_t> Sizes) {
    for (int32_t S : Sizes)
        Genes.Add()->SetSize(S);
}

} // namespace

TEST(GenotypeLayout, OffsetsFollowSizes) {
    TKvGeneticAlgorithm Engine;
    TKvGAGenes& Genes = *Engine.GetGenes();
    EXPECT_EQ(Genes.GetSize(), 0);
    AddSizes(Genes, {4, 3, 2});
    EXPECT_EQ(Offsets(Genes), (std::vector<int32_t>{0, 4, 7}));
    EXPECT_EQ(Genes.GetSize(), 9);
    Genes.GetItem(1)->SetSize(5);
    EXPECT_EQ(Offsets(Genes), (std::vector<int32_t>{0, 4, 9}));
    EXPECT_EQ(Genes.GetSize(), 11);
}

TEST(GenotypeLayout, DeletingTheFirstGeneKeepsTheOthersInPlace) {
    TKvGAGenes Genes(nullptr);
    AddSizes(Genes, {4, 3, 2});
    Genes.Delete(0);
    EXPECT_EQ(Offsets(Genes), (std::vector<int32_t>{4, 7}));
    EXPECT_EQ(Genes.GetSize(), 9);
    Genes.GetItem(0)->Free(); // a gene that leaves by itself re-lays the rest as well
    EXPECT_EQ(Offsets(Genes), (std::vector<int32_t>{7}));
    delete Genes.GetItem(0);
    EXPECT_EQ(Genes.GetCount(), 0);
    EXPECT_EQ(Genes.GetSize(), 0);
}

TEST(GenotypeLayout, InsertingAtZeroKeepsTheAppendedOffset) {
    TKvGeneticAlgorithm Engine;
    TKvGAGenes& Genes = *Engine.GetGenes();
    AddSizes(Genes, {4, 3});
    TKvGAGene* New = Genes.Insert(0);
    EXPECT_EQ(New->GetIndex(), 0);
    EXPECT_EQ(Offsets(Genes), (std::vector<int32_t>{7, 7, 11}));
    EXPECT_EQ(Genes.GetSize(), 14);
    EXPECT_EQ(Engine.GetGeneSize(), 14) << "the chromosome still covers every gene";
}

TEST(GenotypeLayout, GeneSizeGrowsWithTheGenotypeAndNeverShrinksByItself) {
    TKvGeneticAlgorithm Engine;
    TKvGAPopulation& Population = *Engine.GetPopulation();
    for (int I = 0; I < 3; ++I)
        Population.Add();
    Engine.SetGeneSize(12);
    for (int I = 0; I < 3; ++I)
        EXPECT_EQ(Population.GetItem(I)->GetBits()->GetSize(), 12);
    TKvGAGenes& Genes = *Engine.GetGenes();
    AddSizes(Genes, {8, 4});
    EXPECT_EQ(Engine.GetGeneSize(), 12);
    Genes.GetItem(1)->SetSize(12);
    EXPECT_EQ(Engine.GetGeneSize(), 20);
    for (int I = 0; I < 3; ++I)
        EXPECT_EQ(Population.GetItem(I)->GetBits()->GetSize(), 20);
    EXPECT_EQ(Population.Add()->GetBits()->GetSize(), 20);
    Genes.Add(); // size 0: nothing changes
    EXPECT_EQ(Engine.GetGeneSize(), 20);
    Genes.GetItem(1)->SetSize(2);
    Genes.Delete(0);
    EXPECT_EQ(Engine.GetGeneSize(), 20);
    Engine.SetGeneSize(5); // only the caller shrinks it
    EXPECT_EQ(Population.GetItem(0)->GetBits()->GetSize(), 5);
    try {
        Engine.SetGeneSize(-7);
        FAIL();
    } catch (const EGAException& X) {
        EXPECT_NE(std::string(X.what()).find("-7"), std::string::npos);
    }
    EXPECT_EQ(Engine.GetGeneSize(), 5);
}

TEST(GenotypeLayout, CopyingAGenotypeLengthensTheChromosomes) {
    TKvGAGenes Source(nullptr);
    AddSizes(Source, {10, 6});
    TKvGeneticAlgorithm Engine;
    Engine.GetPopulation()->Add();
    Engine.SetGenes(&Source);
    EXPECT_EQ(Offsets(*Engine.GetGenes()), (std::vector<int32_t>{0, 10}));
    EXPECT_EQ(Engine.GetGeneSize(), 16);
    EXPECT_EQ(Engine.GetPopulation()->GetItem(0)->GetBits()->GetSize(), 16);
}

TEST(GenotypeLayout, RefusesAGenotypeBeyondTheLargestChromosome) {
    TKvGAGenes Genes(nullptr);
    AddSizes(Genes, {1 << 30, (1 << 30) - 1});
    EXPECT_EQ(Genes.GetSize(), 2147483647);
    EXPECT_THROW(Genes.GetItem(0)->SetSize((1 << 30) + 1), EGAException);
    EXPECT_THROW(Genes.GetItem(1)->SetSize(1 << 30), EGAException);
    EXPECT_EQ(Genes.GetItem(0)->GetSize(), 1 << 30);
    EXPECT_EQ(Genes.GetItem(1)->GetOffset(), 1 << 30);
}
