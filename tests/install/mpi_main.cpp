// A program outside the kvga tree that uses the installed MPI layer (kvga::mpi).
#include <cstdio>

#include "kv/mpi/KvMPI.h"

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    kv::TKvMPIMessage Header;
    Header.Kind = kv::mkScores;
    Header.Count = 1;
    const double Fitness = 2.5;
    const std::vector<uint64_t> Data = kv::MakeMessage(Header, &Fitness, nullptr);
    const kv::TKvMPIMessage M = kv::CheckMessage(Data.data(), Data.size(), {kv::mkScores, 0});
    int Ranks = 0;
    MPI_Comm_size(MPI_COMM_WORLD, &Ranks);
    MPI_Finalize();
    if (M.FitnessAt(0) != 2.5 || Ranks != 1)
        return 1;
    std::printf("installed kvga::mpi works\n");
    return 0;
}
