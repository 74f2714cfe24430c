// Internal: the text forms of xml_text.h written into a stack buffer, so that writing a value
// into a document allocates nothing beyond what the document itself needs.
#pragma once

#include <string_view>

namespace kv::detail {

// Holds one value's text; large enough for the longest double ("-2.2250738585072014e-308").
struct TXMLValueText {
    char Data[32];
    unsigned Length = 0;
    std::string_view View() const noexcept { return {Data, Length}; }
};

TXMLValueText IntegerText(int Value) noexcept;
TXMLValueText DoubleText(double Value) noexcept;
TXMLValueText SingleText(float Value) noexcept;
TXMLValueText BooleanText(bool Value) noexcept;

} // namespace kv::detail
