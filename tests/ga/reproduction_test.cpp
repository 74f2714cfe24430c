#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <utility>
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

namespace {

// The two points of ckTwoPoint crossovers of the family under Method, over many seeds, each pair
// checked against the children's bits and the event's CrossoverBit.
std::set<std::pair<int32_t, int32_t>> PointPairs(TGACrossoverMethod Method,
                                                 std::initializer_list<int32_t> GeneSizes) {
    TFamily F(GeneSizes);
    F.E.SetCrossoverMethod(Method);
    F.E.SetCrossoverKind(ckTwoPoint);
    const int32_t S = F.E.GetGeneSize();
    std::vector<int32_t> Seen;
    F.E.SetOnCrossover([&](TObject*, TKvGAIndividual*, TKvGAIndividual*, TKvGAIndividual*,
                           int32_t& Point, bool&) { Seen.push_back(Point); });
    std::set<std::pair<int32_t, int32_t>> Pairs;
    for (uint64_t Seed = 1; Seed <= 300; ++Seed) {
        RandSeed(Seed);
        Seen.clear();
        F.E.Reproduce(F.P1, F.P2, F.C1, F.C2);
        // Child 1 is Parent 1 (ones) but for the segment Lo + 1 .. Hi, which is Parent 2's.
        const std::string C1 = F.C1->GetBits()->ToBitString();
        const size_t First = C1.find('0');
        const int32_t Lo = First == std::string::npos ? -2 : static_cast<int32_t>(First) - 1;
        const int32_t Hi = static_cast<int32_t>(C1.find_last_of('0'));
        std::string Expected(static_cast<size_t>(S), '1');
        if (Lo != -2)
            Expected.replace(static_cast<size_t>(Lo + 1), static_cast<size_t>(Hi - Lo),
                             static_cast<size_t>(Hi - Lo), '0');
        EXPECT_EQ(C1, Expected) << "one segment from the second parent";
        std::string C2 = C1;
        for (char& Bit : C2)
            Bit = Bit == '1' ? '0' : '1';
        EXPECT_EQ(F.C2->GetBits()->ToBitString(), C2) << "complementary children";
        if (Lo == -2) {
            Pairs.insert({-2, -2}); // a copy: both points at one place
            continue;
        }
        EXPECT_EQ(Seen, (std::vector<int32_t>{Lo, Lo})) << "the event carries the lower point";
        Pairs.insert({Lo, Hi});
    }
    return Pairs;
}

} // namespace

TEST(CrossoverKinds, TwoPointCutsTwiceOnTheMethodsBoundaries) {
    using P = std::pair<int32_t, int32_t>;
    EXPECT_EQ(PointPairs(cmGeneBoundary, {4, 8, 4, 8}), (std::set<P>{{4, 12}, {4, 16}, {12, 16}}));
    EXPECT_EQ(PointPairs(cmByteBoundary, {24}), (std::set<P>{{8, 16}, {8, 23}, {16, 23}}))
        << "the point 24 lies beyond the last bit: the segment runs to the end";
    EXPECT_EQ(PointPairs(cmGeneBoundary, {4, 8}), (std::set<P>{{-2, -2}}))
        << "a single place gives copies";
    const auto Bits = PointPairs(cmBitBoundary, {6});
    EXPECT_EQ(Bits.size(), 15u) << "every pair of different bits of six";

    // A callback that moves CrossoverBit moves the lower point; the higher one stays.
    TFamily F({16});
    F.E.SetCrossoverMethod(cmBitBoundary);
    F.E.SetCrossoverKind(ckTwoPoint);
    int32_t Drawn = -1;
    F.E.SetOnCrossover(
        [&](TObject*, TKvGAIndividual*, TKvGAIndividual*, TKvGAIndividual*, int32_t& Point, bool&) {
            if (Drawn < 0)
                Drawn = Point; // the first call's: the second sees the moved point
            Point = 15;
        });
    RandSeed(8);
    F.E.Reproduce(F.P1, F.P2, F.C1, F.C2);
    RandSeed(8);
    Random(); // the decision
    const int32_t First = Random(16);
    int32_t Second = Random(15);
    Second += Second >= First ? 1 : 0;
    EXPECT_EQ(Drawn, std::min(First, Second));
    const int32_t Hi = std::max(First, Second);
    EXPECT_EQ(F.C1->GetBits()->ToBitString(),
              std::string(static_cast<size_t>(Hi + 1), '1') + std::string(15 - Hi, '0'));
}

TEST(CrossoverKinds, UniformTakesEachBitFromEitherParentWithProbabilityOneHalf) {
    // Two genes under cmGeneBoundary: uniform crossover ignores the method and mixes inside genes.
    TFamily F({500, 501});
    F.E.SetCrossoverKind(ckUniform);
    std::vector<int32_t> Points;
    F.E.SetOnCrossover(
        [&](TObject*, TKvGAIndividual*, TKvGAIndividual*, TKvGAIndividual*, int32_t& Point, bool&) {
            Points.push_back(Point);
            Point = 3; // not read back
        });
    const int Rounds = 400;
    int64_t Bins[10] = {};
    int64_t Neighbours = 0; // neighbouring bits from the same parent
    RandSeed(9);
    for (int R = 0; R < Rounds; ++R) {
        F.E.Reproduce(F.P1, F.P2, F.C1, F.C2);
        const std::string C1 = F.C1->GetBits()->ToBitString();
        std::string C2 = C1;
        for (char& Bit : C2)
            Bit = Bit == '1' ? '0' : '1';
        ASSERT_EQ(F.C2->GetBits()->ToBitString(), C2) << "one mask serves both children";
        for (size_t I = 0; I < C1.size(); ++I) {
            Bins[I * 10 / C1.size()] += C1[I] == '0'; // from Parent 2
            Neighbours += I > 0 && C1[I] == C1[I - 1];
        }
    }
    EXPECT_EQ(Points, std::vector<int32_t>(2 * Rounds, -1));
    for (int64_t Bin : Bins) {
        const double Bits = 100.1 * Rounds; // about a tenth of 1001 bits
        EXPECT_NEAR(double(Bin), Bits / 2, 5 * std::sqrt(Bits / 4) + Rounds);
    }
    const double Pairs = 1000.0 * Rounds;
    EXPECT_NEAR(double(Neighbours), Pairs / 2, 5 * std::sqrt(Pairs / 4));

    // Draws: the decision, then one raw value per word of the chromosome (16 for 1001 bits).
    F.E.SetOnCrossover(nullptr);
    RandSeed(10);
    F.E.Reproduce(F.P1, F.P2, F.C1, F.C2);
    const double After = Random();
    RandSeed(10);
    Random();
    TKvGABits Mask;
    Mask.SetSize(1001);
    for (size_t I = 0; I < Mask.WordCount(); ++I)
        Mask.Words()[I] = ThreadRandomSource().Next();
    Mask.ClearPadding();
    EXPECT_EQ(Random(), After);
    TKvGABits Expected;
    Expected.SetSize(1001);
    Expected.CrossOver(*F.P1->GetBits(), *F.P2->GetBits(), Mask);
    EXPECT_TRUE(F.C1->GetBits()->Equals(Expected));

    // A crossover vetoed for the first child and forced for the second still crosses it.
    F.E.SetCrossoverProbability(0);
    int Calls = 0;
    F.E.SetOnCrossover([&](TObject*, TKvGAIndividual*, TKvGAIndividual*, TKvGAIndividual*, int32_t&,
                           bool& Decision) { Decision = ++Calls == 2; });
    F.E.Reproduce(F.P1, F.P2, F.C1, F.C2);
    EXPECT_TRUE(F.C1->GetBits()->Equals(*F.P1->GetBits()));
    EXPECT_FALSE(F.C2->GetBits()->Equals(*F.P2->GetBits()));
}

TEST(MutationMode, GeometricModeMutatesThroughTheGapsAndKeepsTheVeto) {
    TFamily F({300});
    EXPECT_EQ(F.E.GetMutationMode(), mmPerBit);
    EXPECT_EQ(F.E.GetCrossoverKind(), ckOnePoint);
    F.E.SetMutationMode(static_cast<TGAMutationMode>(7)); // not a member: ignored
    F.E.SetCrossoverKind(static_cast<TGACrossoverKind>(-1));
    EXPECT_EQ(F.E.GetMutationMode(), mmPerBit);
    EXPECT_EQ(F.E.GetCrossoverKind(), ckOnePoint);

    F.E.SetMutationMode(mmGeometric);
    F.E.SetMutationProbability(0.05);
    TKvGABits Expected;
    Expected.Assign(F.C1->GetBits());
    RandSeed(11);
    const bool Result = F.E.Mutate(F.C1);
    RandSeed(11);
    EXPECT_EQ(Result, Expected.MutateGeometric(0.05));
    EXPECT_TRUE(F.C1->GetBits()->Equals(Expected));

    F.E.SetOnMutation([](TObject*, TKvGAIndividual*, bool& DoMutation) { DoMutation = false; });
    RandSeed(12);
    const double First = Random();
    RandSeed(12);
    EXPECT_FALSE(F.E.Mutate(F.C1));
    EXPECT_TRUE(F.C1->GetBits()->Equals(Expected));
    EXPECT_EQ(Random(), First) << "a vetoed mutation draws nothing";
}
