// TKvGABits: the chromosome of one individual, and BitsRequired.
//
// A chromosome is a TKvEncodedBits (bits, Size, typed access to runs) that knows the individual it
// belongs to and offers the bit-level genetic operators. It is created empty; the engine sizes it,
// and none of the operators below changes Size or touches a bit at or beyond Size.
//
// Ownership: the individual owns its chromosome. Owner is the individual (or nullptr), given to the
// constructor and never changed; the chromosome does not own it. Assign copies size, bits and sign
// flag from another bit array and keeps Owner.
//
// Random draws all come from the calling thread's random source (kv/rtl/random.h), in the order
// listed; a draw of "Random(N)" with N <= 0 gives 0 and takes no value from the stream.
//   Clear       every bit 0. No draws.
//   Randomize   bit i := Random(2), for i = 0 .. Size - 1: one draw per bit, in bit order.
//   Mutate(P)   for i = 0 .. Size - 1: bit i is complemented when Random() < P. One draw per bit
//               whatever P (also for P <= 0, which flips nothing, and P >= 1, which flips every
//               bit); a chromosome of size 0 draws nothing. Returns true when at least one bit
//               flipped.
//   Invert(Offset, Len)
//               complements bits Offset .. Offset + Len (Len + 1 bits, both ends included),
//               stopping at Size. Offset -1 asks for Offset := Random(Size), then Len -1 for Len :=
//               Random(Size - Offset), drawn in that order. Any other negative Len, or an Offset at
//               or beyond Size, changes nothing.
//   CrossOver(Source1, Source2, CrossBit)
//               bits 0 .. CrossBit come from Source1 and the following bits from Source2, each part
//               limited to its source's size and to this chromosome's Size; bits beyond what the
//               sources cover keep their values. CrossBit below 0 takes everything from Source2.
//               Either source may be this chromosome. Returns *this. No draws.
//   CrossOver(Source1, Source2)
//               as above with CrossBit := Random(Source1's size).
//
// Operators beyond the classic set (the engine uses them when asked to; see engine.h):
//   MutateGeometric(P)
//               flips each bit independently with probability P, as Mutate does, but draws the
//               gap to the next flipped bit (the number of bits that stay; geometric with parameter
//               P) instead of one value per bit. Starting at bit 0, the bit the gap places further
//               on flips and the next gap starts at the bit after it, until a gap reaches Size. A
//               gap takes one raw value of the stream: for P >= 2^-9 through an alias table of
//               1024 outcomes (gaps 0 .. 1022, and "1023 or more", which moves on 1023 bits and
//               draws again), for smaller P as floor(ln(U) / ln(1 - P)) with U := ((raw >> 11) +
//               1) 2^-53. So about Size * P + 1 draws instead of Size; the stream, and the bits
//               flipped, differ from Mutate's. The table is built once per thread for the last P
//               used (some microseconds). P <= 0 and a chromosome of size 0 draw nothing and flip
//               nothing; P >= 1 flips every bit and draws nothing. Returns true when a bit
//               flipped.
//   CrossOver(Source1, Source2, CrossBit1, CrossBit2)
//               two-point crossover: with Lo and Hi the smaller and the larger of the two points,
//               bits 0 .. Lo and Hi + 1 onward come from Source1 and bits Lo + 1 .. Hi from
//               Source2. Each bit is taken only where its source has it (and below this
//               chromosome's Size); other bits keep their values. Equal points give Source1's bits.
//               Either source may be this chromosome. Returns *this. No draws.
//   CrossOver(Source1, Source2, Mask)
//               masked crossover: bit i comes from Source2 where bit i of Mask is 1, from Source1
//               where it is 0 (bits beyond Mask's size count as 0), taken only where its source has
//               it and below Size; other bits keep their values. Uniform crossover is this with a
//               random Mask. Works a word at a time. Either source may be this chromosome.
//               Returns *this. No draws.
//
// The operators work on 64-bit words (masks at the ends of a range); Randomize and Mutate take the
// raw values of the random stream a block at a time and give exactly the bits that one
// Random(2) / Random() call per bit gives.
//
// Errors (raised before anything changes):
//   EListError  Invert with an Offset below -1, naming the offset (such an offset is neither a
//               bit index nor the request for a random one); SetSize with a negative size,
//               naming the size.
// A chromosome fires no events: a change made to its bits directly is reported to nobody
// (TKvGAIndividual::SetBits is the way that reports a change to the population).
#pragma once

#include <cstdint>
#include <string>

#include "kv/common/encoded_bits.h"
#include "kv/vocabulary/ga_types.h"

namespace kv {

class TKvGAIndividual;

class TKvGABits : public TKvEncodedBits {
public:
    explicit TKvGABits(TKvGAIndividual* AOwner = nullptr) noexcept : FOwner(AOwner) {}

    std::string ClassName() const override { return "TKvGABits"; }

    // The individual whose chromosome this is, or nullptr.
    TKvGAIndividual* GetOwner() const noexcept { return FOwner; }

    void Clear() noexcept;
    void Randomize();
    bool Mutate(TGAProbability MutationProbability);
    void Invert(int32_t Offset, int32_t Len);
    TKvGABits& CrossOver(const TBits& Source1, const TBits& Source2);
    TKvGABits& CrossOver(const TBits& Source1, const TBits& Source2, int32_t CrossBit);
    bool MutateGeometric(TGAProbability MutationProbability);
    TKvGABits& CrossOver(const TBits& Source1, const TBits& Source2, int32_t CrossBit1,
                         int32_t CrossBit2);
    TKvGABits& CrossOver(const TBits& Source1, const TBits& Source2, const TBits& Mask);

    // The text form of the bit string (the bits as '0'/'1' characters, bit 0 first).
    std::string ToString() const override { return TKvEncodedBits::ToString(); }

private:
    TKvGAIndividual* const FOwner;
};

// The number of binary digits of N: 0 for 0, otherwise floor(log2(N)) + 1 (4 -> 3, 255 -> 8).
int32_t BitsRequired(uint32_t N) noexcept;

} // namespace kv
