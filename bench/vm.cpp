// Per-step cost of the stack virtual machine on a program of 1,000 instructions. Each benchmark
// reports per_step, the time per step (lower is better), and steps/s as items per second.
//   BM_StepEmptyCallback      every instruction has a callback that does nothing
//   BM_StepPushPop            every instruction pushes an integer and pops it again
//   BM_StepMachineCallback    no instruction has a callback; the machine's OnExecuteInstruction
//                             serves them all and does nothing
//   BM_SingleStepEmptyCallback  as the first, stepping with one Execute() call per step
#include <benchmark/benchmark.h>

#include <cstdint>

#include "kv/gp/KvGeneticProgram.h"

namespace {

constexpr int ProgramLength = 1000;
constexpr int InstructionCount = 8;

void SetStepCounters(benchmark::State& State) {
    State.SetItemsProcessed(State.iterations() * ProgramLength);
    State.counters["per_step"] = benchmark::Counter(
        ProgramLength, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A machine with InstructionCount instructions, each given Behaviour (or none), and a program of
// ProgramLength codes cycling through them.
template <class F>
void Prepare(kv::TKvVirtualMachine& VM, F Behaviour, bool OwnCallbacks) {
    for (int I = 0; I < InstructionCount; ++I) {
        kv::TVMInstruction* Instr = VM.GetInstructionSet()->Add();
        Instr->SetName("op" + std::to_string(I));
        if (OwnCallbacks)
            Instr->SetOnExecute(Behaviour);
    }
    if (!OwnCallbacks)
        VM.SetOnExecuteInstruction(Behaviour);
    kv::TIntegerArray Codes(ProgramLength);
    for (int I = 0; I < ProgramLength; ++I)
        Codes[static_cast<size_t>(I)] = I % InstructionCount;
    VM.Initialize(Codes, kv::TVarRecList{});
}

void RunProgram(benchmark::State& State, kv::TKvVirtualMachine& VM) {
    for (auto _ : State) {
        VM.Initialized();
        VM.Execute(ProgramLength);
        benchmark::ClobberMemory();
    }
    if (!VM.GetExecutionState().Contains(kv::esFinished) || VM.GetStack()->GetCount() != 0)
        State.SkipWithError("the program did not run to its end");
    SetStepCounters(State);
}

void BM_StepEmptyCallback(benchmark::State& State) {
    kv::TKvVirtualMachine VM;
    Prepare(
        VM, [](kv::TObject*, kv::TVMExecutionStack*, kv::TVMInstruction*) {}, true);
    RunProgram(State, VM);
}

void BM_StepPushPop(benchmark::State& State) {
    kv::TKvVirtualMachine VM;
    Prepare(
        VM,
        [](kv::TObject*, kv::TVMExecutionStack* Stack, kv::TVMInstruction*) {
            Stack->Push(1);
            benchmark::DoNotOptimize(Stack->Pop());
        },
        true);
    RunProgram(State, VM);
}

void BM_StepMachineCallback(benchmark::State& State) {
    kv::TKvVirtualMachine VM;
    Prepare(
        VM, [](kv::TObject*, kv::TVMExecutionStack*, kv::TVMInstruction*) {}, false);
    RunProgram(State, VM);
}

void BM_SingleStepEmptyCallback(benchmark::State& State) {
    kv::TKvVirtualMachine VM;
    Prepare(
        VM, [](kv::TObject*, kv::TVMExecutionStack*, kv::TVMInstruction*) {}, true);
    for (auto _ : State) {
        VM.Initialized();
        while (!VM.IsFinished())
            VM.Execute();
        benchmark::ClobberMemory();
    }
    SetStepCounters(State);
}

} // namespace

BENCHMARK(BM_StepEmptyCallback);
BENCHMARK(BM_StepPushPop);
BENCHMARK(BM_StepMachineCallback);
BENCHMARK(BM_SingleStepEmptyCallback);
