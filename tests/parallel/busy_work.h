// Work that keeps a fitness callback busy for a few microseconds, so that a round is large enough
// for the parallel evaluator to hand it to several threads (a round of tiny work runs on the
// calling thread alone).
#pragma once

#include <cstdint>

namespace kvtest {

inline void BusyWork(int Steps = 10000) {
    volatile uint64_t X = 0;
    for (int I = 0; I < Steps; ++I)
        X = X + static_cast<uint64_t>(I);
}

} // namespace kvtest
