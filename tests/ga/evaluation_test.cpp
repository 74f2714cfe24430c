#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <sstream>
#include <vector>

#include "engine_fixture.h"
#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/random.h"

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

// A handler that changes the population being scored is refused when it returns, before the
// engine touches what it changed; the engine then works on.
TEST(Evaluation, AHandlerThatChangesThePopulationIsRefused) {
    TKvGeneticAlgorithm Other;
    Other.SetInitialPopulation(3);
    Other.Initialize();
    std::stringstream Saved;
    Other.SaveToStream(Saved);
    using TChange = std::function<void(TKvGeneticAlgorithm&, TKvGAIndividual*)>;
    const std::vector<std::pair<const char*, TChange>> Changes = {
        {"frees the individual being scored", [](auto&, TKvGAIndividual* I) { I->Free(); }},
        {"deletes another one", [](auto& E, auto*) { E.GetPopulation()->Delete(0); }},
        {"clears the population", [](auto& E, auto*) { E.GetPopulation()->Clear(); }},
        {"moves an individual", [](auto&, TKvGAIndividual* I) { I->SetIndex(0); }},
        {"adds one", [](auto& E, auto*) { E.GetPopulation()->Add(); }},
        {"assigns the engine", [&](auto& E, auto*) { E.Assign(&Other); }},
        {"loads the engine",
         [&](auto& E, auto*) {
             std::stringstream In(Saved.str());
             E.LoadFromStream(In);
         }},
        {"evolves the engine", [](auto& E, auto*) { E.Evolve(); }},
    };
    for (const auto& [What, Change] : Changes) {
        for (bool During : {false, true}) { // during Initialize, during Evolve
            SCOPED_TRACE(std::string(What) + (During ? " during Evolve" : " during Initialize"));
            RandSeed(3);
            TKvGeneticAlgorithm E;
            E.SetInitialPopulation(6);
            bool Armed = !During;
            E.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual* I, TGAFitness& F) {
                F = 1 + I->GetIndex();
                if (Armed && I->GetIndex() == 2) {
                    Armed = false;
                    Change(E, I);
                }
            });
            if (During)
                E.Initialize();
            Armed = true;
            EXPECT_THROW(E.Evolve(), EGAException);
            // Usable: breeds and scores as usual afterwards.
            Armed = false;
            if (E.GetPopulation()->GetCount() == 0)
                E.Initialize();
            EXPECT_EQ(E.Evolve(2), 2);
            const int Count = E.GetPopulation()->GetCount();
            ASSERT_GT(Count, 0);
            EXPECT_EQ(E.GetMaxFitness(), Count);
            EXPECT_EQ(E.GetFittestIndividual(), E.GetPopulation()->GetItem(0));
        }
    }

    // Changing a chromosome is no change of the population.
    TOpenEngine E;
    E.SetOnEvaluateFitness([](TObject*, TKvGAIndividual* I, TGAFitness& F) {
        I->GetBits()->SetSize(4);
        F = 1;
    });
    E.GetPopulation()->Add();
    EXPECT_NO_THROW(E.EvaluateFitness());
}

// NaN ranks below every number under both methods and is left out of the statistics.
TEST(Evaluation, NaNRanksBelowEveryNumber) {
    const double NaN = std::numeric_limits<double>::quiet_NaN();
    for (TGAFitnessMethod Method : {fmMinimize, fmMaximize}) {
        SCOPED_TRACE(Method == fmMinimize ? "fmMinimize" : "fmMaximize");
        TOpenEngine E;
        E.SetFitnessMethod(Method);
        ScoreWith(E, {NaN, 1, NaN, 3});
        TKvGAPopulation* P = E.GetPopulation();
        EXPECT_EQ(E.GetMinFitness(), 1);
        EXPECT_EQ(E.GetMaxFitness(), 3);
        EXPECT_EQ(E.GetAvgFitness(), 2);
        EXPECT_EQ(E.GetFitnessSum(), 4);
        EXPECT_EQ(E.GetFittestIndividual(), P->GetItem(Method == fmMinimize ? 1 : 3));
        EXPECT_EQ(E.Fittest(P->GetItem(0), P->GetItem(1)), P->GetItem(1));
        EXPECT_EQ(E.Fittest(P->GetItem(1), P->GetItem(0)), P->GetItem(1));
        EXPECT_EQ(E.Fittest(P->GetItem(0), P->GetItem(2)), P->GetItem(0)) << "NaN ties NaN";
        const std::vector<double> Cumulative = {0, 0.25, 0.25, 1};
        EXPECT_EQ(E.GetCumNormFitnesses(), Cumulative);
        EXPECT_EQ(P->GetItem(0)->GetNormalizedFitness(), 0);

        // Alternating 1 and NaN: the fittest is a 1; no selection method picks a NaN.
        ScoreWith(E, {1, NaN, 1, NaN, 1, NaN});
        EXPECT_EQ(E.GetFittestIndividual(), P->GetItem(0));
        EXPECT_EQ(E.GetMaxFitness(), 1);
        EXPECT_EQ(E.GetMinFitness(), 1);
        E.SetTournamentField(6);
        for (TGASelectionMethod Selection : {smRoulette, smStochasticTournament, smElitist}) {
            E.SetSelectionMethod(Selection);
            E.EvaluateFitness();
            RandSeed(5);
            for (int I = 0; I < 100; ++I)
                ASSERT_FALSE(std::isnan(E.SelectParent(P)->GetFitness()))
                    << EnumToIdent(Selection) << ", draw " << I;
        }
        // A tournament returns the first number drawn, a NaN only when it drew nothing else.
        E.SetSelectionMethod(smTournament);
        for (uint64_t Seed = 1; Seed <= 100; ++Seed) {
            RandSeed(Seed);
            int Expected = Random(6);
            for (int I = 1; I < 6; ++I) {
                const int C = Random(6);
                if (Expected % 2 == 1 && C % 2 == 0)
                    Expected = C;
            }
            RandSeed(Seed);
            ASSERT_EQ(E.SelectParent(P), P->GetItem(Expected)) << "seed " << Seed;
        }
        E.SetSelectionMethod(smElitist);
        E.EvaluateFitness();
        const auto* Last = static_cast<const TKvGAIndividual*>(E.GetPriorityQueue()->GetItem(5));
        EXPECT_TRUE(std::isnan(Last->GetFitness())) << "the elitist queue puts NaN last";

        // Every individual NaN: statistics 0, the first is the fittest, the cut-off never fires.
        E.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual*, TGAFitness& F) { F = NaN; });
        E.SetUseFitnessCutoff(true);
        E.SetFitnessCutoff(Method == fmMinimize ? 1e300 : -1e300);
        EXPECT_EQ(E.Evolve(3), 3);
        EXPECT_EQ(E.GetMaxFitness(), 0);
        EXPECT_EQ(E.GetMinFitness(), 0);
        EXPECT_EQ(E.GetAvgFitness(), 0);
        EXPECT_EQ(E.GetFittestIndividual(), E.GetPopulation()->GetItem(0));
    }
}

// Finite values whose sum overflows keep the mean, Diversity and the roulette weights finite.
TEST(Evaluation, AnOverflowingSumStaysUsable) {
    TOpenEngine E;
    E.SetSelectionMethod(smRoulette);
    ScoreWith(E, {1e308, 1e308, 1e308, 1e308});
    EXPECT_EQ(E.GetAvgFitness(), 1e308);
    EXPECT_EQ(E.GetDiversity(), 1);
    EXPECT_TRUE(std::isinf(E.GetFitnessSum()));
    EXPECT_EQ(E.GetPopulation()->GetItem(0)->GetNormalizedFitness(), 0.25);
    EXPECT_EQ(E.GetCumNormFitnesses().back(), 1);

    ScoreWith(E, {1e308, 1e308, -1e308, 1e308});
    EXPECT_EQ(E.GetAvgFitness(), 1e308 / 2);
    EXPECT_EQ(E.GetPopulation()->GetItem(2)->GetNormalizedFitness(), -0.5);
    const std::vector<double> Cumulative = {0.5, 1, 0.5, 1};
    EXPECT_EQ(E.GetCumNormFitnesses(), Cumulative);
}
