#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine_fixture.h"
#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/random.h"

using namespace kv;

namespace {

// Counts the change reports and membership notices its populations pass on.
class TCountingEngine : public TKvGeneticAlgorithm {
public:
    int ItemUpdates = 0;
    std::vector<TCollectionNotification> Notices;

protected:
    void PopulationUpdate(TKvGAIndividual* Item) override { ItemUpdates += Item != nullptr; }
    void PopulationNotify(TKvGAIndividual* Item, TCollectionNotification Action) override {
        Notices.push_back(Action);
        TKvGeneticAlgorithm::PopulationNotify(Item, Action);
    }
};

} // namespace

TEST(Individual, StartsEmptyOutsideAPopulation) {
    TKvGAIndividual Item;
    EXPECT_EQ(Item.GetBits()->GetSize(), 0);
    EXPECT_EQ(Item.GetBits()->GetOwner(), &Item);
    EXPECT_EQ(Item.GetNormalizedFitness(), 0);
    EXPECT_EQ(Item.GetDisplayName(), "TKvGAIndividual");
    Item.SetName("Best");
    EXPECT_EQ(Item.GetDisplayName(), "Best");
    EXPECT_THROW(Item.Clone(), EGAException);
}

TEST(Individual, CloneAndAssignCopyNameFitnessAndBits) {
    RandSeed(3);
    kvtest::TOpenEngine Engine;
    Engine.SetGeneSize(70);
    kvtest::ScoreWith(Engine, {1, 2, 3, 4, 5});
    TKvGAPopulation& Population = *Engine.GetPopulation();
    for (int I = 0; I < 5; ++I)
        Population.GetItem(I)->GetBits()->Randomize();
    TKvGAIndividual* Third = Population.GetItem(2);
    Third->SetName("Third");
    TKvGAIndividual* Copy = Third->Clone();
    EXPECT_EQ(Copy->GetIndex(), 5);
    EXPECT_NE(Copy->GetID(), Third->GetID());
    EXPECT_EQ(Copy->GetName(), "Third");
    EXPECT_EQ(Copy->GetFitness(), 3);
    EXPECT_TRUE(Copy->GetBits()->Equals(*Third->GetBits()));

    TKvGAIndividual* First = Population.GetItem(0);
    const TKvGABits* Chromosome = First->GetBits();
    const int ID = First->GetID();
    Population.SetItem(0, Population.GetItem(4));
    EXPECT_EQ(First->GetBits(), Chromosome);
    EXPECT_EQ(First->GetIndex(), 0);
    EXPECT_EQ(First->GetID(), ID);
    EXPECT_EQ(First->GetFitness(), 5);
    EXPECT_TRUE(First->GetBits()->Equals(*Population.GetItem(4)->GetBits()));

    EXPECT_THROW(First->Assign(Engine.GetGenes()->Add()), EConvertError);

    const int Deleted = Population.GetItem(1)->GetID();
    Population.Delete(1);
    EXPECT_EQ(Population.FindItemID(Deleted), nullptr);
    EXPECT_EQ(Population.FindItemID(ID), First);
}

TEST(Individual, ChangeReportsReachTheEngineOutsideBatches) {
    TCountingEngine Engine;
    Engine.SetGeneSize(9);
    TKvGAIndividual* Item = Engine.GetPopulation()->Add();
    EXPECT_EQ(Item->GetBits()->GetSize(), 9);
    EXPECT_EQ(Engine.Notices, std::vector<TCollectionNotification>{cnAdded});
    Item->SetName("A");
    Item->SetName("A");
    EXPECT_EQ(Engine.ItemUpdates, 1);
    Item->SetBits(Item->GetBits());
    EXPECT_EQ(Engine.ItemUpdates, 2);
    Engine.GetPopulation()->BeginUpdate();
    Item->SetName("B");
    Engine.GetPopulation()->EndUpdate();
    EXPECT_EQ(Engine.ItemUpdates, 2);
    delete Item;
    EXPECT_EQ(Engine.GetPopulation()->GetCount(), 0);
    EXPECT_EQ(Engine.Notices.back(), cnExtracting);

    // A population owned by something else tells nobody.
    TKvGAPopulation Loose(&Engine);
    TKvGAPopulation Unowned(nullptr);
    EXPECT_EQ(Loose.Add()->GetBits()->GetSize(), 9);
    EXPECT_EQ(Unowned.Add()->GetBits()->GetSize(), 0);
}

TEST(Individual, FittestIsForgottenWhenItLeaves) {
    kvtest::TOpenEngine Engine;
    kvtest::ScoreWith(Engine, {3, 1, 1});
    TKvGAPopulation& Population = *Engine.GetPopulation();
    EXPECT_EQ(Engine.GetFittestIndividual(), Population.GetItem(1));
    Population.Delete(0);
    EXPECT_NE(Engine.GetFittestIndividual(), nullptr);
    Population.Delete(0);
    EXPECT_EQ(Engine.GetFittestIndividual(), nullptr);
    kvtest::ScoreWith(Engine, {3, 1, 1});
    Population.Clear();
    EXPECT_EQ(Engine.GetFittestIndividual(), nullptr);
}
