#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/random.h"
#include "persistence_fixture.h"

using namespace kv;

namespace {

// OneMax over 24 boolean genes: fitness is the number of set bits.
void OneMax(TKvCustomGeneticAlgorithm& E) {
    for (int I = 0; I < 24; ++I) {
        TKvGAGene* Gene = E.GetGenes()->Add();
        Gene->SetGeneType(gtBoolean);
        Gene->SetSize(1);
    }
    E.SetInitialPopulation(9);
    E.SetOnEvaluateFitness([](TObject*, TKvGAIndividual* Item, TGAFitness& F) {
        F = 0;
        for (int I = 0; I < Item->GetBits()->GetSize(); ++I)
            F += Item->GetBits()->GetBit(I);
    });
}

std::vector<std::string> Chromosomes(const TKvGAPopulation* P) {
    std::vector<std::string> Out;
    for (int I = 0; I < P->GetCount(); ++I)
        Out.push_back(P->GetItem(I)->GetBits()->ToBitString() + "/" +
                      std::to_string(P->GetItem(I)->GetFitness()));
    return Out;
}

} // namespace

TEST(EngineAssign, CopiesWhatItShouldAndNothingElse) {
    RandSeed(11);
    TKvGeneticAlgorithm Source;
    Source.SetName("Source");
    OneMax(Source);
    Source.SetFitnessMethod(fmMaximize);
    Source.SetTournamentField(3);
    Source.SetGeneSize(30);
    Source.Evolve(2);
    int Custom = 0;
    Source.SetOnSelection([&Custom](TObject*, TKvGAPopulation* P, TKvGAIndividual*& Parent) {
        ++Custom;
        Parent = P->GetItem(0);
    });

    TKvGeneticAlgorithm Target;
    Target.SetInitialPopulation(4);
    Target.SetOperations({goMutate});
    Target.Assign(&Source);
    EXPECT_EQ(Target.GetName(), "");
    EXPECT_EQ(Target.GetInitialPopulation(), 4);
    EXPECT_EQ(Target.GetOperations().Bits(), 0x02);
    EXPECT_FALSE(static_cast<bool>(Target.GetOnEvaluateFitness()));
    EXPECT_EQ(Target.GetSelectionMethod(), smCustom);
    EXPECT_FALSE(static_cast<bool>(Target.GetOnSelection())); // the custom routine stays behind
    EXPECT_EQ(Target.GetGeneration(), 2);
    EXPECT_EQ(Target.GetFitnessMethod(), fmMaximize);
    EXPECT_EQ(Target.GetTournamentField(), 3);
    EXPECT_EQ(Target.GetGeneSize(), 30);
    EXPECT_TRUE(Target.GetInitialized());
    EXPECT_EQ(Target.GetMaxFitness(), Source.GetMaxFitness());
    EXPECT_EQ(Target.GetAvgFitness(), Source.GetAvgFitness());
    EXPECT_EQ(Target.GetGenes()->GetCount(), 24);
    EXPECT_EQ(Chromosomes(Target.GetPopulation()), Chromosomes(Source.GetPopulation()));
    // The references point into the target's own collections.
    ASSERT_NE(Target.GetPreviousGeneration(), nullptr);
    EXPECT_NE(Target.GetPreviousGeneration(), Source.GetPreviousGeneration());
    EXPECT_EQ(Chromosomes(Target.GetPreviousGeneration()),
              Chromosomes(Source.GetPreviousGeneration()));
    ASSERT_NE(Target.GetFittestIndividual(), nullptr);
    EXPECT_EQ(Target.GetFittestIndividual()->GetCollection(), Target.GetPopulation());
    EXPECT_EQ(Target.GetFittestIndividual()->GetIndex(), Source.GetFittestIndividual()->GetIndex());

    // A source that was never initialised has neither; the target's own go.
    TKvGeneticAlgorithm Fresh;
    Target.Assign(&Fresh);
    EXPECT_EQ(Target.GetFittestIndividual(), nullptr);
    EXPECT_EQ(Target.GetPreviousGeneration()->GetCount(), 0);
    EXPECT_EQ(Target.GetPopulation()->GetCount(), 0);
    EXPECT_FALSE(Target.GetInitialized());

    Target.Assign(&Target);
    TKvGAPopulation NotAnEngine(nullptr);
    EXPECT_THROW(Target.Assign(&NotAnEngine), EConvertError);
    EXPECT_EQ(Custom, 0);
}

TEST(EngineAssign, TheCopyEvolvesAsTheSourceWould) {
    for (TGASelectionMethod Method : {smRoulette, smElitist, smStochasticTournament}) {
        SCOPED_TRACE(Method);
        RandSeed(5);
        TKvGeneticAlgorithm Source;
        OneMax(Source);
        Source.SetFitnessMethod(fmMaximize);
        Source.SetSelectionMethod(Method);
        Source.SetElitistPct(0.5);
        Source.Evolve(3);
        TKvGeneticAlgorithm Copy;
        OneMax(Copy);
        Copy.Assign(&Source);
        RandSeed(17);
        Source.Evolve(2);
        RandSeed(17);
        Copy.Evolve(2);
        EXPECT_EQ(Chromosomes(Copy.GetPopulation()), Chromosomes(Source.GetPopulation()));
        EXPECT_EQ(Copy.GetGeneration(), 5);
    }
}
