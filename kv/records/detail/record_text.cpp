// Text helpers of the run records.
#include "kv/records/detail/record_text.h"

#include <charconv>
#include <cmath>

#include "kv/common/kv_exception.h"
#include "kv/rtl/detail/file_replace.h"

namespace kv::detail {

namespace {

std::string NonFinite(double Value) {
    if (std::isnan(Value))
        return "nan";
    return Value < 0 ? "-inf" : "inf";
}

} // namespace

std::string ShortestText(double Value) {
    if (!std::isfinite(Value))
        return NonFinite(Value);
    char Buf[64];
    const auto R = std::to_chars(Buf, Buf + sizeof Buf, Value);
    return std::string(Buf, R.ptr);
}

std::string FixedText(double Value, int Decimals) {
    if (!std::isfinite(Value))
        return NonFinite(Value);
    char Buf[512];
    const auto R = std::to_chars(Buf, Buf + sizeof Buf, Value, std::chars_format::fixed, Decimals);
    return R.ec == std::errc() ? std::string(Buf, R.ptr) : ShortestText(Value);
}

std::string GeneralText(double Value, int Digits) {
    if (!std::isfinite(Value))
        return NonFinite(Value);
    char Buf[64];
    const auto R = std::to_chars(Buf, Buf + sizeof Buf, Value, std::chars_format::general, Digits);
    return R.ec == std::errc() ? std::string(Buf, R.ptr) : ShortestText(Value);
}

std::string XmlEscaped(std::string_view Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (char C : Text) {
        switch (C) {
        case '&':
            Out += "&amp;";
            break;
        case '<':
            Out += "&lt;";
            break;
        case '>':
            Out += "&gt;";
            break;
        case '"':
            Out += "&quot;";
            break;
        default:
            // Control characters other than tab and line breaks are not allowed in XML 1.0.
            if (static_cast<unsigned char>(C) >= 0x20 || C == '\t' || C == '\n' || C == '\r')
                Out += C;
        }
    }
    return Out;
}

void SaveRecordText(const std::string& FileName, std::string_view Text) {
    try {
        ReplaceFile(FileName, Text);
    } catch (const Exception& E) {
        throw EKvException(E.Message());
    }
}

} // namespace kv::detail
