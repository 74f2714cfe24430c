// The hall of fame against a brute-force record of every individual a run scored.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "kv/common/kv_exception.h"
#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/records/hall_of_fame.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/random.h"

namespace {

struct TSeen {
    double Fitness;
    std::string Bits;
    int Generation;
};

// Runs an engine with a hall of fame of Capacity attached and returns what every generation's
// population held, in the order seen. Fitness is the number of ones in 6 bits, so ties abound.
std::vector<TSeen> RunWith(kv::TGAFitnessMethod Method, kv::TKvHallOfFame& Hall) {
    kv::RandSeed(11);
    auto GA = std::make_unique<kv::TKvGeneticAlgorithm>();
    GA->GetGenes()->Add()->SetSize(6);
    GA->SetInitialPopulation(7);
    GA->SetFitnessMethod(Method);
    GA->SetMutationProbability(0.2);
    GA->SetOnEvaluateFitness([](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        const std::string Text = Item->GetBits()->ToBitString();
        F = static_cast<double>(std::count(Text.begin(), Text.end(), '1'));
    });
    std::vector<TSeen> Seen;
    auto Look = [&] {
        const kv::TKvGAPopulation* P = GA->GetPopulation();
        for (int I = 0; I < P->GetCount(); ++I)
            Seen.push_back({P->GetItem(I)->GetFitness(), P->GetItem(I)->GetBits()->ToBitString(),
                            GA->GetGeneration()});
    };
    GA->SetOnEvolve([&](kv::TObject*) { Look(); });
    Hall.Attach(*GA);
    GA->Initialize();
    Look();
    GA->Evolve(12);
    GA.reset(); // the copies outlive the engine and its populations
    EXPECT_EQ(Hall.GetEngine(), nullptr);
    return Seen;
}

// The best Capacity of Seen: a stable sort keeps the earlier of equals ahead.
std::vector<TSeen> Expected(std::vector<TSeen> Seen, kv::TGAFitnessMethod Method, int Capacity,
                            bool Unique) {
    std::stable_sort(Seen.begin(), Seen.end(), [Method](const TSeen& A, const TSeen& B) {
        return Method == kv::fmMaximize ? A.Fitness > B.Fitness : A.Fitness < B.Fitness;
    });
    std::vector<TSeen> Best;
    for (const TSeen& S : Seen) {
        if (Unique && std::any_of(Best.begin(), Best.end(),
                                  [&S](const TSeen& B) { return B.Bits == S.Bits; }))
            continue;
        if (static_cast<int>(Best.size()) < Capacity)
            Best.push_back(S);
    }
    return Best;
}

TEST(HallOfFame, KeepsTheBestEverAcrossPopulationSwapsUnderBothFitnessMethods) {
    for (kv::TGAFitnessMethod Method : {kv::fmMaximize, kv::fmMinimize})
        for (bool Unique : {false, true}) {
            SCOPED_TRACE(std::string(Method == kv::fmMaximize ? "maximize" : "minimize") +
                         (Unique ? ", unique" : ""));
            kv::TKvHallOfFame Hall(5, Unique);
            const std::vector<TSeen> Seen = RunWith(Method, Hall);
            const std::vector<TSeen> Best = Expected(Seen, Method, 5, Unique);
            ASSERT_EQ(Hall.GetCount(), 5);
            for (int I = 0; I < 5; ++I) {
                const kv::TKvGAIndividual* Item = Hall.GetItem(I);
                EXPECT_EQ(Item->GetFitness(), Best[static_cast<size_t>(I)].Fitness) << I;
                EXPECT_EQ(Item->GetBits()->ToBitString(), Best[static_cast<size_t>(I)].Bits) << I;
                EXPECT_EQ(Hall.GetGeneration(I), Best[static_cast<size_t>(I)].Generation) << I;
            }
            EXPECT_EQ(Hall.GetBest(), Hall.GetItem(0));
            // Not all of the best were in the first generation, or the test would prove little.
            EXPECT_GT(Best.back().Generation + Best.front().Generation, 0);
        }
}

TEST(HallOfFame, CapacityAndIndexErrors) {
    EXPECT_THROW(kv::TKvHallOfFame(0), kv::EKvException);
    kv::TKvHallOfFame Hall(3);
    EXPECT_EQ(Hall.GetBest(), nullptr);
    EXPECT_THROW(Hall.SetCapacity(-2), kv::EKvException);
    EXPECT_EQ(Hall.GetCapacity(), 3);
    EXPECT_THROW(Hall.GetItem(0), kv::EListError);

    // Shrinking drops the last; turning Unique on removes the later of equal chromosomes.
    kv::TKvGAIndividual A, B, C;
    A.GetBits()->SetSize(4);
    B.GetBits()->SetSize(4);
    C.GetBits()->SetSize(4);
    C.GetBits()->SetBit(1, true);
    EXPECT_TRUE(Hall.Add(A, 0));
    EXPECT_TRUE(Hall.Add(B, 1));
    EXPECT_TRUE(Hall.Add(C, 2));
    Hall.SetUnique(true);
    ASSERT_EQ(Hall.GetCount(), 2);
    EXPECT_EQ(Hall.GetGeneration(1), 2);
    EXPECT_FALSE(Hall.Add(A, 3));
    Hall.SetCapacity(1);
    EXPECT_EQ(Hall.GetCount(), 1);
    EXPECT_EQ(Hall.GetGeneration(0), 0);
}

} // namespace
