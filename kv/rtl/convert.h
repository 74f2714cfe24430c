// Conversions between numbers and text, independent of the C locale.
//
// Integers
//   IntToStr writes any integer type in decimal. StrToInt / StrToInt64 read an optional sign, then
//   decimal digits, or hexadecimal digits after "$" or "0x"; white space around the number is
//   allowed. Text that is not such a number, or a value that does not fit the result type, raises
//   EConvertError "'<text>' is not a valid integer value"; the Try forms return false instead
//   and leave Value unchanged.
//
// Floating point
//   FloatToStr writes the general format with 15 significant digits and '.' as the decimal
//   separator: trailing zeros are dropped, fixed notation is used when 1E-5 <= |rounded value| <
//   1E15, otherwise scientific notation with a mantissa, "E", an optional "-" and the exponent
//   without leading zeros: 0.1 -> "0.1", 100 -> "100", 1/3 -> "0.333333333333333",
//   1e15 -> "1E15", 1.5e-7 -> "1.5E-7", -2.5e20 -> "-2.5E20". Zero is "0" (also -0);
//   infinities "INF" and "-INF", not-a-number "NAN".
//   StrToFloat reads decimal or scientific notation ("1.5", "-2e3", ".5", "+7") and INF / NAN,
//   ignoring case and surrounding white space; anything else, or a value beyond the double range,
//   raises EConvertError "'<text>' is not a valid floating point value". Values too small for a
//   double read as 0 (with their sign).
//
// Booleans: BoolToStr gives "True" / "False". StrToBool accepts those words ignoring case and
// integers (0 is false, anything else true); otherwise EConvertError
// "'<text>' is not a valid boolean value".
//
// RoundHalfEven rounds a finite double to the nearest integer, halves to the even neighbour
// (2.5 -> 2, 3.5 -> 4, -2.5 -> -2), whatever rounding mode the floating-point environment is in.
//
// SaturateToSingle converts a double to single precision, giving an infinity of the right sign for
// a finite value beyond the float range (a plain conversion of such a value is undefined
// behaviour); NaN stays NaN.
//
// Text encodings: Utf16ToUtf8 converts UTF-16 text to UTF-8; an unpaired surrogate becomes U+FFFD.
// AppendUtf8 appends the UTF-8 form of one code point, which the caller has checked (at most
// U+10FFFF); it is the encoder under every conversion to UTF-8 in the library.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace kv {

template <std::integral T>
requires(!std::same_as<T, bool>) std::string IntToStr(T Value) {
    char Buf[24];
    auto R = std::to_chars(Buf, Buf + sizeof(Buf), Value);
    return std::string(Buf, R.ptr);
}

int32_t StrToInt(std::string_view S);
int64_t StrToInt64(std::string_view S);
bool TryStrToInt(std::string_view S, int32_t& Value) noexcept;
bool TryStrToInt64(std::string_view S, int64_t& Value) noexcept;

std::string FloatToStr(double Value);
double StrToFloat(std::string_view S);
bool TryStrToFloat(std::string_view S, double& Value) noexcept;

double RoundHalfEven(double Value) noexcept;
float SaturateToSingle(double Value) noexcept;

std::string BoolToStr(bool Value);
bool StrToBool(std::string_view S);
bool TryStrToBool(std::string_view S, bool& Value) noexcept;

std::string Utf16ToUtf8(std::u16string_view S);
void AppendUtf8(std::string& Out, char32_t C);

} // namespace kv
