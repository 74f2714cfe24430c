// What every fuzz target checks, and how it reports a violation.
//
// The contract of the library towards input it did not write: an operation either succeeds or
// raises an exception derived from kv::Exception. Anything else (another exception, a crash, a
// sanitizer report, a leak) is a bug. Run() runs one operation under that contract: it returns
// true when the operation succeeded and false when it raised a kv::Exception; any other exception
// ends the process through Fail(), which libFuzzer and the replay program both report as a
// finding together with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "kv/rtl/exceptions.h"

namespace kv::fuzz {

// Prints what went wrong and aborts (a crash for libFuzzer, a failure for the replay program).
[[noreturn]] inline void Fail(std::string_view What, std::string_view Detail = {}) {
    std::fprintf(stderr, "\n*** fuzz check failed: %.*s\n", static_cast<int>(What.size()),
                 What.data());
    if (!Detail.empty())
        std::fprintf(stderr, "%.*s\n", static_cast<int>(Detail.size()), Detail.data());
    std::fflush(stderr);
    std::abort();
}

inline void Check(bool Condition, std::string_view What, std::string_view Detail = {}) {
    if (!Condition)
        Fail(What, Detail);
}

// Runs Body; true when it returned, false when it raised a kv::Exception.
template <class F>
bool Run(F&& Body) {
    try {
        Body();
        return true;
    } catch (const kv::Exception&) {
        return false;
    } catch (const std::exception& E) {
        Fail("an exception not derived from kv::Exception escaped", E.what());
    } catch (...) {
        Fail("something that is not a std::exception was thrown");
    }
}

// Two saved documents that should be equal; on a difference, both are shown.
inline void CheckSameDocument(const std::string& First, const std::string& Second,
                              std::string_view What) {
    if (First != Second)
        Fail(What, "first:\n" + First + "\nsecond:\n" + Second);
}

} // namespace kv::fuzz
