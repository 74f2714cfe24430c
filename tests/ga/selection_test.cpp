#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine_fixture.h"
#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/random.h"

using namespace kv;
using kvtest::ScoreWith;
using kvtest::TOpenEngine;

TEST(Selection, RandomAndTournamentDrawUniformly) {
    TOpenEngine E;
    E.SetSelectionMethod(smRandom);
    const std::vector<double> Fitness = {5, 3, 9, 3, 7, 1, 3, 8};
    ScoreWith(E, Fitness);
    TKvGAPopulation* P = E.GetPopulation();
    for (uint64_t Seed = 1; Seed <= 20; ++Seed) {
        RandSeed(Seed);
        const int K = Random(8);
        RandSeed(Seed);
        EXPECT_EQ(E.SelectParent(P), P->GetItem(K));
    }

    E.SetSelectionMethod(smTournament);
    E.SetTournamentField(3);
    for (TGAFitnessMethod Method : {fmMinimize, fmMaximize}) {
        E.SetFitnessMethod(Method);
        for (uint64_t Seed = 1; Seed <= 50; ++Seed) {
            RandSeed(Seed);
            int Best = Random(8);
            for (int I = 0; I < 2; ++I) {
                const int C = Random(8);
                const double F = Fitness[static_cast<size_t>(C)];
                const double B = Fitness[static_cast<size_t>(Best)];
                if (Method == fmMinimize ? F < B : F > B)
                    Best = C; // ties keep the earlier contestant
            }
            const double Next = Random();
            RandSeed(Seed);
            EXPECT_EQ(E.SelectParent(P), P->GetItem(Best));
            EXPECT_EQ(Random(), Next) << "exactly three draws";
        }
    }
    EXPECT_EQ(E.Fittest(P->GetItem(1), P->GetItem(3)), P->GetItem(1));
    E.SetFitnessMethod(fmMinimize);
    EXPECT_EQ(E.Fittest(P->GetItem(3), P->GetItem(1)), P->GetItem(3));
}

TEST(Selection, RouletteFollowsTheCumulativeShares) {
    TOpenEngine E;
    E.SetSelectionMethod(smRoulette);
    ScoreWith(E, {1, 2, 3, 4});
    TKvGAPopulation* P = E.GetPopulation();
    const double Bounds[] = {0.1, 0.3, 0.6, 1.0};
    for (uint64_t Seed = 1; Seed <= 200; ++Seed) {
        RandSeed(Seed);
        const double R = Random();
        const int K = static_cast<int>(std::upper_bound(Bounds, Bounds + 4, R) - Bounds);
        RandSeed(Seed);
        EXPECT_EQ(E.SelectParent(P), P->GetItem(K)) << R;
        EXPECT_EQ(E.GetRouletteIndex(), K);
    }

    // All equal: one integer draw, the index stays.
    ScoreWith(E, {2, 2, 2, 2});
    const int Before = E.GetRouletteIndex();
    RandSeed(77);
    const int K = Random(4);
    const double Next = Random();
    RandSeed(77);
    EXPECT_EQ(E.SelectParent(P), P->GetItem(K));
    EXPECT_EQ(Random(), Next);
    EXPECT_EQ(E.GetRouletteIndex(), Before);

    // A fitness sum of 0 with unequal values: no entry exceeds the draw, the last is chosen.
    ScoreWith(E, {-1, 1, 0, 0});
    RandSeed(3);
    EXPECT_EQ(E.SelectParent(P), P->GetItem(3));
    EXPECT_EQ(E.GetRouletteIndex(), 3);
}

TEST(Selection, StochasticTournamentMixesAUniformAndARouletteDraw) {
    TOpenEngine E;
    E.SetFitnessMethod(fmMaximize);
    ScoreWith(E, {1, 2, 3, 4});
    TKvGAPopulation* P = E.GetPopulation();
    const double Bounds[] = {0.1, 0.3, 0.6, 1.0};
    for (uint64_t Seed = 1; Seed <= 40; ++Seed) {
        RandSeed(Seed);
        const int First = Random(4);
        const int Wheel = static_cast<int>(std::upper_bound(Bounds, Bounds + 4, Random()) - Bounds);
        RandSeed(Seed);
        EXPECT_EQ(E.SelectParent(P), P->GetItem(std::max(First, Wheel)));
        EXPECT_EQ(E.GetRouletteIndex(), Wheel);
    }
}

namespace {

// Runs one generation of Count individuals scored 0 .. Count - 1 and returns the fitness of the
// parents in the order they were selected.
std::vector<double> ElitistParents(int Count, double Pct, TGAFitnessMethod Method) {
    RandSeed(9);
    TKvGeneticAlgorithm E;
    E.SetGeneSize(8);
    E.SetInitialPopulation(Count);
    E.SetSelectionMethod(smElitist);
    E.SetElitistPct(Pct);
    E.SetFitnessMethod(Method);
    E.SetOnEvaluateFitness([](TObject*, TKvGAIndividual* I, TGAFitness& F) { F = I->GetIndex(); });
    std::vector<double> Parents;
    E.SetOnInitializeChild(
        [&](TObject*, TKvGAIndividual* P1, TKvGAIndividual* P2, TKvGAIndividual* C) {
            if (C->GetIndex() % 2 == 0) { // a pair's first child, or an odd population's last
                Parents.push_back(P1->GetFitness());
                Parents.push_back(P2->GetFitness());
            }
        });
    E.Evolve();
    return Parents;
}

} // namespace

TEST(Selection, ElitistTakesTheQueueInTurn) {
    const std::vector<double> Hundred = ElitistParents(100, 0.1, fmMaximize);
    ASSERT_EQ(Hundred.size(), 100u);
    for (size_t J = 0; J < Hundred.size(); ++J)
        EXPECT_EQ(Hundred[J], 99.0 - static_cast<double>(J % 11)) << J;
    EXPECT_EQ(ElitistParents(6, 0, fmMinimize), std::vector<double>(6, 0.0));
    EXPECT_EQ(ElitistParents(5, 0.5, fmMaximize), (std::vector<double>{4, 3, 2, 4, 3, 2}));
    // ElitistPct 1 reaches one position past the queue, which wraps to the first.
    EXPECT_EQ(ElitistParents(5, 1, fmMinimize), (std::vector<double>{0, 1, 2, 3, 4, 0}));
    EXPECT_EQ(ElitistParents(7, 1, fmMinimize), (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 0}));
}

TEST(Selection, ElitistQueueNeverHoldsADeletedIndividual) {
    RandSeed(12);
    TOpenEngine E;
    E.SetGeneSize(8);
    E.SetInitialPopulation(6);
    E.SetSelectionMethod(smElitist);
    E.SetOnEvaluateFitness([](TObject*, TKvGAIndividual* I, TGAFitness& F) { F = I->GetIndex(); });
    E.Initialize();
    ASSERT_NE(E.GetPriorityQueue(), nullptr);
    E.GetPopulation()->Delete(0); // the best under fmMinimize, and a queue entry
    EXPECT_EQ(E.GetPriorityQueue(), nullptr);
    std::vector<TKvGAIndividual*> Parents;
    E.SetOnInitializeChild([&](TObject*, TKvGAIndividual* P1, TKvGAIndividual*, TKvGAIndividual*) {
        Parents.push_back(P1);
    });
    // The queue is built again over the parents' population (the five left), not over the
    // collection the children overwrite (which still holds the deleted best's twin).
    E.Evolve();
    EXPECT_EQ(E.GetGeneration(), 1);
    ASSERT_EQ(Parents.size(), 6u);
    for (TKvGAIndividual* P : Parents) {
        EXPECT_EQ(P->GetCollection(), E.GetPreviousGeneration());
        EXPECT_EQ(P->GetFitness(), 1) << "5 * ElitistPct rounds to 0: every parent is the best";
    }
}
