// The engine's observers: when they are called, and what happens when a run fails or the engine
// goes first.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/random.h"

namespace {

// Writes "E<generation>", "G<generation>" and "D" into a shared journal.
class TJournalObserver : public kv::TKvGAObserver {
public:
    explicit TJournalObserver(std::vector<std::string>& Journal) : FJournal(Journal) {}
    void AfterEvaluation(const kv::TKvCustomGeneticAlgorithm& Engine) override {
        Note('E', Engine);
    }
    void AfterGeneration(const kv::TKvCustomGeneticAlgorithm& Engine) override {
        Note('G', Engine);
    }
    void EngineDestroyed(const kv::TKvCustomGeneticAlgorithm&) noexcept override {
        FJournal.push_back("D");
    }

private:
    void Note(char Kind, const kv::TKvCustomGeneticAlgorithm& Engine) {
        std::string Entry(1, Kind);
        Entry += std::to_string(Engine.GetGeneration());
        FJournal.push_back(Entry);
    }

    std::vector<std::string>& FJournal;
};

void Prepare(kv::TKvGeneticAlgorithm& GA, bool& Fail) {
    GA.GetGenes()->Add()->SetSize(8);
    GA.SetInitialPopulation(6);
    GA.SetOnEvaluateFitness([&Fail](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        if (Fail)
            throw std::runtime_error("fitness failed");
        F = Item->GetBits()->GetAsInteger(0, 8);
    });
}

TEST(EngineObservers, CalledAfterEachEvaluationAndGenerationBeforeOnEvolve) {
    kv::RandSeed(5);
    std::vector<std::string> Journal;
    bool Fail = false;
    auto GA = std::make_unique<kv::TKvGeneticAlgorithm>();
    Prepare(*GA, Fail);
    GA->SetOnEvolve([&](kv::TObject*) { Journal.push_back("OnEvolve"); });
    TJournalObserver A(Journal), B(Journal);
    GA->AddObserver(&A);
    GA->AddObserver(&A); // once only
    GA->AddObserver(&B);
    EXPECT_EQ(GA->GetObserverCount(), 2);

    GA->Initialize();
    GA->Evolve(1);
    GA->EvaluateFitness(); // a direct evaluation is an evaluation too
    EXPECT_EQ(Journal, (std::vector<std::string>{"E0", "E0", "G0", "G0", "E0", "E0", "G1", "G1",
                                                 "OnEvolve", "E1", "E1"}));

    // A failed generation tells no one; a removed observer hears nothing more.
    Journal.clear();
    Fail = true;
    EXPECT_THROW(GA->Evolve(), std::runtime_error);
    EXPECT_TRUE(Journal.empty());
    Fail = false;
    GA->RemoveObserver(&A);
    GA->Evolve();
    EXPECT_EQ(Journal, (std::vector<std::string>{"E1", "G2", "OnEvolve"}));

    // The engine going first tells the observers still added.
    Journal.clear();
    GA.reset();
    EXPECT_EQ(Journal, (std::vector<std::string>{"D"}));
}

} // namespace
