#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/update_guard.h"

using namespace kv;

namespace {

using S = TExecutionStates;

std::vector<std::string> Lines(const TStrings& L) {
    std::vector<std::string> R;
    for (int I = 0; I < L.GetCount(); ++I)
        R.push_back(L[I]);
    return R;
}

std::string InstrName(int I) {
    std::string S(1, 'i');
    S.append(std::to_string(I));
    return S;
}

// A machine with instructions i0..i(N-1) that log their names, bound both ways to an engine whose
// individuals have Bits bits.
struct TBoundMachine {
    TKvGPVirtualMachine VM;
    TKvGeneticAlgorithm GA;
    std::vector<std::string> Log;

    TBoundMachine(int N, int Bits) {
        for (int I = 0; I < N; ++I) {
            TVMInstruction* Instr = VM.GetInstructionSet()->Add();
            Instr->SetName(InstrName(I));
            Instr->SetOnExecute([this](TObject*, TVMExecutionStack*, TVMInstruction* Item) {
                Log.push_back(Item->GetName());
            });
        }
        VM.SetGeneticAlgorithm(&GA);
        VM.UpdateGenes(GA.GetGenes());
        GA.SetGeneSize(Bits);
    }
    int SlotSize() const { return GA.GetGenes()->GetItem(0)->GetSize(); }
    // A new individual whose first slots hold Slots (raw, unchecked values).
    TKvGAIndividual* Individual(const std::vector<int>& Slots) {
        TKvGAIndividual* Item = GA.GetPopulation()->Add();
        TKvGABits& Bits = *Item->GetBits();
        Bits.PreserveSignBit = false;
        for (size_t K = 0; K < Slots.size(); ++K)
            Bits.SetAsInteger(static_cast<int32_t>(K) * SlotSize(), SlotSize(), Slots[K]);
        return Item;
    }
};

template <class F>
std::string MessageOf(F&& Call) {
    try {
        Call();
    } catch (const EGPException& E) {
        return E.what();
    }
    return "(nothing raised)";
}

} // namespace

TEST(GPVirtualMachine, SlotsFollowTheInstructionCountAndTheChromosomeLength) {
    // Five instructions: 3-bit slots; 30 bits give 10 slots, 31 bits too (the last bit is ignored).
    for (int Bits : {30, 31}) {
        TBoundMachine M(5, Bits);
        ASSERT_EQ(M.SlotSize(), 3);
        TKvGAIndividual* Item = M.Individual({4, 0, 3, 1, 2, 0, 0, 0, 0, 4});
        if (Bits == 31)
            Item->GetBits()->SetBit(30, true); // beyond the last slot
        M.VM.Compile(Item);
        EXPECT_EQ(M.VM.GetEncodedProgram(), (TIntegerArray{4, 0, 3, 1, 2, 0, 0, 0, 0, 4}));
        M.VM.DecodeProgram(Item);
        EXPECT_EQ(M.VM.GetGPProgram()->GetCount(), 10);
        EXPECT_EQ(M.VM.GetGPProgram()->GetString(0), "i4");
    }
    // Slot widths by instruction count.
    for (auto [Count, Width] : {std::pair{1, 1}, {2, 2}, {3, 2}, {4, 3}, {7, 3}, {8, 4}, {15, 4}}) {
        TBoundMachine M(Count, 8);
        EXPECT_EQ(M.SlotSize(), Width) << Count << " instructions";
    }
    // One instruction: 1-bit slots; 0 is the instruction, 1 is invalid.
    TBoundMachine One(1, 3);
    TKvGAIndividual* Item = One.Individual({0, 1, 0});
    One.VM.DecodeProgram(Item);
    EXPECT_EQ(Lines(*One.VM.GetGPProgram()),
              (std::vector<std::string>{"i0", "INVALID OPERATION", "i0"}));
    EXPECT_EQ(MessageOf([&] { One.VM.Compile(Item); }), "Unknown instruction \"1\"");
}

TEST(GPVirtualMachine, UpdateGenesLeavesOnlyTheInstructionGene) {
    TKvGPVirtualMachine VM;
    for (const char* Name : {"Push", "Pop", "Add"})
        VM.GetInstructionSet()->Add()->SetName(Name);
    TKvGeneticAlgorithm GA;
    TKvGAGenes* Genes = GA.GetGenes();
    for (int I = 0; I < 3; ++I) {
        TKvGAGene* G = Genes->Add();
        G->SetGeneType(gtInteger);
        G->SetSize(8);
    }
    ASSERT_EQ(GA.GetGeneSize(), 24);
    VM.UpdateGenes(Genes);
    ASSERT_EQ(Genes->GetCount(), 1);
    const TKvGAGene* Gene = Genes->GetItem(0);
    EXPECT_EQ(Gene->GetName(), "Instructions");
    EXPECT_EQ(Gene->GetGeneType(), gtEnumeration);
    EXPECT_EQ(Gene->GetSize(), 2);
    EXPECT_EQ(Gene->GetOffset(), 0);
    EXPECT_EQ(Lines(*Gene->GetEnumerations()), (std::vector<std::string>{"Push", "Pop", "Add"}));
    // The engine's chromosomes never shrink: the 24 bits of the three genes stay.
    EXPECT_EQ(GA.GetGeneSize(), 24);
    EXPECT_THROW(VM.UpdateGenes(nullptr), EGPException);
}

TEST(GPVirtualMachine, InstructionChangesLayOutTheBoundEngineAgain) {
    TBoundMachine M(3, 12);
    TVMInstructionSet& Set = *M.VM.GetInstructionSet();
    const TKvGAGenes* Genes = M.GA.GetGenes();

    Set.GetItem(1)->SetName("Swap");
    EXPECT_EQ(Lines(*Genes->GetItem(0)->GetEnumerations()),
              (std::vector<std::string>{"i0", "Swap", "i2"}));

    Set.Add()->SetName("Mul"); // 4 instructions: 3-bit slots
    EXPECT_EQ(Lines(*Genes->GetItem(0)->GetEnumerations()),
              (std::vector<std::string>{"i0", "Swap", "i2", "Mul"}));
    EXPECT_EQ(M.SlotSize(), 3);

    Set.Delete(0); // the deleted instruction is gone from the gene once the deletion is over
    Set.Delete(0);
    EXPECT_EQ(Lines(*Genes->GetItem(0)->GetEnumerations()),
              (std::vector<std::string>{"i2", "Mul"}));
    EXPECT_EQ(M.SlotSize(), 2);

    {
        TUpdateGuard Batch(Set);
        Set.Add()->SetName("a");
        Set.Add()->SetName("b");
    }
    EXPECT_EQ(Lines(*Genes->GetItem(0)->GetEnumerations()),
              (std::vector<std::string>{"i2", "Mul", "a", "b"}));

    // Unbound, the engine's genes are left alone.
    M.VM.SetGeneticAlgorithm(nullptr);
    Set.GetItem(0)->SetName("x");
    EXPECT_EQ(Genes->GetItem(0)->GetEnumerations()->GetString(0), "i2");
    // Binding alone does not lay the genes out either.
    M.VM.SetGeneticAlgorithm(&M.GA);
    EXPECT_EQ(Genes->GetItem(0)->GetEnumerations()->GetString(0), "i2");
}

TEST(GPVirtualMachine, DecodeNamesSlotsAndCompileStopsAtTheFirstInvalidOne) {
    TBoundMachine M(5, 9);
    TKvGAIndividual* Item = M.Individual({2, 1, 7});

    // A previous, valid compile leaves esEncoded; the failing compile must not keep it.
    TKvGAIndividual* Good = M.Individual({0, 1, 2});
    M.VM.Compile(Good);
    ASSERT_TRUE(M.VM.GetExecutionState().Contains(esEncoded));

    M.VM.DecodeProgram(Item);
    EXPECT_EQ(Lines(*M.VM.GetGPProgram()),
              (std::vector<std::string>{"i2", "i1", "INVALID OPERATION"}));
    EXPECT_EQ(M.VM.GetExecutionState(), S());

    EXPECT_EQ(MessageOf([&] { M.VM.Compile(Item); }), "Unknown instruction \"7\"");
    EXPECT_EQ(M.VM.GetExecutionState(), S{esInvalidOperation});
    EXPECT_EQ(M.VM.GetEncodedProgram(), (TIntegerArray{2, 1, 7}));
    EXPECT_TRUE(M.VM.IsFinished());
    // GPProgram is untouched by a compile.
    EXPECT_EQ(M.VM.GetGPProgram()->GetCount(), 3);

    // TryCompile leaves the same state without raising.
    M.VM.Compile(Good);
    EXPECT_FALSE(M.VM.TryCompile(Item));
    EXPECT_EQ(M.VM.GetExecutionState(), S{esInvalidOperation});
    EXPECT_EQ(M.VM.GetEncodedProgram(), (TIntegerArray{2, 1, 7}));
}

TEST(GPVirtualMachine, CompiledIndividualRunsAfterInitialized) {
    TBoundMachine M(4, 15);
    TKvGAIndividual* Item = M.Individual({3, 0, 2, 2, 1});
    M.VM.GetGPProgram()->Add("i1");
    M.VM.Compile(); // names: a different program on display
    M.VM.Initialized();
    M.VM.Execute(100);
    ASSERT_TRUE(M.VM.GetExecutionState().Contains(esFinished));

    EXPECT_TRUE(M.VM.TryCompile(Item));
    EXPECT_EQ(M.VM.GetExecutionIndex(), 0);
    EXPECT_TRUE(M.VM.GetExecutionState().Contains(esEncoded));
    EXPECT_FALSE(M.VM.GetExecutionState().Contains(esEncoding));
    EXPECT_TRUE(M.VM.GetExecutionState().Contains(esFinished)); // not cleared by the compile
    EXPECT_EQ(Lines(*M.VM.GetGPProgram()), (std::vector<std::string>{"i1"}));

    M.Log.clear();
    M.VM.Initialized();
    M.VM.Execute(100);
    EXPECT_EQ(M.Log, (std::vector<std::string>{"i3", "i0", "i2", "i2", "i1"}));
}

TEST(GPVirtualMachine, SignedSlotsAndTheChromosomeSignFlag) {
    TBoundMachine M(5, 6);
    TKvGAIndividual* Item = M.Individual({7, 1});
    TKvGAGene* Gene = M.GA.GetGenes()->GetItem(0);
    Gene->SetPreserveSignBit(true);
    EXPECT_EQ(MessageOf([&] { M.VM.Compile(Item); }), "Unknown instruction \"-1\"");
    Gene->SetPreserveSignBit(false);
    // The chromosome's own flag does not change how the gene reads, and is left as it was.
    Item->GetBits()->PreserveSignBit = true;
    EXPECT_EQ(MessageOf([&] { M.VM.Compile(Item); }), "Unknown instruction \"7\"");
    M.VM.DecodeProgram(Item);
    EXPECT_EQ(Lines(*M.VM.GetGPProgram()), (std::vector<std::string>{"INVALID OPERATION", "i1"}));
    EXPECT_TRUE(Item->GetBits()->PreserveSignBit);
}

TEST(GPVirtualMachine, ReadingWithoutAProgramGeneRaisesAndChangesNothing) {
    TKvGPVirtualMachine VM;
    VM.GetInstructionSet()->Add()->SetName("a");
    TKvGeneticAlgorithm GA;
    TKvGAIndividual* Item = GA.GetPopulation()->Add();
    VM.GetGPProgram()->Add("a");
    VM.Compile();
    const S Before = VM.GetExecutionState();

    // No bound engine.
    EXPECT_EQ(MessageOf([&] { VM.Compile(Item); }), "Missing Genetic Program Engine");
    EXPECT_EQ(MessageOf([&] { VM.DecodeProgram(Item); }), "Missing Genetic Program Engine");
    EXPECT_EQ(MessageOf([&] { VM.TryCompile(Item); }), "Missing Genetic Program Engine");
    EXPECT_EQ(MessageOf([&] { VM.Compile(nullptr, Item); }), "Missing Genetic Program Engine");

    // An engine without genes.
    VM.SetGeneticAlgorithm(&GA);
    GA.SetName("Breeder");
    EXPECT_NE(MessageOf([&] { VM.Compile(Item); }).find("\"Breeder\" has no genes"),
              std::string::npos);
    EXPECT_NE(MessageOf([&] { VM.DecodeProgram(Item); }).find("no genes"), std::string::npos);

    // A first gene of size 0 (genes laid out by hand, never from the instruction set).
    TKvGAGene* Gene = GA.GetGenes()->Add();
    Gene->SetName("Empty");
    EXPECT_NE(MessageOf([&] { VM.Compile(Item); }).find("\"Empty\" has size 0"), std::string::npos);
    EXPECT_NE(MessageOf([&] { VM.DecodeProgram(Item); }).find("size 0"), std::string::npos);

    // No individual.
    VM.UpdateGenes(GA.GetGenes());
    EXPECT_EQ(MessageOf([&] { VM.Compile(nullptr); }), "No individual to read a program from");

    EXPECT_EQ(VM.GetExecutionState(), Before);
    EXPECT_EQ(Lines(*VM.GetGPProgram()), (std::vector<std::string>{"a"}));
}

TEST(GPVirtualMachine, BindingFollowsTheLifetimesOfEngineAndMachine) {
    TKvGPVirtualMachine VM;
    VM.GetInstructionSet()->Add()->SetName("a");
    {
        TKvGeneticAlgorithm GA;
        VM.SetGeneticAlgorithm(&GA);
        EXPECT_EQ(VM.GetGeneticAlgorithm(), &GA);
    }
    EXPECT_EQ(VM.GetGeneticAlgorithm(), nullptr);
    TKvGeneticAlgorithm Other;
    TKvGAIndividual* Item = Other.GetPopulation()->Add();
    EXPECT_EQ(MessageOf([&] { VM.Compile(Item); }), "Missing Genetic Program Engine");
    // Changing the set now touches no engine.
    VM.GetInstructionSet()->Add()->SetName("b");

    // Rebinding: the engine bound before is no longer watched or laid out.
    auto First = std::make_unique<TKvGeneticAlgorithm>();
    TKvGeneticAlgorithm Second;
    VM.SetGeneticAlgorithm(First.get());
    VM.SetGeneticAlgorithm(&Second);
    First.reset();
    EXPECT_EQ(VM.GetGeneticAlgorithm(), &Second);

    // A machine destroyed before its engine unbinds itself; the engine's later changes are safe.
    auto Owned = std::make_unique<TKvGPVirtualMachine>();
    Owned->SetGeneticAlgorithm(&Second);
    Owned.reset();
    Second.GetGenes()->Add();

    // Owned by the engine it is bound to: destroying the engine takes both down cleanly.
    auto Engine = std::make_unique<TKvGeneticAlgorithm>();
    auto* Child = new TKvGPVirtualMachine(Engine.get());
    Child->GetInstructionSet()->Add()->SetName("a");
    Child->SetGeneticAlgorithm(Engine.get());
    Child->UpdateGenes(Engine->GetGenes());
    Engine.reset();
}

TEST(GPVirtualMachine, InterfaceReachesEveryForm) {
    TBoundMachine M(2, 4);
    TKvGAIndividual* Item = M.Individual({1, 0});
    IKvGPVirtualMachine* I = &M.VM;
    I->Compile(Item);
    EXPECT_EQ(M.VM.GetEncodedProgram(), (TIntegerArray{1, 0}));
    I->DecodeProgram(&M.GA, Item);
    EXPECT_EQ(Lines(*M.VM.GetGPProgram()), (std::vector<std::string>{"i1", "i0"}));
    I->Compile(); // the names decoded just now
    EXPECT_EQ(M.VM.GetEncodedProgram(), (TIntegerArray{1, 0}));
    I->Initialized();
    I->Execute(5);
    EXPECT_TRUE(I->IsFinished());
    EXPECT_EQ(M.Log, (std::vector<std::string>{"i1", "i0"}));
    EXPECT_EQ(IKvGPVirtualMachine::IID, "{73F3BA30-11CB-4ED8-8FEF-806253E3D0AA}");
}
