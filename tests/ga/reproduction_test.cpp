#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/random.h"

using namespace kv;
using kvtest::TOpenEngine;

namespace {

// An engine with parents 0 (all ones) and 1 (all zeros) and children 2 and 3.
struct TFamily {
    TOpenEngine E;
    TKvGAIndividual* P1;
    TKvGAIndividual* P2;
    TKvGAIndividual* C1;
    TKvGAIndividual* C2;

    explicit TFamily(std::initializer_list<int32_t> GeneSizes) {
        for (int32_t S : GeneSizes)
            E.GetGenes()->Add()->SetSize(S);
        TKvGAPopulation* P = E.GetPopulation();
        P1 = P->Add();
        P2 = P->Add();
        C1 = P->Add();
        C2 = P->Add();
        P1->GetBits()->SetAsBitString(0, E.GetGeneSize(), std::string(E.GetGeneSize(), '1'));
        P1->SetName("one");
        P2->SetName("two");
        E.SetOperations({goCrossover});
        E.SetCrossoverProbability(1);
    }
};

// The crossover point the method gives for S bits, from the draws the engine makes after its
// decision draw.
int32_t MirrorPoint(TGACrossoverMethod Method, int32_t S, const TKvGAGenes& Genes) {
    auto Aligned = [S](int32_t Unit) {
        return S >= 2 * Unit ? (1 + Random(S / Unit)) * Unit : Random(S);
    };
    switch (Method) {
    case cmGeneBoundary:
        return Genes.GetCount() >= 2 ? Genes.GetItem(1 + Random(Genes.GetCount() - 1))->GetOffset()
                                     : Random(S);
    case cmByteBoundary:
        return Aligned(8);
    case cmWordBoundary:
        return Aligned(16);
    case cmLongwordBoundary:
        return Aligned(32);
    default:
        return Random(S);
    }
}

// Crosses the family with many seeds and returns the points seen, checking each child's bits.
std::set<int32_t> Points(TGACrossoverMethod Method, std::initializer_list<int32_t> GeneSizes) {
    TFamily F(GeneSizes);
    F.E.SetCrossoverMethod(Method);
    const int32_t S = F.E.GetGeneSize();
    std::vector<int32_t> Seen;
    F.E.SetOnCrossover([&](TObject*, TKvGAIndividual*, TKvGAIndividual*, TKvGAIndividual*,
                           int32_t& Point, bool& Decision) {
        EXPECT_TRUE(Decision);
        Seen.push_back(Point);
    });
    std::set<int32_t> Points;
    for (uint64_t Seed = 1; Seed <= 300; ++Seed) {
        RandSeed(Seed);
        Random(); // the decision
        const int32_t Expected = MirrorPoint(Method, S, *F.E.GetGenes());
        RandSeed(Seed);
        Seen.clear();
        F.E.Reproduce(F.P1, F.P2, F.C1, F.C2);
        EXPECT_EQ(Seen, (std::vector<int32_t>{Expected, Expected}));
        std::string Head(static_cast<size_t>(std::min(Expected + 1, S)), '1');
        EXPECT_EQ(F.C1->GetBits()->ToBitString(), Head + std::string(S - Head.size(), '0'));
        EXPECT_EQ(F.C2->GetBits()->ToBitString(),
                  std::string(Head.size(), '0') + std::string(S - Head.size(), '1'));
        Points.insert(Expected);
    }
    return Points;
}

std::set<int32_t> Range(int32_t N) {
    std::set<int32_t> R;
    for (int32_t I = 0; I < N; ++I)
        R.insert(I);
    return R;
}

} // namespace

TEST(Crossover, PointsFallOnTheMethodsBoundaries) {
    EXPECT_EQ(Points(cmGeneBoundary, {4, 8, 4}), (std::set<int32_t>{4, 12}));
    EXPECT_EQ(Points(cmGeneBoundary, {16}), Range(16));
    EXPECT_EQ(Points(cmBitBoundary, {5, 5, 6}), Range(16));
    EXPECT_EQ(Points(cmByteBoundary, {24}), (std::set<int32_t>{8, 16, 24}));
    EXPECT_EQ(Points(cmByteBoundary, {12}), Range(12));
    EXPECT_EQ(Points(cmWordBoundary, {31}), Range(31));
    EXPECT_EQ(Points(cmWordBoundary, {40}), (std::set<int32_t>{16, 32}));
    EXPECT_EQ(Points(cmLongwordBoundary, {63}), Range(63));
    EXPECT_EQ(Points(cmLongwordBoundary, {64}), (std::set<int32_t>{32, 64}));
}

TEST(Crossover, DecisionAndCallback) {
    TFamily F({8});
    F.E.SetCrossoverProbability(0);
    F.E.SetCrossoverMethod(cmBitBoundary);
    RandSeed(5);
    Random();
    const double Second = Random();
    RandSeed(5);
    F.E.Reproduce(F.P1, F.P2, F.C1, F.C2);
    EXPECT_EQ(Random(), Second) << "only the decision was drawn";
    EXPECT_TRUE(F.C1->GetBits()->Equals(*F.P1->GetBits()));
    EXPECT_TRUE(F.C2->GetBits()->Equals(*F.P2->GetBits()));

    std::vector<std::string> Calls;
    F.E.SetOnCrossover([&](TObject*, TKvGAIndividual* A, TKvGAIndividual* B, TKvGAIndividual* C,
                           int32_t& Point, bool& Decision) {
        Calls.push_back(A->GetName() + B->GetName() + std::to_string(C->GetIndex()) +
                        (Decision ? "+" : "-"));
        Point = 2;
        Decision = true;
    });
    F.E.Reproduce(F.P1, F.P2, F.C1, F.C2);
    EXPECT_EQ(Calls, (std::vector<std::string>{"onetwo2-", "twoone3+"}));
    EXPECT_EQ(F.C1->GetBits()->ToBitString(), "11100000");
    EXPECT_EQ(F.C2->GetBits()->ToBitString(), "00011111");
}

TEST(Reproduction, NoOperationsCopiesTheParents) {
    TFamily F({8});
    F.E.SetOperations({});
    F.P1->GetBits()->SetBit(3, false);
    kvtest::ScoreWith(F.E, {7, 9, 0, 0});
    std::vector<std::string> Events;
    F.E.SetOnInitializeChild([&](TObject*, TKvGAIndividual*, TKvGAIndividual*, TKvGAIndividual* C) {
        Events.push_back("init" + C->GetName());
    });
    F.E.SetOnReproduction(
        [&](TObject*, TKvGAIndividual* C) { Events.push_back("done" + C->GetName()); });
    RandSeed(6);
    const double First = Random();
    RandSeed(6);
    F.E.Reproduce(F.P1, F.P2, F.C1, F.C2);
    EXPECT_EQ(Random(), First) << "nothing drawn";
    EXPECT_EQ(Events, (std::vector<std::string>{"initone", "inittwo", "doneone", "donetwo"}));
    EXPECT_TRUE(F.C1->GetBits()->Equals(*F.P1->GetBits()));
    EXPECT_TRUE(F.C2->GetBits()->Equals(*F.P2->GetBits()));
    EXPECT_EQ(F.C1->GetFitness(), 7);
    EXPECT_EQ(F.C2->GetFitness(), 9);
    F.E.Reproduce(F.P2, F.P1, F.C1);
    EXPECT_EQ(F.C1->GetName(), "two");
}

TEST(Reproduction, MutationAndInversionDecisions) {
    TFamily F({64});
    F.E.SetMutationProbability(0);
    EXPECT_FALSE(F.E.Mutate(F.C1));
    F.E.SetMutationProbability(1);
    F.E.SetOnMutation([](TObject*, TKvGAIndividual*, bool& DoMutation) { DoMutation = false; });
    RandSeed(2);
    const double First = Random();
    RandSeed(2);
    EXPECT_FALSE(F.E.Mutate(F.P1));
    EXPECT_EQ(Random(), First) << "a vetoed mutation draws nothing";
    F.E.SetOnMutation(nullptr);
    EXPECT_TRUE(F.E.Mutate(F.C1));
    EXPECT_EQ(F.C1->GetBits()->ToBitString(), std::string(64, '1'));

    // A pair is inverted without OnInversion; a single child through it, which may force it.
    int Inversions = 0;
    F.E.SetOnInversion([&](TObject*, TKvGAIndividual*, bool& DoInversion) {
        ++Inversions;
        DoInversion = true;
    });
    F.E.SetOperations({goInvert});
    F.E.SetInversionProbability(1);
    F.E.Reproduce(F.P2, F.P2, F.C1, F.C2);
    EXPECT_EQ(Inversions, 0);
    for (TKvGAIndividual* C : {F.C1, F.C2}) {
        const std::string B = C->GetBits()->ToBitString();
        const auto Ones = static_cast<size_t>(std::count(B.begin(), B.end(), '1'));
        ASSERT_GT(Ones, 0u);
        EXPECT_EQ(B.find_last_of('1') - B.find('1') + 1, Ones) << "one run of inverted bits";
    }
    F.E.SetInversionProbability(0);
    F.E.Reproduce(F.P2, F.P2, F.C1);
    EXPECT_EQ(Inversions, 1);
    EXPECT_NE(F.C1->GetBits()->ToBitString(), std::string(64, '0'));
}
