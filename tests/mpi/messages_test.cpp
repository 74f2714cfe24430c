// Messages are checked on arrival: a bad one raises a clear error, never a crash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kv/mpi/messages.h"

using namespace kv;

namespace {

// The error CheckMessage raises, or "" when it accepts.
std::string Refusal(const std::vector<uint64_t>& Data, size_t Size,
                    const TKvMPIExpectation& Expected) {
    try {
        (void)CheckMessage(Data.data(), Size, Expected);
        return "";
    } catch (const EMPIException& E) {
        return E.what();
    }
}

} // namespace

TEST(MPIMessages, ABadMessageIsRefusedNamingWhatIsWrong) {
    // Two migrants of 100 bits (two words each) of run 7, sent at generation 30.
    const double Fitness[2] = {1.5, -2.25};
    const uint64_t Words[4] = {0x0123456789abcdefULL, 0xfULL, ~0ULL, 0xfffffffffULL};
    TKvMPIMessage Header;
    Header.Kind = mkMigrants;
    Header.RunId = 7;
    Header.Sequence = 30;
    Header.First = 2;
    Header.Count = 2;
    Header.BitCount = 100;
    const std::vector<uint64_t> Data = MakeMessage(Header, Fitness, Words);
    TKvMPIExpectation Expect{mkMigrants, 7, 100, 30, 2};

    const TKvMPIMessage M = CheckMessage(Data.data(), Data.size(), Expect);
    EXPECT_EQ(M.First, 2);
    EXPECT_EQ(M.FitnessAt(1), -2.25);
    EXPECT_EQ(M.Chromosome(1)[0], ~0ULL);
    EXPECT_EQ(M.Chromosome(1)[1], 0xfffffffffULL);

    EXPECT_NE(Refusal(Data, Data.size() - 1, Expect).find("has 14 words; its header asks for 15"),
              std::string::npos);
    EXPECT_NE(Refusal(Data, 3, Expect).find("shorter than its header"), std::string::npos);
    EXPECT_NE(Refusal(Data, Data.size(), {mkMigrants, 7, 99, 30, 2})
                  .find("chromosomes of 100 bits; this engine's have 99 bits"),
              std::string::npos);
    EXPECT_NE(
        Refusal(Data, Data.size(), {mkMigrants, 8, 100, 30, 2}).find("of run 7 reached run 8"),
        std::string::npos);
    EXPECT_NE(Refusal(Data, Data.size(), {mkMigrants, 7, 100, 31, 2}).find("generation 30"),
              std::string::npos);
    EXPECT_NE(Refusal(Data, Data.size(), {mkBatch, 7, 100}).find("received a migrants message"),
              std::string::npos);

    std::vector<uint64_t> Bad = Data;
    Bad[Bad.size() - 1] |= uint64_t(1) << 40; // beyond bit 99
    EXPECT_NE(Refusal(Bad, Bad.size(), Expect).find("bits set beyond its 100 bits"),
              std::string::npos);
    Bad = Data;
    Bad[6] = uint64_t(1) << 40; // a count that would overrun any buffer
    EXPECT_NE(Refusal(Bad, Bad.size(), {mkMigrants, 7, 100}).find("more than any population"),
              std::string::npos);
    Bad = Data;
    Bad[5] = 0x7fffffff; // the first of two indices at the largest one
    EXPECT_NE(Refusal(Bad, Bad.size(), {mkMigrants, 7, 100}).find("reaches index 2147483649"),
              std::string::npos);
    Bad = Data;
    Bad[0] ^= 1;
    EXPECT_NE(Refusal(Bad, Bad.size(), Expect).find("not the mark"), std::string::npos);
}
