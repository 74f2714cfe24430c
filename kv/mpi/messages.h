// The messages the MPI layer sends, how they are laid out and how they are checked on arrival.
//
// Every message is an array of 64-bit words sent as MPI_UINT64_T. It starts with a header of
// HeaderWords words:
//   0  Magic, the layer's mark and format version
//   1  Kind (TKvMPIMessageKind)
//   2  RunId: the run the message belongs to; a receiver refuses a message of another run
//   3  Sequence: the evaluation round (worker evaluation) or the generation (islands)
//   4  Draw: the round's draw from the engine's random stream (batches; 0 otherwise)
//   5  First: the population index of the first chromosome (batches, scores, failures), or the
//      sending rank (migrants, best)
//   6  Count: how many chromosomes or fitness values follow
//   7  BitCount: the chromosome length in bits (batches, migrants, best; 0 otherwise)
//   8  TextBytes: the length of the text that follows (failures; 0 otherwise)
// and the body of its kind:
//   mkBatch     Count chromosomes of WordsFor(BitCount) words each (bit i in word i / 64 at bit
//               i % 64, the padding bits 0), to be scored as individuals First .. First+Count-1
//   mkStop      nothing: the worker loop ends
//   mkScores    Count fitness values (the bits of each double) of individuals First ..
//   mkFailure   Count fitness values of the individuals scored before the failure, then the text
//               of the failure (TextBytes bytes in (TextBytes + 7) / 8 words, zero padded); the
//               failing individual is First + Count
//   mkMigrants  Count individuals, each its fitness then its chromosome
//   mkBest      as mkMigrants, with Count 1
//
// CheckMessage reads a received array and raises EMPIException, naming what was wrong and the
// offending value, when the array is shorter than a header or its size does not match the header,
// when the mark, the kind, the run, the chromosome length, the sequence or the count differ from
// what the receiver expects, when its indices reach beyond 2^31 - 1, or when the padding of a
// chromosome holds bits; nothing is read beyond Size words. MakeMessage builds a message (the
// inverse). Neither calls MPI: they can be used, and tested, without a running MPI job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kv/vocabulary/ga_exceptions.h"

namespace kv {

// Raised by the MPI layer: a message that fails its checks, a setting out of range, a run that
// cannot go on.
class EMPIException : public EGAException {
public:
    using EGAException::EGAException;
};

// Raised on rank 0 when a worker's fitness callback failed: the message names the rank and the
// individual and ends with the worker's own message, which GetRemoteMessage gives alone.
class EMPIRemoteError : public EMPIException {
public:
    EMPIRemoteError(int32_t Rank, int32_t Index, std::string RemoteMessage);
    int32_t GetRank() const noexcept { return FRank; }
    int32_t GetIndex() const noexcept { return FIndex; }
    const std::string& GetRemoteMessage() const noexcept { return FRemoteMessage; }

private:
    int32_t FRank;
    int32_t FIndex;
    std::string FRemoteMessage;
};

enum TKvMPIMessageKind : uint64_t {
    mkBatch = 1,
    mkStop = 2,
    mkScores = 3,
    mkFailure = 4,
    mkMigrants = 5,
    mkBest = 6
};

// The name of a kind ("batch", "stop", ...), or "unknown".
const char* MessageKindName(uint64_t Kind) noexcept;

struct TKvMPIMessage {
    static constexpr uint64_t Magic = 0x6b7667614d504931ULL; // "kvgaMPI1"
    static constexpr size_t HeaderWords = 9;
    // The longest chromosome a message may carry (as a loaded document's, kv/ga/persistence.h).
    static constexpr int32_t MaxBitCount = 1 << 24;

    TKvMPIMessageKind Kind = mkStop;
    uint64_t RunId = 0;
    uint64_t Sequence = 0;
    uint64_t Draw = 0;
    int32_t First = 0;
    int32_t Count = 0;
    int32_t BitCount = 0;
    // The body of the checked array (a view: valid while the array lives) and the text of a
    // failure.
    const uint64_t* Body = nullptr;
    std::string Text;

    // Words per chromosome of BitCount bits.
    static size_t WordsFor(int32_t BitCount) noexcept {
        return (static_cast<size_t>(BitCount) + 63) / 64;
    }
    // The words of chromosome K of a batch, migrants or best message.
    const uint64_t* Chromosome(int32_t K) const noexcept;
    // The fitness of value K of a scores, failure, migrants or best message.
    double FitnessAt(int32_t K) const noexcept;
};

// What a receiver expects of a message: its kind, its run, its chromosome length (batches,
// migrants, best), and, when not negative, its sequence and its count.
struct TKvMPIExpectation {
    TKvMPIMessageKind Kind;
    uint64_t RunId;
    int32_t BitCount = 0;
    int64_t Sequence = -1;
    int32_t Count = -1;
};

// Checks the array Data[0 .. Size) against Expected and returns its content (see the file
// comment); EMPIException otherwise. A mkStop message is accepted whatever kind is expected (it
// ends a worker loop) and is returned as such, and a mkFailure message where mkScores are
// expected (it answers a batch too).
TKvMPIMessage CheckMessage(const uint64_t* Data, size_t Size, const TKvMPIExpectation& Expected);

// Builds a message: the header from Header (Kind, RunId, Sequence, Draw, First, Count, BitCount),
// then Fitness (Count doubles, for scores, failure, migrants and best), Words (Count chromosomes
// of WordsFor(BitCount) words, for batch, migrants and best) and Text (failure).
std::vector<uint64_t> MakeMessage(const TKvMPIMessage& Header, const double* Fitness,
                                  const uint64_t* Words, const std::string& Text = {});

} // namespace kv
