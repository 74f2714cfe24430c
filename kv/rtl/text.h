// Text helpers shared by every layer: ASCII case-insensitive comparison and the conversion between
// an enumeration's identifiers and its ordinals.
//
// An enumeration's identifiers are given as a table indexed by ordinal ({"gtUnknown", "gtBoolean",
// ...}). Looking an identifier up ignores ASCII case and reports "not found" as -1; the caller
// decides whether that is an error.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kv {

// True when A and B are equal ignoring ASCII case.
bool SameText(std::string_view A, std::string_view B) noexcept;
// <0, 0 or >0 as A sorts before, with or after B ignoring ASCII case.
int CompareText(std::string_view A, std::string_view B) noexcept;
// A with ASCII letters folded to lower / upper case.
std::string LowerCase(std::string_view A);
std::string UpperCase(std::string_view A);

// The identifier of Ordinal in Names; raises EConvertError naming the ordinal when it is outside.
std::string OrdinalToIdent(std::span<const char* const> Names, int Ordinal);
// The ordinal whose identifier equals Text ignoring case, or -1 when none does.
int IdentToOrdinal(std::span<const char* const> Names, std::string_view Text) noexcept;

} // namespace kv
