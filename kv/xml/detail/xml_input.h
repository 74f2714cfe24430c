// Internal: turns the raw bytes of a document into the UTF-8 text the parser reads.
//
// The encoding is detected from the content: a byte-order mark for UTF-8, UTF-16 (LE/BE) and
// UTF-32 (LE/BE); without one, the pattern of the first character '<' for UTF-16 and UTF-32;
// otherwise UTF-8, or ISO-8859-1 when the XML declaration names it. Any other declared encoding is
// refused. The result holds no byte-order mark, no NUL character and only valid UTF-8; every
// failure raises EXmlError with the line and column of the offending character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kv::detail {

// Returns the document as UTF-8: a view into Bytes (past a UTF-8 byte-order mark) when Bytes is
// already UTF-8, or a view of Converted, which receives the converted text.
std::string_view DecodeXMLInput(std::string_view Bytes, std::string& Converted);

// The 1-based line and column (in characters) of byte Offset of UTF-8 Text.
struct TTextPosition {
    size_t Line = 1;
    size_t Column = 1;
};
TTextPosition TextPosition(std::string_view Text, size_t Offset) noexcept;

// Offset of the first byte of Text that is NUL or starts an invalid UTF-8 sequence (overlong
// forms, surrogates and code points above U+10FFFF are invalid), or npos when Text is valid.
size_t FindInvalidUTF8(std::string_view Text) noexcept;

// Offset of the first character reference ("&#65;", "&#x41;") in the text or an attribute value
// of UTF-8 Text that stands for NUL, a surrogate or a code point above U+10FFFF, or npos. The
// parser would decode such a reference into a NUL (which ends the text there) or into bytes that
// are not UTF-8; nothing else could read them back. References are recognised as the parser
// decodes them: "&#" and decimal digits, or "&#x" and hexadecimal digits, then ';'. Comments,
// CDATA sections and processing instructions decode nothing and are passed over; so is
// everything from a document type declaration on (such documents are refused anyway).
size_t FindBadCharacterReference(std::string_view Text) noexcept;

} // namespace kv::detail
