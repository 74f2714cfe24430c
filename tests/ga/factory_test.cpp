#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"

using namespace kv;

namespace {

int DNACreated = 0;

class TMyBits : public TKvGABits {
public:
    using TKvGABits::TKvGABits;
    std::string ClassName() const override { return "TMyBits"; }
};

class TMyIndividual : public TKvGAIndividual {
public:
    std::string ClassName() const override { return "TMyIndividual"; }

protected:
    std::unique_ptr<TKvGABits> CreateDNA() override {
        ++DNACreated;
        return std::make_unique<TMyBits>(this);
    }
};

class TMyGene : public TKvGAGene {
public:
    std::string ClassName() const override { return "TMyGene"; }
};

class TMyGenes : public TKvGAGenes {
public:
    using TKvGAGenes::TKvGAGenes;
    std::string ClassName() const override { return "TMyGenes"; }
};

class TMyPopulation : public TKvGAPopulation {
public:
    using TKvGAPopulation::TKvGAPopulation;
    std::string ClassName() const override { return "TMyPopulation"; }
};

class TMyEngine : public TKvGeneticAlgorithm {
public:
    using TKvGeneticAlgorithm::TKvGeneticAlgorithm;
    std::vector<std::string> Requested;

protected:
    std::unique_ptr<TKvGAGenes> CreateGenes(const TKvGAGeneClass&) override {
        return std::make_unique<TMyGenes>(this, TKvGAGeneClass::Of<TMyGene>());
    }
    std::unique_ptr<TKvGAPopulation>
    CreatePopulation(const TKvGAIndividualClass& ItemClass) override {
        // The current population is asked for with the base class, the previous generation with
        // the class of the current one.
        Requested.push_back(ItemClass.ClassName());
        return std::make_unique<TMyPopulation>(this, TKvGAIndividualClass::Of<TMyIndividual>());
    }
};

class TBrokenEngine : public TKvGeneticAlgorithm {
protected:
    std::unique_ptr<TKvGAPopulation> CreatePopulation(const TKvGAIndividualClass&) override {
        return nullptr;
    }
};

} // namespace

TEST(EngineFactories, DescendantFactoriesTakePart) {
    DNACreated = 0;
    auto Owner = std::make_unique<TComponent>();
    auto* Engine = new TMyEngine(Owner.get()); // the owner destroys it
    EXPECT_EQ(Engine->GetGenes()->ClassName(), "TMyGenes");
    EXPECT_EQ(Engine->GetGenes()->Add()->ClassName(), "TMyGene");
    Engine->GetGenes()->GetItem(0)->SetSize(10);
    EXPECT_EQ(Engine->GetPopulation()->ClassName(), "TMyPopulation");
    Engine->SetInitialPopulation(4);
    Engine->SetOnEvaluateFitness([](TObject*, TKvGAIndividual*, TGAFitness& F) { F = 1; });
    Engine->Evolve();
    const TKvGAPopulation* Both[] = {Engine->GetPopulation(), Engine->GetPreviousGeneration()};
    for (const TKvGAPopulation* P : Both) {
        ASSERT_NE(P, nullptr);
        EXPECT_EQ(P->ClassName(), "TMyPopulation");
        ASSERT_EQ(P->GetCount(), 4);
        for (int I = 0; I < 4; ++I) {
            EXPECT_EQ(P->GetItem(I)->ClassName(), "TMyIndividual");
            EXPECT_EQ(P->GetItem(I)->GetBits()->ClassName(), "TMyBits");
            EXPECT_EQ(P->GetItem(I)->GetBits()->GetSize(), 10);
        }
    }
    EXPECT_EQ(DNACreated, 8) << "one chromosome per individual, none per generation";
    EXPECT_EQ(Engine->GetGeneration(), 1);
    EXPECT_EQ(Engine->Requested, (std::vector<std::string>{"TKvGAIndividual", "TMyIndividual"}));
}

TEST(EngineFactories, AFactoryThatMakesNothingIsAnError) {
    TBrokenEngine Engine;
    EXPECT_THROW(Engine.GetPopulation(), EGAException);
    EXPECT_THROW(Engine.Initialize(), EGAException);
}

namespace {

// A genotype that comes with a gene of its own.
class TPresetGenes : public TKvGAGenes {
public:
    TPresetGenes(TPersistent* AOwner) : TKvGAGenes(AOwner) { Add()->SetSize(12); }
};

class TPresetEngine : public TKvGeneticAlgorithm {
protected:
    std::unique_ptr<TKvGAGenes> CreateGenes(const TKvGAGeneClass&) override {
        return std::make_unique<TPresetGenes>(this);
    }
};

} // namespace

TEST(EngineFactories, AGenotypeMadeWithGenesSizesTheChromosomes) {
    TPresetEngine Engine;
    EXPECT_EQ(Engine.GetGenes()->GetCount(), 1);
    EXPECT_EQ(Engine.GetGeneSize(), 12);
    EXPECT_EQ(Engine.GetPopulation()->Add()->GetBits()->GetSize(), 12);
}
