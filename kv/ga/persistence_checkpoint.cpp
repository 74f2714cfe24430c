// Checkpoints: the settings document with everything an engine needs to continue a run exactly
// (see kv/ga/persistence.h for the format and the rules).
#include <cinttypes>
#include <cstdio>
#include <istream>
#include <optional>
#include <ostream>
#include <sstream>

#include "kv/ga/detail/persistence_records.h"
#include "kv/ga/engine.h"
#include "kv/rtl/detail/file_replace.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/text.h"
#include "kv/vocabulary/enum_names.h"
#include "kv/xml/KvGeneticAlgorithmXML.h"
#include "kv/xml/xml_text.h"

namespace kv {

namespace {

constexpr const char* CheckpointElement = "Checkpoint";
constexpr const char* SectionsElement = "Sections";
constexpr int RandomWordCount = 4 * TRandomSource::Lanes;

bool IsFraction(double Value) noexcept {
    return Value >= 0.0 && Value <= 1.0;
}

// The individuals' Chromosome elements of a saved domain, in population order: the last Count
// items (a save appends to what the node held).
std::vector<std::shared_ptr<IXMLChromosome>> ChromosomeNodes(IXMLChromosomes& Chromosomes,
                                                             int Count) {
    const int Total = Chromosomes.GetCount();
    const int First = Total > Count ? Total - Count : 0;
    std::vector<std::shared_ptr<IXMLChromosome>> Nodes;
    Nodes.reserve(static_cast<size_t>(Total - First));
    // Every handle is taken before anything is written: a write makes the collection re-read its
    // items on the next indexed access.
    for (int I = First; I < Total; ++I)
        Nodes.push_back(Chromosomes.GetChromosome(I));
    return Nodes;
}

std::string OperationsText(TGAGeneticOperations Operations) {
    std::string Text;
    for (TGAGeneticOperation Op : {goCrossover, goMutate, goInvert})
        if (Operations.Contains(Op)) {
            if (!Text.empty())
                Text += ' ';
            Text += EnumToIdent(Op);
        }
    return Text;
}

TGAGeneticOperations ReadOperations(IXMLNode& Checkpoint) {
    if (!Checkpoint.HasChildNode("Operations"))
        throw EConvertError("Missing element \"Operations\" in \"Checkpoint\"");
    const std::string Text = Checkpoint.GetChildText("Operations");
    TGAGeneticOperations Operations;
    size_t At = 0;
    while (At < Text.size()) {
        const size_t Start = Text.find_first_not_of(" \t\r\n", At);
        if (Start == std::string::npos)
            break;
        size_t End = Text.find_first_of(" \t\r\n", Start);
        if (End == std::string::npos)
            End = Text.size();
        const std::string_view Ident(Text.data() + Start, End - Start);
        std::optional<TGAGeneticOperation> Op = TryIdentToEnum<TGAGeneticOperation>(Ident);
        if (!Op)
            throw EConvertError(
                Format("\"%s\" in element \"Operations\" of \"Checkpoint\" is not a "
                       "valid TGAGeneticOperation identifier",
                       TextExcerpt(Ident)));
        Operations.Include(*Op);
        At = End;
    }
    return Operations;
}

std::string RandomWordsText(const TRandomSource::TState& State) {
    std::string Text;
    Text.reserve(RandomWordCount * 17);
    char Word[24];
    for (int W = 0; W < 4; ++W)
        for (int L = 0; L < TRandomSource::Lanes; ++L) {
            std::snprintf(Word, sizeof Word, "%016" PRIx64, State.Words[W][L]);
            if (!Text.empty())
                Text += ' ';
            Text += Word;
        }
    return Text;
}

TRandomSource::TState ReadRandomState(IXMLNode& Node) {
    TRandomSource::TState State{};
    State.Position = Node.GetChildAsInteger("Position");
    if (State.Position < 0 || State.Position > TRandomSource::BlockSize)
        throw EConvertError(Format("The value %d of element \"Position\" in \"RandomState\" is "
                                   "not a position from 0 to %d",
                                   State.Position, TRandomSource::BlockSize));
    const std::string Text = Node.GetChildText("Words");
    const char* P = Text.c_str();
    int Count = 0;
    for (;;) {
        while (*P == ' ' || *P == '\t' || *P == '\r' || *P == '\n')
            ++P;
        if (*P == '\0')
            break;
        uint64_t Value = 0;
        int Digits = 0;
        for (; Digits < 17; ++Digits, ++P) {
            const char C = *P;
            int D;
            if (C >= '0' && C <= '9')
                D = C - '0';
            else if (C >= 'a' && C <= 'f')
                D = C - 'a' + 10;
            else if (C >= 'A' && C <= 'F')
                D = C - 'A' + 10;
            else
                break;
            Value = Value << 4 | static_cast<uint64_t>(D);
        }
        const bool Separated = *P == '\0' || *P == ' ' || *P == '\t' || *P == '\r' || *P == '\n';
        if (Digits == 0 || Digits > 16 || !Separated || Count == RandomWordCount)
            throw EConvertError(Format("The text \"%s\" of element \"Words\" in \"RandomState\" is "
                                       "not %d hexadecimal numbers of 64 bits",
                                       TextExcerpt(Text), RandomWordCount));
        State.Words[Count / TRandomSource::Lanes][Count % TRandomSource::Lanes] = Value;
        ++Count;
    }
    if (Count != RandomWordCount)
        throw EConvertError(Format("The element \"Words\" in \"RandomState\" holds %d numbers "
                                   "instead of %d",
                                   Count, RandomWordCount));
    return State;
}

double ReadFraction(IXMLNode& Checkpoint, const char* Name) {
    const double Value = Checkpoint.GetChildAsDouble(Name);
    if (!IsFraction(Value))
        throw EConvertError(Format("The value %s of element \"%s\" in \"Checkpoint\" is not a "
                                   "fraction from 0 to 1",
                                   DoubleToXMLText(Value), Name));
    return Value;
}

bool IsSectionName(std::string_view Name) noexcept {
    if (Name.empty())
        return false;
    const auto Letter = [](char C) {
        return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_';
    };
    if (!Letter(Name[0]))
        return false;
    for (char C : Name)
        if (!Letter(C) && !(C >= '0' && C <= '9') && C != '-' && C != '.')
            return false;
    return true;
}

// What a checkpoint holds beyond the settings document, read and checked.
struct TCheckpointRecord {
    bool Initialized = false;
    int32_t InitialPopulation = 0;
    TGAGeneticOperations Operations;
    double DiversityLimit = 0;
    double FitnessCutoff = 0;
    double CrossoverProbability = 0;
    double InversionProbability = 0;
    double MutationProbability = 0;
    double ElitistPct = 0;
    double MaxFitness = 0;
    double MinFitness = 0;
    double AvgFitness = 0;
    double FitnessSum = 0;
    int32_t FittestIndex = -1;
    std::optional<TRandomSource::TState> RandomState;
    std::vector<double> Fitness;
    // The range of each gene of the document, in order (the numeric kinds only carry one).
    struct TRange {
        bool Numeric;
        double MinValue, MaxValue;
    };
    std::vector<TRange> GeneRanges;
};

TCheckpointRecord ReadCheckpoint(IXMLGeneticAlgorithm& GAXML, IXMLNode& Checkpoint) {
    TCheckpointRecord R;
    try {
        R.Initialized = Checkpoint.GetChildAsBoolean("Initialized");
        R.InitialPopulation = Checkpoint.GetChildAsInteger("InitialPopulation");
        if (R.InitialPopulation < 0)
            throw EConvertError(Format("The value %d of element \"InitialPopulation\" in "
                                       "\"Checkpoint\" is negative",
                                       R.InitialPopulation));
        R.Operations = ReadOperations(Checkpoint);
        R.DiversityLimit = ReadFraction(Checkpoint, "DiversityLimit");
        R.FitnessCutoff = Checkpoint.GetChildAsDouble("FitnessCutoff");
        R.CrossoverProbability = ReadFraction(Checkpoint, "CrossoverProbability");
        R.InversionProbability = ReadFraction(Checkpoint, "InversionProbability");
        R.MutationProbability = ReadFraction(Checkpoint, "MutationProbability");
        R.ElitistPct = ReadFraction(Checkpoint, "ElitistPercent");
        R.MaxFitness = Checkpoint.GetChildAsDouble("MaxFitness");
        R.MinFitness = Checkpoint.GetChildAsDouble("MinFitness");
        R.AvgFitness = Checkpoint.GetChildAsDouble("AvgFitness");
        R.FitnessSum = Checkpoint.GetChildAsDouble("FitnessSum");
        R.FittestIndex = Checkpoint.GetChildAsInteger("FittestIndex");
        if (std::shared_ptr<IXMLNode> Random = Checkpoint.FindChildNode("RandomState"))
            R.RandomState = ReadRandomState(*Random);
    } catch (const EConvertError& E) {
        throw EConvertError(Format("Checkpoint: %s", E.Message()));
    }

    // One fitness per chromosome.
    std::shared_ptr<IXMLGADomainType> Domain = detail::FindChild<IXMLGADomainType>(GAXML, "Domain");
    std::shared_ptr<IXMLChromosomes> Chromosomes =
        Domain ? detail::FindChild<IXMLChromosomes>(*Domain, "Chromosomes") : nullptr;
    if (std::shared_ptr<IXMLGenoType> GenoType =
            Domain ? detail::FindChild<IXMLGenoType>(*Domain, "GenoType") : nullptr)
        for (const detail::TGeneRecord& G : detail::ReadGenoType(*GenoType).Genes)
            R.GeneRanges.push_back({G.Numeric, G.MinValue, G.MaxValue});
    const int Count = Chromosomes ? Chromosomes->GetCount() : 0;
    R.Fitness.reserve(static_cast<size_t>(Count));
    for (int I = 0; I < Count; ++I) {
        std::shared_ptr<IXMLChromosome> Node = Chromosomes->GetChromosome(I);
        try {
            R.Fitness.push_back(Node->GetChildAsDouble("Fitness"));
        } catch (const EConvertError& E) {
            throw EConvertError(Format("Chromosome %d: %s", I, E.Message()));
        }
    }
    if (R.FittestIndex < -1 || R.FittestIndex >= Count)
        throw EConvertError(Format("Checkpoint: the value %d of element \"FittestIndex\" is not "
                                   "-1 or the index of one of the %d chromosomes",
                                   R.FittestIndex, Count));
    return R;
}

} // namespace

// ---- saving ----

void TKvCustomGeneticAlgorithm::SaveCheckpointToXML(IXMLGeneticAlgorithm& GAXML) const {
    SaveToXML(GAXML);

    const TKvGAPopulation* Population = GetPopulation();
    const int Count = Population->GetCount();
    std::vector<std::shared_ptr<IXMLChromosome>> Nodes =
        ChromosomeNodes(*GAXML.GetDomain()->GetChromosomes(), Count);
    for (size_t I = 0; I < Nodes.size(); ++I)
        Nodes[I]->SetChildAsDouble("Fitness",
                                   Population->GetItemUnchecked(static_cast<int>(I))->GetFitness());

    std::shared_ptr<IXMLNode> Checkpoint = GAXML.GetChildNode(CheckpointElement);
    Checkpoint->SetChildAsBoolean("Initialized", FInitialized);
    Checkpoint->SetChildAsInteger("InitialPopulation", FInitialPopulation);
    Checkpoint->SetChildText("Operations", OperationsText(FOperations));
    Checkpoint->SetChildAsDouble("DiversityLimit", FDiversityLimit);
    Checkpoint->SetChildAsDouble("FitnessCutoff", FFitnessCutoff);
    Checkpoint->SetChildAsDouble("CrossoverProbability", FCrossoverProbability);
    Checkpoint->SetChildAsDouble("InversionProbability", FInversionProbability);
    Checkpoint->SetChildAsDouble("MutationProbability", FMutationProbability);
    Checkpoint->SetChildAsDouble("ElitistPercent", FElitistPct);
    Checkpoint->SetChildAsDouble("MaxFitness", FMaxFitness);
    Checkpoint->SetChildAsDouble("MinFitness", FMinFitness);
    Checkpoint->SetChildAsDouble("AvgFitness", FAvgFitness);
    Checkpoint->SetChildAsDouble("FitnessSum", GetFitnessSum());
    int FittestIndex = -1;
    if (FFittestIndividual != nullptr &&
        FFittestIndividual->TCollectionItem::GetCollection() == Population)
        FittestIndex = FFittestIndividual->GetIndex();
    Checkpoint->SetChildAsInteger("FittestIndex", FittestIndex);
    if (const TRandomSource* Stream = GetRandomSource()) {
        const TRandomSource::TState State = Stream->GetState();
        std::shared_ptr<IXMLNode> Random = Checkpoint->GetChildNode("RandomState");
        Random->SetChildAsInteger("Position", State.Position);
        Random->SetChildText("Words", RandomWordsText(State));
    }
    SaveCheckpointState(*Checkpoint);

    bool AnyWriter = false;
    for (const TCheckpointSection& S : FCheckpointSections)
        AnyWriter = AnyWriter || static_cast<bool>(S.Writer);
    if (AnyWriter) {
        std::shared_ptr<IXMLNode> Sections = Checkpoint->GetChildNode(SectionsElement);
        for (const TCheckpointSection& S : FCheckpointSections)
            if (S.Writer)
                S.Writer(*Sections->AddChild(S.Name));
    }
}

void TKvCustomGeneticAlgorithm::SaveCheckpoint(std::ostream& Stream) const {
    std::shared_ptr<IXMLGeneticAlgorithm> Document = NewGeneticAlgorithm();
    SaveCheckpointToXML(*Document);
    std::shared_ptr<IXMLDocument> Owner = Document->GetOwnerDocument();
    Owner->SetMaxDocumentBytes(FDocumentLimits.MaxDocumentBytes);
    Owner->SaveToStream(Stream);
}

void TKvCustomGeneticAlgorithm::SaveCheckpoint(const std::string& FileName) const {
    std::ostringstream Text;
    SaveCheckpoint(Text);
    detail::ReplaceFile(FileName, Text.view());
}

void TKvCustomGeneticAlgorithm::SaveCheckpointState(IXMLNode& /*Checkpoint*/) const {}

std::function<void()> TKvCustomGeneticAlgorithm::ReadCheckpointState(IXMLNode& /*Checkpoint*/) {
    return {};
}

// ---- sections ----

void TKvCustomGeneticAlgorithm::SetCheckpointSection(std::string_view Name,
                                                     TCheckpointWriter Writer,
                                                     TCheckpointReader Reader) {
    CheckChange("SetCheckpointSection");
    if (!IsSectionName(Name))
        throw EConvertError(Format("\"%s\" is not a checkpoint section name: ASCII letters, "
                                   "digits, '_', '-' and '.', starting with a letter or '_'",
                                   TextExcerpt(Name)));
    for (TCheckpointSection& S : FCheckpointSections)
        if (S.Name == Name) {
            S.Writer = std::move(Writer);
            S.Reader = std::move(Reader);
            return;
        }
    FCheckpointSections.push_back({std::string(Name), std::move(Writer), std::move(Reader)});
}

bool TKvCustomGeneticAlgorithm::RemoveCheckpointSection(std::string_view Name) {
    for (auto It = FCheckpointSections.begin(); It != FCheckpointSections.end(); ++It)
        if (It->Name == Name) {
            FCheckpointSections.erase(It);
            return true;
        }
    return false;
}

// ---- loading ----

void TKvCustomGeneticAlgorithm::LoadCheckpointFromXML(IXMLGeneticAlgorithm& GAXML) {
    CheckChange("LoadCheckpoint");
    std::shared_ptr<IXMLNode> Checkpoint = GAXML.FindChildNode(CheckpointElement);
    if (Checkpoint == nullptr)
        throw EConvertError("Missing element \"Checkpoint\" in \"GeneticAlgorithm\": the document "
                            "is a settings document, not a checkpoint");
    const TCheckpointRecord R = ReadCheckpoint(GAXML, *Checkpoint);
    std::function<void()> ApplyState = ReadCheckpointState(*Checkpoint);
    // The sections are read (and checked by their readers) before anything changes; what they
    // read is applied with the rest.
    std::vector<std::function<void()>> ApplySections;
    if (!FCheckpointSections.empty()) {
        std::shared_ptr<IXMLNode> Sections = Checkpoint->FindChildNode(SectionsElement);
        for (const TCheckpointSection& S : FCheckpointSections)
            if (S.Reader) {
                std::shared_ptr<IXMLNode> Section =
                    Sections ? Sections->FindChildNode(S.Name) : nullptr;
                if (std::function<void()> Apply = S.Reader(Section.get()))
                    ApplySections.push_back(std::move(Apply));
            }
    }

    // The settings document, all or nothing.
    LoadFromXML(GAXML);

    // Nothing below fails on a checked checkpoint.
    FDiversityLimit = R.DiversityLimit;
    FFitnessCutoff = R.FitnessCutoff;
    FCrossoverProbability = R.CrossoverProbability;
    FInversionProbability = R.InversionProbability;
    FMutationProbability = R.MutationProbability;
    FElitistPct = R.ElitistPct;
    FInitialized = R.Initialized;
    FInitialPopulation = R.InitialPopulation;
    FOperations = R.Operations;
    // The genes' ranges as they were: loading a settings document gives each gene the default
    // range of its kind and size, which need not be the one the run decoded its genes with.
    TKvGAGenes* Genes = GetGenes();
    for (int I = 0; I < Genes->GetCount() && static_cast<size_t>(I) < R.GeneRanges.size(); ++I)
        if (R.GeneRanges[static_cast<size_t>(I)].Numeric) {
            TKvGAGene* Gene = Genes->GetItem(I);
            Gene->FMinValue = R.GeneRanges[static_cast<size_t>(I)].MinValue;
            Gene->FMaxValue = R.GeneRanges[static_cast<size_t>(I)].MaxValue;
        }
    TKvGAPopulation* Population = GetPopulation();
    const int Count = Population->GetCount();
    for (int I = 0; I < Count && static_cast<size_t>(I) < R.Fitness.size(); ++I)
        Population->GetItemUnchecked(I)->FFitness = R.Fitness[static_cast<size_t>(I)];
    if (Count > 0) {
        // The statistics are made again from the fitness values by the code that made them from
        // the same values in the same order: the same numbers to the last bit, and the engine's
        // own form of them (a sum that overflowed is kept scaled) comes back with them.
        CalculateStatistics();
    } else {
        FMaxFitness = R.MaxFitness;
        FMinFitness = R.MinFitness;
        FAvgFitness = R.AvgFitness;
        FFitnessSum = R.FitnessSum;
        FFitnessSumScale = 0;
        FAllScoredAlike = true;
        FFittestIndividual = nullptr;
    }
    // The previous generation is made again by the next Evolve, as a copy of the population:
    // what matters of it is only its size, the number of children the next generation breeds.
    FPreviousGeneration.reset();
    FRouletteIndex = -1;
    // The selection support data, made from the restored fitness values as the last evaluation
    // made them.
    FPriorityQueue.reset();
    FQueuePopulation = nullptr;
    FCumNormFitnesses.clear();
    if (FInitialized)
        PrepareSelection();
    if (R.RandomState) {
        if (FRandomSource == nullptr)
            FRandomSource = std::make_unique<TRandomSource>();
        FRandomSource->SetState(*R.RandomState);
        FOwnStream = true;
    } else {
        FOwnStream = false;
    }
    if (ApplyState)
        ApplyState();
    for (const std::function<void()>& Apply : ApplySections)
        Apply();
}

// Both read under the engine's document limits, as LoadFromStream and LoadFromFile do.
void TKvCustomGeneticAlgorithm::LoadCheckpoint(std::istream& Stream) {
    std::shared_ptr<IXMLDocument> Document = NewXMLDocument();
    Document->SetMaxDocumentBytes(FDocumentLimits.MaxDocumentBytes);
    Document->LoadFromStream(Stream);
    LoadCheckpointFromXML(*GetGeneticAlgorithm(Document));
}

void TKvCustomGeneticAlgorithm::LoadCheckpoint(const std::string& FileName) {
    std::shared_ptr<IXMLDocument> Document = NewXMLDocument(std::string_view());
    Document->SetMaxDocumentBytes(FDocumentLimits.MaxDocumentBytes);
    Document->LoadFromFile(FileName);
    LoadCheckpointFromXML(*GetGeneticAlgorithm(Document));
}

} // namespace kv
