#include "kv/rtl/currency.h"

#include <cmath>

#include "kv/rtl/convert.h"
#include "kv/rtl/exceptions.h"

namespace kv {

Currency Currency::FromDouble(double Value) {
    double Scaled = std::nearbyint(Value * static_cast<double>(Scale));
    // 2^63 is exactly representable; every double below it converts without overflow.
    if (!(Scaled >= -9223372036854775808.0 && Scaled < 9223372036854775808.0))
        throw EConvertError(Format("%s is outside the currency range", FloatToStr(Value)));
    return Currency{static_cast<int64_t>(Scaled)};
}

std::string CurrToStr(Currency Value) {
    uint64_t Abs = Value.Scaled < 0 ? 0 - static_cast<uint64_t>(Value.Scaled)
                                    : static_cast<uint64_t>(Value.Scaled);
    std::string R = Value.Scaled < 0 ? "-" : "";
    R += IntToStr(Abs / Currency::Scale);
    uint64_t Frac = Abs % Currency::Scale;
    if (Frac != 0) {
        char Digits[5] = {
            static_cast<char>('0' + Frac / 1000), static_cast<char>('0' + Frac / 100 % 10),
            static_cast<char>('0' + Frac / 10 % 10), static_cast<char>('0' + Frac % 10), '\0'};
        int Len = 4;
        while (Digits[Len - 1] == '0')
            --Len;
        R += '.';
        R.append(Digits, static_cast<size_t>(Len));
    }
    return R;
}

} // namespace kv
