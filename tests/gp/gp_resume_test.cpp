// A genetic program with AutoExecution, checkpointed and continued in another process, ends byte
// for byte where the uninterrupted run ends; its execution settings travel in the checkpoint.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "../ga/child_process.h"
#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

using namespace kv;

namespace {

// A machine and a genetic program bound both ways, with instructions whose callback draws from
// the current source (Push pushes a random digit) and a fitness callback that draws too.
struct TRun {
    TKvGPVirtualMachine VM;
    TKvGeneticProgram GP;

    TRun() {
        GP.SetVM(&VM);
        VM.SetGeneticAlgorithm(&GP);
        TVMInstructionSet& Set = *VM.GetInstructionSet();
        for (const char* Name : {"Push", "Dup", "Add", "Mul", "Sub"})
            Set.Add()->SetName(Name);
        VM.SetOnExecuteInstruction([](TObject*, TVMExecutionStack* Stack, TVMInstruction* Item) {
            if (Item->GetIndex() == 0) {
                Stack->Push(Variant(int64_t{Random(10)}));
            } else if (Item->GetIndex() == 1) {
                if (Stack->GetCount() > 0)
                    Stack->Push(Stack->GetTop());
            } else if (Stack->GetCount() > 1) {
                const int64_t B = Stack->Pop().AsInt64() % 1000;
                const int64_t A = Stack->Pop().AsInt64() % 1000;
                const int I = Item->GetIndex();
                Stack->Push(Variant(I == 2 ? A + B : I == 3 ? A * B : A - B));
            }
        });
        GP.SetOnInitializeStack([this](TObject*) { VM.GetStack()->Push(Variant(int64_t{3})); });
        GP.SetOnEvaluateFitness([this](TObject*, TKvGAIndividual*, TGAFitness& F) {
            const int64_t Top = VM.GetStack()->GetCount() ? VM.GetStack()->GetTop().AsInt64() : 0;
            F = static_cast<double>(Top > 42 ? Top - 42 : 42 - Top) + 0.25 * Random();
        });
    }

    // Everything a fresh run sets beyond the callbacks.
    void SetUp() {
        GP.SetGeneSize(8 * GP.GetGenes()->GetItem(0)->GetSize());
        GP.SetInitialPopulation(9);
        GP.SetAutoExecution(true);
        GP.SetLimitNumber(6);
        GP.SetSelectionMethod(smTournament);
        GP.SetElitistPct(0.3);
        GP.SetRandomSeed(77);
    }

    std::string Checkpoint() const {
        std::ostringstream S;
        GP.SaveCheckpoint(S);
        return S.str();
    }
};

} // namespace

TEST(GPCheckpoint, ContinuedInAnotherProcessEndsByteForByteAsTheUninterruptedRun) {
    const std::filesystem::path Dir = kvtest::FreshTestDir("resume_gp");
    const int N = 5, M = 6;
    TRun Whole;
    Whole.SetUp();
    Whole.GP.Evolve(N + M);

    TRun First;
    First.SetUp();
    First.GP.Evolve(N);
    const std::filesystem::path In = Dir / "gp.in.xml", Out = Dir / "gp.out.xml";
    First.GP.SaveCheckpoint(In.string());
    ASSERT_EQ(kvtest::RunThisProgram("GPResumeProcess.ContinuesTheGivenCheckpoint",
                                     {{"KVGA_RESUME_IN", In.string()},
                                      {"KVGA_RESUME_OUT", Out.string()},
                                      {"KVGA_RESUME_GENERATIONS", std::to_string(M)}}),
              0);
    std::ifstream Saved(Out, std::ios::binary);
    std::stringstream Text;
    Text << Saved.rdbuf();
    EXPECT_EQ(Text.str(), Whole.Checkpoint());
    std::filesystem::remove_all(Dir);
}

// The second half of the test above, run in a child process; skipped when run on its own.
TEST(GPResumeProcess, ContinuesTheGivenCheckpoint) {
    const char* In = std::getenv("KVGA_RESUME_IN");
    if (In == nullptr)
        GTEST_SKIP() << "run in a child process by the resume test";
    TRun Run; // the machine and the callbacks; the engine's settings come from the file
    Run.GP.LoadCheckpoint(std::string(In));
    EXPECT_TRUE(Run.GP.GetAutoExecution());
    EXPECT_EQ(Run.GP.GetLimitNumber(), 6);
    Run.GP.Evolve(std::atoi(std::getenv("KVGA_RESUME_GENERATIONS")));
    Run.GP.SaveCheckpoint(std::string(std::getenv("KVGA_RESUME_OUT")));
}
