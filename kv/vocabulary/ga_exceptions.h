// The engine's exception classes. Each carries only its message (one of the texts of
// ga_messages.h): EGAException for the genetic-algorithm engine and its genes, EGPException for
// the genetic-programming layer. A handler for EGAException also catches every EGPException.
#pragma once

#include "kv/common/kv_exception.h"

namespace kv {

class EGAException : public EKvException {
public:
    using EKvException::EKvException;
};

class EGPException : public EGAException {
public:
    using EGAException::EGAException;
};

} // namespace kv
