// Counts heap allocations made while a machine runs. The global operator new is replaced for this
// test program only in builds without AddressSanitizer, which must keep its own allocator to check
// the other tests; there the test is skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

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

TEST(StepAllocation, EvaluatingIndividualsAllocatesNothingOnceTheBuffersHaveGrown) {
#if !KV_COUNT_ALLOCATIONS
    GTEST_SKIP() << "allocation counting is off under AddressSanitizer";
#else
    TKvGPVirtualMachine VM;
    TVMInstructionSet& Set = *VM.GetInstructionSet();
    Set.Add()->SetName("push");
    Set.Add()->SetName("dup");
    Set.Add()->SetName("add");
    Set.Add()->SetName("drop");
    Set.Add()->SetName("served");
    Set.GetItem(0)->SetOnExecute(
        [](TObject*, TVMExecutionStack* Stack, TVMInstruction*) { Stack->Push(1); });
    Set.GetItem(1)->SetOnExecute([](TObject*, TVMExecutionStack* Stack, TVMInstruction*) {
        if (Stack->GetCount() > 0)
            Stack->Push(Stack->GetTop());
    });
    Set.GetItem(2)->SetOnExecute([](TObject*, TVMExecutionStack* Stack, TVMInstruction*) {
        if (Stack->GetCount() > 1)
            Stack->Push(Stack->Pop().AsInteger() + Stack->Pop().AsInteger());
    });
    Set.GetItem(3)->SetOnExecute([](TObject*, TVMExecutionStack* Stack, TVMInstruction*) {
        if (Stack->GetCount() > 0)
            Stack->Pop();
    });
    TKvGeneticProgram GP;
    GP.SetVM(&VM);
    VM.SetGeneticAlgorithm(&GP);
    GP.SetGeneSize(90); // 30 slots of 3 bits; 5, 6 and 7 are outside the set
    GP.SetInitialPopulation(50);
    GP.SetAutoExecution(true);
    GP.SetOnInitializeStack([&](TObject*) { VM.GetStack()->Push(3); });
    int Undecodable = 0;
    GP.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual*, TGAFitness& F) {
        Undecodable += VM.GetExecutionState().Contains(esInvalidOperation);
        F = VM.GetStack()->GetCount();
    });
    RandSeed(5);
    GP.Initialize(); // grows the stack and the encoded program to their largest
    GP.EvaluateFitness();

    Undecodable = 0;
    const long Before = Allocations;
    for (int Round = 0; Round < 3; ++Round)
        GP.EvaluateFitness();
    EXPECT_EQ(Allocations - Before, 0);
    EXPECT_GT(Undecodable, 0);
#endif
}
