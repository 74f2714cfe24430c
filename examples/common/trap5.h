// Trap-5, the deceptive problem of the island example and the MPI benchmark: each block of 5 bits
// scores 5 when all its bits are 1, else 4 minus its count of ones, so every block leads a
// hill climber towards all zeros while the optimum is all ones.
#pragma once

#include "kv/ga/KvGeneticAlgorithm.h"

namespace kv::examples {

inline double Trap5(const kv::TKvGABits& Bits, int Blocks) {
    double Sum = 0;
    for (int B = 0; B < Blocks; ++B) {
        int Ones = 0;
        for (int K = 0; K < 5; ++K)
            Ones += Bits.GetBit(5 * B + K);
        Sum += Ones == 5 ? 5 : 4 - Ones;
    }
    return Sum;
}

} // namespace kv::examples
