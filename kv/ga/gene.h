// TKvGAGene: one typed field of the chromosome, a collection item of a TKvGAGenes genotype.
//
// A gene holds no value. It describes a run of Size bits starting at Offset (the genotype lays its
// genes end to end and keeps Offset current) and converts between that run of a bit string and a
// typed value: boolean, 32- or 64-bit integer, single or double, or one text of its Enumerations
// list (entry i is coded as the number i). MinValue/MaxValue bound the values written; values read
// are returned as they are.
//
// Default range (RecalcMinMax, run after every change of GeneType, PreserveSignBit or Size), with
// n = Size - 1 when PreserveSignBit, else n = Size:
//   gtInteger, gtFloat    0 .. 2^n - 1, or -2^n .. 2^n - 1 with PreserveSignBit
//   gtEnumeration         0 .. entries - 1
//   gtUnknown, gtBoolean  unchanged
// Writing one bound moves the other (neither writer reports a change; C = entries of the list):
//   SetMaxValue(V)  integer/float: when V - MinValue < 2^(Size+1), MinValue := V - 2^Size;
//                   enumeration: when V - MinValue <= C, MinValue := V - C; then, unless the gene
//                   is boolean or signed, a negative MinValue is raised to 0.
//   SetMinValue(V)  integer/float: when MaxValue - V > 2^Size - 1 or MaxValue < V,
//                   MaxValue := 2^Size + V - 1; enumeration: MaxValue := C + V - 1.
// So the final range depends on the order of the writes. Changing the Enumerations of an enumerated
// gene sets Size to BitsRequired(entries) (a list of 4 entries gives 3 bits).
//
// Reading and writing
//   GeneAs...(Bits[, Offset]) / SetGeneAs...(Bits[, Offset], Value) work on any bit string; without
//   Offset the gene's own Offset is used. Numeric access first sets Bits.PreserveSignBit to the
//   gene's PreserveSignBit (enumerations set it to false), so these take the bit string by
//   non-const reference. Writes clamp: integers to the rounded bounds (halves to even, saturated to
//   the integer type), compared in integer arithmetic (a 64-bit value is never rounded through a
//   double), and then to what the run holds (0 .. 2^Size - 1, or -2^(Size-1) .. 2^(Size-1) - 1
//   signed), so a value never wraps around the run: INT64_MAX written into an unsigned 60-bit gene
//   reads back 2^60 - 1 although its MaxValue, a double, is 2^60. Floats clamp to the bounds (a
//   NaN becomes MinValue) and the bit string saturates them to the run; enumerations look the text
//   up ignoring case. The layout of each type in the run is that of TKvEncodedBits.
//   GetAs...(Index) / SetAs...(Index, Value) / AsString(Index) reach the chromosome of individual
//   Index of the population of the engine that owns the gene's genotype.
//
// Real values on an interval (integer genes)
//   An integer gene may carry a real interval [RealLow, RealHigh] (SetRealInterval, which also
//   sets UseRealInterval; a new gene has none, and [0, 1] as its bounds). Its n = Size bits then
//   hold a code k read unsigned, and GeneAsReal decodes it to RealLow + k (RealHigh - RealLow) /
//   (2^n - 1): code 0 is RealLow, code 2^n - 1 is RealHigh, and the codes between are evenly
//   spaced. SetGeneAsReal writes the code nearest to the value (halves to even), clamped to the
//   interval (a NaN writes RealLow); MinValue, MaxValue and PreserveSignBit play no part, and
//   GeneAsInteger still reads the raw bits. With GrayCode the bits hold the reflected binary Gray
//   code of k (k xor k / 2), so that neighbouring values differ in one bit; GrayCode changes only
//   the real access. AsString of such a gene of 1 to 64 bits gives the real value. The
//   interval, like the other limits, is the gene's description: genes, documents and Assign carry
//   it (see persistence.h for the optional elements).
//
// Change reports: SetName, SetGeneType and Assign report an item change to the genotype; SetSize
// calls SizeChange, which re-lays the genes after this one and lets the engine grow its
// chromosomes.
//
// Ownership: the gene owns its Enumerations list (created on first access, whatever the type).
//
// Errors (kv::EGAException unless noted; nothing is changed when one is raised)
//   "No enumerated value found in chromosome"      an enumerated read whose code names no entry
//   "\"<text>\" is not a valid enumerated value"   an enumerated write of an unknown text
//   a negative Size, naming it; a Size that would put the genotype beyond 2^31 - 1 bits
//   GetAs.../SetAs.../AsString(Index) on a gene outside an engine's genotype
//   GeneAsReal/SetGeneAsReal on a gene that is not an integer gene with a real interval, or whose
//   Size is not 1 to 64 (naming the gene); SetRealInterval with bounds that are not finite or
//   not increasing, or whose span overflows (naming them)
//   EListError: an Index outside the population; a run outside the bit string (TKvEncodedBits)
//   EConvertError: Assign from an object that is not a gene
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kv/common/encoded_bits.h"
#include "kv/rtl/collection.h"
#include "kv/rtl/strings.h"
#include "kv/vocabulary/ga_types.h"

namespace kv {

class TKvGAGenes;

class TKvGAGene : public TCollectionItem {
public:
    TKvGAGene() = default;
    ~TKvGAGene() override;

    std::string ClassName() const override { return "TKvGAGene"; }

    // Copies GeneType, Name, Size, the enumeration texts (enumerated genes only; otherwise the
    // list is dropped), MaxValue, MinValue and PreserveSignBit; reports an item change. Offset
    // stays. When Size changed, the genes after this one move and the engine hears of it.
    void Assign(const TPersistent* Source) override;
    // Name, or the class name when Name is empty.
    std::string GetDisplayName() const override;

    // The genotype the gene belongs to, or nullptr.
    TKvGAGenes* GetCollection() const noexcept;

    const std::string& GetName() const noexcept { return FName; }
    void SetName(const std::string& Value);
    int32_t GetSize() const noexcept { return FSize; }
    void SetSize(int32_t Value);
    TGeneType GetGeneType() const noexcept { return FGeneType; }
    void SetGeneType(TGeneType Value);
    int32_t GetOffset() const noexcept { return FOffset; }
    bool GetPreserveSignBit() const noexcept { return FPreserveSignBit; }
    void SetPreserveSignBit(bool Value);
    double GetMinValue() const noexcept { return FMinValue; }
    void SetMinValue(double Value);
    double GetMaxValue() const noexcept { return FMaxValue; }
    void SetMaxValue(double Value);
    // The enumeration list, created (empty) on first access.
    TStrings* GetEnumerations();
    const TStrings* GetEnumerations() const;
    // Copies the texts of Value into the list (one change of the list).
    void SetEnumerations(const TStrings* Value);

    // The real interval (see the class comment).
    bool GetUseRealInterval() const noexcept { return FUseRealInterval; }
    void SetUseRealInterval(bool Value) noexcept { FUseRealInterval = Value; }
    double GetRealLow() const noexcept { return FRealLow; }
    double GetRealHigh() const noexcept { return FRealHigh; }
    // Stores the bounds and sets UseRealInterval. EGAException unless both are finite, Low < High
    // and High - Low is finite; nothing is changed then.
    void SetRealInterval(double Low, double High);
    bool GetGrayCode() const noexcept { return FGrayCode; }
    void SetGrayCode(bool Value) noexcept { FGrayCode = Value; }

    bool IsEnumeration() const noexcept { return FGeneType == gtEnumeration; }
    // Recomputes the default range (see the class comment).
    void RecalcMinMax();

    // Typed reads of the gene's run in Bits (at Offset, or the gene's own Offset).
    bool GeneAsBoolean(TKvEncodedBits& Bits) const { return GeneAsBoolean(Bits, FOffset); }
    bool GeneAsBoolean(TKvEncodedBits& Bits, int32_t Offset) const;
    int32_t GeneAsInteger(TKvEncodedBits& Bits) const { return GeneAsInteger(Bits, FOffset); }
    int32_t GeneAsInteger(TKvEncodedBits& Bits, int32_t Offset) const;
    int64_t GeneAsInt64(TKvEncodedBits& Bits) const { return GeneAsInt64(Bits, FOffset); }
    int64_t GeneAsInt64(TKvEncodedBits& Bits, int32_t Offset) const;
    float GeneAsFloat(TKvEncodedBits& Bits) const { return GeneAsFloat(Bits, FOffset); }
    float GeneAsFloat(TKvEncodedBits& Bits, int32_t Offset) const;
    double GeneAsDouble(TKvEncodedBits& Bits) const { return GeneAsDouble(Bits, FOffset); }
    double GeneAsDouble(TKvEncodedBits& Bits, int32_t Offset) const;
    std::string GeneAsEnumeration(TKvEncodedBits& Bits) const {
        return GeneAsEnumeration(Bits, FOffset);
    }
    std::string GeneAsEnumeration(TKvEncodedBits& Bits, int32_t Offset) const;
    // The code of the gene's run mapped onto its real interval.
    double GeneAsReal(TKvEncodedBits& Bits) const { return GeneAsReal(Bits, FOffset); }
    double GeneAsReal(TKvEncodedBits& Bits, int32_t Offset) const;

    // Typed writes; the forms without Offset call the virtual forms with the gene's Offset.
    void SetGeneAsBoolean(TKvEncodedBits& Bits, bool Value) {
        SetGeneAsBoolean(Bits, FOffset, Value);
    }
    virtual void SetGeneAsBoolean(TKvEncodedBits& Bits, int32_t Offset, bool Value);
    void SetGeneAsInteger(TKvEncodedBits& Bits, int32_t Value) {
        SetGeneAsInteger(Bits, FOffset, Value);
    }
    virtual void SetGeneAsInteger(TKvEncodedBits& Bits, int32_t Offset, int32_t Value);
    void SetGeneAsInt64(TKvEncodedBits& Bits, int64_t Value) {
        SetGeneAsInt64(Bits, FOffset, Value);
    }
    virtual void SetGeneAsInt64(TKvEncodedBits& Bits, int32_t Offset, int64_t Value);
    void SetGeneAsFloat(TKvEncodedBits& Bits, float Value) { SetGeneAsFloat(Bits, FOffset, Value); }
    virtual void SetGeneAsFloat(TKvEncodedBits& Bits, int32_t Offset, float Value);
    void SetGeneAsDouble(TKvEncodedBits& Bits, double Value) {
        SetGeneAsDouble(Bits, FOffset, Value);
    }
    virtual void SetGeneAsDouble(TKvEncodedBits& Bits, int32_t Offset, double Value);
    void SetGeneAsEnumeration(TKvEncodedBits& Bits, const std::string& Value) {
        SetGeneAsEnumeration(Bits, FOffset, Value);
    }
    virtual void SetGeneAsEnumeration(TKvEncodedBits& Bits, int32_t Offset,
                                      const std::string& Value);
    // Writes the code nearest to Value on the gene's real interval.
    void SetGeneAsReal(TKvEncodedBits& Bits, double Value) { SetGeneAsReal(Bits, FOffset, Value); }
    virtual void SetGeneAsReal(TKvEncodedBits& Bits, int32_t Offset, double Value);

    // The gene's value in the chromosome of individual Index of its engine's population.
    bool GetAsBoolean(int Index) const { return GeneAsBoolean(ChromosomeOf(Index)); }
    int32_t GetAsInteger(int Index) const { return GeneAsInteger(ChromosomeOf(Index)); }
    int64_t GetAsInt64(int Index) const { return GeneAsInt64(ChromosomeOf(Index)); }
    float GetAsFloat(int Index) const { return GeneAsFloat(ChromosomeOf(Index)); }
    double GetAsDouble(int Index) const { return GeneAsDouble(ChromosomeOf(Index)); }
    std::string GetAsEnumeration(int Index) const { return GeneAsEnumeration(ChromosomeOf(Index)); }
    double GetAsReal(int Index) const { return GeneAsReal(ChromosomeOf(Index)); }
    void SetAsBoolean(int Index, bool Value) { SetGeneAsBoolean(ChromosomeOf(Index), Value); }
    void SetAsInteger(int Index, int32_t Value) { SetGeneAsInteger(ChromosomeOf(Index), Value); }
    void SetAsInt64(int Index, int64_t Value) { SetGeneAsInt64(ChromosomeOf(Index), Value); }
    void SetAsFloat(int Index, float Value) { SetGeneAsFloat(ChromosomeOf(Index), Value); }
    void SetAsDouble(int Index, double Value) { SetGeneAsDouble(ChromosomeOf(Index), Value); }
    void SetAsEnumeration(int Index, const std::string& Value) {
        SetGeneAsEnumeration(ChromosomeOf(Index), Value);
    }
    void SetAsReal(int Index, double Value) { SetGeneAsReal(ChromosomeOf(Index), Value); }

    // The value as text: "True"/"False", decimal integer (the real value, in the float format,
    // for an integer gene with a real interval), a float in the general format with 15
    // significant digits, the enumeration text, or (gtUnknown) the run as a bit string.
    std::string AsString(TKvEncodedBits& Bits) const;
    std::string AsString(int Index) const { return AsString(ChromosomeOf(Index)); }

protected:
    // Reaction to a new Size: RecalcMinMax, then the genotype re-lays the genes after this one.
    virtual void SizeChange();
    // Reaction to a change of the enumeration list: an enumerated gene takes
    // BitsRequired(entries) bits.
    virtual void EnumerationsChange(TObject* Sender);

private:
    // Raises when the owning engine evaluates in parallel and this is one of its workers.
    void CheckEngineChange(const char* Operation) const;
    friend class TKvGAGenes;
    // A checkpoint restores a gene's range exactly as it was (the writers would recompute it).
    friend class TKvCustomGeneticAlgorithm;

    void SetOffset(int32_t Value) noexcept { FOffset = Value; }
    // The chromosome of individual Index of the engine's population; EGAException outside an
    // engine, EListError for an Index outside the population.
    TKvEncodedBits& ChromosomeOf(int Index) const;
    TStringList* EnsureEnumerations() const;
    // Raises EGAException unless the real access applies (see the class comment).
    void CheckRealAccess() const;

    std::string FName;
    int32_t FSize = 0;
    TGeneType FGeneType = gtUnknown;
    int32_t FOffset = 0;
    mutable std::unique_ptr<TStringList> FEnumerations;
    double FMaxValue = 0;
    double FMinValue = 0;
    bool FPreserveSignBit = false;
    bool FUseRealInterval = false;
    bool FGrayCode = false;
    double FRealLow = 0;
    double FRealHigh = 1;
};

using TKvGAGeneClass = TItemClassOf<TKvGAGene>;

} // namespace kv
