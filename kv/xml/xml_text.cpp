#include "kv/xml/xml_text.h"

#include "kv/rtl/text.h"
#include "kv/xml/detail/xml_text_buffer.h"

#include <charconv>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace kv {

namespace detail {

namespace {
template <class T>
TXMLValueText ToText(T Value) noexcept {
    TXMLValueText R;
    auto Res = std::to_chars(R.Data, R.Data + sizeof(R.Data), Value);
    R.Length = static_cast<unsigned>(Res.ptr - R.Data);
    return R;
}
} // namespace

TXMLValueText IntegerText(int Value) noexcept {
    return ToText(Value);
}
TXMLValueText DoubleText(double Value) noexcept {
    return ToText(Value);
}
TXMLValueText SingleText(float Value) noexcept {
    return ToText(Value);
}

TXMLValueText BooleanText(bool Value) noexcept {
    TXMLValueText R;
    std::string_view S = Value ? "true" : "false";
    for (char C : S)
        R.Data[R.Length++] = C;
    return R;
}

} // namespace detail

namespace {

inline bool IsXMLSpace(char C) {
    return C == ' ' || C == '\t' || C == '\r' || C == '\n';
}

// The number's text without surrounding white space and without one leading '+'; empty when
// nothing is left or the '+' is followed by another sign.
std::string_view NumberBody(std::string_view Text) {
    Text = TrimXMLSpace(Text);
    if (!Text.empty() && Text.front() == '+') {
        Text.remove_prefix(1);
        if (Text.empty() || Text.front() == '+' || Text.front() == '-')
            return {};
    }
    return Text;
}

// For a syntactically valid decimal number that does not fit its type: true when its magnitude is
// below 1 (an underflow), false when it is above (an overflow). The decimal exponent of the first
// significant digit decides.
bool IsUnderflow(std::string_view Body) {
    size_t I = 0;
    if (I < Body.size() && Body[I] == '-')
        ++I;
    long IntDigits = 0; // significant digits before the point
    long LeadZeros = 0; // zeros after the point before the first significant digit
    bool Significant = false;
    for (; I < Body.size() && Body[I] >= '0' && Body[I] <= '9'; ++I)
        if (Significant || Body[I] != '0') {
            Significant = true;
            ++IntDigits;
        }
    if (I < Body.size() && Body[I] == '.') {
        for (++I; I < Body.size() && Body[I] >= '0' && Body[I] <= '9'; ++I) {
            if (Significant)
                continue;
            if (Body[I] == '0')
                ++LeadZeros;
            else
                Significant = true;
        }
    }
    long Exponent = 0;
    if (I < Body.size() && (Body[I] == 'e' || Body[I] == 'E')) {
        ++I;
        bool Negative = false;
        if (I < Body.size() && (Body[I] == '+' || Body[I] == '-'))
            Negative = Body[I++] == '-';
        for (; I < Body.size() && Body[I] >= '0' && Body[I] <= '9'; ++I)
            if (Exponent < 100000000)
                Exponent = Exponent * 10 + (Body[I] - '0');
        if (Negative)
            Exponent = -Exponent;
    }
    long Magnitude = IntDigits > 0 ? Exponent + IntDigits : Exponent - LeadZeros;
    return Magnitude <= 0;
}

template <class T>
bool ParseFloating(std::string_view Text, T& Value) noexcept {
    std::string_view Body = NumberBody(Text);
    if (Body.empty())
        return false;
    T V{};
    auto Res = std::from_chars(Body.data(), Body.data() + Body.size(), V);
    if (Res.ptr != Body.data() + Body.size())
        return false;
    if (Res.ec == std::errc::result_out_of_range) {
        if (!IsUnderflow(Body))
            return false;
        V = Body.front() == '-' ? -T(0) : T(0);
    } else if (Res.ec != std::errc()) {
        return false;
    }
    Value = V;
    return true;
}

} // namespace

std::string_view TrimXMLSpace(std::string_view Text) noexcept {
    while (!Text.empty() && IsXMLSpace(Text.front()))
        Text.remove_prefix(1);
    while (!Text.empty() && IsXMLSpace(Text.back()))
        Text.remove_suffix(1);
    return Text;
}

std::string IntegerToXMLText(int Value) {
    return std::string(detail::IntegerText(Value).View());
}
std::string DoubleToXMLText(double Value) {
    return std::string(detail::DoubleText(Value).View());
}
std::string SingleToXMLText(float Value) {
    return std::string(detail::SingleText(Value).View());
}
std::string BooleanToXMLText(bool Value) {
    return std::string(detail::BooleanText(Value).View());
}

bool TryXMLTextToInteger(std::string_view Text, int& Value) noexcept {
    std::string_view Body = NumberBody(Text);
    if (Body.empty())
        return false;
    int V = 0;
    auto Res = std::from_chars(Body.data(), Body.data() + Body.size(), V, 10);
    if (Res.ec != std::errc() || Res.ptr != Body.data() + Body.size())
        return false;
    Value = V;
    return true;
}

bool TryXMLTextToDouble(std::string_view Text, double& Value) noexcept {
    return ParseFloating(Text, Value);
}

bool TryXMLTextToSingle(std::string_view Text, float& Value) noexcept {
    return ParseFloating(Text, Value);
}

bool TryXMLTextToBoolean(std::string_view Text, bool& Value) noexcept {
    Text = TrimXMLSpace(Text);
    if (SameText(Text, "true") || Text == "1")
        Value = true;
    else if (SameText(Text, "false") || Text == "0")
        Value = false;
    else
        return false;
    return true;
}

} // namespace kv
