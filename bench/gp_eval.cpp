// Cost of evaluating genetic programs: Koza's quartic f(x) = x^4 + x^3 + x^2 + x as a stack
// machine of six instructions, each its own OnExecute callback on doubles:
//   X     pushes the current x        Add   a b -> a+b
//   Dup   x -> x x                    Sub   a b -> a-b
//   Swap  a b -> b a                  Mul   a b -> a*b
// An instruction that finds too few values does nothing (it still counts as executed).
//
// 64 random programs of 24 slots (every slot a valid code, so every program runs all 24
// instructions), scored on 20 and on 1,000 points of [-1, 1] by the engine's population
// evaluation (GP.EvaluateFitness(), one OnEvaluateFitness call per program):
//   BM_RowByRow/N   the quick start's way: per program one TryCompile, then per point
//                   InitializeStack({x}), ExecuteProgram, read the top
//   BM_Batch/N      the opt-in batch run: per program one TryCompile, the x column pushed on a
//                   TVMBatchStack, one ExecuteBatch over all N points, the top column read; each
//                   instruction has an OnExecuteBatch callback from the helpers of batch_stack.h
// Each reports per_instruction (CPU time per executed instruction and row) and per_program (CPU
// time to score one program on all N points); lower is better.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

namespace {

constexpr int Slots = 24;
constexpr int Programs = 64;

double Quartic(double X) {
    return X * X * X * X + X * X * X + X * X + X;
}

std::vector<double> Points(int N) {
    std::vector<double> X(static_cast<size_t>(N));
    for (int I = 0; I < N; ++I)
        X[static_cast<size_t>(I)] = N == 1 ? 0.0 : -1.0 + 2.0 * I / (N - 1);
    return X;
}

// The machine and the engine bound both ways, the six instructions (each with its row-by-row and
// its batch callback), and a population of random programs whose slots are all valid codes.
struct TQuartic {
    kv::TKvGPVirtualMachine VM;
    kv::TKvGeneticProgram GP;
    double CurrentX = 0;
    std::vector<double> Column; // every point's x, for batch runs

    TQuartic() {
        GP.SetVM(&VM);
        VM.SetGeneticAlgorithm(&GP);
        Add(
            "X", [this](kv::TVMExecutionStack& S) { S.Push(CurrentX); },
            [this](kv::TVMBatchStack& S) { S.Push(Column); });
        Add(
            "Dup",
            [](kv::TVMExecutionStack& S) {
                if (S.GetCount() >= 1)
                    S.Push(S.GetTop());
            },
            kv::BatchDup());
        Add(
            "Swap",
            [](kv::TVMExecutionStack& S) {
                if (S.GetCount() >= 2) {
                    const kv::Variant Top = S.GetItem(0);
                    S.SetItem(0, S.GetItem(1));
                    S.SetItem(1, Top);
                }
            },
            kv::BatchSwap());
        Binary(
            "Add", [](double A, double B) { return A + B; }, kv::BatchAdd());
        Binary(
            "Sub", [](double A, double B) { return A - B; }, kv::BatchSub());
        Binary(
            "Mul", [](double A, double B) { return A * B; }, kv::BatchMul());

        const int Size = GP.GetGenes()->GetItem(0)->GetSize();
        GP.SetGeneSize(Slots * Size);
        kv::RandSeed(19);
        const int Count = VM.GetInstructionSet()->GetCount();
        for (int P = 0; P < Programs; ++P) {
            kv::TKvGAIndividual* Item = GP.GetPopulation()->Add();
            for (int K = 0; K < Slots; ++K)
                Item->GetBits()->SetAsInteger(K * Size, Size,
                                              static_cast<int32_t>(kv::Random(Count)));
        }
    }

    template <class F>
    void Add(const char* Name, F Body, kv::TVMBatchEvent Batch) {
        kv::TVMInstruction* I = VM.GetInstructionSet()->Add();
        I->SetName(Name);
        I->SetOnExecute(
            [Body](kv::TObject*, kv::TVMExecutionStack* S, kv::TVMInstruction*) { Body(*S); });
        I->SetOnExecuteBatch(std::move(Batch));
    }
    template <class F>
    void Binary(const char* Name, F Op, kv::TVMBatchEvent Batch) {
        Add(
            Name,
            [Op](kv::TVMExecutionStack& S) {
                if (S.GetCount() >= 2) {
                    const double B = S.Pop().AsDouble();
                    const double A = S.Pop().AsDouble();
                    S.Push(Op(A, B));
                }
            },
            std::move(Batch));
    }
};

void SetCounters(benchmark::State& State, int Rows) {
    const double Instructions = double(Programs) * Rows * Slots;
    State.SetItemsProcessed(int64_t(State.iterations() * Instructions));
    const auto PerUnit =
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert;
    State.counters["per_instruction"] = benchmark::Counter(Instructions, PerUnit);
    State.counters["per_program"] = benchmark::Counter(Programs, PerUnit);
}

void BM_RowByRow(benchmark::State& State) {
    const int Rows = static_cast<int>(State.range(0));
    const std::vector<double> X = Points(Rows);
    TQuartic Q;
    Q.GP.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        if (!Q.VM.TryCompile(Item))
            return;
        double Error = 0;
        for (const double Xi : X) {
            Q.CurrentX = Xi;
            Q.GP.InitializeStack({Xi});
            Q.GP.ExecuteProgram();
            Error += std::fabs(Q.VM.GetStack()->GetTop().AsDouble() - Quartic(Xi));
        }
        F = Error;
    });
    for (auto _ : State) {
        Q.GP.EvaluateFitness();
        benchmark::ClobberMemory();
    }
    if (Q.VM.GetExecutionIndex() != Slots - 1 || !Q.VM.GetExecutionState().Contains(kv::esFinished))
        State.SkipWithError("a program did not run to its end");
    SetCounters(State, Rows);
}

void BM_Batch(benchmark::State& State) {
    const int Rows = static_cast<int>(State.range(0));
    TQuartic Q;
    Q.Column = Points(Rows);
    kv::TVMBatchStack Batch(Rows);
    Q.GP.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        if (!Q.VM.TryCompile(Item))
            return;
        Batch.Clear();
        Batch.Push(Q.Column);
        Q.GP.ExecuteBatch(Batch);
        const std::span<const double> Y = Batch.GetTop();
        double Error = 0;
        for (size_t I = 0; I < Y.size(); ++I)
            Error += std::fabs(Y[I] - Quartic(Q.Column[I]));
        F = Error;
    });
    for (auto _ : State) {
        Q.GP.EvaluateFitness();
        benchmark::ClobberMemory();
    }
    if (Q.VM.GetExecutionIndex() != Slots - 1 || !Q.VM.GetExecutionState().Contains(kv::esFinished))
        State.SkipWithError("a program did not run to its end");
    SetCounters(State, Rows);
}

} // namespace

BENCHMARK(BM_RowByRow)->Arg(20)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Batch)->Arg(20)->Arg(1000)->Unit(benchmark::kMicrosecond);
