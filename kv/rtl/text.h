// Text helpers shared by every layer: ASCII case-insensitive comparison and the conversion between
// an enumeration's identifiers and its ordinals.
//
// TextExcerpt gives a text as error messages quote it: the text itself when it has at most
// 64 bytes, else its first 64 bytes or fewer, cut before a UTF-8 continuation byte so that the
// excerpt stays valid UTF-8, followed by "...".
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

// Text, or the start of a long text followed by "...", for messages.
std::string TextExcerpt(std::string_view Text);

// The identifier of Ordinal in Names; raises EConvertError naming the ordinal when it is outside.
std::string OrdinalToIdent(std::span<const char* const> Names, int Ordinal);
// The ordinal whose identifier equals Text ignoring case, or -1 when none does.
int IdentToOrdinal(std::span<const char* const> Names, std::string_view Text) noexcept;

} // namespace kv
