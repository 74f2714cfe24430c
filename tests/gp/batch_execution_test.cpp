#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

using namespace kv;

namespace {

template <class F>
std::string MessageOf(F&& Call) {
    try {
        Call();
    } catch (const std::exception& E) {
        return E.what();
    }
    return "(nothing raised)";
}

// The same number, -0 told from 0; any NaN matches any NaN (C++ leaves a NaN's sign and payload
// to the compiler, which may swap the operands of an addition).
bool Same(double A, double B) {
    return (std::isnan(A) && std::isnan(B)) || std::memcmp(&A, &B, sizeof A) == 0;
}

// The quartic machine and more: X pushes the row's x, One pushes 1, Neg negates; the binary
// instructions pop b, then a, and push a op b; every instruction does nothing on too few values.
// Each has its row-by-row and its batch callback.
struct TRig {
    TKvGPVirtualMachine VM;
    TKvGeneticProgram GP;
    double X = 0;               // the row being run row by row
    std::vector<double> Column; // every row's x, for batch runs

    TRig() {
        GP.SetVM(&VM);
        VM.SetGeneticAlgorithm(&GP);
        Add(
            "X", [this](TVMExecutionStack& S) { S.Push(X); },
            [this](TVMBatchStack& S) { S.Push(Column); });
        Add(
            "One", [](TVMExecutionStack& S) { S.Push(1.0); }, BatchConstant(1));
        Add(
            "Dup",
            [](TVMExecutionStack& S) {
                if (S.GetCount() >= 1)
                    S.Push(S.GetTop());
            },
            BatchDup());
        Add(
            "Swap",
            [](TVMExecutionStack& S) {
                if (S.GetCount() >= 2) {
                    const Variant Top = S.GetItem(0);
                    S.SetItem(0, S.GetItem(1));
                    S.SetItem(1, Top);
                }
            },
            BatchSwap());
        Add(
            "Neg",
            [](TVMExecutionStack& S) {
                if (S.GetCount() >= 1)
                    S.Push(-S.Pop().AsDouble());
            },
            BatchUnary([](double A) { return -A; }));
        Binary(
            "Add", [](double A, double B) { return A + B; }, BatchAdd());
        Binary(
            "Sub", [](double A, double B) { return A - B; }, BatchSub());
        Binary(
            "Mul", [](double A, double B) { return A * B; }, BatchMul());
        Binary(
            "Div", [](double A, double B) { return A / B; }, BatchDiv());
    }

    template <class F>
    void Add(const char* Name, F Row, TVMBatchEvent Batch) {
        TVMInstruction* I = VM.GetInstructionSet()->Add();
        I->SetName(Name);
        I->SetOnExecute([Row](TObject*, TVMExecutionStack* S, TVMInstruction*) { Row(*S); });
        I->SetOnExecuteBatch(std::move(Batch));
    }
    template <class F>
    void Binary(const char* Name, F Op, TVMBatchEvent Batch) {
        Add(
            Name,
            [Op](TVMExecutionStack& S) {
                if (S.GetCount() >= 2) {
                    const double B = S.Pop().AsDouble();
                    const double A = S.Pop().AsDouble();
                    S.Push(Op(A, B));
                }
            },
            std::move(Batch));
    }
};

} // namespace

TEST(BatchStack, ColumnsCountFromTheTopAndKeepTheirPlace) {
    TVMBatchStack S(3);
    const std::vector<double> A = {1, 2, 3};
    S.Push(A);
    const std::span<double> Top = S.Push(7.5);
    S.Push(S.GetItem(1)); // a copy of the first column, pushed from the stack itself
    EXPECT_EQ(S.GetCount(), 3);
    EXPECT_EQ(Top[2], 7.5) << "pushing moved an earlier column";
    EXPECT_EQ(S.GetTop()[1], 2);
    S.Exchange(0, 1);
    EXPECT_EQ(S.GetTop()[0], 7.5);
    EXPECT_EQ(S.ToString(), "7.5 7.5 7.5\n1 2 3\n1 2 3\n");
    S.Pop();
    S.Pop();
    S.Pop();
    EXPECT_THROW(S.Pop(), EListError);
    EXPECT_THROW(S.GetTop(), EListError);
    EXPECT_THROW(S.GetItem(0), EListError);
    EXPECT_EQ(MessageOf([&] {
                  S.Push(std::vector<double>{1, 2});
              }),
              "A column of 2 values cannot be pushed on a batch of 3 rows");
    EXPECT_THROW(S.SetRows(-1), EGPException);
    S.SetRows(2);
    EXPECT_TRUE(S.IsEmpty());
    EXPECT_EQ(S.Push().size(), 2u);
}

TEST(BatchExecution, RandomProgramsGiveTheRowByRowResultsOnEveryRow) {
    TRig R;
    R.Column = {-2.5, -1, -0.0, 0, 0.5, 1, 3, 1e300};
    const int Size = R.GP.GetGenes()->GetItem(0)->GetSize(); // 9 instructions: 4 bits a slot
    const int Count = R.VM.GetInstructionSet()->GetCount();
    RandSeed(41);
    TVMBatchStack Batch(static_cast<int>(R.Column.size()));
    for (int Trial = 0; Trial < 300; ++Trial) {
        const int Slots = static_cast<int>(Random(31));
        R.GP.SetGeneSize(std::max(Slots * Size, Size));
        R.GP.GetPopulation()->Clear();
        TKvGAIndividual* Item = R.GP.GetPopulation()->Add();
        Item->GetBits()->SetSize(Slots * Size);
        for (int K = 0; K < Slots; ++K)
            Item->GetBits()->SetAsInteger(K * Size, Size, static_cast<int32_t>(Random(Count)));
        // Unbounded, or a step limit that may cut the program short.
        R.GP.SetLimitNumber(Random(3) == 0 ? static_cast<int32_t>(Random(Slots + 1)) : 0);
        ASSERT_TRUE(R.VM.TryCompile(Item));

        Batch.Clear();
        Batch.Push(R.Column);
        R.GP.ExecuteBatch(Batch);
        const int32_t BatchIndex = R.VM.GetExecutionIndex();
        const TExecutionStates BatchState = R.VM.GetExecutionState();

        for (size_t Row = 0; Row < R.Column.size(); ++Row) {
            R.X = R.Column[Row];
            R.GP.InitializeStack({R.X});
            R.GP.ExecuteProgram();
            ASSERT_EQ(R.VM.GetStack()->GetCount(), Batch.GetCount()) << "trial " << Trial;
            for (int I = 0; I < Batch.GetCount(); ++I) {
                const double Expected = R.VM.GetStack()->GetItem(I).AsDouble();
                ASSERT_TRUE(Same(Batch.GetItem(I)[Row], Expected))
                    << "trial " << Trial << ", row " << Row << ", entry " << I << ": "
                    << Batch.GetItem(I)[Row] << " instead of " << Expected;
            }
        }
        EXPECT_EQ(R.VM.GetExecutionIndex(), BatchIndex);
        EXPECT_EQ(R.VM.GetExecutionState(), BatchState);
    }
}

TEST(BatchExecution, RefusesMissingCallbacksAndFailsLikeASteppedRun) {
    TRig R;
    R.Column = {1, 2};
    TVMBatchStack Batch(2);
    TKvVirtualMachine& VM = R.VM;
    int Errors = 0, StepEvents = 0, Finishes = 0;
    std::string Error;
    VM.SetOnError([&](TObject*, const std::exception& E) {
        ++Errors;
        Error = E.what();
    });
    VM.SetOnExecuting([&](TObject*) { ++StepEvents; });
    VM.SetOnExecuted([&](TObject*) { ++StepEvents; });
    VM.SetOnFinished([&](TObject*) { ++Finishes; });

    // X One Add: runs; the per-step events are not called, OnFinished is.
    VM.Initialize(TIntegerArray{0, 1, 5}, TVarRecList{});
    VM.ExecuteBatch(Batch);
    ASSERT_EQ(Batch.GetCount(), 1);
    EXPECT_EQ(Batch.GetTop()[1], 3);
    EXPECT_EQ(StepEvents, 0);
    EXPECT_EQ(Finishes, 1);
    EXPECT_TRUE(VM.GetExecutionState().Contains(esFinished));

    // An instruction without a batch callback: refused before anything runs.
    VM.GetInstructionSet()->GetItem(2)->SetOnExecuteBatch(nullptr);
    VM.Initialize(TIntegerArray{0, 2}, TVarRecList{});
    const TExecutionStates Before = VM.GetExecutionState();
    Batch.Clear();
    EXPECT_EQ(MessageOf([&] { VM.ExecuteBatch(Batch); }),
              "Instruction \"Dup\" at position 1 has no batch callback (OnExecuteBatch): the "
              "program cannot run over a batch");
    EXPECT_TRUE(Batch.IsEmpty());
    EXPECT_EQ(VM.GetExecutionState(), Before);
    EXPECT_EQ(VM.GetExecutionIndex(), 0);

    // A callback that raises ends the run through OnError; later instructions do not run.
    VM.GetInstructionSet()->GetItem(2)->SetOnExecuteBatch(
        [](TVMBatchStack&) { throw std::runtime_error("no column"); });
    VM.Initialize(TIntegerArray{0, 2, 1}, TVarRecList{});
    VM.ExecuteBatch(Batch);
    EXPECT_EQ(Errors, 1);
    EXPECT_EQ(Error, "no column");
    EXPECT_EQ(Batch.GetCount(), 1);
    EXPECT_TRUE(VM.GetExecutionState().Contains(esError));
    EXPECT_TRUE(VM.GetExecutionState().Contains(esFinished));
    EXPECT_EQ(VM.GetExecutionIndex(), 1);

    // A code outside the set ends it too, without OnError; a step limit stops it unfinished.
    Batch.Clear();
    VM.SetEncodedProgram({0, 99, 1});
    VM.Initialized();
    VM.ExecuteBatch(Batch);
    EXPECT_TRUE(VM.GetExecutionState().Contains(esInvalidOperation));
    EXPECT_EQ(Errors, 1);
    EXPECT_EQ(Batch.GetCount(), 1);
    Batch.Clear();
    VM.Initialize(TIntegerArray{0, 1, 1}, TVarRecList{});
    VM.ExecuteBatch(Batch, 2);
    EXPECT_EQ(Batch.GetCount(), 2);
    EXPECT_EQ(VM.GetExecutionIndex(), 2);
    EXPECT_FALSE(VM.IsFinished());
}
