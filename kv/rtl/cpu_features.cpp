#include "kv/rtl/cpu_features.h"

namespace kv {

bool CpuHasAvx2() noexcept {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(KVGA_NO_AVX2)
    static const bool Has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return Has;
#else
    return false;
#endif
}

} // namespace kv
