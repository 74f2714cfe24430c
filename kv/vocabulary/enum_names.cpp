#include "kv/vocabulary/enum_names.h"

#include "kv/rtl/exceptions.h"

namespace kv {

void RaiseInvalidIdent(std::string_view Text, const char* TypeName) {
    throw EConvertError(Format("\"%s\" is not a valid %s identifier", std::string(Text), TypeName));
}

} // namespace kv
