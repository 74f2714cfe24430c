// Counts heap allocations made while a machine runs. The global operator new is replaced for this
// test program only in builds without AddressSanitizer, which must keep its own allocator to check
// the other tests; there the test is skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "kv/gp/KvGeneticProgram.h"

#if defined(__SANITIZE_ADDRESS__)
#define KV_COUNT_ALLOCATIONS 0
#else
#define KV_COUNT_ALLOCATIONS 1
#endif

#if KV_COUNT_ALLOCATIONS
namespace {
long Allocations = 0;
}

void* operator new(std::size_t Size) {
    ++Allocations;
    if (void* P = std::malloc(Size != 0 ? Size : 1))
        return P;
    throw std::bad_alloc();
}
void operator delete(void* P) noexcept {
    std::free(P);
}
void operator delete(void* P, std::size_t) noexcept {
    std::free(P);
}
#endif

using namespace kv;

TEST(StepAllocation, StepsAllocateNothingOnceTheStackHasGrown) {
#if !KV_COUNT_ALLOCATIONS
    GTEST_SKIP() << "allocation counting is off under AddressSanitizer";
#else
    TKvVirtualMachine VM;
    TVMInstructionSet& Set = *VM.GetInstructionSet();
    Set.Add()->SetName("push");
    Set.Add()->SetName("pop");
    Set.Add()->SetName("served"); // no callback: the machine's serves it
    Set.GetItem(0)->SetOnExecute(
        [](TObject*, TVMExecutionStack* Stack, TVMInstruction*) { Stack->Push(7); });
    Set.GetItem(1)->SetOnExecute(
        [](TObject*, TVMExecutionStack* Stack, TVMInstruction*) { Stack->Pop(); });
    int Served = 0;
    VM.SetOnExecuteInstruction([&](TObject*, TVMExecutionStack*, TVMInstruction*) { ++Served; });
    VM.SetOnExecuted([](TObject*) {});
    TIntegerArray Codes;
    for (int I = 0; I < 100; ++I)
        Codes.insert(Codes.end(), {0, 0, 2, 1, 1});
    VM.Initialize(Codes, {1, 2});
    VM.Execute(1000); // the first run grows the stack to its deepest point

    const long Before = Allocations;
    for (int Run = 0; Run < 3; ++Run) {
        VM.Initialized();
        VM.Execute(1000);
        while (!VM.IsFinished())
            VM.Execute();
    }
    EXPECT_EQ(Allocations - Before, 0);
    EXPECT_EQ(Served, 400);
#endif
}
