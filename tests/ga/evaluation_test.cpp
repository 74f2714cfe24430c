#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine_fixture.h"
#include "kv/ga/KvGeneticAlgorithm.h"

using namespace kv;
using kvtest::ScoreWith;
using kvtest::TOpenEngine;

TEST(Evaluation, StatisticsOfOneTwoThreeFour) {
    for (TGAFitnessMethod Method : {fmMinimize, fmMaximize}) {
        TOpenEngine E;
        E.SetFitnessMethod(Method);
        ScoreWith(E, {1, 2, 3, 4});
        EXPECT_EQ(E.GetFitnessSum(), 10);
        EXPECT_EQ(E.GetAvgFitness(), 2.5);
        EXPECT_EQ(E.GetMinFitness(), 1);
        EXPECT_EQ(E.GetMaxFitness(), 4);
        EXPECT_EQ(E.GetDiversity(), 0.625);
        const double Shares[] = {0.1, 0.2, 0.3, 0.4};
        const double Cumulative[] = {0.1, 0.3, 0.6, 1.0};
        ASSERT_EQ(E.GetCumNormFitnesses().size(), 4u);
        for (int I = 0; I < 4; ++I) {
            EXPECT_DOUBLE_EQ(E.GetPopulation()->GetItem(I)->GetNormalizedFitness(), Shares[I]);
            EXPECT_DOUBLE_EQ(E.GetCumNormFitnesses()[static_cast<size_t>(I)], Cumulative[I]);
        }
        EXPECT_EQ(E.GetFittestIndividual()->GetFitness(), Method == fmMinimize ? 1 : 4);
    }
}

TEST(Evaluation, FittestKeepsTheEarlierOnTies) {
    TOpenEngine E;
    ScoreWith(E, {3, 1, 1});
    EXPECT_EQ(E.GetFittestIndividual(), E.GetPopulation()->GetItem(1));
    E.SetFitnessMethod(fmMaximize);
    E.EvaluateFitness();
    EXPECT_EQ(E.GetFittestIndividual(), E.GetPopulation()->GetItem(0));
    ScoreWith(E, {5, 7, 7});
    EXPECT_EQ(E.GetFittestIndividual(), E.GetPopulation()->GetItem(1));
}

TEST(Evaluation, ZeroAndEmptyPopulations) {
    TOpenEngine E;
    ScoreWith(E, {0, 0, 0});
    EXPECT_TRUE(std::isinf(E.GetDiversity()));
    EXPECT_EQ(E.GetPopulation()->GetItem(0)->GetNormalizedFitness(), 0);

    ScoreWith(E, {2, 6, 4});
    E.GetPopulation()->Clear();
    E.EvaluateFitness();
    EXPECT_EQ(E.GetMaxFitness(), 0);
    EXPECT_EQ(E.GetMinFitness(), 0);
    EXPECT_EQ(E.GetAvgFitness(), 0);
    EXPECT_EQ(E.GetFitnessSum(), 12) << "the sum keeps its value";
}

TEST(Evaluation, ElitistQueueOrdersByFitnessMethod) {
    for (TGAFitnessMethod Method : {fmMaximize, fmMinimize}) {
        TOpenEngine E;
        E.SetSelectionMethod(smElitist);
        E.SetFitnessMethod(Method);
        ScoreWith(E, {5, 9, 7});
        ASSERT_NE(E.GetPriorityQueue(), nullptr);
        ASSERT_EQ(E.GetPriorityQueue()->GetCount(), 3);
        const auto* Top = static_cast<const TKvGAIndividual*>(E.GetPriorityQueue()->GetItem(0));
        EXPECT_EQ(Top->GetFitness(), Method == fmMaximize ? 9 : 5);
        EXPECT_TRUE(E.GetCumNormFitnesses().empty()) << "elitist selection needs no wheel";
    }
}
