// EKvException: the base of the exceptions raised by the library's own components (as opposed to
// the run-time layer's EListError, EConvertError and the like). It carries only its message;
// EGAException and EGPException derive from it.
#pragma once

#include "kv/rtl/exceptions.h"

namespace kv {

class EKvException : public Exception {
public:
    using Exception::Exception;
};

} // namespace kv
