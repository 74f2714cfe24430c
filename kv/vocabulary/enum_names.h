// Conversion between the members of the library's enumerations and their identifiers.
//
// Each enumeration E that takes part specialises TEnumInfo<E> with its type name and its
// identifiers in ordinal order. The identifiers are also the text under which enumerated settings
// are stored, so they are exact ("smElitist"); reading them back ignores ASCII case.
//   EnumToIdent(Value)      the identifier; EConvertError naming the ordinal if Value is no member
//   TryIdentToEnum<E>(Text) the member whose identifier equals Text ignoring case, or nullopt
//   IdentToEnum<E>(Text)    the same, raising EConvertError naming the text and the type when none
//                           matches
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "kv/rtl/text.h"

namespace kv {

// Specialised per enumeration: static constexpr const char* TypeName and
// static constexpr const char* Names[] (one per ordinal).
template <class E>
struct TEnumInfo;

// Raises EConvertError "\"<Text>\" is not a valid <TypeName> identifier".
[[noreturn]] void RaiseInvalidIdent(std::string_view Text, const char* TypeName);

template <class E>
std::string EnumToIdent(E Value) {
    return OrdinalToIdent(std::span<const char* const>(TEnumInfo<E>::Names),
                          static_cast<int>(Value));
}

template <class E>
std::optional<E> TryIdentToEnum(std::string_view Text) noexcept {
    const int Ordinal = IdentToOrdinal(std::span<const char* const>(TEnumInfo<E>::Names), Text);
    if (Ordinal < 0)
        return std::nullopt;
    return static_cast<E>(Ordinal);
}

template <class E>
E IdentToEnum(std::string_view Text) {
    if (std::optional<E> Value = TryIdentToEnum<E>(Text))
        return *Value;
    RaiseInvalidIdent(Text, TEnumInfo<E>::TypeName);
}

} // namespace kv
