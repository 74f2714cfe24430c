#include "kv/ga/gene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "kv/ga/bits.h"
#include "kv/ga/engine.h"
#include "kv/ga/genes.h"
#include "kv/rtl/convert.h"
#include "kv/rtl/exceptions.h"
#include "kv/vocabulary/ga_exceptions.h"
#include "kv/vocabulary/ga_messages.h"

namespace kv {

namespace {

// 2 to the power N, in floating point (N may be negative or very large).
double Pow2(int32_t N) noexcept {
    return std::ldexp(1.0, N);
}

// A bound rounded to the nearest integer of type T (halves to even) and saturated to T's range,
// so that a bound beyond the type's range (or infinite) never makes an undefined conversion.
template <class T>
T RoundedBound(double Value) noexcept {
    constexpr double Lowest = static_cast<double>(std::numeric_limits<T>::min());
    // The upper limit as a double is 2^31 or 2^63, one above the largest value of T.
    constexpr double AboveHighest = -Lowest;
    if (std::isnan(Value))
        return 0;
    const double R = RoundHalfEven(std::isinf(Value) ? (Value > 0 ? AboveHighest : Lowest) : Value);
    if (R >= AboveHighest)
        return std::numeric_limits<T>::max();
    if (R <= Lowest)
        return std::numeric_limits<T>::min();
    return static_cast<T>(R);
}

// The integer written into a run of Size bits (signed when Signed) for Value: below MinValue it
// becomes MinValue rounded, else above MaxValue it becomes MaxValue rounded (a NaN bound bounds
// nothing), all in integer arithmetic, so that a 64-bit value is compared exactly and not through
// a double. The result is then saturated to what the run holds (0 .. 2^Size - 1, or
// -2^(Size-1) .. 2^(Size-1) - 1), so that a bound that rounds past the run (MaxValue 2^60 - 1 is
// the double 2^60) never wraps around to the other end of it.
template <class T>
T ClampedValue(T Value, double MinValue, double MaxValue, int32_t Size, bool Signed) noexcept {
    if (!std::isnan(MinValue) && Value < RoundedBound<T>(MinValue))
        Value = RoundedBound<T>(MinValue);
    else if (!std::isnan(MaxValue) && Value > RoundedBound<T>(MaxValue))
        Value = RoundedBound<T>(MaxValue);
    if (Size <= 0)
        return Value; // a run of no bits stores nothing
    T Low = Signed ? std::numeric_limits<T>::min() : 0;
    T High = std::numeric_limits<T>::max();
    const int Width = Signed ? Size - 1 : Size; // the run's magnitude bits
    if (Width < std::numeric_limits<T>::digits) {
        High = static_cast<T>((T(1) << Width) - 1);
        if (Signed)
            Low = static_cast<T>(-High - 1);
    }
    return Value < Low ? Low : (Value > High ? High : Value);
}

} // namespace

TKvGAGene::~TKvGAGene() {
    // Leave the genotype while still a whole gene, so that its re-layout can read this gene.
    if (TCollectionItem::GetCollection() != nullptr) {
        try {
            TCollectionItem::SetCollection(nullptr);
        } catch (...) {
            // A destructor cannot report the hook's failure; the base destructor unlists the gene.
        }
    }
}

TKvGAGenes* TKvGAGene::GetCollection() const noexcept {
    return dynamic_cast<TKvGAGenes*>(TCollectionItem::GetCollection());
}

std::string TKvGAGene::GetDisplayName() const {
    return FName.empty() ? TCollectionItem::GetDisplayName() : FName;
}

void TKvGAGene::Assign(const TPersistent* Source) {
    const auto* S = dynamic_cast<const TKvGAGene*>(Source);
    if (S == nullptr) {
        TCollectionItem::Assign(Source);
        return;
    }
    const int32_t OldSize = FSize;
    FGeneType = S->FGeneType;
    FName = S->FName;
    FSize = S->FSize;
    if (IsEnumeration())
        EnsureEnumerations()->Assign(S->EnsureEnumerations()); // may set Size through SetSize
    else
        FEnumerations.reset();
    FMaxValue = S->FMaxValue;
    FMinValue = S->FMinValue;
    FPreserveSignBit = S->FPreserveSignBit;
    FUseRealInterval = S->FUseRealInterval;
    FGrayCode = S->FGrayCode;
    FRealLow = S->FRealLow;
    FRealHigh = S->FRealHigh;
    Changed(false);
    // A copied Size must not leave the genes after this one overlapping it: re-lay them (and let
    // the engine grow its chromosomes) as a size change would, without touching the copied range.
    if (FSize != OldSize) {
        if (TKvGAGenes* Genes = GetCollection())
            Genes->SizeChange(GetIndex());
    }
}

void TKvGAGene::CheckEngineChange(const char* Operation) const {
    if (const TKvGAGenes* Genes = GetCollection())
        Genes->CheckChange(Operation);
}

void TKvGAGene::SetName(const std::string& Value) {
    CheckEngineChange("Gene.SetName");
    if (Value == FName)
        return;
    FName = Value;
    Changed(false);
}

void TKvGAGene::SetSize(int32_t Value) {
    CheckEngineChange("Gene.SetSize");
    if (Value < 0)
        throw EGAException(Format("Gene size must not be negative: %i", Value));
    if (Value == FSize)
        return;
    if (TKvGAGenes* Genes = GetCollection()) {
        // The genotype's end after the change: this gene's new end plus the genes after it.
        int64_t End = int64_t(FOffset) + Value;
        for (int I = GetIndex() + 1; I < Genes->GetCount(); ++I)
            End += Genes->GetItem(I)->GetSize();
        if (End > std::numeric_limits<int32_t>::max())
            throw EGAException(
                Format("Gene size %i would make the genotype longer than 2147483647 bits", Value));
    }
    FSize = Value;
    SizeChange();
}

void TKvGAGene::SizeChange() {
    RecalcMinMax();
    if (TKvGAGenes* Genes = GetCollection())
        Genes->SizeChange(GetIndex());
}

void TKvGAGene::SetGeneType(TGeneType Value) {
    CheckEngineChange("Gene.SetGeneType");
    if (Value == FGeneType || Value < gtUnknown || Value > gtEnumeration)
        return;
    FGeneType = Value;
    RecalcMinMax();
    Changed(false);
}

void TKvGAGene::SetPreserveSignBit(bool Value) {
    CheckEngineChange("Gene.SetPreserveSignBit");
    if (Value == FPreserveSignBit)
        return;
    FPreserveSignBit = Value;
    RecalcMinMax();
}

void TKvGAGene::RecalcMinMax() {
    switch (FGeneType) {
    case gtInteger:
    case gtFloat: {
        const double Range = Pow2(FPreserveSignBit ? FSize - 1 : FSize);
        FMinValue = FPreserveSignBit ? -Range : 0.0;
        FMaxValue = Range - 1;
        break;
    }
    case gtEnumeration:
        FMinValue = 0;
        FMaxValue = EnsureEnumerations()->GetCount() - 1;
        break;
    default:
        break;
    }
}

void TKvGAGene::SetMaxValue(double Value) {
    CheckEngineChange("Gene.SetMaxValue");
    if (Value == FMaxValue)
        return;
    FMaxValue = Value;
    switch (FGeneType) {
    case gtInteger:
    case gtFloat:
        if (FMaxValue - FMinValue < Pow2(FSize) * 2)
            FMinValue = FMaxValue - Pow2(FSize);
        break;
    case gtEnumeration: {
        const double Count = EnsureEnumerations()->GetCount();
        if (!(FMaxValue - FMinValue > Count))
            FMinValue = FMaxValue - Count;
        break;
    }
    default:
        break;
    }
    if (FGeneType != gtBoolean && !FPreserveSignBit && FMinValue < 0)
        FMinValue = 0;
}

void TKvGAGene::SetMinValue(double Value) {
    CheckEngineChange("Gene.SetMinValue");
    if (Value == FMinValue)
        return;
    FMinValue = Value;
    switch (FGeneType) {
    case gtInteger:
    case gtFloat:
        if (FMaxValue - FMinValue > Pow2(FSize) - 1 || FMaxValue < FMinValue)
            FMaxValue = Pow2(FSize) + FMinValue - 1;
        break;
    case gtEnumeration:
        FMaxValue = EnsureEnumerations()->GetCount() + FMinValue - 1;
        break;
    default:
        break;
    }
}

TStringList* TKvGAGene::EnsureEnumerations() const {
    if (FEnumerations == nullptr) {
        // The list is a part of the gene; creating it on first access (also from a const reader)
        // does not change the gene's observable state.
        auto List = std::make_unique<TStringList>();
        TKvGAGene* Self = const_cast<TKvGAGene*>(this);
        List->SetOnChange([Self](TObject* Sender) { Self->EnumerationsChange(Sender); });
        FEnumerations = std::move(List);
    }
    return FEnumerations.get();
}

TStrings* TKvGAGene::GetEnumerations() {
    return EnsureEnumerations();
}

const TStrings* TKvGAGene::GetEnumerations() const {
    return EnsureEnumerations();
}

void TKvGAGene::SetEnumerations(const TStrings* Value) {
    CheckEngineChange("Gene.SetEnumerations");
    EnsureEnumerations()->Assign(Value);
}

void TKvGAGene::EnumerationsChange(TObject* /*Sender*/) {
    if (IsEnumeration())
        SetSize(BitsRequired(static_cast<uint32_t>(EnsureEnumerations()->GetCount())));
}

// ---- reading ----

bool TKvGAGene::GeneAsBoolean(TKvEncodedBits& Bits, int32_t Offset) const {
    return Bits.GetAsBoolean(Offset, FSize);
}

int32_t TKvGAGene::GeneAsInteger(TKvEncodedBits& Bits, int32_t Offset) const {
    Bits.PreserveSignBit = FPreserveSignBit;
    return Bits.GetAsInteger(Offset, FSize);
}

int64_t TKvGAGene::GeneAsInt64(TKvEncodedBits& Bits, int32_t Offset) const {
    Bits.PreserveSignBit = FPreserveSignBit;
    return Bits.GetAsInt64(Offset, FSize);
}

float TKvGAGene::GeneAsFloat(TKvEncodedBits& Bits, int32_t Offset) const {
    Bits.PreserveSignBit = FPreserveSignBit;
    return Bits.GetAsFloat(Offset, FSize);
}

double TKvGAGene::GeneAsDouble(TKvEncodedBits& Bits, int32_t Offset) const {
    Bits.PreserveSignBit = FPreserveSignBit;
    return Bits.GetAsDouble(Offset, FSize);
}

std::string TKvGAGene::GeneAsEnumeration(TKvEncodedBits& Bits, int32_t Offset) const {
    Bits.PreserveSignBit = false;
    const int32_t Code = Bits.GetAsInteger(Offset, FSize);
    const TStringList* List = EnsureEnumerations();
    if (Code < 0 || Code >= List->GetCount())
        throw EGAException(SNoEnumerationFound);
    return List->GetString(Code);
}

// ---- writing ----

void TKvGAGene::SetGeneAsBoolean(TKvEncodedBits& Bits, int32_t Offset, bool Value) {
    Bits.SetAsBoolean(Offset, FSize, Value);
}

void TKvGAGene::SetGeneAsInteger(TKvEncodedBits& Bits, int32_t Offset, int32_t Value) {
    Value = ClampedValue(Value, FMinValue, FMaxValue, FSize, FPreserveSignBit);
    Bits.PreserveSignBit = FPreserveSignBit;
    Bits.SetAsInteger(Offset, FSize, Value);
}

void TKvGAGene::SetGeneAsInt64(TKvEncodedBits& Bits, int32_t Offset, int64_t Value) {
    Value = ClampedValue(Value, FMinValue, FMaxValue, FSize, FPreserveSignBit);
    Bits.PreserveSignBit = FPreserveSignBit;
    Bits.SetAsInt64(Offset, FSize, Value);
}

void TKvGAGene::SetGeneAsFloat(TKvEncodedBits& Bits, int32_t Offset, float Value) {
    if (std::isnan(Value) || Value < FMinValue)
        Value = SaturateToSingle(FMinValue);
    else if (Value > FMaxValue)
        Value = SaturateToSingle(FMaxValue);
    Bits.PreserveSignBit = FPreserveSignBit;
    Bits.SetAsFloat(Offset, FSize, Value);
}

void TKvGAGene::SetGeneAsDouble(TKvEncodedBits& Bits, int32_t Offset, double Value) {
    if (std::isnan(Value) || Value < FMinValue)
        Value = FMinValue;
    else if (Value > FMaxValue)
        Value = FMaxValue;
    Bits.PreserveSignBit = FPreserveSignBit;
    Bits.SetAsDouble(Offset, FSize, Value);
}

void TKvGAGene::SetGeneAsEnumeration(TKvEncodedBits& Bits, int32_t Offset,
                                     const std::string& Value) {
    const int Code = EnsureEnumerations()->IndexOf(Value);
    if (Code < 0)
        throw EGAException(Format(SValueNotEnumeration, Value));
    Bits.PreserveSignBit = false;
    Bits.SetAsInteger(Offset, FSize, Code);
}

// ---- real values on an interval ----

void TKvGAGene::SetRealInterval(double Low, double High) {
    if (!std::isfinite(Low) || !std::isfinite(High) || !(Low < High) || !std::isfinite(High - Low))
        throw EGAException(Format("The real interval [%s, %s] of gene \"%s\" is not an interval "
                                  "of finite bounds, the lower below the upper",
                                  FloatToStr(Low), FloatToStr(High), GetDisplayName()));
    FRealLow = Low;
    FRealHigh = High;
    FUseRealInterval = true;
}

void TKvGAGene::CheckRealAccess() const {
    if (FGeneType != gtInteger || !FUseRealInterval)
        throw EGAException(Format("The gene \"%s\" has no real interval: give an integer gene "
                                  "one with SetRealInterval",
                                  GetDisplayName()));
    if (FSize < 1 || FSize > 64)
        throw EGAException(Format("The gene \"%s\" has %i bits: a real interval needs a gene of 1 "
                                  "to 64 bits",
                                  GetDisplayName(), FSize));
}

double TKvGAGene::GeneAsReal(TKvEncodedBits& Bits, int32_t Offset) const {
    CheckRealAccess();
    Bits.PreserveSignBit = false;
    uint64_t Code = static_cast<uint64_t>(Bits.GetAsInt64(Offset, FSize));
    if (FGrayCode) {
        // The prefix xor of the Gray code gives the binary code back.
        for (unsigned Shift = 1; Shift < 64; Shift <<= 1)
            Code ^= Code >> Shift;
    }
    const uint64_t Top = FSize == 64 ? ~uint64_t(0) : (uint64_t(1) << FSize) - 1;
    if (Code >= Top)
        return FRealHigh;
    // The share of the span first: code times span could overflow for a wide gene and a span
    // near the largest double.
    const double Value =
        FRealLow + static_cast<double>(Code) / static_cast<double>(Top) * (FRealHigh - FRealLow);
    return std::min(Value, FRealHigh);
}

void TKvGAGene::SetGeneAsReal(TKvEncodedBits& Bits, int32_t Offset, double Value) {
    CheckRealAccess();
    const uint64_t Top = FSize == 64 ? ~uint64_t(0) : (uint64_t(1) << FSize) - 1;
    uint64_t Code = 0;
    if (Value >= FRealHigh) {
        Code = Top;
    } else if (Value > FRealLow) { // a NaN fails both tests and writes code 0, RealLow
        const double Scaled =
            RoundHalfEven((Value - FRealLow) / (FRealHigh - FRealLow) * static_cast<double>(Top));
        // Top as a double may round up to 2^64, which no code reaches.
        Code = Scaled >= static_cast<double>(Top) ? Top : static_cast<uint64_t>(Scaled);
    }
    if (FGrayCode)
        Code ^= Code >> 1;
    Bits.PreserveSignBit = false;
    Bits.SetAsInt64(Offset, FSize, static_cast<int64_t>(Code));
}

std::string TKvGAGene::AsString(TKvEncodedBits& Bits) const {
    switch (FGeneType) {
    case gtBoolean:
        return GeneAsBoolean(Bits) ? "True" : "False";
    case gtInteger:
        if (FUseRealInterval && FSize >= 1 && FSize <= 64)
            return FloatToStr(GeneAsReal(Bits));
        return IntToStr(GeneAsInteger(Bits));
    case gtFloat:
        return FloatToStr(static_cast<double>(GeneAsFloat(Bits)));
    case gtEnumeration:
        return GeneAsEnumeration(Bits);
    default:
        return Bits.GetAsBitString(FOffset, FSize);
    }
}

TKvEncodedBits& TKvGAGene::ChromosomeOf(int Index) const {
    const TKvGAGenes* Genes = GetCollection();
    TKvCustomGeneticAlgorithm* Engine = Genes != nullptr ? Genes->GetOwner() : nullptr;
    if (Engine == nullptr)
        throw EGAException(Format("The gene \"%s\" belongs to no genetic algorithm: it has no "
                                  "value in individual %i",
                                  GetDisplayName(), Index));
    return *Engine->GetPopulation()->GetItem(Index)->GetBits();
}

} // namespace kv
