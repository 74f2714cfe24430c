#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/update_guard.h"

using namespace kv;

namespace {

using S = TExecutionStates;
using Names = std::vector<std::string>;

Names Lines(const TStrings& L) {
    Names R;
    for (int I = 0; I < L.GetCount(); ++I)
        R.push_back(L[I]);
    return R;
}

// "i<I>", built without operator+ (g++ 12 -O3 reports a false -Wrestrict on "i" + to_string).
std::string InstrName(int I) {
    std::string Name(1, 'i');
    Name.append(std::to_string(I));
    return Name;
}

template <class F>
std::string MessageOf(F&& Call) {
    try {
        Call();
    } catch (const EGPException& E) {
        return E.what();
    }
    return "(nothing raised)";
}

// Instructions i0..i(N-1), bound both ways to an engine whose chromosomes have Bits bits.
struct TBoundMachine {
    TKvGPVirtualMachine VM;
    TKvGeneticAlgorithm GA;

    TBoundMachine(int N, int Bits) {
        for (int I = 0; I < N; ++I)
            VM.GetInstructionSet()->Add()->SetName(InstrName(I));
        VM.SetGeneticAlgorithm(&GA);
        VM.UpdateGenes(GA.GetGenes());
        GA.SetGeneSize(Bits);
    }
    int SlotSize() const { return GA.GetGenes()->GetItem(0)->GetSize(); }
    const TStrings& GeneValues() const { return *GA.GetGenes()->GetItem(0)->GetEnumerations(); }
    // A new individual whose first slots hold Slots (raw values, valid or not).
    TKvGAIndividual* Individual(const std::vector<int>& Slots) {
        TKvGAIndividual* Item = GA.GetPopulation()->Add();
        for (size_t K = 0; K < Slots.size(); ++K)
            Item->GetBits()->SetAsInteger(static_cast<int32_t>(K) * SlotSize(), SlotSize(),
                                          Slots[K]);
        return Item;
    }
};

} // namespace

TEST(GPVirtualMachine, SlotsFollowTheInstructionCountAndTheChromosomeLength) {
    for (auto [Count, Width] : {std::pair{1, 1}, {2, 2}, {3, 2}, {4, 3}, {7, 3}, {8, 4}})
        EXPECT_EQ(TBoundMachine(Count, 8).SlotSize(), Width) << Count << " instructions";
    // Five instructions, 3-bit slots: 30 bits hold 10 slots, and so do 31 (the last bit is unused).
    TBoundMachine M(5, 31);
    TKvGAIndividual* Item = M.Individual({4, 0, 3, 1, 2, 0, 0, 0, 0, 4});
    Item->GetBits()->SetBit(30, true);
    M.VM.Compile(Item);
    EXPECT_EQ(M.VM.GetEncodedProgram(), (TIntegerArray{4, 0, 3, 1, 2, 0, 0, 0, 0, 4}));
    // One instruction, 1-bit slots: 1 is outside the set.
    TBoundMachine One(1, 3);
    Item = One.Individual({0, 1, 0});
    One.VM.DecodeProgram(Item);
    EXPECT_EQ(Lines(*One.VM.GetGPProgram()), (Names{"i0", "INVALID OPERATION", "i0"}));
    EXPECT_EQ(MessageOf([&] { One.VM.Compile(Item); }), "Unknown instruction \"1\"");
}

TEST(GPVirtualMachine, UpdateGenesAndInstructionChangesLayOutTheInstructionGene) {
    TKvGPVirtualMachine VM;
    for (const char* Name : {"Push", "Pop", "Add"})
        VM.GetInstructionSet()->Add()->SetName(Name);
    TKvGeneticAlgorithm GA;
    for (int I = 0; I < 3; ++I) {
        TKvGAGene* G = GA.GetGenes()->Add();
        G->SetGeneType(gtInteger);
        G->SetSize(8);
    }
    VM.UpdateGenes(GA.GetGenes());
    ASSERT_EQ(GA.GetGenes()->GetCount(), 1);
    const TKvGAGene* Gene = GA.GetGenes()->GetItem(0);
    EXPECT_EQ(Gene->GetName(), "Instructions");
    EXPECT_EQ(Gene->GetGeneType(), gtEnumeration);
    EXPECT_EQ(Gene->GetSize(), 2);
    EXPECT_EQ(Lines(*Gene->GetEnumerations()), (Names{"Push", "Pop", "Add"}));
    EXPECT_EQ(GA.GetGeneSize(), 24); // chromosomes never shrink
    EXPECT_THROW(VM.UpdateGenes(nullptr), EGPException);

    // Bound: renames, additions, deletions and batches lay the genes out again.
    TBoundMachine M(3, 12);
    TVMInstructionSet& Set = *M.VM.GetInstructionSet();
    Set.GetItem(1)->SetName("Swap");
    Set.Add()->SetName("Mul");
    EXPECT_EQ(Lines(M.GeneValues()), (Names{"i0", "Swap", "i2", "Mul"}));
    EXPECT_EQ(M.SlotSize(), 3);
    Set.Delete(0);
    Set.Delete(0);
    EXPECT_EQ(Lines(M.GeneValues()), (Names{"i2", "Mul"}));
    EXPECT_EQ(M.SlotSize(), 2);
    {
        TUpdateGuard Batch(Set);
        Set.Add()->SetName("a");
    }
    EXPECT_EQ(Lines(M.GeneValues()), (Names{"i2", "Mul", "a"}));
    // Unbound, the engine's genes are left alone; binding alone does not lay them out either.
    M.VM.SetGeneticAlgorithm(nullptr);
    Set.GetItem(0)->SetName("x");
    M.VM.SetGeneticAlgorithm(&M.GA);
    EXPECT_EQ(M.GeneValues()[0], "i2");
}

TEST(GPVirtualMachine, DecodeNamesSlotsAndCompileStopsAtTheFirstInvalidOne) {
    TBoundMachine M(5, 9);
    TKvGAIndividual* Bad = M.Individual({2, 1, 7});
    TKvGAIndividual* Good = M.Individual({3, 0, 4});
    M.VM.DecodeProgram(Bad);
    EXPECT_EQ(Lines(*M.VM.GetGPProgram()), (Names{"i2", "i1", "INVALID OPERATION"}));
    EXPECT_EQ(M.VM.GetExecutionState(), S());

    // A valid compile leaves GPProgram, adds esEncoded and keeps the finished flags.
    M.VM.Initialized();
    M.VM.Compile(Good);
    EXPECT_EQ(M.VM.GetExecutionState(), (S{esInitialized, esEncoded}));
    EXPECT_EQ(M.VM.GetExecutionIndex(), 0);
    EXPECT_EQ(M.VM.GetGPProgram()->GetCount(), 3);

    // The failing compile drops the esEncoded of the program it overwrites.
    EXPECT_EQ(MessageOf([&] { M.VM.Compile(Bad); }), "Unknown instruction \"7\"");
    EXPECT_EQ(M.VM.GetExecutionState(), (S{esInitialized, esInvalidOperation}));
    EXPECT_EQ(M.VM.GetEncodedProgram(), (TIntegerArray{2, 1, 7}));
    EXPECT_TRUE(M.VM.IsFinished());

    // TryCompile: the same outcome without the exception.
    EXPECT_TRUE(M.VM.TryCompile(Good));
    EXPECT_FALSE(M.VM.TryCompile(Bad));
    EXPECT_EQ(M.VM.GetExecutionState(), (S{esInitialized, esInvalidOperation}));
    EXPECT_EQ(M.VM.GetEncodedProgram(), (TIntegerArray{2, 1, 7}));

    // Through the interface: every form, the names' compile included.
    IKvGPVirtualMachine* I = &M.VM;
    I->DecodeProgram(&M.GA, Good);
    I->Compile();
    EXPECT_EQ(M.VM.GetEncodedProgram(), (TIntegerArray{3, 0, 4}));
    EXPECT_EQ(IKvGPVirtualMachine::IID, "{73F3BA30-11CB-4ED8-8FEF-806253E3D0AA}");
}

TEST(GPVirtualMachine, SlotsAreReadByTheGenesSignRuleAndTheChromosomeIsNotWritten) {
    TBoundMachine M(5, 6);
    TKvGAIndividual* Item = M.Individual({7, 1});
    M.GA.GetGenes()->GetItem(0)->SetPreserveSignBit(true);
    EXPECT_EQ(MessageOf([&] { M.VM.Compile(Item); }), "Unknown instruction \"-1\"");
    M.GA.GetGenes()->GetItem(0)->SetPreserveSignBit(false);
    Item->GetBits()->PreserveSignBit = true;
    EXPECT_EQ(MessageOf([&] { M.VM.Compile(Item); }), "Unknown instruction \"7\"");
    M.VM.DecodeProgram(Item);
    EXPECT_EQ(Lines(*M.VM.GetGPProgram()), (Names{"INVALID OPERATION", "i1"}));
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
    auto Messages = [&] {
        return Names{MessageOf([&] { VM.Compile(Item); }),
                     MessageOf([&] { VM.DecodeProgram(Item); }),
                     MessageOf([&] { VM.TryCompile(Item); })};
    };
    const std::string Missing = "Missing Genetic Program Engine";
    EXPECT_EQ(Messages(), (Names{Missing, Missing, Missing}));
    EXPECT_EQ(MessageOf([&] { VM.Compile(nullptr, Item); }), Missing);

    VM.SetGeneticAlgorithm(&GA);
    GA.SetName("Breeder");
    for (const std::string& M : Messages())
        EXPECT_NE(M.find("\"Breeder\" has no genes"), std::string::npos) << M;

    GA.GetGenes()->Add()->SetName("Empty"); // a gene of size 0
    for (const std::string& M : Messages())
        EXPECT_NE(M.find("\"Empty\" has size 0"), std::string::npos) << M;

    VM.UpdateGenes(GA.GetGenes());
    EXPECT_EQ(MessageOf([&] { VM.Compile(nullptr); }), "No individual to read a program from");
    EXPECT_EQ(VM.GetExecutionState(), Before);
    EXPECT_EQ(Lines(*VM.GetGPProgram()), (Names{"a"}));
}

TEST(GPVirtualMachine, BindingFollowsTheLifetimesOfEngineAndMachine) {
    TKvGPVirtualMachine VM;
    VM.GetInstructionSet()->Add()->SetName("a");
    {
        TKvGeneticAlgorithm GA;
        VM.SetGeneticAlgorithm(&GA);
    }
    EXPECT_EQ(VM.GetGeneticAlgorithm(), nullptr);
    TKvGeneticAlgorithm Other;
    TKvGAIndividual* Item = Other.GetPopulation()->Add();
    EXPECT_EQ(MessageOf([&] { VM.Compile(Item); }), "Missing Genetic Program Engine");
    VM.GetInstructionSet()->Add()->SetName("b"); // reaches no engine

    // Rebinding stops watching the engine bound before.
    auto First = std::make_unique<TKvGeneticAlgorithm>();
    VM.SetGeneticAlgorithm(First.get());
    VM.SetGeneticAlgorithm(&Other);
    First.reset();
    EXPECT_EQ(VM.GetGeneticAlgorithm(), &Other);

    // A machine destroyed first unbinds itself; owned by its engine, both go down cleanly.
    auto Owned = std::make_unique<TKvGPVirtualMachine>();
    Owned->SetGeneticAlgorithm(&Other);
    Owned.reset();
    Other.GetGenes()->Add();
    auto Engine = std::make_unique<TKvGeneticAlgorithm>();
    auto* Child = new TKvGPVirtualMachine(Engine.get());
    Child->GetInstructionSet()->Add()->SetName("a");
    Child->SetGeneticAlgorithm(Engine.get());
    Engine.reset();
}

TEST(GPVirtualMachine, ModuloDecodingMakesEverySlotAnInstruction) {
    TBoundMachine M(5, 12);
    EXPECT_FALSE(M.VM.GetModuloDecoding());
    TKvGAIndividual* Item = M.Individual({2, 5, 7, 4});
    EXPECT_FALSE(M.VM.TryCompile(Item)) << "the default decoding is unchanged";

    M.VM.SetModuloDecoding(true);
    M.VM.Initialized();
    M.VM.Compile(Item);
    EXPECT_EQ(M.VM.GetEncodedProgram(), (TIntegerArray{2, 0, 2, 4}));
    EXPECT_EQ(M.VM.GetExecutionState(), (S{esInitialized, esEncoded}));
    EXPECT_TRUE(M.VM.TryCompile(Item));
    M.VM.DecodeProgram(Item);
    EXPECT_EQ(Lines(*M.VM.GetGPProgram()), (Names{"i2", "i0", "i2", "i4"}));

    // A signed gene's negative values count from the end; a gene wider than the machine's own
    // layout reduces values beyond twice the count too.
    TKvGAGene* Gene = M.GA.GetGenes()->GetItem(0);
    Gene->SetPreserveSignBit(true); // 3-bit slots: 5 reads -3, 7 reads -1, 4 reads -4
    M.VM.Compile(Item);
    EXPECT_EQ(M.VM.GetEncodedProgram(), (TIntegerArray{2, 2, 4, 1}));
    Gene->SetPreserveSignBit(false);
    Gene->SetSize(6); // one slot of 6 bits in the 12: values 2 + 5 * 8 = 42 and 7 + 4 * 8 = 39
    M.VM.Compile(Item);
    EXPECT_EQ(M.VM.GetEncodedProgram(), (TIntegerArray{42 % 5, 39 % 5}));
    EXPECT_EQ(Item->GetBits()->GetSize(), 12) << "the chromosome is only read";
}
