#include <gtest/gtest.h>

#include <string>

#include "kv/rtl/text.h"

using namespace kv;

TEST(Text, ExcerptKeepsShortTextsAndCutsLongOnesAtACharacter) {
    const std::string Exact(64, 'a');
    EXPECT_EQ(TextExcerpt(Exact), Exact);
    EXPECT_EQ(TextExcerpt(Exact + "b"), Exact + "...");
    // A two-byte character (U+00E9) across the 64-byte mark is left out whole.
    const std::string Split = std::string(63, 'a') + "\xc3\xa9" + "tail";
    EXPECT_EQ(TextExcerpt(Split), std::string(63, 'a') + "...");
    // Ending exactly at the mark, it stays.
    const std::string Whole = std::string(62, 'a') + "\xc3\xa9" + "tail";
    EXPECT_EQ(TextExcerpt(Whole), std::string(62, 'a') + "\xc3\xa9...");
}
