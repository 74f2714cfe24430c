#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine_fixture.h"
#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/random.h"

using namespace kv;

TEST(EngineSettings, DefaultsAndValidatedWriters) {
    kvtest::TOpenEngine E;
    EXPECT_EQ(E.GetCrossoverProbability(), 0.98);
    EXPECT_EQ(E.GetInversionProbability(), 0.1);
    EXPECT_EQ(E.GetMutationProbability(), 0.01);
    EXPECT_EQ(E.GetSelectionMethod(), smStochasticTournament);
    EXPECT_FALSE(E.IsCustomSelection());
    EXPECT_TRUE(static_cast<bool>(E.GetOnSelection()));
    EXPECT_EQ(E.GetFitnessCutoff(), 1.0);
    EXPECT_EQ(E.GetDiversityLimit(), 0.02);
    EXPECT_EQ(E.GetElitistPct(), 0.1);
    EXPECT_EQ(E.GetTournamentField(), 2);
    EXPECT_EQ(E.GetInitialPopulation(), 100);
    EXPECT_EQ(E.GetOperations().Bits(), 0x07);
    EXPECT_EQ(E.GetPreviousGeneration(), nullptr);

    E.SetTournamentField(1);
    EXPECT_EQ(E.GetTournamentField(), 2);
    E.SetTournamentField(MaxTournamentField);
    EXPECT_EQ(E.GetTournamentField(), MaxTournamentField);
    E.SetTournamentField(MaxTournamentField + 1); // the cap a loaded document has as well
    E.SetTournamentField(INT32_MAX);
    EXPECT_EQ(E.GetTournamentField(), MaxTournamentField);
    E.SetCrossoverProbability(1.5);
    E.SetCrossoverProbability(-0.1);
    EXPECT_EQ(E.GetCrossoverProbability(), 0.98);
    E.SetCrossoverProbability(0);
    EXPECT_EQ(E.GetCrossoverProbability(), 0);
    E.SetCrossoverProbability(1);
    EXPECT_EQ(E.GetCrossoverProbability(), 1);
    E.SetMutationProbability(NAN);
    E.SetElitistPct(2);
    EXPECT_EQ(E.GetMutationProbability(), 0.01);
    EXPECT_EQ(E.GetElitistPct(), 0.1);
    E.SetInitialPopulation(-5);
    EXPECT_EQ(E.GetInitialPopulation(), 0);
    E.SetCrossoverMethod(static_cast<TGACrossoverMethod>(9));
    E.SetSelectionMethod(static_cast<TGASelectionMethod>(-1));
    EXPECT_EQ(E.GetCrossoverMethod(), cmGeneBoundary);
    EXPECT_EQ(E.GetSelectionMethod(), smStochasticTournament);
}

TEST(EngineSelectionWriters, MethodAndRoutineStayConsistent) {
    kvtest::TOpenEngine E;
    E.SetSelectionMethod(smCustom);
    EXPECT_FALSE(static_cast<bool>(E.GetOnSelection()));
    E.SetInitialPopulation(4);
    E.SetOnEvaluateFitness([](TObject*, TKvGAIndividual*, TGAFitness& F) { F = 1; });
    try {
        E.Evolve();
        FAIL();
    } catch (const EGAException& X) {
        EXPECT_STREQ(X.what(), "No custom selection function defined");
    }
    EXPECT_EQ(E.GetGeneration(), 0);

    E.SetOnSelection(
        [](TObject*, TKvGAPopulation* P, TKvGAIndividual*& Parent) { Parent = P->GetItem(0); });
    EXPECT_EQ(E.GetSelectionMethod(), smCustom);
    EXPECT_TRUE(E.IsCustomSelection());
    E.SetSelectionMethod(smTournament);
    EXPECT_FALSE(E.IsCustomSelection());
    EXPECT_TRUE(static_cast<bool>(E.GetOnSelection()));

    E.SetSelectionMethod(smElitist);
    E.SetOnSelection(nullptr);
    EXPECT_EQ(E.GetSelectionMethod(), smRoulette);
    EXPECT_TRUE(static_cast<bool>(E.GetOnSelection()));
    E.SetOnSelection(nullptr);
    EXPECT_EQ(E.GetSelectionMethod(), smRoulette);
    E.Evolve();
    EXPECT_EQ(E.GetGeneration(), 1);

    // A routine that chooses nothing is reported instead of breeding from nothing.
    E.SetOnSelection([](TObject*, TKvGAPopulation*, TKvGAIndividual*&) {});
    EXPECT_THROW(E.Evolve(), EGAException);
    EXPECT_EQ(E.GetPopulation()->GetUpdateCount(), 0);
}

TEST(EngineLifecycle, InitializeFillsScoresAndCopies) {
    RandSeed(11);
    TKvGeneticAlgorithm E;
    E.SetGeneSize(16);
    E.SetInitialPopulation(6);
    E.Initialize(); // no fitness callback: every fitness is 0, and that is no error
    ASSERT_EQ(E.GetPopulation()->GetCount(), 6);
    ASSERT_EQ(E.GetPreviousGeneration()->GetCount(), 6);
    for (int I = 0; I < 6; ++I)
        EXPECT_TRUE(E.GetPreviousGeneration()->GetItem(I)->GetBits()->Equals(
            *E.GetPopulation()->GetItem(I)->GetBits()));
    EXPECT_TRUE(E.GetInitialized());
    EXPECT_THROW(E.Evolve(), EGAException);

    // A bigger population is kept; a callback that initialises keeps the chromosomes as they are.
    E.SetOnInitialization([](TObject*, bool& Initialized) { Initialized = true; });
    E.GetPopulation()->Add();
    E.Initialize();
    EXPECT_EQ(E.GetPopulation()->GetCount(), 7);
    EXPECT_EQ(E.GetPopulation()->GetItem(6)->GetBits()->ToBitString(), std::string(16, '0'));

    TKvGeneticAlgorithm Empty;
    Empty.SetInitialPopulation(0);
    Empty.Evolve();
    EXPECT_EQ(Empty.GetMaxFitness(), 0);
    EXPECT_EQ(Empty.Evolve(3), 0);
    EXPECT_EQ(Empty.GetGeneration(), 0);
}

// Evolve(Generations) counts the generations bred, also when the initialisation it makes first
// resets a Generation that a load or the caller set; the generation count never overflows.
TEST(EngineLifecycle, GenerationCountsBredGenerations) {
    TKvGeneticAlgorithm E;
    E.SetInitialPopulation(4);
    E.SetOnEvaluateFitness([](TObject*, TKvGAIndividual*, TGAFitness& F) { F = 1; });
    E.SetGeneration(5);
    EXPECT_EQ(E.Evolve(3), 3);
    EXPECT_EQ(E.GetGeneration(), 3);

    E.SetGeneration(INT32_MAX - 1);
    EXPECT_EQ(E.Evolve(1), 1);
    TKvGAPopulation* Current = E.GetPopulation();
    try {
        E.Evolve();
        FAIL();
    } catch (const EGAException& X) {
        EXPECT_NE(std::string(X.what()).find("2147483647"), std::string::npos) << X.what();
    }
    EXPECT_EQ(E.GetGeneration(), INT32_MAX);
    EXPECT_EQ(E.GetPopulation(), Current) << "refused before the populations are exchanged";
    EXPECT_THROW(E.Evolve(5), EGAException);
    E.SetGeneration(0);
    EXPECT_EQ(E.Evolve(1), 1);
}

// A breeding handler that removes an individual (a parent, a child) is refused when it returns,
// before the operator reads what it removed; the engine breeds on afterwards.
TEST(EngineLifecycle, BreedingHandlersThatChangeThePopulationsAreRefused) {
    using TArm = std::function<void(TKvGeneticAlgorithm&, std::function<void(TKvGAIndividual*)>)>;
    const std::vector<std::pair<const char*, TArm>> Events = {
        {"OnInitializeChild",
         [](auto& E, auto Hit) {
             E.SetOnInitializeChild([Hit](TObject*, TKvGAIndividual*, TKvGAIndividual* P2,
                                          TKvGAIndividual*) { Hit(P2); });
         }},
        {"OnCrossover",
         [](auto& E, auto Hit) {
             E.SetOnCrossover([Hit](TObject*, TKvGAIndividual*, TKvGAIndividual* P2,
                                    TKvGAIndividual*, int32_t&, bool&) { Hit(P2); });
         }},
        {"OnMutation",
         [](auto& E, auto Hit) {
             E.SetOnMutation([Hit](TObject*, TKvGAIndividual* C, bool&) { Hit(C); });
         }},
        {"OnInversion",
         [](auto& E, auto Hit) {
             E.SetOnInversion([Hit](TObject*, TKvGAIndividual* C, bool&) { Hit(C); });
         }},
        {"OnReproduction",
         [](auto& E, auto Hit) {
             E.SetOnReproduction([Hit](TObject*, TKvGAIndividual* C) { Hit(C); });
         }},
        {"OnSelection",
         [](auto& E, auto Hit) {
             E.SetOnSelection([Hit](TObject*, TKvGAPopulation* P, TKvGAIndividual*& Parent) {
                 Parent = P->GetItem(0);
                 Hit(Parent);
             });
         }},
    };
    for (const auto& [Name, Arm] : Events) {
        SCOPED_TRACE(Name);
        RandSeed(4);
        TKvGeneticAlgorithm E;
        E.SetInitialPopulation(5); // an odd population: its last child fires OnInversion
        E.SetGeneSize(8);
        E.SetOnEvaluateFitness(
            [](TObject*, TKvGAIndividual* I, TGAFitness& F) { F = I->GetIndex(); });
        E.Initialize();
        bool Armed = true;
        Arm(E, [&](TKvGAIndividual* Item) {
            if (Armed) {
                Armed = false;
                Item->Free();
            }
        });
        try {
            E.Evolve();
            FAIL();
        } catch (const EGAException& X) {
            EXPECT_NE(std::string(X.what()).find(Name), std::string::npos) << X.what();
        }
        EXPECT_EQ(E.GetPopulation()->GetUpdateCount(), 0);
        EXPECT_EQ(E.Evolve(2), 2);
    }
}

TEST(EngineLifecycle, PopulationsAreADoubleBuffer) {
    RandSeed(5);
    TKvGeneticAlgorithm E;
    E.SetGeneSize(8);
    E.SetInitialPopulation(4);
    E.SetOnEvaluateFitness([](TObject*, TKvGAIndividual*, TGAFitness& F) { F = 1; });
    E.Initialize();
    TKvGAPopulation* A = E.GetPopulation();
    TKvGAPopulation* B = E.GetPreviousGeneration();
    std::vector<TKvGAIndividual*> Individuals;
    for (int I = 0; I < 4; ++I)
        Individuals.push_back(B->GetItem(I));
    E.Evolve();
    EXPECT_EQ(E.GetPopulation(), B);
    EXPECT_EQ(E.GetPreviousGeneration(), A);
    for (int I = 0; I < 4; ++I)
        EXPECT_EQ(E.GetPopulation()->GetItem(I), Individuals[static_cast<size_t>(I)]);
    E.Evolve();
    EXPECT_EQ(E.GetPopulation(), A);
    EXPECT_EQ(E.Evolve(0), 0);
    EXPECT_EQ(E.Evolve(-3), 0);
    EXPECT_EQ(E.Evolve(5), 5);
    EXPECT_EQ(E.GetGeneration(), 7);
}

TEST(EngineLifecycle, AGenerationSendsEveryEventInOrder) {
    RandSeed(2024);
    TKvGeneticAlgorithm E;
    E.SetGeneSize(24);
    E.SetInitialPopulation(5);
    E.SetSelectionMethod(smRandom);
    std::vector<std::string> Log;
    auto Name = [&E](TKvGAIndividual* I) {
        const bool Current = I->GetCollection() == E.GetPopulation();
        return std::string(Current ? "c" : "p") + std::to_string(I->GetIndex());
    };
    auto Builtin = E.GetOnSelection();
    std::vector<TKvGAIndividual*> Selected; // child 2 of a pair has the parents swapped
    auto Parents = [&](TKvGAIndividual* P1, TKvGAIndividual* P2, TKvGAIndividual* C) {
        const size_t First = Selected.size() - 2;
        const bool Swapped = C->GetIndex() % 2 == 1;
        EXPECT_EQ(P1, Selected[First + Swapped]);
        EXPECT_EQ(P2, Selected[First + !Swapped]);
    };
    E.SetOnSelection([&](TObject* S, TKvGAPopulation* P, TKvGAIndividual*& Parent) {
        EXPECT_EQ(S, &E);
        EXPECT_EQ(P, E.GetPreviousGeneration());
        Builtin(S, P, Parent);
        Selected.push_back(Parent);
        Log.push_back("select");
    });
    E.SetOnInitialization([&](TObject* S, bool&) {
        EXPECT_EQ(S, &E);
        Log.push_back("initialization");
    });
    E.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual* I, TGAFitness& F) {
        F = I->GetIndex();
        Log.push_back("fitness " + Name(I));
    });
    E.SetOnInitializeChild(
        [&](TObject*, TKvGAIndividual* P1, TKvGAIndividual* P2, TKvGAIndividual* C) {
            EXPECT_TRUE(C->GetBits()->Equals(*P1->GetBits()));
            Parents(P1, P2, C);
            Log.push_back("child " + Name(C) + " " + Name(P1).substr(0, 1) + Name(P2).substr(0, 1));
        });
    E.SetOnCrossover([&](TObject*, TKvGAIndividual* P1, TKvGAIndividual* P2, TKvGAIndividual* C,
                         int32_t&, bool&) {
        Parents(P1, P2, C);
        Log.push_back("crossover " + Name(C));
    });
    E.SetOnMutation(
        [&](TObject*, TKvGAIndividual* C, bool&) { Log.push_back("mutation " + Name(C)); });
    E.SetOnInversion(
        [&](TObject*, TKvGAIndividual* C, bool&) { Log.push_back("inversion " + Name(C)); });
    E.SetOnReproduction(
        [&](TObject*, TKvGAIndividual* C) { Log.push_back("reproduction " + Name(C)); });
    E.SetOnEvolve([&](TObject* S) {
        EXPECT_EQ(S, &E);
        EXPECT_EQ(E.GetPopulation()->GetUpdateCount(), 0);
        Log.push_back("evolve");
    });
    E.Evolve();

    std::vector<std::string> Expected = {"initialization"};
    for (int I = 0; I < 5; ++I)
        Expected.push_back("fitness c" + std::to_string(I));
    for (int I = 0; I < 4; I += 2) {
        const std::string A = "c" + std::to_string(I), B = "c" + std::to_string(I + 1);
        for (const std::string& S :
             {std::string("select"), std::string("select"), "child " + A + " pp",
              "child " + B + " pp", "crossover " + A, "crossover " + B, "mutation " + A,
              "mutation " + B, "reproduction " + A, "reproduction " + B})
            Expected.push_back(S);
    }
    for (const char* S : {"select", "select", "child c4 pp", "crossover c4", "mutation c4",
                          "inversion c4", "reproduction c4"})
        Expected.push_back(S);
    for (int I = 0; I < 5; ++I)
        Expected.push_back("fitness c" + std::to_string(I));
    Expected.push_back("evolve");
    EXPECT_EQ(Log, Expected);
    EXPECT_EQ(E.GetGeneration(), 1);
}

TEST(EngineLifecycle, AFailingGenerationClosesItsBatch) {
    RandSeed(8);
    TKvGeneticAlgorithm E;
    E.SetGeneSize(8);
    E.SetInitialPopulation(6);
    E.SetOnEvaluateFitness([](TObject*, TKvGAIndividual* I, TGAFitness& F) { F = I->GetIndex(); });
    E.Initialize();
    TKvGAPopulation* Before = E.GetPopulation();
    int Children = 0;
    bool Evolved = false;
    E.SetOnReproduction([&](TObject*, TKvGAIndividual*) {
        if (++Children == 3)
            throw std::runtime_error("stop");
    });
    E.SetOnEvolve([&](TObject*) { Evolved = true; });
    EXPECT_THROW(E.Evolve(), std::runtime_error);
    EXPECT_EQ(E.GetPreviousGeneration(), Before);
    EXPECT_EQ(E.GetPopulation()->GetUpdateCount(), 0);
    EXPECT_EQ(E.GetGeneration(), 0);
    EXPECT_FALSE(Evolved);
}

TEST(EngineLifecycle, CutoffAndDiversityStopARun) {
    for (TGAFitnessMethod Method : {fmMaximize, fmMinimize}) {
        RandSeed(1);
        TKvGeneticAlgorithm E;
        E.SetGeneSize(8);
        E.SetInitialPopulation(4);
        E.SetFitnessMethod(Method);
        int Scored = 0;
        // Initialize scores 4 individuals; the first generation reaches the cut-off exactly.
        E.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual*, TGAFitness& F) {
            F = Scored++ < 4 ? (Method == fmMaximize ? 0.5 : 3.0) : 1.0;
        });
        E.SetUseFitnessCutoff(true);
        EXPECT_EQ(E.Evolve(10), 1);
        E.SetUseFitnessCutoff(false);
        EXPECT_EQ(E.Evolve(3), 3);
    }

    RandSeed(1);
    TKvGeneticAlgorithm D;
    D.SetGeneSize(8);
    D.SetInitialPopulation(4);
    int Generation = 0;
    D.SetOnEvolve([&](TObject*) { ++Generation; });
    // Diversity is mean / max: 1 while all are equal, then 0.25 from the third generation on.
    D.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual* I, TGAFitness& F) {
        F = Generation >= 2 && I->GetIndex() > 0 ? 0 : 1;
    });
    D.SetUseDiversityLimit(true);
    D.SetDiversityLimit(0.3);
    EXPECT_EQ(D.Evolve(10), 3);
    EXPECT_EQ(D.GetDiversity(), 0.25);

    // No fittest individual at all: the cut-off is skipped instead of read from nothing.
    TKvGeneticAlgorithm Nothing;
    Nothing.SetInitialPopulation(0);
    Nothing.SetUseFitnessCutoff(true);
    EXPECT_EQ(Nothing.Evolve(2), 0);
}

namespace {

// An engine whose own Initialize fills the population but makes no previous generation.
class TBareEngine : public TKvGeneticAlgorithm {
public:
    void Initialize() override {
        for (int I = 0; I < 3; ++I)
            GetPopulation()->Add()->GetBits()->Randomize();
        EvaluateFitness();
    }
};

} // namespace

TEST(EngineLifecycle, EvolveMakesAMissingPreviousGeneration) {
    RandSeed(4);
    TBareEngine E;
    E.SetGeneSize(8);
    E.SetOnEvaluateFitness([](TObject*, TKvGAIndividual*, TGAFitness& F) { F = 2; });
    E.Evolve();
    ASSERT_NE(E.GetPreviousGeneration(), nullptr);
    EXPECT_EQ(E.GetPopulation()->GetCount(), 3);
    EXPECT_EQ(E.GetGeneration(), 1);
}
