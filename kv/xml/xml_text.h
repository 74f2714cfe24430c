// Text forms of typed values in XML documents.
//
// Every number and boolean a document holds is written and read here, independently of the
// C locale and of any stream locale:
//   integers   decimal, a minus sign when negative ("-12")
//   doubles    the shortest text that reads back as exactly the same double (std::to_chars);
//              infinities and NaN as "inf", "-inf" and "nan"
//   singles    the same for float, so a single-precision value is written with the digits a float
//              needs ("0.1", not "0.10000000149011612")
//   booleans   "true" and "false"
//
// Reading accepts everything written and a little more: white space (space, tab, CR, LF) around
// the value, a leading '+' on numbers, exponent notation, "infinity", boolean words in any letter
// case, and "1"/"0" for booleans. A decimal number too small for the type reads as zero of its
// sign; one too large for it, an integer outside 32 bits, and any other text do not convert.
// The Try functions never throw; they report failure with false and leave Value unchanged.
#pragma once

#include <string>
#include <string_view>

namespace kv {

std::string IntegerToXMLText(int Value);
std::string DoubleToXMLText(double Value);
std::string SingleToXMLText(float Value);
std::string BooleanToXMLText(bool Value);

bool TryXMLTextToInteger(std::string_view Text, int& Value) noexcept;
bool TryXMLTextToDouble(std::string_view Text, double& Value) noexcept;
bool TryXMLTextToSingle(std::string_view Text, float& Value) noexcept;
bool TryXMLTextToBoolean(std::string_view Text, bool& Value) noexcept;

// Text with the XML white space (space, tab, CR, LF) at both ends removed.
std::string_view TrimXMLSpace(std::string_view Text) noexcept;

} // namespace kv
