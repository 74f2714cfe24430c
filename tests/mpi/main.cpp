// The MPI tests' main: every rank runs every test (the tests are collective), and the program
// fails on every rank when a test failed on any.
#include <gtest/gtest.h>
#include <mpi.h>

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    testing::InitGoogleTest(&argc, argv);
    int Failed = RUN_ALL_TESTS() != 0;
    int AnyFailed = 0;
    MPI_Allreduce(&Failed, &AnyFailed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    MPI_Finalize();
    return AnyFailed;
}
