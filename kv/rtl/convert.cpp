#include "kv/rtl/convert.h"

#include <cmath>
#include <limits>
#include <system_error>

#include "kv/rtl/exceptions.h"
#include "kv/rtl/text.h"

namespace kv {

namespace {

bool IsSpace(char C) {
    return C == ' ' || C == '\t' || C == '\n' || C == '\r' || C == '\v' || C == '\f';
}

std::string_view Trim(std::string_view S) {
    while (!S.empty() && IsSpace(S.front()))
        S.remove_prefix(1);
    while (!S.empty() && IsSpace(S.back()))
        S.remove_suffix(1);
    return S;
}

// Reads [sign] (digits | "$" hex | "0x" hex) into a value in [Min, Max].
bool ParseInteger(std::string_view S, int64_t Min, int64_t Max, int64_t& Out) noexcept {
    S = Trim(S);
    bool Negative = false;
    if (!S.empty() && (S[0] == '+' || S[0] == '-')) {
        Negative = S[0] == '-';
        S.remove_prefix(1);
    }
    int Base = 10;
    if (!S.empty() && S[0] == '$') {
        Base = 16;
        S.remove_prefix(1);
    } else if (S.size() >= 2 && S[0] == '0' && (S[1] == 'x' || S[1] == 'X')) {
        Base = 16;
        S.remove_prefix(2);
    }
    if (S.empty() || S[0] == '+' || S[0] == '-')
        return false;
    uint64_t Magnitude = 0;
    auto R = std::from_chars(S.data(), S.data() + S.size(), Magnitude, Base);
    if (R.ec != std::errc() || R.ptr != S.data() + S.size())
        return false;
    if (Negative) {
        if (Magnitude > static_cast<uint64_t>(Max) + 1 ||
            Magnitude > 0 - static_cast<uint64_t>(Min))
            return false;
        Out = static_cast<int64_t>(0 - Magnitude);
    } else {
        if (Magnitude > static_cast<uint64_t>(Max))
            return false;
        Out = static_cast<int64_t>(Magnitude);
    }
    return true;
}

[[noreturn]] void InvalidInteger(std::string_view S) {
    throw EConvertError(Format("'%s' is not a valid integer value", std::string(S)));
}

} // namespace

bool TryStrToInt(std::string_view S, int32_t& Value) noexcept {
    int64_t V;
    if (!ParseInteger(S, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                      V))
        return false;
    Value = static_cast<int32_t>(V);
    return true;
}

bool TryStrToInt64(std::string_view S, int64_t& Value) noexcept {
    return ParseInteger(S, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                        Value);
}

int32_t StrToInt(std::string_view S) {
    int32_t V;
    if (!TryStrToInt(S, V))
        InvalidInteger(S);
    return V;
}

int64_t StrToInt64(std::string_view S) {
    int64_t V;
    if (!TryStrToInt64(S, V))
        InvalidInteger(S);
    return V;
}

std::string FloatToStr(double Value) {
    if (std::isnan(Value))
        return "NAN";
    if (std::isinf(Value))
        return Value < 0 ? "-INF" : "INF";
    if (Value == 0)
        return "0";
    // 15 significant digits: d.dddddddddddddde[+-]x
    char Buf[40];
    auto R = std::to_chars(Buf, Buf + sizeof(Buf), Value, std::chars_format::scientific, 14);
    std::string_view Sci(Buf, static_cast<size_t>(R.ptr - Buf));
    bool Negative = Sci[0] == '-';
    if (Negative)
        Sci.remove_prefix(1);
    size_t EPos = Sci.find('e');
    std::string Digits;
    Digits += Sci[0];
    Digits.append(Sci.substr(2, EPos - 2));
    int Exp = 0;
    std::string_view ExpText = Sci.substr(EPos + 1);
    if (!ExpText.empty() && ExpText[0] == '+')
        ExpText.remove_prefix(1);
    std::from_chars(ExpText.data(), ExpText.data() + ExpText.size(), Exp);
    while (Digits.size() > 1 && Digits.back() == '0')
        Digits.pop_back();

    std::string Out = Negative ? "-" : "";
    if (Exp < -5 || Exp >= 15) {
        Out += Digits[0];
        if (Digits.size() > 1) {
            Out += '.';
            Out.append(Digits, 1);
        }
        Out += 'E';
        Out += IntToStr(Exp);
    } else if (Exp < 0) {
        Out += "0.";
        Out.append(static_cast<size_t>(-Exp - 1), '0');
        Out += Digits;
    } else {
        size_t IntDigits = static_cast<size_t>(Exp) + 1;
        if (Digits.size() <= IntDigits) {
            Out += Digits;
            Out.append(IntDigits - Digits.size(), '0');
        } else {
            Out.append(Digits, 0, IntDigits);
            Out += '.';
            Out.append(Digits, IntDigits);
        }
    }
    return Out;
}

bool TryStrToFloat(std::string_view S, double& Value) noexcept {
    S = Trim(S);
    bool Negative = false;
    if (!S.empty() && (S[0] == '+' || S[0] == '-')) {
        Negative = S[0] == '-';
        S.remove_prefix(1);
    }
    if (S.empty() || S[0] == '+' || S[0] == '-')
        return false;
    double V = 0;
    auto R = std::from_chars(S.data(), S.data() + S.size(), V, std::chars_format::general);
    if (R.ptr != S.data() + S.size())
        return false;
    if (R.ec == std::errc::result_out_of_range) {
        // Distinguish overflow from underflow by the decimal exponent of the text.
        size_t EPos = S.find_first_of("eE");
        if (EPos == std::string_view::npos)
            return false;
        std::string_view ExpText = S.substr(EPos + 1);
        if (ExpText.empty() || ExpText[0] != '-')
            return false;
        V = 0;
    } else if (R.ec != std::errc()) {
        return false;
    }
    Value = Negative ? -V : V;
    return true;
}

double StrToFloat(std::string_view S) {
    double V;
    if (!TryStrToFloat(S, V))
        throw EConvertError(Format("'%s' is not a valid floating point value", std::string(S)));
    return V;
}

double RoundHalfEven(double Value) noexcept {
    const double Floor = std::floor(Value);
    const double Fraction = Value - Floor; // exact for every finite double
    if (Fraction > 0.5 || (Fraction == 0.5 && std::fmod(Floor, 2.0) != 0.0))
        return Floor + 1.0;
    return Floor;
}

float SaturateToSingle(double Value) noexcept {
    constexpr double Max = std::numeric_limits<float>::max();
    if (Value > Max)
        return std::numeric_limits<float>::infinity();
    if (Value < -Max)
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(Value);
}

std::string BoolToStr(bool Value) {
    return Value ? "True" : "False";
}

bool TryStrToBool(std::string_view S, bool& Value) noexcept {
    std::string_view T = Trim(S);
    if (SameText(T, "True")) {
        Value = true;
        return true;
    }
    if (SameText(T, "False")) {
        Value = false;
        return true;
    }
    int64_t N;
    if (TryStrToInt64(T, N)) {
        Value = N != 0;
        return true;
    }
    return false;
}

bool StrToBool(std::string_view S) {
    bool V;
    if (!TryStrToBool(S, V))
        throw EConvertError(Format("'%s' is not a valid boolean value", std::string(S)));
    return V;
}

void AppendUtf8(std::string& Out, char32_t C) {
    if (C < 0x80) {
        Out += static_cast<char>(C);
    } else if (C < 0x800) {
        Out += static_cast<char>(0xC0 | (C >> 6));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else if (C < 0x10000) {
        Out += static_cast<char>(0xE0 | (C >> 12));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (C >> 18));
        Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    }
}

std::string Utf16ToUtf8(std::u16string_view S) {
    std::string Out;
    Out.reserve(S.size());
    for (size_t I = 0; I < S.size(); ++I) {
        char32_t C = S[I];
        if (C >= 0xD800 && C <= 0xDBFF) {
            if (I + 1 < S.size() && S[I + 1] >= 0xDC00 && S[I + 1] <= 0xDFFF) {
                C = 0x10000 + ((C - 0xD800) << 10) + (static_cast<char32_t>(S[I + 1]) - 0xDC00);
                ++I;
            } else {
                C = 0xFFFD;
            }
        } else if (C >= 0xDC00 && C <= 0xDFFF) {
            C = 0xFFFD;
        }
        AppendUtf8(Out, C);
    }
    return Out;
}

} // namespace kv
