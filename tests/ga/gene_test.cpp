#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/convert.h"
#include "kv/rtl/strings.h"

using namespace kv;

namespace {

TKvGAGene* NewGene(TKvGeneticAlgorithm& Engine, TGeneType Type, int32_t Size, bool Signed = false) {
    TKvGAGene* G = Engine.GetGenes()->Add();
    G->SetGeneType(Type);
    G->SetSize(Size);
    G->SetPreserveSignBit(Signed);
    return G;
}

std::unique_ptr<TStringList> ListOf(std::initializer_list<const char*> Texts) {
    auto L = std::make_unique<TStringList>();
    for (const char* T : Texts)
        L->Add(T);
    return L;
}

} // namespace

TEST(GeneRange, DefaultRangesAndTheirWriters) {
    TKvGeneticAlgorithm Engine;
    for (TGeneType Type : {gtInteger, gtFloat}) {
        TKvGAGene* G = NewGene(Engine, Type, 8);
        EXPECT_EQ(G->GetMaxValue(), 255);
        G->SetPreserveSignBit(true);
        EXPECT_EQ(G->GetMinValue(), -128);
        EXPECT_EQ(G->GetMaxValue(), 127);
    }
    TKvGAGene* G = NewGene(Engine, gtInteger, 8);
    G->SetMaxValue(100); // the computed -156 is raised to 0
    EXPECT_EQ(G->GetMinValue(), 0);
    G->SetMaxValue(400);
    EXPECT_EQ(G->GetMinValue(), 144);
    G->RecalcMinMax();
    G->SetMaxValue(1000);
    EXPECT_EQ(G->GetMinValue(), 0);
    G->RecalcMinMax();
    G->SetMinValue(-300);
    EXPECT_EQ(G->GetMaxValue(), -45);
    G->RecalcMinMax();
    G->SetMaxValue(100);
    G->SetMinValue(200);
    EXPECT_EQ(G->GetMaxValue(), 455);
    TKvGAGene* S = NewGene(Engine, gtInteger, 8, true);
    S->SetMaxValue(100);
    EXPECT_EQ(S->GetMinValue(), -156);
}

TEST(GeneEnumeration, ListSizesTheGene) {
    TKvGeneticAlgorithm Engine;
    TKvGAGene* G = NewGene(Engine, gtEnumeration, 0);
    auto Four = ListOf({"Red", "Green", "Blue", "Cyan"});
    G->SetEnumerations(Four.get());
    EXPECT_EQ(G->GetSize(), 3);
    EXPECT_EQ(G->GetMaxValue(), 3);
    G->GetEnumerations()->Add("Magenta"); // same size: the range is not recomputed
    EXPECT_EQ(G->GetMaxValue(), 3);

    TKvGAGene* OneByOne = NewGene(Engine, gtEnumeration, 0);
    for (const char* T : {"a", "b", "c"})
        OneByOne->GetEnumerations()->Add(T);
    EXPECT_EQ(OneByOne->GetSize(), 2);
    EXPECT_EQ(OneByOne->GetMaxValue(), 1);

    TKvGAGene* Late = NewGene(Engine, gtUnknown, 0); // a list before the type sizes nothing
    Late->SetEnumerations(Four.get());
    Late->SetGeneType(gtEnumeration);
    EXPECT_EQ(Late->GetSize(), 0);
    EXPECT_EQ(Late->GetMaxValue(), 3);
    Late->GetEnumerations()->Add("Magenta");
    EXPECT_EQ(Late->GetSize(), 3);
}

TEST(GeneValues, RoundTripsThroughThePopulation) {
    TKvGeneticAlgorithm Engine;
    TKvGAGene* B = NewGene(Engine, gtBoolean, 1);
    TKvGAGene* S = NewGene(Engine, gtInteger, 8, true);
    TKvGAGene* L = NewGene(Engine, gtInteger, 40, true);
    TKvGAGene* F32 = NewGene(Engine, gtFloat, 32, true);
    TKvGAGene* F8 = NewGene(Engine, gtFloat, 8);
    TKvGAGene* D = NewGene(Engine, gtFloat, 64, true);
    TKvGAGene* E = NewGene(Engine, gtEnumeration, 0);
    auto Colours = ListOf({"Red", "Green", "Blue", "Cyan", "Black"});
    E->SetEnumerations(Colours.get());
    E->SetPreserveSignBit(true); // enumerations are unsigned whatever the flag
    F32->SetMinValue(-1e30);
    F32->SetMaxValue(1e30);
    D->SetMinValue(-1e300);
    D->SetMaxValue(1e300);
    Engine.GetPopulation()->Add();
    Engine.GetPopulation()->Add();

    B->SetAsBoolean(1, true);
    S->SetAsInteger(1, -100);
    L->SetAsInt64(1, -(int64_t(1) << 38));
    F32->SetAsFloat(1, 0.1f);
    F8->SetAsFloat(1, 99.6f);
    D->SetAsDouble(1, -1.0 / 3);
    E->SetAsEnumeration(1, "black");
    EXPECT_TRUE(B->GetAsBoolean(1));
    EXPECT_EQ(S->GetAsInteger(1), -100);
    EXPECT_EQ(L->GetAsInt64(1), -(int64_t(1) << 38));
    EXPECT_EQ(F32->GetAsFloat(1), 0.1f);
    EXPECT_EQ(F8->GetAsFloat(1), 100.0f);
    EXPECT_EQ(D->GetAsDouble(1), -1.0 / 3);
    EXPECT_EQ(E->GetAsEnumeration(1), "Black");
    EXPECT_EQ(E->GetAsInteger(1), -4) << "as a signed 3-bit number code 4 is negative";
    EXPECT_FALSE(B->GetAsBoolean(0)); // individual 0 was not touched
    EXPECT_EQ(E->GetAsEnumeration(0), "Red");

    EXPECT_EQ(B->AsString(1), "True");
    EXPECT_EQ(S->AsString(1), "-100");
    EXPECT_EQ(F32->AsString(1), "0.100000001490116");
    EXPECT_EQ(E->AsString(1), "Black");
    TKvGAGene* Raw = NewGene(Engine, gtUnknown, 4);
    Engine.GetPopulation()->GetItem(1)->GetBits()->SetAsBitString(Raw->GetOffset(), 4, "1010");
    EXPECT_EQ(Raw->AsString(1), "1010");
}

TEST(GeneValues, WritesAreClamped) {
    TKvGeneticAlgorithm Engine;
    TKvGAGene* U = NewGene(Engine, gtInteger, 8);
    TKvGAGene* F = NewGene(Engine, gtFloat, 8);
    F->SetMaxValue(20);
    F->SetMinValue(3.5);
    TKvGAGene* Half = NewGene(Engine, gtInteger, 8);
    Half->SetMinValue(2.5);
    TKvGAGene* Huge = NewGene(Engine, gtInteger, 16);
    Huge->SetMaxValue(1e12); // bounds beyond any 32-bit value
    Huge->SetMinValue(1e11);
    Engine.GetPopulation()->Add();
    U->SetAsInteger(0, 300);
    EXPECT_EQ(U->GetAsInteger(0), 255);
    U->SetAsInteger(0, -5);
    EXPECT_EQ(U->GetAsInteger(0), 0);
    F->SetAsFloat(0, 2.5f);
    EXPECT_EQ(F->GetAsFloat(0), 4.0f) << "3.5 stored, rounded to even in an 8-bit run";
    F->SetAsDouble(0, NAN);
    EXPECT_EQ(F->GetAsDouble(0), 4.0);
    Half->SetAsInteger(0, 0);
    EXPECT_EQ(Half->GetAsInteger(0), 2);
    Huge->SetAsInteger(0, 5); // the bound saturates instead of overflowing
    EXPECT_EQ(Huge->GetAsInteger(0), 0xFFFF);
}

TEST(GeneValues, IntegerWritesStopExactlyAtTheBoundsOfTheRun) {
    constexpr int64_t Max64 = std::numeric_limits<int64_t>::max();
    constexpr int64_t Min64 = std::numeric_limits<int64_t>::min();
    // From 53 bits on MaxValue, a double, is 2^n and no longer the run's largest value 2^n - 1.
    for (bool Signed : {false, true}) {
        for (int32_t Size = 53; Size <= 64; ++Size) {
            SCOPED_TRACE(std::to_string(Size) + (Signed ? " bits, signed" : " bits"));
            TKvGeneticAlgorithm Engine;
            TKvGAGene* G = NewGene(Engine, gtInteger, Size, Signed);
            TKvGAGene* F = NewGene(Engine, gtFloat, Size, Signed);
            Engine.GetPopulation()->Add();
            const int Width = Signed ? Size - 1 : Size;
            const int64_t High = Width >= 63 ? Max64 : (int64_t(1) << Width) - 1;
            const int64_t Low = Signed ? -High - 1 : 0;
            for (int64_t In : {High, Max64, High - 1}) {
                G->SetAsInt64(0, In);
                EXPECT_EQ(G->GetAsInt64(0), In == Max64 ? High : In) << In;
            }
            for (int64_t In : {Low, Min64, Low + 1, int64_t(-1)}) {
                G->SetAsInt64(0, In);
                EXPECT_EQ(G->GetAsInt64(0), In < Low ? Low : In) << In;
            }
            G->SetAsInteger(0, std::numeric_limits<int32_t>::max());
            EXPECT_EQ(G->GetAsInt64(0), std::numeric_limits<int32_t>::max());
            G->SetAsInteger(0, std::numeric_limits<int32_t>::min());
            EXPECT_EQ(G->GetAsInt64(0), Signed ? std::numeric_limits<int32_t>::min() : 0);
            if (Size < 64) { // 64 bits hold an IEEE double
                F->SetAsDouble(0, 1e300);
                EXPECT_EQ(F->GetAsDouble(0), static_cast<double>(High));
                F->SetAsDouble(0, -1e300);
                EXPECT_EQ(F->GetAsDouble(0), static_cast<double>(Low));
            }
        }
    }
    // A bound beyond a narrow run saturates at the run instead of wrapping around it.
    TKvGeneticAlgorithm Engine;
    TKvGAGene* S = NewGene(Engine, gtInteger, 8, true);
    S->SetMaxValue(100); // MinValue -156, below what 8 signed bits hold
    Engine.GetPopulation()->Add();
    for (auto [In, Out] :
         {std::pair{-200, -128}, {-128, -128}, {-127, -127}, {100, 100}, {101, 100}}) {
        S->SetAsInteger(0, In);
        EXPECT_EQ(S->GetAsInteger(0), Out) << In;
        S->SetAsInt64(0, In);
        EXPECT_EQ(S->GetAsInt64(0), Out) << In;
    }
}

TEST(GeneValues, ErrorsNameTheProblemAndChangeNothing) {
    TKvGeneticAlgorithm Engine;
    TKvGAGene* E = NewGene(Engine, gtEnumeration, 0);
    Engine.GetPopulation()->Add();
    EXPECT_THROW(E->GetAsEnumeration(0), EGAException); // empty list
    auto Four = ListOf({"Red", "Green", "Blue", "Cyan"});
    E->SetEnumerations(Four.get());
    E->SetAsEnumeration(0, "Blue");
    try {
        E->SetAsEnumeration(0, "Mauve");
        FAIL();
    } catch (const EGAException& X) {
        EXPECT_STREQ(X.what(), "\"Mauve\" is not a valid enumerated value");
    }
    EXPECT_EQ(E->GetAsEnumeration(0), "Blue");
    Engine.GetPopulation()->GetItem(0)->GetBits()->SetAsInteger(E->GetOffset(), 3, 5);
    EXPECT_THROW(E->GetAsEnumeration(0), EGAException);
    EXPECT_THROW(E->GetAsEnumeration(1), EListError);
    try {
        E->SetSize(-3);
        FAIL();
    } catch (const EGAException& X) {
        EXPECT_NE(std::string(X.what()).find("-3"), std::string::npos);
    }
    EXPECT_EQ(E->GetSize(), 3);

    TKvGAGenes Loose(nullptr); // outside an engine there is no chromosome to read
    TKvGAGene* G = Loose.Add();
    G->SetName("Speed");
    try {
        G->GetAsInteger(0);
        FAIL();
    } catch (const EGAException& X) {
        EXPECT_NE(std::string(X.what()).find("Speed"), std::string::npos);
    }
    TKvGAGene Alone;
    EXPECT_THROW(Alone.SetAsBoolean(0, true), EGAException);
    EXPECT_THROW(Alone.AsString(0), EGAException);
}

TEST(GeneAssign, CopiesDescriptionAndRelaysTheGenotype) {
    TKvGeneticAlgorithm Engine;
    TKvGAGene* A = NewGene(Engine, gtInteger, 4);
    TKvGAGene* B = NewGene(Engine, gtInteger, 3);
    TKvGAGenes Other(nullptr);
    TKvGAGene* Src = Other.Add();
    Src->SetName("Colour");
    Src->SetGeneType(gtEnumeration);
    auto Five = ListOf({"a", "b", "c", "d", "e"});
    Src->SetEnumerations(Five.get());
    Src->SetMaxValue(10);
    Engine.GetGenes()->SetItem(0, Src);
    EXPECT_EQ(A->GetName(), "Colour");
    EXPECT_EQ(A->GetSize(), 3);
    EXPECT_EQ(A->GetEnumerations()->GetCount(), 5);
    EXPECT_EQ(A->GetMaxValue(), 10);
    EXPECT_EQ(B->GetOffset(), 3) << "the next gene follows the copied size";

    TKvGAGene* Wide = Other.Add();
    Wide->SetSize(30);
    Engine.GetGenes()->SetItem(0, Wide);
    EXPECT_EQ(B->GetOffset(), 30);
    EXPECT_EQ(Engine.GetGeneSize(), 33);
    EXPECT_EQ(A->GetEnumerations()->GetCount(), 0);
    TCollection& Untyped = *Engine.GetGenes();
    EXPECT_THROW(Untyped.SetItem(0, Engine.GetPopulation()->Add()), EConvertError);
}

TEST(GeneRealInterval, CodesAreEvenlySpacedOverTheInterval) {
    TKvGeneticAlgorithm Engine;
    TKvGAGene* X = NewGene(Engine, gtInteger, 8);
    X->SetName("X");
    EXPECT_FALSE(X->GetUseRealInterval());
    X->SetRealInterval(-1, 1);
    EXPECT_TRUE(X->GetUseRealInterval());
    TKvGABits Bits;
    Bits.SetSize(8);
    const double Step = 2.0 / 255;
    for (int32_t Code : {0, 1, 127, 128, 254, 255}) {
        X->SetGeneAsInteger(Bits, Code); // the raw bits are still the integer
        EXPECT_DOUBLE_EQ(X->GeneAsReal(Bits), -1 + Code * Step) << Code;
    }
    X->SetGeneAsInteger(Bits, 255);
    EXPECT_EQ(X->GeneAsReal(Bits), 1.0) << "the top code is the upper bound exactly";
    X->SetGeneAsInteger(Bits, 0);
    EXPECT_EQ(X->GeneAsReal(Bits), -1.0);
    // Writes take the nearest code (127.5 is a half: to even), clamped to the interval.
    const std::pair<double, int32_t> Writes[] = {{0.0, 128},
                                                 {-1 + 3 * Step + 0.4 * Step, 3},
                                                 {-1 + 3 * Step + 0.6 * Step, 4},
                                                 {5.0, 255},
                                                 {-5.0, 0},
                                                 {NAN, 0},
                                                 {INFINITY, 255}};
    for (auto [Value, Code] : Writes) {
        X->SetGeneAsReal(Bits, Value);
        EXPECT_EQ(X->GeneAsInteger(Bits), Code) << Value;
    }
    X->SetGeneAsInteger(Bits, 37);
    EXPECT_EQ(X->AsString(Bits), FloatToStr(X->GeneAsReal(Bits))) << "text is the real value";

    // One and 64 bits: the two ends, and every code in between for 64.
    TKvGAGene* One = NewGene(Engine, gtInteger, 1);
    One->SetRealInterval(2, 3);
    TKvGAGene* Wide = NewGene(Engine, gtInteger, 64);
    Wide->SetRealInterval(-1e6, 1e6);
    Engine.GetPopulation()->Add();
    One->SetAsReal(0, 2.6);
    EXPECT_EQ(One->GetAsReal(0), 3.0);
    Wide->SetAsReal(0, 1e6);
    EXPECT_EQ(Wide->GetAsInt64(0), -1) << "all 64 bits set";
    EXPECT_EQ(Wide->GetAsReal(0), 1e6);
    Wide->SetAsReal(0, 0.25);
    EXPECT_NEAR(Wide->GetAsReal(0), 0.25, 1e-9);
    Wide->SetAsReal(0, -1e6);
    EXPECT_EQ(Wide->GetAsInt64(0), 0);
    Wide->SetRealInterval(0, 1e300); // code times span would overflow
    Engine.GetPopulation()->GetItem(0)->GetBits()->SetAsInt64(Wide->GetOffset(), 64, INT64_MIN);
    EXPECT_NEAR(Wide->GetAsReal(0) / 1e300, 0.5, 1e-12) << "code 2^63, the middle";
}

TEST(GeneRealInterval, GrayCodingMakesNeighboursDifferInOneBit) {
    TKvGeneticAlgorithm Engine;
    TKvGAGene* X = NewGene(Engine, gtInteger, 10);
    X->SetRealInterval(0, 1023);
    X->SetGrayCode(true);
    TKvGABits Bits;
    Bits.SetSize(10);
    int32_t Previous = 0;
    for (int32_t K = 0; K < 1024; ++K) {
        X->SetGeneAsReal(Bits, K);
        const int32_t Raw = X->GeneAsInteger(Bits);
        ASSERT_EQ(Raw, K ^ (K >> 1)) << K;
        ASSERT_EQ(X->GeneAsReal(Bits), K) << K;
        if (K > 0) {
            ASSERT_EQ(std::popcount(static_cast<uint32_t>(Raw ^ Previous)), 1) << K;
        }
        Previous = Raw;
    }
    TKvGAGene* Wide = NewGene(Engine, gtInteger, 64);
    Wide->SetRealInterval(0, 1);
    Wide->SetGrayCode(true);
    TKvGABits W;
    W.SetSize(64);
    Wide->SetGeneAsReal(W, 0, 1.0); // at bit 0 of a chromosome of its own
    EXPECT_EQ(static_cast<uint64_t>(Wide->GeneAsInt64(W, 0)), uint64_t(1) << 63)
        << "Gray of 2^64-1";
    EXPECT_EQ(Wide->GeneAsReal(W, 0), 1.0);
}

TEST(GeneRealInterval, ErrorsNameTheGeneAndChangeNothing) {
    TKvGeneticAlgorithm Engine;
    TKvGAGene* X = NewGene(Engine, gtInteger, 8);
    X->SetName("Speed");
    TKvGABits Bits;
    Bits.SetSize(8);
    auto Message = [&](auto Call) {
        try {
            Call();
        } catch (const EGAException& E) {
            return std::string(E.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(Message([&] { X->GeneAsReal(Bits); }).find("\"Speed\" has no real interval"),
              std::string::npos);
    X->SetRealInterval(0, 10);
    for (auto [Low, High] :
         {std::pair{1.0, 1.0}, {2.0, 1.0}, {NAN, 1.0}, {0.0, INFINITY}, {-1e308, 1e308}}) {
        EXPECT_NE(Message([&] { X->SetRealInterval(Low, High); }).find("Speed"), std::string::npos);
        EXPECT_EQ(X->GetRealLow(), 0);
        EXPECT_EQ(X->GetRealHigh(), 10);
    }
    X->SetGeneType(gtFloat); // only integer genes decode to the interval
    EXPECT_THROW(X->GeneAsReal(Bits), EGAException);
    X->SetGeneType(gtInteger);
    X->SetSize(0);
    EXPECT_NE(Message([&] { X->SetGeneAsReal(Bits, 1); }).find("0 bits"), std::string::npos);
    X->SetSize(65);
    EXPECT_THROW(X->GeneAsReal(Bits), EGAException);
    X->SetSize(8);
    X->SetUseRealInterval(false);
    EXPECT_THROW(X->SetGeneAsReal(Bits, 1), EGAException);
    X->SetGeneAsInteger(Bits, 7);
    EXPECT_EQ(X->AsString(Bits), "7") << "a plain integer gene again";

    // Assign copies the interval and the coding.
    X->SetRealInterval(-2, 2);
    X->SetGrayCode(true);
    TKvGAGene* Y = NewGene(Engine, gtBoolean, 1);
    Y->Assign(X);
    EXPECT_TRUE(Y->GetUseRealInterval());
    EXPECT_EQ(Y->GetRealLow(), -2);
    EXPECT_EQ(Y->GetRealHigh(), 2);
    EXPECT_TRUE(Y->GetGrayCode());
}
