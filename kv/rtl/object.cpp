#include "kv/rtl/object.h"

#include "kv/rtl/exceptions.h"

namespace kv {

void TPersistent::Assign(const TPersistent* Source) {
    if (Source != nullptr)
        Source->AssignTo(this);
    else
        AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) const {
    Dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent* Source) const {
    std::string SourceName = Source != nullptr ? Source->ClassName() : std::string("nil");
    throw EConvertError("Cannot assign a " + SourceName + " to a " + ClassName());
}

} // namespace kv
