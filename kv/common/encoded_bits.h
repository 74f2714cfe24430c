// TKvEncodedBits: a bit array with typed access to runs of bits, the storage under every
// chromosome.
//
// A run is given as (Start, Count): the Count bits Start, Start + 1, ..., Start + Count - 1. Bit i
// of the run is bit Start + i of the array, so the run reads as an integer whose least significant
// bit is bit Start. Reads change nothing; a write changes only the bits of its run.
//
// Layout of the typed values in a run of Count bits:
//   Integers (GetAsInteger/SetAsInteger 32-bit, GetAsInt64/SetAsInt64 64-bit)
//     A write stores the value modulo 2^Count (two's complement, so a negative value in a run wider
//     than 64 bits is sign-extended over the whole run). A read takes the run as an unsigned
//     number, or, when PreserveSignBit is set, as a two's complement number whose sign bit is the
//     run's top bit (bit Start + Count - 1), and then truncates it to the result type. Every value
//     in 0 .. 2^Count - 1 (unsigned) or -2^(Count-1) .. 2^(Count-1) - 1 (signed) that the result
//     type holds reads back unchanged. A run wider than 64 bits reads from its lowest 64 bits.
//   Booleans (GetAsBoolean/SetAsBoolean)
//     Read: true when any bit of the run is set. Write: the integer 1 or 0 (bit Start is the value,
//     the rest of the run 0). The sign flag plays no part.
//   Single-precision floats (GetAsFloat/SetAsFloat) and doubles (GetAsDouble/SetAsDouble)
//     In a run of exactly the natural width (32 bits for a single, 64 for a double) the run holds
//     the IEEE-754 bits of the value, sign and all; the sign flag plays no part.
//     In a run of any other width the run holds an integer, read as above (signed when
//     PreserveSignBit is set) and converted to the floating-point type. A write rounds the value to
//     the nearest integer (halves to the even neighbour, whatever the floating-point environment's
//     rounding mode), saturates it to the run's range (0 .. 2^w - 1, or -2^(w-1) .. 2^(w-1) - 1
//     when signed, with w = min(Count, 64)) and stores it; a NaN stores 0. So a value reads back as
//     the nearest value the run holds. This matches the integer-like default ranges of float genes.
//   Bit-string text (GetAsBitString/SetAsBitString, ToBitString)
//     One character per bit of the run, '0' or '1', the run's first bit (bit Start) first.
//     SetAsBitString writes the first Count characters of the text to the run; a shorter text
//     leaves the rest of the run 0 and a longer one has its surplus characters ignored. Every
//     character, surplus included, must be '0' or '1'. SetAsBitString(0, GetSize(), ToBitString())
//     restores the array exactly.
//   A run of Count 0 reads as 0, false, 0.0 or "" and a write to it changes nothing.
//
// Ownership and events: the array owns its words (a copy never shares them) and fires no events.
//
// PreserveSignBit is a public field that callers (genes) set before a numeric access; it is part of
// the object's state and copied by Assign from another TKvEncodedBits.
//
// ToString is the bit-string text of the whole array (ToBitString). The byte-wise Encode and
// Decode operations of older bit-string classes are not provided.
//
// Errors, each raised before anything is changed:
//   EListError    a run that does not lie inside the array (negative Start or Count, or
//                 Start + Count > Size), naming start, count and size; a negative size (TBits).
//   EConvertError SetAsBitString with a character other than '0' or '1', naming the text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kv/rtl/bits.h"

namespace kv {

class TKvEncodedBits : public TBits {
public:
    // Whether numeric runs are signed (their top bit is a sign bit). Set by callers before access.
    bool PreserveSignBit = false;

    TKvEncodedBits() = default;

    std::string ClassName() const override { return "TKvEncodedBits"; }
    // Takes the size and bits of another TBits, and the sign flag of another TKvEncodedBits.
    void Assign(const TPersistent* Source) override;

    bool GetAsBoolean(int32_t Start, int32_t Count) const;
    void SetAsBoolean(int32_t Start, int32_t Count, bool Value);

    int32_t GetAsInteger(int32_t Start, int32_t Count) const;
    void SetAsInteger(int32_t Start, int32_t Count, int32_t Value);

    int64_t GetAsInt64(int32_t Start, int32_t Count) const;
    void SetAsInt64(int32_t Start, int32_t Count, int64_t Value);

    float GetAsFloat(int32_t Start, int32_t Count) const;
    void SetAsFloat(int32_t Start, int32_t Count, float Value);

    double GetAsDouble(int32_t Start, int32_t Count) const;
    void SetAsDouble(int32_t Start, int32_t Count, double Value);

    std::string GetAsBitString(int32_t Start, int32_t Count) const;
    void SetAsBitString(int32_t Start, int32_t Count, std::string_view Text);

    // The whole array as bit-string text, bit 0 first.
    virtual std::string ToBitString() const;
    // The printable form: the bit-string text of the whole array.
    std::string ToString() const override;

private:
    // Raises EListError unless 0 <= Start, 0 <= Count and Start + Count <= Size.
    void CheckRun(int32_t Start, int32_t Count) const {
        if (Start < 0 || Count < 0 || int64_t(Start) + Count > GetSize())
            RunError(Start, Count);
    }
    [[noreturn]] void RunError(int32_t Start, int32_t Count) const;

    // The run as a 64-bit integer (its lowest 64 bits), sign-extended when PreserveSignBit is set.
    int64_t ReadInteger(int32_t Start, int32_t Count) const noexcept;
    // Stores Value modulo 2^Count: the lowest 64 bits of the run get Value, any higher bits its
    // sign (Negative).
    void WriteInteger(int32_t Start, int32_t Count, uint64_t Value, bool Negative) noexcept;
    // Rounds, saturates and stores a floating-point value as an integer of the run.
    void WriteRounded(int32_t Start, int32_t Count, double Value) noexcept;
    // The run's integer converted to double.
    double ReadIntegerAsDouble(int32_t Start, int32_t Count) const noexcept;
};

} // namespace kv
