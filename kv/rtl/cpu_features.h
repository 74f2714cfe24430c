// What the processor running the program offers, for the few hot loops that keep a second,
// wider-vector version of themselves (the random source's refill, the chromosome's mutation and
// randomisation). Both versions compute exactly the same values; only their speed differs.
#pragma once

namespace kv {

// True when the processor runs AVX2 code (always false off x86-64, and in a build with
// KVGA_NO_AVX2 defined, which checks the baseline versions). Determined once.
bool CpuHasAvx2() noexcept;

} // namespace kv
