#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "kv/rtl/bits.h"
#include "kv/rtl/exceptions.h"

using namespace kv;

namespace {

std::string ErrorText(const std::function<void()>& F) {
    try {
        F();
    } catch (const EListError& E) {
        return E.what();
    }
    return "(no EListError)";
}

} // namespace

TEST(Bits, GrowingZeroFillsAndShrinkingClearsTheDroppedBits) {
    TBits B;
    EXPECT_EQ(B.GetSize(), 0);
    EXPECT_EQ(B.WordCount(), 0u);
    B.SetSize(70);
    EXPECT_EQ(B.WordCount(), 2u);
    for (int I = 0; I < 70; ++I)
        EXPECT_FALSE(B.GetBit(I)) << I;
    for (int I = 0; I < 70; ++I)
        B.SetBit(I, true);
    EXPECT_EQ(B.Words()[1], (uint64_t(1) << 6) - 1);

    // Shrinking inside the last word clears the dropped bits in the stored word.
    B.SetSize(66);
    EXPECT_EQ(B.Words()[1], uint64_t(3));
    // Growing again brings back zeros, not the old ones.
    B.SetSize(130);
    for (int I = 66; I < 130; ++I)
        EXPECT_FALSE(B.GetBit(I)) << I;
    for (int I = 0; I < 66; ++I)
        EXPECT_TRUE(B.GetBit(I)) << I;
    B.SetSize(64);
    EXPECT_EQ(B.WordCount(), 1u);
    EXPECT_EQ(B.Words()[0], ~uint64_t(0));
    B.SetSize(0);
    EXPECT_EQ(B.WordCount(), 0u);
}

TEST(Bits, SetBitChangesOnlyThatBit) {
    TBits B;
    B.SetSize(128);
    B.SetBit(63, true);
    B.SetBit(64, true);
    EXPECT_EQ(B.Words()[0], uint64_t(1) << 63);
    EXPECT_EQ(B.Words()[1], uint64_t(1));
    B.SetBit(63, false);
    EXPECT_EQ(B.Words()[0], uint64_t(0));
    EXPECT_TRUE(B.GetBit(64));
}

TEST(Bits, BadIndexOrSizeRaisesListErrorAndChangesNothing) {
    TBits B;
    B.SetSize(10);
    B.SetBit(3, true);
    EXPECT_EQ(ErrorText([&] { B.GetBit(10); }), "Bits index out of range: 10 (size 10)");
    EXPECT_EQ(ErrorText([&] { B.SetBit(-1, true); }), "Bits index out of range: -1 (size 10)");
    EXPECT_EQ(ErrorText([&] { B.SetSize(-5); }), "Bits size out of range: -5");
    EXPECT_EQ(B.GetSize(), 10);
    EXPECT_TRUE(B.GetBit(3));
    TBits Empty;
    EXPECT_THROW(Empty.GetBit(0), EListError);
}

TEST(Bits, AssignCopiesSizeAndBitsAndRefusesStrangers) {
    TBits A, B;
    A.SetSize(100);
    A.SetBit(0, true);
    A.SetBit(99, true);
    B.SetSize(3);
    B.Assign(&A);
    EXPECT_EQ(B.GetSize(), 100);
    EXPECT_TRUE(B.Equals(A));
    A.SetBit(50, true); // the copy does not share storage
    EXPECT_FALSE(B.GetBit(50));
    B.Assign(&B);
    EXPECT_EQ(B.GetSize(), 100);

    TPersistent Stranger;
    try {
        B.Assign(&Stranger);
        FAIL() << "no error";
    } catch (const EConvertError& E) {
        EXPECT_STREQ(E.what(), "Cannot assign a TPersistent to a TBits");
    }
    EXPECT_EQ(B.GetSize(), 100);
}
