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
#include <variant>

#include "kv/rtl/currency.h"

namespace kv {

enum TVarType { varEmpty, varInteger, varInt64, varDouble, varBoolean, varCurrency, varString };

// "Empty", "Integer", "Int64", "Double", "Boolean", "Currency", "String".
const char* VarTypeName(TVarType Type) noexcept;

class Variant {
public:
    // The alternatives are in TVarType order, so Value().index() is the TVarType.
    using TValue =
        std::variant<std::monostate, int32_t, int64_t, double, bool, Currency, std::string>;

    Variant() noexcept = default;
    Variant(bool V) : FValue(V) {}
    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char> && !std::same_as<T, wchar_t> &&
             !std::same_as<T, char8_t> && !std::same_as<T, char16_t> &&
             !std::same_as<T, char32_t> && !(std::is_unsigned_v<T> && sizeof(T) >= sizeof(int64_t)))
        Variant(T V)
        : FValue(Stored(V)) {}
    template <std::floating_point T>
    Variant(T V) : FValue(static_cast<double>(V)) {}
    Variant(Currency V) : FValue(V) {}
    Variant(char C) : FValue(std::string(1, C)) {}
    Variant(const char* S) : FValue(std::string(S != nullptr ? S : "")) {}
    Variant(std::string_view S) : FValue(std::string(S)) {}
    Variant(std::string S) : FValue(std::move(S)) {}

    TVarType VarType() const noexcept { return static_cast<TVarType>(FValue.index()); }
    bool IsEmpty() const noexcept { return FValue.index() == 0; }
    // The stored value, for std::visit and std::get_if.
    const TValue& Value() const noexcept { return FValue; }

    int32_t AsInteger() const;
    int64_t AsInt64() const;
    double AsDouble() const;
    bool AsBoolean() const;
    Currency AsCurrency() const;
    std::string AsString() const;

    // Makes the variant empty.
    void Clear() noexcept { FValue = std::monostate{}; }

    friend bool operator==(const Variant& A, const Variant& B) noexcept {
        return A.FValue == B.FValue;
    }

private:
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
