#include "kv/common/encoded_bits.h"

#include <bit>
#include <cmath>

#include "kv/rtl/bit_words.h"
#include "kv/rtl/convert.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/text.h"

namespace kv {

namespace {

constexpr unsigned Low64(int32_t Count) {
    return Count < 64 ? static_cast<unsigned>(Count) : 64u;
}

} // namespace

void TKvEncodedBits::Assign(const TPersistent* Source) {
    if (const auto* Encoded = dynamic_cast<const TKvEncodedBits*>(Source))
        PreserveSignBit = Encoded->PreserveSignBit;
    TBits::Assign(Source);
}

void TKvEncodedBits::RunError(int32_t Start, int32_t Count) const {
    throw EListError(
        Format("Bit run out of range: start %i, count %i (size %i)", Start, Count, GetSize()));
}

int64_t TKvEncodedBits::ReadInteger(int32_t Start, int32_t Count) const noexcept {
    const unsigned N = Low64(Count);
    const uint64_t Raw = bitwords::Extract(Words(), static_cast<size_t>(Start), N);
    if (PreserveSignBit && N > 0 && N < 64) {
        const unsigned Shift = 64 - N;
        return static_cast<int64_t>(Raw << Shift) >> Shift;
    }
    return static_cast<int64_t>(Raw);
}

double TKvEncodedBits::ReadIntegerAsDouble(int32_t Start, int32_t Count) const noexcept {
    const int64_t V = ReadInteger(Start, Count);
    if (PreserveSignBit)
        return static_cast<double>(V);
    return static_cast<double>(static_cast<uint64_t>(V));
}

void TKvEncodedBits::WriteInteger(int32_t Start, int32_t Count, uint64_t Value,
                                  bool Negative) noexcept {
    uint64_t* W = Words();
    const size_t From = static_cast<size_t>(Start);
    bitwords::Insert(W, From, Low64(Count), Value);
    if (Count > 64)
        bitwords::Fill(W, From + 64, From + static_cast<size_t>(Count), Negative);
}

void TKvEncodedBits::WriteRounded(int32_t Start, int32_t Count, double Value) noexcept {
    if (Count == 0)
        return;
    const unsigned N = Low64(Count);
    if (std::isnan(Value)) {
        WriteInteger(Start, Count, 0, false);
        return;
    }
    const double R = std::isinf(Value) ? Value : RoundHalfEven(Value);
    if (PreserveSignBit) {
        const double Limit = std::ldexp(1.0, static_cast<int>(N) - 1); // 2^(N-1), exact
        int64_t V;
        if (R >= Limit)
            V = static_cast<int64_t>(bitwords::LowMask(N - 1)); // 2^(N-1) - 1
        else if (R < -Limit)
            V = -static_cast<int64_t>(bitwords::LowMask(N - 1)) - 1; // -2^(N-1)
        else
            V = static_cast<int64_t>(R);
        WriteInteger(Start, Count, static_cast<uint64_t>(V), V < 0);
    } else {
        const double Limit = std::ldexp(1.0, static_cast<int>(N)); // 2^N, exact
        uint64_t V;
        if (R >= Limit)
            V = bitwords::LowMask(N);
        else if (R <= 0.0)
            V = 0;
        else
            V = static_cast<uint64_t>(R);
        WriteInteger(Start, Count, V, false);
    }
}

bool TKvEncodedBits::GetAsBoolean(int32_t Start, int32_t Count) const {
    CheckRun(Start, Count);
    return bitwords::Any(Words(), static_cast<size_t>(Start),
                         static_cast<size_t>(Start) + static_cast<size_t>(Count));
}

void TKvEncodedBits::SetAsBoolean(int32_t Start, int32_t Count, bool Value) {
    CheckRun(Start, Count);
    WriteInteger(Start, Count, Value ? 1 : 0, false);
}

int32_t TKvEncodedBits::GetAsInteger(int32_t Start, int32_t Count) const {
    CheckRun(Start, Count);
    return static_cast<int32_t>(ReadInteger(Start, Count));
}

void TKvEncodedBits::SetAsInteger(int32_t Start, int32_t Count, int32_t Value) {
    CheckRun(Start, Count);
    WriteInteger(Start, Count, static_cast<uint64_t>(static_cast<int64_t>(Value)), Value < 0);
}

int64_t TKvEncodedBits::GetAsInt64(int32_t Start, int32_t Count) const {
    CheckRun(Start, Count);
    return ReadInteger(Start, Count);
}

void TKvEncodedBits::SetAsInt64(int32_t Start, int32_t Count, int64_t Value) {
    CheckRun(Start, Count);
    WriteInteger(Start, Count, static_cast<uint64_t>(Value), Value < 0);
}

float TKvEncodedBits::GetAsFloat(int32_t Start, int32_t Count) const {
    CheckRun(Start, Count);
    if (Count == 32)
        return std::bit_cast<float>(
            static_cast<uint32_t>(bitwords::Extract(Words(), static_cast<size_t>(Start), 32)));
    if (PreserveSignBit)
        return static_cast<float>(ReadInteger(Start, Count));
    return static_cast<float>(static_cast<uint64_t>(ReadInteger(Start, Count)));
}

void TKvEncodedBits::SetAsFloat(int32_t Start, int32_t Count, float Value) {
    CheckRun(Start, Count);
    if (Count == 32)
        bitwords::Insert(Words(), static_cast<size_t>(Start), 32, std::bit_cast<uint32_t>(Value));
    else
        WriteRounded(Start, Count, static_cast<double>(Value));
}

double TKvEncodedBits::GetAsDouble(int32_t Start, int32_t Count) const {
    CheckRun(Start, Count);
    if (Count == 64)
        return std::bit_cast<double>(bitwords::Extract(Words(), static_cast<size_t>(Start), 64));
    return ReadIntegerAsDouble(Start, Count);
}

void TKvEncodedBits::SetAsDouble(int32_t Start, int32_t Count, double Value) {
    CheckRun(Start, Count);
    if (Count == 64)
        bitwords::Insert(Words(), static_cast<size_t>(Start), 64, std::bit_cast<uint64_t>(Value));
    else
        WriteRounded(Start, Count, Value);
}

std::string TKvEncodedBits::GetAsBitString(int32_t Start, int32_t Count) const {
    CheckRun(Start, Count);
    std::string Text(static_cast<size_t>(Count), '0');
    const uint64_t* W = Words();
    for (size_t I = 0; I < Text.size(); I += 64) {
        const unsigned N = static_cast<unsigned>(Text.size() - I < 64 ? Text.size() - I : 64);
        const uint64_t V = bitwords::Extract(W, static_cast<size_t>(Start) + I, N);
        for (unsigned J = 0; J < N; ++J)
            Text[I + J] = static_cast<char>('0' + ((V >> J) & 1));
    }
    return Text;
}

void TKvEncodedBits::SetAsBitString(int32_t Start, int32_t Count, std::string_view Text) {
    CheckRun(Start, Count);
    for (size_t I = 0; I < Text.size(); ++I)
        if (Text[I] != '0' && Text[I] != '1')
            throw EConvertError(
                Format("\"%s\" is not a valid bit string: the character at index %i is not 0 or 1",
                       TextExcerpt(Text), static_cast<int>(I)));
    uint64_t* W = Words();
    const size_t Run = static_cast<size_t>(Count);
    const size_t Given = Text.size() < Run ? Text.size() : Run;
    for (size_t I = 0; I < Given; I += 64) {
        const unsigned N = static_cast<unsigned>(Given - I < 64 ? Given - I : 64);
        uint64_t V = 0;
        for (unsigned J = 0; J < N; ++J)
            V |= static_cast<uint64_t>(Text[I + J] - '0') << J;
        bitwords::Insert(W, static_cast<size_t>(Start) + I, N, V);
    }
    bitwords::Fill(W, static_cast<size_t>(Start) + Given, static_cast<size_t>(Start) + Run, false);
}

std::string TKvEncodedBits::ToBitString() const {
    return GetAsBitString(0, GetSize());
}

std::string TKvEncodedBits::ToString() const {
    return ToBitString();
}

} // namespace kv
