// Exception classes of the run-time layer and the printf-like message formatter.
//
// Every failure the library reports is an exception derived from kv::Exception, a std::exception
// whose what() is the message. The run-time layer adds one class per kind of host error:
//   EListError      an index outside a list, or an operation on an empty list
//   EConvertError   a text that does not convert, or an assignment between unrelated classes
//   EIntfCastError  a document whose root element does not bind to the requested node type
//   EXmlError       a document that cannot be read at all (malformed, bad encoding, too deep)
// The engine's own classes (EKvException, EGAException, EGPException) derive from kv::Exception in
// the layers above.
#pragma once

#include <cstdio>
#include <exception>
#include <string>
#include <type_traits>
#include <utility>

namespace kv {

class Exception : public std::exception {
public:
    explicit Exception(std::string Message) : FMessage(std::move(Message)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }

private:
    std::string FMessage;
};

class EListError : public Exception {
public:
    using Exception::Exception;
};

class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EIntfCastError : public Exception {
public:
    using Exception::Exception;
};

class EXmlError : public Exception {
public:
    using Exception::Exception;
};

namespace detail {
inline const char* FormatArg(const std::string& S) {
    return S.c_str();
}
inline const char* FormatArg(const char* S) {
    return S;
}
template <class T>
requires std::is_arithmetic_v<T> T FormatArg(T V) {
    return V;
}
} // namespace detail

// Formats a message with printf rules (%s takes a std::string or a C string, %i/%d an int).
template <class... Args>
std::string Format(const char* Fmt, const Args&... A) {
    int N = std::snprintf(nullptr, 0, Fmt, detail::FormatArg(A)...);
    if (N <= 0)
        return std::string();
    std::string Out(static_cast<size_t>(N) + 1, '\0');
    std::snprintf(Out.data(), Out.size(), Fmt, detail::FormatArg(A)...);
    Out.resize(static_cast<size_t>(N));
    return Out;
}

} // namespace kv
