#include "kv/gp/gp_virtual_machine.h"

#include <string>
#include <typeinfo>

#include "kv/ga/engine.h"
#include "kv/rtl/update_guard.h"

namespace kv {

namespace {

constexpr char SNoIndividual[] = "No individual to read a program from";
constexpr char SNoGenes[] =
    "The engine \"%s\" has no genes to read a program from; lay out its instruction gene first";
constexpr char SEmptyInstructionGene[] =
    "The instruction gene \"%s\" has size 0: the instruction set is empty or the genes were not "
    "laid out";
constexpr char SNoGenesToLayOut[] = "No genotype to lay out the instruction gene in";
constexpr char SInstructionGeneName[] = "Instructions";

// How an individual's chromosome is read as a program: the chromosome, the slot width and sign
// rule of the first gene, and the number of slots.
struct TSlotReader {
    const TKvEncodedBits* Bits;
    int32_t Size;
    bool Signed;
    int32_t Slots;

    // The value of slot K as the first gene reads it, whatever sign flag the chromosome holds
    // (the chromosome is not written). Wider than 32 bits so that a wide slot is never taken for a
    // small code.
    int64_t Read(int32_t K) const {
        const unsigned N = Size < 64 ? static_cast<unsigned>(Size) : 64u;
        uint64_t Raw = static_cast<uint64_t>(Bits->GetAsInt64(K * Size, Size));
        if (N < 64) {
            Raw &= (uint64_t{1} << N) - 1;
            if (Signed) {
                const unsigned Shift = 64 - N;
                return static_cast<int64_t>(Raw << Shift) >> Shift;
            }
        }
        return static_cast<int64_t>(Raw);
    }

    // The code slot K stands for: its value, or with Modulo (and Count > 0) the value reduced to
    // 0 .. Count - 1.
    int64_t Code(int32_t K, bool Modulo, int64_t Count) const {
        const int64_t Value = Read(K);
        if (!Modulo || Count <= 0 || (Value >= 0 && Value < Count))
            return Value;
        // The gene the machine lays out holds values below 2 Count: one subtraction is enough.
        if (Value >= Count && Value - Count < Count)
            return Value - Count;
        const int64_t Rest = Value % Count;
        return Rest < 0 ? Rest + Count : Rest;
    }
};

// The engine's name for messages: its component name, else its class name.
std::string EngineName(const TKvGeneticAlgorithm& GA) {
    return GA.GetName().empty() ? GA.ClassName() : GA.GetName();
}

TSlotReader SlotReader(const TKvGeneticAlgorithm* GA, const TKvGAIndividual* Item) {
    if (GA == nullptr)
        throw EGPException(SMissingGeneticProgram);
    if (Item == nullptr)
        throw EGPException(SNoIndividual);
    const TKvGAGenes* Genes = GA->GetGenes();
    if (Genes->GetCount() == 0)
        throw EGPException(Format(SNoGenes, EngineName(*GA)));
    const TKvGAGene* Gene = Genes->GetItem(0);
    if (Gene->GetSize() <= 0)
        throw EGPException(Format(SEmptyInstructionGene, Gene->GetDisplayName()));
    const TKvGABits* Bits = Item->GetBits();
    return TSlotReader{Bits, Gene->GetSize(), Gene->GetPreserveSignBit(),
                       Bits->GetSize() / Gene->GetSize()};
}

} // namespace

TKvGPVirtualMachine::~TKvGPVirtualMachine() {
    SetGeneticAlgorithm(nullptr);
}

std::unique_ptr<TKvGPVirtualMachine> TKvGPVirtualMachine::CreateCopy() const {
    auto Copy = std::make_unique<TKvGPVirtualMachine>(nullptr);
    CopyTo(*Copy);
    return Copy;
}

void TKvGPVirtualMachine::CopyTo(TKvGPVirtualMachine& Target) const {
    const TVMInstructionSet* Source = GetInstructionSet();
    TVMInstructionSet* Set = Target.GetInstructionSet();
    for (int I = 0; I < Source->GetCount(); ++I) {
        const TVMInstruction* From = Source->GetItem(I);
        if (typeid(*From) != typeid(TVMInstruction))
            throw EGPException(Format("Instruction \"%s\" of class %s cannot be copied for "
                                      "parallel evaluation",
                                      From->GetDisplayName(), From->ClassName()));
        TVMInstruction* To = Set->Add();
        To->Assign(From); // name and comment, without the uniqueness test
        To->SetOnExecute(From->GetOnExecute());
    }
    Target.SetOnExecuteInstruction(GetOnExecuteInstruction());
    Target.SetOnError(GetOnError());
    Target.SetOnExecuting(GetOnExecuting());
    Target.SetOnExecuted(GetOnExecuted());
    Target.SetOnFinished(GetOnFinished());
    Target.SetOnInitialize(GetOnInitialize());
    Target.SetName(GetName());
    Target.FModuloDecoding = FModuloDecoding;
    // Bound last, so that adding the instructions laid out no genes; and without free
    // notification, so that making a copy changes nothing of the engine.
    Target.SetGeneticAlgorithm(nullptr);
    Target.FGeneticAlgorithm = FGeneticAlgorithm;
    Target.FCopy = true;
}

void TKvGPVirtualMachine::SetGeneticAlgorithm(TKvGeneticAlgorithm* Value) {
    if (FCopy) {
        // A copy's reference was never registered with its engine.
        FCopy = false;
        FGeneticAlgorithm = nullptr;
    }
    if (Value == FGeneticAlgorithm)
        return;
    if (FGeneticAlgorithm != nullptr)
        FGeneticAlgorithm->RemoveFreeNotification(this);
    // An engine that is already being destroyed could not tell us when it is gone.
    if (Value != nullptr && Value->IsDestroying())
        Value = nullptr;
    FGeneticAlgorithm = Value;
    if (Value != nullptr)
        Value->FreeNotification(this);
}

void TKvGPVirtualMachine::Notification(TComponent* AComponent, TOperation Operation) {
    TKvVirtualMachine::Notification(AComponent, Operation);
    if (Operation == opRemove && FGeneticAlgorithm != nullptr &&
        AComponent == static_cast<TComponent*>(FGeneticAlgorithm))
        FGeneticAlgorithm = nullptr; // the engine has dropped the link already
}

const TKvGeneticAlgorithm* TKvGPVirtualMachine::BoundEngine() const {
    if (FGeneticAlgorithm == nullptr)
        throw EGPException(SMissingGeneticProgram);
    return FGeneticAlgorithm;
}

// ---- compiling ----

void TKvGPVirtualMachine::Compile(const TKvGAIndividual* Item) {
    Compile(BoundEngine(), Item);
}

bool TKvGPVirtualMachine::TryCompile(const TKvGAIndividual* Item) {
    return TryCompile(BoundEngine(), Item);
}

void TKvGPVirtualMachine::Compile(const TKvGeneticAlgorithm* GA, const TKvGAIndividual* Item) {
    if (CompileSlots(GA, Item) || FQuietCompile)
        return;
    // Every code before the first invalid one is valid, so the first invalid code is the culprit.
    // Read it again from the chromosome: a slot wider than 32 bits does not fit the program.
    const TSlotReader Reader = SlotReader(GA, Item);
    const int Count = GetInstructionSet()->GetCount();
    for (int32_t K = 0; K < Reader.Slots; ++K) {
        const int64_t Value = Reader.Code(K, FModuloDecoding, Count);
        if (Value < 0 || Value >= Count)
            throw EGPException(Format(SUnknownInstruction, std::to_string(Value)));
    }
    throw EGPException(Format(SUnknownInstruction, "?")); // not reached: CompileSlots found one
}

bool TKvGPVirtualMachine::TryCompile(const TKvGeneticAlgorithm* GA, const TKvGAIndividual* Item) {
    struct TQuiet {
        bool& Flag;
        bool Was;
        explicit TQuiet(bool& F) : Flag(F), Was(F) { Flag = true; }
        ~TQuiet() { Flag = Was; }
    } Quiet(FQuietCompile);
    Compile(GA, Item); // virtual: a descendant's compile takes part
    return FExecutionState.Contains(esEncoded);
}

bool TKvGPVirtualMachine::CompileSlots(const TKvGeneticAlgorithm* GA, const TKvGAIndividual* Item) {
    const TSlotReader Reader = SlotReader(GA, Item);
    FExecutionState.Exclude(esEncoded);
    FExecutionState.Include(esEncoding);
    struct EncodingEnds {
        TExecutionStates& State;
        ~EncodingEnds() { State.Exclude(esEncoding); }
    } Ends{FExecutionState};

    const int64_t Count = GetInstructionSet()->GetCount();
    FEncodedProgram.resize(static_cast<size_t>(Reader.Slots));
    int32_t* Codes = FEncodedProgram.data();
    for (int32_t K = 0; K < Reader.Slots; ++K) {
        const int64_t Value = Reader.Code(K, FModuloDecoding, Count);
        if (Value < 0 || Value >= Count) {
            // A value beyond the 32-bit codes is kept as -1, which is just as invalid.
            Codes[K] = Value >= INT32_MIN && Value <= INT32_MAX ? static_cast<int32_t>(Value) : -1;
            FExecutionState.Include(esInvalidOperation);
            return false;
        }
        Codes[K] = static_cast<int32_t>(Value);
    }
    FExecutionState.Include(esEncoded);
    FExecutionIndex = Reader.Slots > 0 ? 0 : -1;
    return true;
}

// ---- decoding ----

void TKvGPVirtualMachine::DecodeProgram(const TKvGAIndividual* Item) {
    DecodeProgram(BoundEngine(), Item);
}

void TKvGPVirtualMachine::DecodeProgram(const TKvGeneticAlgorithm* GA,
                                        const TKvGAIndividual* Item) {
    const TSlotReader Reader = SlotReader(GA, Item);
    const TVMInstructionSet* Set = GetInstructionSet();
    const int64_t Count = Set->GetCount();
    TStrings* Program = GetGPProgram();
    TUpdateGuard Batch(*Program);
    Program->Clear();
    for (int32_t K = 0; K < Reader.Slots; ++K) {
        const int64_t Value = Reader.Code(K, FModuloDecoding, Count);
        if (Value >= 0 && Value < Count)
            Program->Add(Set->GetItem(static_cast<int>(Value))->GetName());
        else
            Program->Add(SInvalidOperationCode);
    }
}

// ---- the genotype ----

void TKvGPVirtualMachine::UpdateGenes(TKvGAGenes* Genes) {
    if (Genes == nullptr)
        throw EGPException(SNoGenesToLayOut);
    TUpdateGuard Batch(*Genes);
    Genes->Clear();
    TKvGAGene* Gene = Genes->Add();
    Gene->SetName(SInstructionGeneName);
    // The gene's Size follows its value list only while it is enumerated: type first, list next.
    Gene->SetGeneType(gtEnumeration);
    Gene->GetEnumerations()->Assign(GetInstructionSet());
}

void TKvGPVirtualMachine::InstructionNotify(TVMInstruction* Item, TCollectionNotification Action) {
    TKvVirtualMachine::InstructionNotify(Item, Action);
    if (FGeneticAlgorithm != nullptr)
        UpdateGenes(FGeneticAlgorithm->GetGenes());
}

void TKvGPVirtualMachine::InstructionUpdate(TVMInstruction* Item) {
    TKvVirtualMachine::InstructionUpdate(Item);
    if (FGeneticAlgorithm != nullptr)
        UpdateGenes(FGeneticAlgorithm->GetGenes());
}

} // namespace kv
