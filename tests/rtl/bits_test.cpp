#include <gtest/gtest.h>

#include "kv/rtl/bits.h"
#include "kv/rtl/exceptions.h"

using namespace kv;

TEST(Bits, GrowingZeroFillsAndShrinkingClearsTheDroppedBits) {
    TBits B;
    B.SetSize(70);
    ASSERT_EQ(B.WordCount(), 2u);
    for (int I = 0; I < 70; ++I) {
        EXPECT_FALSE(B.GetBit(I)) << I;
        B.SetBit(I, true);
    }
    EXPECT_EQ(B.Words()[1], uint64_t(0x3F));
    B.SetBit(64, false);
    EXPECT_EQ(B.Words()[1], uint64_t(0x3E));
    EXPECT_EQ(B.Words()[0], ~uint64_t(0));

    B.SetSize(66); // the dropped bits are cleared in the stored word
    EXPECT_EQ(B.Words()[1], uint64_t(2));
    B.SetSize(130); // and growing brings back zeros, not the old ones
    for (int I = 66; I < 130; ++I)
        EXPECT_FALSE(B.GetBit(I)) << I;
    EXPECT_TRUE(B.GetBit(65));
    B.SetSize(0);
    EXPECT_EQ(B.WordCount(), 0u);
}

TEST(Bits, BadIndexOrSizeRaisesListErrorNamingItAndChangesNothing) {
    TBits B;
    B.SetSize(10);
    B.SetBit(3, true);
    auto Message = [](auto F) {
        try {
            F();
        } catch (const EListError& E) {
            return std::string(E.what());
        }
        return std::string("(no EListError)");
    };
    EXPECT_EQ(Message([&] { B.GetBit(10); }), "Bits index out of range: 10 (size 10)");
    EXPECT_EQ(Message([&] { B.SetBit(-1, true); }), "Bits index out of range: -1 (size 10)");
    EXPECT_EQ(Message([&] { B.SetSize(-5); }), "Bits size out of range: -5");
    EXPECT_EQ(B.GetSize(), 10);
    EXPECT_TRUE(B.GetBit(3));
}

TEST(Bits, AssignCopiesSizeAndBitsAndRefusesStrangers) {
    TBits A, B;
    A.SetSize(100);
    A.SetBit(99, true);
    B.SetSize(3);
    B.Assign(&A);
    EXPECT_TRUE(B.Equals(A));
    A.SetBit(50, true); // the copy does not share storage
    EXPECT_FALSE(B.GetBit(50));

    TPersistent Stranger;
    try {
        B.Assign(&Stranger);
        FAIL() << "no error";
    } catch (const EConvertError& E) {
        EXPECT_STREQ(E.what(), "Cannot assign a TPersistent to a TBits");
    }
    EXPECT_EQ(B.GetSize(), 100);
}
