// The hall of fame kept in an engine's checkpoint.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/records/hall_of_fame.h"
#include "kv/rtl/exceptions.h"

namespace {

void Prepare(kv::TKvGeneticAlgorithm& GA) {
    GA.SetOnEvaluateFitness([](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        F = Item->GetBits()->GetAsInteger(0, 12) % 1000; // many values, the best ones rare
    });
}

std::string Entries(const kv::TKvHallOfFame& Hall) {
    std::string S;
    for (int I = 0; I < Hall.GetCount(); ++I)
        S += std::to_string(Hall.GetItem(I)->GetFitness()) + " " +
             Hall.GetItem(I)->GetBits()->ToBitString() + " " +
             std::to_string(Hall.GetGeneration(I)) + "\n";
    return S;
}

TEST(HallOfFameCheckpoint, ContinuesExactlyAndRefusesABadSection) {
    kv::TKvGeneticAlgorithm GA;
    GA.GetGenes()->Add()->SetSize(12);
    GA.SetInitialPopulation(10);
    GA.SetFitnessMethod(kv::fmMaximize);
    GA.SetRandomSeed(21);
    Prepare(GA);
    kv::TKvHallOfFame Hall(4, true);
    Hall.Attach(GA);
    GA.Evolve(5);
    std::stringstream Checkpoint;
    GA.SaveCheckpoint(Checkpoint);
    const std::string Saved = Checkpoint.str();
    ASSERT_NE(Saved.find("<HallOfFame>"), std::string::npos);

    kv::TKvGeneticAlgorithm Resumed;
    Prepare(Resumed);
    kv::TKvHallOfFame Copy; // settings and entries come from the checkpoint
    Copy.Attach(Resumed);
    Resumed.LoadCheckpoint(Checkpoint);
    EXPECT_EQ(Copy.GetCapacity(), 4);
    EXPECT_TRUE(Copy.GetUnique());
    EXPECT_EQ(Entries(Copy), Entries(Hall));
    GA.Evolve(6);
    Resumed.Evolve(6);
    EXPECT_EQ(Entries(Copy), Entries(Hall));

    // A section that does not read fails the load and changes nothing.
    for (const auto& [From, To] :
         {std::pair<std::string, std::string>{"<Capacity>4<", "<Capacity>0<"},
          {"<Bits>", "<Bits>2"}}) {
        std::string Bad = Saved;
        Bad.replace(Bad.find(From), From.size(), To);
        std::istringstream In(Bad);
        const std::string Before = Entries(Copy);
        EXPECT_THROW(Resumed.LoadCheckpoint(In), kv::EConvertError) << To;
        EXPECT_EQ(Entries(Copy), Before);
        EXPECT_EQ(Copy.GetCapacity(), 4);
    }
}

} // namespace
