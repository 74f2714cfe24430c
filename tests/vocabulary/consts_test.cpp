#include <gtest/gtest.h>

#include <string>

#include "kv/rtl/exceptions.h"
#include "kv/vocabulary/KvGAConsts.h"

using namespace kv;

namespace {

// Every member of E converts to its identifier and back, also in other letter cases.
template <class E>
void ExpectRoundTrips(std::initializer_list<const char*> Expected) {
    int Ordinal = 0;
    for (const char* Name : Expected) {
        const E Value = static_cast<E>(Ordinal++);
        EXPECT_EQ(EnumToIdent(Value), Name);
        EXPECT_EQ(IdentToEnum<E>(UpperCase(Name)), Value) << Name;
        EXPECT_EQ(TryIdentToEnum<E>(LowerCase(Name)), Value) << Name;
    }
    EXPECT_THROW(EnumToIdent(static_cast<E>(Ordinal)), EConvertError);
}

} // namespace

TEST(Vocabulary, EnumerationIdentifiersRoundTripByOrdinal) {
    ExpectRoundTrips<TGeneType>(
        {"gtUnknown", "gtBoolean", "gtInteger", "gtFloat", "gtEnumeration"});
    ExpectRoundTrips<TGACrossoverMethod>({"cmGeneBoundary", "cmBitBoundary", "cmByteBoundary",
                                          "cmWordBoundary", "cmLongwordBoundary"});
    ExpectRoundTrips<TGAFitnessMethod>({"fmMinimize", "fmMaximize"});
    ExpectRoundTrips<TGASelectionMethod>({"smRoulette", "smRandom", "smTournament",
                                          "smStochasticTournament", "smElitist", "smCustom"});
    ExpectRoundTrips<TGAGeneticOperation>({"goCrossover", "goMutate", "goInvert"});
    ExpectRoundTrips<TExecutionState>({"esInitializing", "esInitialized", "esEncoding", "esEncoded",
                                       "esExecuting", "esInvalidOperation", "esInvalidState",
                                       "esError", "esFinishing", "esFinished"});
    ExpectRoundTrips<TExecutionLimit>({"elNumberOfSteps", "elNumberOfMilliseconds", "elNone"});

    EXPECT_FALSE(TryIdentToEnum<TGASelectionMethod>("smElitist ").has_value());
    try {
        IdentToEnum<TGAFitnessMethod>("fmBest");
        FAIL() << "no error";
    } catch (const EConvertError& E) {
        EXPECT_STREQ(E.what(), "\"fmBest\" is not a valid TGAFitnessMethod identifier");
    }
}

TEST(Vocabulary, SetsUseOneBitPerOrdinal) {
    const TGAGeneticOperations AllOps{goCrossover, goMutate, goInvert};
    EXPECT_EQ(AllOps.Bits(), 0x07);
    EXPECT_EQ(FinishedStates.Bits(), 0x03E0);
    EXPECT_TRUE(FinishedStates.Contains(esError));
    EXPECT_FALSE(FinishedStates.Contains(esExecuting));

    TGAGeneticOperations Ops;
    Ops.Include(goInvert).Include(goCrossover);
    EXPECT_EQ(Ops.Bits(), 0x05);
    EXPECT_FALSE(Ops.Contains(goMutate));
    Ops.Exclude(goCrossover);
    EXPECT_EQ(Ops, TGAGeneticOperations{goInvert});
    EXPECT_EQ((AllOps - Ops).Bits(), 0x03);
    EXPECT_EQ((Ops + TGAGeneticOperations{goMutate}).Bits(), 0x06);
    EXPECT_EQ((AllOps * Ops).Bits(), 0x04);
    // Bits of non-members never enter a set.
    EXPECT_EQ(TGAGeneticOperations::FromBits(0xFF), AllOps);
    EXPECT_EQ(TExecutionStates::FromBits(0xFFFF).Bits(), 0x03FF);
    EXPECT_FALSE(TExecutionStates::All().Contains(static_cast<TExecutionState>(10)));
}

TEST(Vocabulary, MessagesFormatWithTheirArguments) {
    EXPECT_EQ(Format(SValueNotEnumeration, std::string("Blue")),
              "\"Blue\" is not a valid enumerated value");
    EXPECT_EQ(Format(SInvalidInstructionIndex, 7), "7 is an invalid instruction set encoding");
    EXPECT_EQ(Format(SUnknownInstruction, "PUSH"), "Unknown instruction \"PUSH\"");
}

TEST(Vocabulary, GPExceptionsAreGAExceptionsButNotTheOtherWayRound) {
    try {
        throw EGPException(SMissingVirtualMachine);
    } catch (const EGAException& E) {
        EXPECT_STREQ(E.what(), "Missing Virtual Machine");
    }
    EXPECT_THROW(throw EGAException(SNoFitnessFunction), EKvException);
    bool CaughtAsGP = false;
    try {
        throw EGAException(SNoFitnessFunction);
    } catch (const EGPException&) {
        CaughtAsGP = true;
    } catch (const kv::Exception&) {
    }
    EXPECT_FALSE(CaughtAsGP);
}
