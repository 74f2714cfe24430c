// Internal: the text helpers of the run records (locale-independent numbers, escaping, saving).
#pragma once

#include <string>
#include <string_view>

namespace kv::detail {

// Shortest round-trip form; inf, -inf or nan for a non-finite value.
std::string ShortestText(double Value);
// Fixed-point with Decimals digits after the point.
std::string FixedText(double Value, int Decimals);
// General form with Digits significant digits (like printf's %g).
std::string GeneralText(double Value, int Digits);
// Text escaped for XML character data and attribute values.
std::string XmlEscaped(std::string_view Text);
// Replaces FileName's content with Text as one step; EKvException naming the file on failure.
void SaveRecordText(const std::string& FileName, std::string_view Text);

} // namespace kv::detail
