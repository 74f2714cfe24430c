// Variant: a tagged value with copy semantics, as held by the execution stack.
//
// Kinds (TVarType): varEmpty (nothing), varInteger (int32_t), varInt64 (int64_t), varDouble,
// varBoolean, varCurrency (Currency, a 64-bit integer scaled by 10000) and varString (UTF-8
// std::string). A Variant is built implicitly from the matching C++ values: bool -> varBoolean;
// integer types of up to 32 bits that fit int32_t -> varInteger; other integers up to 64 bits
// (uint64_t excluded, it does not fit) -> varInt64; float/double -> varDouble; char, C strings,
// std::string and std::string_view -> varString; Currency -> varCurrency.
//
// Comparison (==) is exact: same kind and same value (Variant(1) != Variant(int64_t(1)) and
// != Variant("1")).
//
// Conversions
//   VarToStr / AsString: empty -> ""; integers in decimal; doubles by FloatToStr (general format,
//   15 significant digits, '.' separator); booleans "True"/"False"; currency by CurrToStr (up to
//   four decimals); strings as they are. AsInteger / AsInt64 / AsDouble / AsBoolean / AsCurrency
//   convert like the host's variants: empty is 0 / false; true is 1, false 0; doubles and currency
//   round to integers halves to even; strings are parsed (StrToInt64, StrToFloat, StrToBool). A
//   value that cannot be converted or does not fit raises EConvertError "Could not convert variant
//   of type (<from>) into type (<to>): <value text>".
#pragma once

#include <concepts>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "kv/rtl/currency.h"

namespace kv {

enum TVarType { varEmpty, varInteger, varInt64, varDouble, varBoolean, varCurrency, varString };

// "Empty", "Integer", "Int64", "Double", "Boolean", "Currency", "String".
const char* VarTypeName(TVarType Type) noexcept;

// The C++ numbers a Variant holds as numbers: bool, the integer types that fit int64_t (except
// the character types, which make strings) and the floating-point types.
template <class T>
concept VariantInteger =
    std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char> &&
    !std::same_as<T, wchar_t> && !std::same_as<T, char8_t> && !std::same_as<T, char16_t> &&
    !std::same_as<T, char32_t> && !(std::is_unsigned_v<T> && sizeof(T) >= sizeof(int64_t));
template <class T>
concept VariantNumber = std::same_as<T, bool> || VariantInteger<T> || std::floating_point<T>;

class Variant {
public:
    // The alternatives are in TVarType order, so Value().index() is the TVarType.
    using TValue =
        std::variant<std::monostate, int32_t, int64_t, double, bool, Currency, std::string>;

    Variant() noexcept = default;
    Variant(bool V) : FValue(V) {}
    template <VariantInteger T>
    Variant(T V) : FValue(Stored(V)) {}
    template <std::floating_point T>
    Variant(T V) : FValue(static_cast<double>(V)) {}
    Variant(Currency V) : FValue(V) {}
    Variant(char C) : FValue(std::string(1, C)) {}
    Variant(const char* S) : FValue(std::string(S != nullptr ? S : "")) {}
    Variant(std::string_view S) : FValue(std::string(S)) {}
    Variant(std::string S) : FValue(std::move(S)) {}

    // Copying and moving test for the numeric kinds first and copy them without going through
    // std::variant's generic (table-driven) copy; strings and the rest take the generic path. A
    // moved-from Variant keeps its kind (a moved-from string is empty).
    Variant(const Variant& Other) : FValue(Copied(Other.FValue)) {}
    Variant(Variant&& Other) noexcept : FValue(Copied(std::move(Other.FValue))) {}
    Variant& operator=(const Variant& Other) {
        if (this != &Other)
            Take(Other.FValue);
        return *this;
    }
    Variant& operator=(Variant&& Other) noexcept {
        if (this != &Other)
            Take(std::move(Other.FValue));
        return *this;
    }
    ~Variant() = default;
    // Stores a number as the constructor from it would, without a temporary Variant.
    template <VariantNumber T>
    Variant& operator=(T V) noexcept {
        if constexpr (std::same_as<T, bool>)
            Set<varBoolean>(V);
        else if constexpr (std::floating_point<T>)
            Set<varDouble>(static_cast<double>(V));
        else if constexpr (std::same_as<decltype(Stored(V)), int32_t>)
            Set<varInteger>(Stored(V));
        else
            Set<varInt64>(Stored(V));
        return *this;
    }

    TVarType VarType() const noexcept { return static_cast<TVarType>(FValue.index()); }
    bool IsEmpty() const noexcept { return FValue.index() == 0; }
    // The stored value, for std::visit and std::get_if.
    const TValue& Value() const noexcept { return FValue; }

    // The conversions of a value already of the asked kind are inline (a stack machine's
    // instructions call them once per operand); the others are out of line.
    int32_t AsInteger() const {
        if (const int32_t* I = std::get_if<int32_t>(&FValue))
            return *I;
        return ConvertToInteger();
    }
    int64_t AsInt64() const {
        if (const int32_t* I = std::get_if<int32_t>(&FValue))
            return *I;
        if (const int64_t* I = std::get_if<int64_t>(&FValue))
            return *I;
        return ConvertToInt64();
    }
    double AsDouble() const {
        if (const double* D = std::get_if<double>(&FValue))
            return *D;
        return ConvertToDouble();
    }
    bool AsBoolean() const {
        if (const bool* B = std::get_if<bool>(&FValue))
            return *B;
        return ConvertToBoolean();
    }
    Currency AsCurrency() const;
    std::string AsString() const;

    // Makes the variant empty.
    void Clear() noexcept {
        const size_t Index = FValue.index();
        if (Index == varDouble)
            FValue.template emplace<varEmpty>(); // nothing to destroy, known here
        else if (Index != varEmpty)
            FValue = std::monostate{};
    }
    // Moves the value out and leaves this variant empty.
    Variant Extract() noexcept {
        const size_t Index = FValue.index();
        if (Index == varDouble) {
            const double D = *std::get_if<varDouble>(&FValue);
            FValue.template emplace<varEmpty>();
            return Variant(std::in_place_index<varDouble>, D);
        }
        if (Index == varInteger) {
            const int32_t I = *std::get_if<varInteger>(&FValue);
            FValue.template emplace<varEmpty>();
            return Variant(std::in_place_index<varInteger>, I);
        }
        Variant Result(std::move(*this));
        FValue.template emplace<varEmpty>();
        return Result;
    }

    friend bool operator==(const Variant& A, const Variant& B) noexcept {
        return A.FValue == B.FValue;
    }

private:
    template <size_t I, class T>
    Variant(std::in_place_index_t<I> Index, T V) noexcept : FValue(Index, V) {}

    // Source's value as a new TValue (copied from an lvalue, moved from an rvalue); numbers are
    // copied directly.
    template <class TSource>
    static TValue Copied(TSource&& Source) {
        const size_t Index = Source.index();
        if (Index == varDouble)
            return TValue(std::in_place_index<varDouble>, *std::get_if<varDouble>(&Source));
        if (Index == varInteger)
            return TValue(std::in_place_index<varInteger>, *std::get_if<varInteger>(&Source));
        if (Index == varInt64)
            return TValue(std::in_place_index<varInt64>, *std::get_if<varInt64>(&Source));
        return TValue(std::forward<TSource>(Source));
    }
    // Replaces FValue by Source's value (copied from an lvalue, moved from an rvalue).
    template <class TSource>
    void Take(TSource&& Source) {
        const size_t Index = Source.index();
        if (Index == varDouble)
            Set<varDouble>(*std::get_if<varDouble>(&Source));
        else if (Index == varInteger)
            Set<varInteger>(*std::get_if<varInteger>(&Source));
        else if (Index == varInt64)
            Set<varInt64>(*std::get_if<varInt64>(&Source));
        else
            FValue = std::forward<TSource>(Source);
    }
    // Stores the number V as alternative I. A value of the same kind or an empty one is replaced
    // in place, without std::variant's generic destruction of the old value.
    template <size_t I, class T>
    void Set(T V) noexcept {
        if (auto* Same = std::get_if<I>(&FValue))
            *Same = V;
        else if (FValue.index() == varEmpty)
            FValue.template emplace<I>(V);
        else
            FValue.template emplace<I>(V);
    }

    int32_t ConvertToInteger() const;
    int64_t ConvertToInt64() const;
    double ConvertToDouble() const;
    bool ConvertToBoolean() const;

    // The alternative an integer is held in: int32_t when every value of T fits, else int64_t.
    template <class T>
    static constexpr auto Stored(T V) noexcept {
        if constexpr (sizeof(T) < sizeof(int32_t) ||
                      (std::is_signed_v<T> && sizeof(T) == sizeof(int32_t)))
            return static_cast<int32_t>(V);
        else
            return static_cast<int64_t>(V);
    }

    TValue FValue;
};

// The text of V (see Conversions above).
std::string VarToStr(const Variant& V);

// Writes VarToStr(V).
std::ostream& operator<<(std::ostream& Out, const Variant& V);
// Writes the kind and the text, e.g. "Integer 1" or "String \"1\"" (used by test frameworks).
void PrintTo(const Variant& V, std::ostream* Out);

} // namespace kv
