#include "kv/rtl/variant.h"

#include <cmath>
#include <limits>
#include <ostream>

#include "kv/rtl/convert.h"
#include "kv/rtl/exceptions.h"

namespace kv {

namespace {

[[noreturn]] void CannotConvert(const Variant& V, TVarType To) {
    throw EConvertError(Format("Could not convert variant of type (%s) into type (%s): %s",
                               VarTypeName(V.VarType()), VarTypeName(To), VarToStr(V)));
}

// Rounds to the nearest integer, halves to even; false when the result does not fit int64_t.
bool RoundToInt64(double D, int64_t& Out) {
    double R = std::nearbyint(D);
    if (!(R >= -9223372036854775808.0 && R < 9223372036854775808.0))
        return false;
    Out = static_cast<int64_t>(R);
    return true;
}

int64_t CurrencyToInt64(Currency C) {
    int64_t Q = C.Scaled / Currency::Scale;
    int64_t Rem = C.Scaled % Currency::Scale; // same sign as Scaled
    int64_t Twice = 2 * (Rem < 0 ? -Rem : Rem);
    if (Twice > Currency::Scale || (Twice == Currency::Scale && (Q % 2) != 0))
        Q += C.Scaled < 0 ? -1 : 1;
    return Q;
}

} // namespace

const char* VarTypeName(TVarType Type) noexcept {
    switch (Type) {
    case varEmpty:
        return "Empty";
    case varInteger:
        return "Integer";
    case varInt64:
        return "Int64";
    case varDouble:
        return "Double";
    case varBoolean:
        return "Boolean";
    case varCurrency:
        return "Currency";
    case varString:
        return "String";
    }
    return "Unknown";
}

int64_t Variant::ConvertToInt64() const {
    switch (VarType()) {
    case varEmpty:
        return 0;
    case varInteger:
        return std::get<int32_t>(FValue);
    case varInt64:
        return std::get<int64_t>(FValue);
    case varDouble: {
        int64_t R;
        if (!RoundToInt64(std::get<double>(FValue), R))
            CannotConvert(*this, varInt64);
        return R;
    }
    case varBoolean:
        return std::get<bool>(FValue) ? 1 : 0;
    case varCurrency:
        return CurrencyToInt64(std::get<Currency>(FValue));
    case varString: {
        const std::string& S = std::get<std::string>(FValue);
        int64_t R;
        if (TryStrToInt64(S, R))
            return R;
        double D;
        if (TryStrToFloat(S, D) && RoundToInt64(D, R))
            return R;
        CannotConvert(*this, varInt64);
    }
    }
    CannotConvert(*this, varInt64);
}

int32_t Variant::ConvertToInteger() const {
    int64_t R;
    try {
        R = AsInt64();
    } catch (const EConvertError&) {
        CannotConvert(*this, varInteger);
    }
    if (R < std::numeric_limits<int32_t>::min() || R > std::numeric_limits<int32_t>::max())
        CannotConvert(*this, varInteger);
    return static_cast<int32_t>(R);
}

double Variant::ConvertToDouble() const {
    switch (VarType()) {
    case varEmpty:
        return 0;
    case varInteger:
        return std::get<int32_t>(FValue);
    case varInt64:
        return static_cast<double>(std::get<int64_t>(FValue));
    case varDouble:
        return std::get<double>(FValue);
    case varBoolean:
        return std::get<bool>(FValue) ? 1 : 0;
    case varCurrency:
        return std::get<Currency>(FValue).ToDouble();
    case varString: {
        double D;
        if (TryStrToFloat(std::get<std::string>(FValue), D))
            return D;
        break;
    }
    }
    CannotConvert(*this, varDouble);
}

bool Variant::ConvertToBoolean() const {
    switch (VarType()) {
    case varEmpty:
        return false;
    case varInteger:
        return std::get<int32_t>(FValue) != 0;
    case varInt64:
        return std::get<int64_t>(FValue) != 0;
    case varDouble:
        return std::get<double>(FValue) != 0;
    case varBoolean:
        return std::get<bool>(FValue);
    case varCurrency:
        return std::get<Currency>(FValue).Scaled != 0;
    case varString: {
        bool B;
        if (TryStrToBool(std::get<std::string>(FValue), B))
            return B;
        double D;
        if (TryStrToFloat(std::get<std::string>(FValue), D))
            return D != 0;
        break;
    }
    }
    CannotConvert(*this, varBoolean);
}

Currency Variant::AsCurrency() const {
    constexpr int64_t Limit = std::numeric_limits<int64_t>::max() / Currency::Scale;
    switch (VarType()) {
    case varEmpty:
        return Currency{};
    case varInteger:
        return Currency::FromScaled(int64_t{std::get<int32_t>(FValue)} * Currency::Scale);
    case varInt64: {
        int64_t V = std::get<int64_t>(FValue);
        if (V > Limit || V < -Limit)
            break;
        return Currency::FromScaled(V * Currency::Scale);
    }
    case varBoolean:
        return Currency::FromScaled(std::get<bool>(FValue) ? Currency::Scale : 0);
    case varCurrency:
        return std::get<Currency>(FValue);
    case varDouble:
    case varString:
        try {
            return Currency::FromDouble(AsDouble());
        } catch (const EConvertError&) {
        }
        break;
    }
    CannotConvert(*this, varCurrency);
}

std::string Variant::AsString() const {
    return VarToStr(*this);
}

std::string VarToStr(const Variant& V) {
    const Variant::TValue& X = V.Value();
    switch (V.VarType()) {
    case varEmpty:
        return std::string();
    case varInteger:
        return IntToStr(std::get<int32_t>(X));
    case varInt64:
        return IntToStr(std::get<int64_t>(X));
    case varDouble:
        return FloatToStr(std::get<double>(X));
    case varBoolean:
        return BoolToStr(std::get<bool>(X));
    case varCurrency:
        return CurrToStr(std::get<Currency>(X));
    case varString:
        return std::get<std::string>(X);
    }
    return std::string();
}

std::ostream& operator<<(std::ostream& Out, const Variant& V) {
    return Out << VarToStr(V);
}

void PrintTo(const Variant& V, std::ostream* Out) {
    *Out << VarTypeName(V.VarType());
    if (V.VarType() == varString)
        *Out << " \"" << VarToStr(V) << '"';
    else if (!V.IsEmpty())
        *Out << ' ' << VarToStr(V);
}

} // namespace kv
