// Currency: a fixed-point amount with four decimal places, held as a 64-bit integer scaled by
// 10000 (1.5 is stored as 15000), so sums of amounts are exact.
//
// FromDouble rounds to the nearest ten-thousandth, halves to even, and raises EConvertError for a
// value that is not a number or does not fit. CurrToStr writes the amount with '.' as the decimal
// separator and up to four decimals, without trailing zeros ("1.5", "-0.0001", "12").
#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace kv {

struct Currency {
    static constexpr int64_t Scale = 10000;
    int64_t Scaled = 0;

    static constexpr Currency FromScaled(int64_t Value) noexcept { return Currency{Value}; }
    static Currency FromDouble(double Value);
    double ToDouble() const noexcept { return static_cast<double>(Scaled) / Scale; }

    friend constexpr bool operator==(Currency, Currency) noexcept = default;
    friend constexpr auto operator<=>(Currency, Currency) noexcept = default;
};

std::string CurrToStr(Currency Value);

} // namespace kv
