// Message layout and checks of the MPI layer.
#include "kv/mpi/messages.h"

#include <bit>
#include <climits>
#include <cstring>

#include "kv/rtl/exceptions.h"

namespace kv {

EMPIRemoteError::EMPIRemoteError(int32_t Rank, int32_t Index, std::string RemoteMessage)
    : EMPIException(
          Format("Rank %i failed to score individual %i: %s", Rank, Index, RemoteMessage)),
      FRank(Rank), FIndex(Index), FRemoteMessage(std::move(RemoteMessage)) {}

const char* MessageKindName(uint64_t Kind) noexcept {
    switch (Kind) {
    case mkBatch:
        return "batch";
    case mkStop:
        return "stop";
    case mkScores:
        return "scores";
    case mkFailure:
        return "failure";
    case mkMigrants:
        return "migrants";
    case mkBest:
        return "best";
    default:
        return "unknown";
    }
}

namespace {

bool HasFitness(TKvMPIMessageKind Kind) noexcept {
    return Kind == mkScores || Kind == mkFailure || Kind == mkMigrants || Kind == mkBest;
}

bool HasChromosomes(TKvMPIMessageKind Kind) noexcept {
    return Kind == mkBatch || Kind == mkMigrants || Kind == mkBest;
}

// Words of the body for a header; the inputs are already within their ranges, so no overflow.
size_t BodyWords(TKvMPIMessageKind Kind, int32_t Count, int32_t BitCount, uint64_t TextBytes) {
    const size_t N = static_cast<size_t>(Count);
    size_t Words = 0;
    if (HasFitness(Kind))
        Words += N;
    if (HasChromosomes(Kind))
        Words += N * TKvMPIMessage::WordsFor(BitCount);
    if (Kind == mkFailure)
        Words += static_cast<size_t>((TextBytes + 7) / 8);
    return Words;
}

// The longest failure text a message may carry.
constexpr uint64_t MaxTextBytes = 1 << 20;

} // namespace

const uint64_t* TKvMPIMessage::Chromosome(int32_t K) const noexcept {
    const size_t W = WordsFor(BitCount);
    const size_t I = static_cast<size_t>(K);
    return Kind == mkBatch ? Body + I * W : Body + I * (W + 1) + 1;
}

double TKvMPIMessage::FitnessAt(int32_t K) const noexcept {
    const size_t I = static_cast<size_t>(K);
    const uint64_t Bits =
        Kind == mkMigrants || Kind == mkBest ? Body[I * (WordsFor(BitCount) + 1)] : Body[I];
    return std::bit_cast<double>(Bits);
}

TKvMPIMessage CheckMessage(const uint64_t* Data, size_t Size, const TKvMPIExpectation& Expected) {
    const char* Want = MessageKindName(Expected.Kind);
    if (Size < TKvMPIMessage::HeaderWords)
        throw EMPIException(Format("A %s message of %lld words is shorter than its header of %i "
                                   "words",
                                   Want, static_cast<long long>(Size),
                                   static_cast<int>(TKvMPIMessage::HeaderWords)));
    if (Data[0] != TKvMPIMessage::Magic)
        throw EMPIException(Format("A %s message starts with 0x%llx, not the mark 0x%llx of this "
                                   "library's messages",
                                   Want, static_cast<unsigned long long>(Data[0]),
                                   static_cast<unsigned long long>(TKvMPIMessage::Magic)));
    TKvMPIMessage M;
    const uint64_t Kind = Data[1];
    if (Kind != Expected.Kind && Kind != mkStop &&
        !(Expected.Kind == mkScores && Kind == mkFailure))
        throw EMPIException(Format("Expected a %s message, received a %s message (kind %llu)", Want,
                                   MessageKindName(Kind), static_cast<unsigned long long>(Kind)));
    M.Kind = static_cast<TKvMPIMessageKind>(Kind);
    M.RunId = Data[2];
    if (M.RunId != Expected.RunId)
        throw EMPIException(Format("A %s message of run %llu reached run %llu: another run shares "
                                   "the communicator",
                                   MessageKindName(Kind), static_cast<unsigned long long>(M.RunId),
                                   static_cast<unsigned long long>(Expected.RunId)));
    M.Sequence = Data[3];
    M.Draw = Data[4];
    if (M.Kind == mkStop) {
        if (Size != TKvMPIMessage::HeaderWords)
            throw EMPIException(Format("A stop message has %lld words, not %i",
                                       static_cast<long long>(Size),
                                       static_cast<int>(TKvMPIMessage::HeaderWords)));
        return M;
    }
    if (Expected.Sequence >= 0 && M.Sequence != static_cast<uint64_t>(Expected.Sequence))
        throw EMPIException(Format("A %s message belongs to %s %llu, expected %lli", Want,
                                   Expected.Kind == mkMigrants ? "generation" : "round",
                                   static_cast<unsigned long long>(M.Sequence),
                                   static_cast<long long>(Expected.Sequence)));
    if (Data[5] > INT32_MAX)
        throw EMPIException(Format("A %s message starts at index %llu, beyond any population", Want,
                                   static_cast<unsigned long long>(Data[5])));
    M.First = static_cast<int32_t>(Data[5]);
    if (Data[6] > INT32_MAX)
        throw EMPIException(Format("A %s message holds %llu items, more than any population", Want,
                                   static_cast<unsigned long long>(Data[6])));
    if (Expected.Count >= 0 && Data[6] != static_cast<uint64_t>(Expected.Count))
        throw EMPIException(Format("A %s message holds %llu items, expected %i", Want,
                                   static_cast<unsigned long long>(Data[6]), Expected.Count));
    M.Count = static_cast<int32_t>(Data[6]);
    if (Data[5] + Data[6] > INT32_MAX)
        throw EMPIException(Format("A %s message reaches index %llu, beyond any population", Want,
                                   static_cast<unsigned long long>(Data[5] + Data[6])));
    if (HasChromosomes(M.Kind)) {
        if (Data[7] != static_cast<uint64_t>(Expected.BitCount))
            throw EMPIException(
                Format("A %s message carries chromosomes of %llu bits; this engine's have %i bits",
                       Want, static_cast<unsigned long long>(Data[7]), Expected.BitCount));
        M.BitCount = Expected.BitCount;
    } else if (Data[7] != 0) {
        throw EMPIException(Format("A %s message names a chromosome length (%llu bits)", Want,
                                   static_cast<unsigned long long>(Data[7])));
    }
    const uint64_t TextBytes = Data[8];
    if ((M.Kind == mkFailure && TextBytes > MaxTextBytes) || (M.Kind != mkFailure && TextBytes))
        throw EMPIException(Format("A %s message announces a text of %llu bytes", Want,
                                   static_cast<unsigned long long>(TextBytes)));
    if (M.BitCount > TKvMPIMessage::MaxBitCount)
        throw EMPIException(Format("A %s message carries chromosomes of %i bits, more than %i",
                                   Want, M.BitCount, TKvMPIMessage::MaxBitCount));
    const size_t Expect =
        TKvMPIMessage::HeaderWords + BodyWords(M.Kind, M.Count, M.BitCount, TextBytes);
    if (Size != Expect)
        throw EMPIException(
            Format("A %s message of %i items has %lld words; its header asks for %lld", Want,
                   M.Count, static_cast<long long>(Size), static_cast<long long>(Expect)));
    M.Body = Data + TKvMPIMessage::HeaderWords;
    if (HasChromosomes(M.Kind) && M.BitCount % 64 != 0) {
        const size_t W = TKvMPIMessage::WordsFor(M.BitCount);
        const uint64_t Padding = ~uint64_t(0) << (M.BitCount % 64);
        for (int32_t K = 0; K < M.Count; ++K)
            if (M.Chromosome(K)[W - 1] & Padding)
                throw EMPIException(Format("Chromosome %i of a %s message has bits set beyond its "
                                           "%i bits",
                                           K, Want, M.BitCount));
    }
    if (M.Kind == mkFailure) {
        M.Text.resize(static_cast<size_t>(TextBytes));
        if (TextBytes)
            std::memcpy(M.Text.data(), M.Body + M.Count, static_cast<size_t>(TextBytes));
    }
    return M;
}

std::vector<uint64_t> MakeMessage(const TKvMPIMessage& Header, const double* Fitness,
                                  const uint64_t* Words, const std::string& Text) {
    const TKvMPIMessageKind Kind = Header.Kind;
    const uint64_t TextBytes = Kind == mkFailure ? Text.size() : 0;
    const int32_t BitCount = HasChromosomes(Kind) ? Header.BitCount : 0;
    std::vector<uint64_t> Out(
        TKvMPIMessage::HeaderWords +
        (Kind == mkStop ? 0 : BodyWords(Kind, Header.Count, BitCount, TextBytes)));
    Out[0] = TKvMPIMessage::Magic;
    Out[1] = Kind;
    Out[2] = Header.RunId;
    Out[3] = Header.Sequence;
    Out[4] = Header.Draw;
    if (Kind == mkStop)
        return Out;
    Out[5] = static_cast<uint64_t>(Header.First);
    Out[6] = static_cast<uint64_t>(Header.Count);
    Out[7] = static_cast<uint64_t>(BitCount);
    Out[8] = TextBytes;
    uint64_t* P = Out.data() + TKvMPIMessage::HeaderWords;
    const size_t W = TKvMPIMessage::WordsFor(BitCount);
    const size_t N = static_cast<size_t>(Header.Count);
    if (Kind == mkMigrants || Kind == mkBest) {
        for (size_t K = 0; K < N; ++K) {
            *P++ = std::bit_cast<uint64_t>(Fitness[K]);
            std::memcpy(P, Words + K * W, W * sizeof(uint64_t));
            P += W;
        }
    } else {
        if (HasFitness(Kind))
            for (size_t K = 0; K < N; ++K)
                *P++ = std::bit_cast<uint64_t>(Fitness[K]);
        if (Kind == mkBatch && N * W != 0)
            std::memcpy(P, Words, N * W * sizeof(uint64_t));
        if (TextBytes)
            std::memcpy(P, Text.data(), static_cast<size_t>(TextBytes));
    }
    return Out;
}

} // namespace kv
