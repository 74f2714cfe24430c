#include "kv/rtl/list_index.h"

#include "kv/rtl/exceptions.h"

namespace kv {

void RaiseListIndexError(int Index, int Count) {
    throw EListError(Format("List index out of bounds (%d); count is %d", Index, Count));
}

} // namespace kv
