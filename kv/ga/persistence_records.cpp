// Reading and checking the content of GA documents before anything of an engine changes.
#include "kv/ga/detail/persistence_records.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "kv/ga/bits.h"
#include "kv/ga/persistence.h"
#include "kv/rtl/convert.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/text.h"
#include "kv/vocabulary/enum_names.h"
#include "kv/xml/KvGeneticAlgorithmXML.h"

namespace kv::detail {

namespace {

// ---- genes ----

[[noreturn]] void NotAGene(IXMLNode& Child, int Index) {
    const std::string What = Child.GetNodeType() == ntElement
                                 ? Format("the element \"%s\"", Child.GetNodeName())
                                 : Format("the text \"%s\"", TextExcerpt(Child.GetText()));
    throw EIntfCastError(Format("GenoType item %d: %s is not a gene element (BooleanGene, "
                                "IntegerGene, FloatGene or EnumerationGene)",
                                Index, What));
}

// The optional real interval and Gray coding of an IntegerGene element.
void ReadRealInterval(IXMLGeneType& Gene, TGeneRecord& G) {
    const bool HasLow = Gene.HasChildValue("RealLow");
    const bool HasHigh = Gene.HasChildValue("RealHigh");
    if (HasLow != HasHigh)
        throw EConvertError(Format("element \"%s\" without element \"%s\": a real interval "
                                   "needs both bounds",
                                   HasLow ? "RealLow" : "RealHigh",
                                   HasLow ? "RealHigh" : "RealLow"));
    if (HasLow) {
        G.RealLow = Gene.GetChildAsDouble("RealLow");
        G.RealHigh = Gene.GetChildAsDouble("RealHigh");
        if (!std::isfinite(G.RealLow) || !std::isfinite(G.RealHigh) || !(G.RealLow < G.RealHigh) ||
            !std::isfinite(G.RealHigh - G.RealLow))
            throw EConvertError(Format("the real interval [%s, %s] (elements \"RealLow\" and "
                                       "\"RealHigh\") is not an interval of finite bounds, the "
                                       "lower below the upper",
                                       FloatToStr(G.RealLow), FloatToStr(G.RealHigh)));
        G.UseRealInterval = true;
    }
    G.GrayCode = Gene.GetChildAsBoolean("GrayCode", false);
}

TGeneRecord ReadGene(IXMLGeneType& Gene, int Index) {
    TGeneRecord G;
    try {
        G.Name = Gene.GetName();
        G.Size = Gene.GetSize();
        if (G.Size < 0 || G.Size > MaxChromosomeBits)
            throw EConvertError(
                Format("the value %d of element \"Size\" is not a gene size from 0 to %d", G.Size,
                       MaxChromosomeBits));
        if (auto* Numeric = dynamic_cast<IXMLNumericGeneType*>(&Gene)) {
            G.Numeric = true;
            G.MinValue = Numeric->GetMinValue();
            G.MaxValue = Numeric->GetMaxValue();
            G.PreserveSignBit = Numeric->GetPreserveSignBit();
        }
        // The kind, by the first interface the node answers to.
        if (dynamic_cast<IXMLBooleanGeneType*>(&Gene) != nullptr) {
            G.GeneType = gtBoolean;
        } else if (dynamic_cast<IXMLFloatGeneType*>(&Gene) != nullptr) {
            G.GeneType = gtFloat;
        } else if (auto* Enumeration = dynamic_cast<IXMLEnumerationGeneType*>(&Gene)) {
            G.GeneType = gtEnumeration;
            std::shared_ptr<IXMLString_List> Texts = Enumeration->GetEnumeration();
            const int Count = Texts->GetCount();
            G.Enumerations.reserve(static_cast<size_t>(Count));
            for (int I = 0; I < Count; ++I)
                G.Enumerations.push_back(Texts->GetItem(I));
        } else {
            G.GeneType = gtInteger;
            ReadRealInterval(Gene, G);
        }
    } catch (const EConvertError& E) {
        throw EConvertError(Format("GenoType item %d (%s \"%s\"): %s", Index, Gene.GetNodeName(),
                                   TextExcerpt(G.Name), E.Message()));
    }
    return G;
}

// ---- chromosomes ----

std::string ChromosomePlace(int Index, const std::string& Name) {
    std::string Place = Index >= 0 ? Format("Chromosome %d", Index) : std::string("Chromosome");
    return Place + Format(" (\"%s\")", TextExcerpt(Name));
}

void CheckBits(std::string_view Bits, int Index, const std::string& Name) {
    if (Bits.size() > static_cast<size_t>(MaxChromosomeBits))
        throw EConvertError(Format("%s: the Bits text has %lld characters, more than the %d bits "
                                   "a chromosome may have",
                                   ChromosomePlace(Index, Name),
                                   static_cast<long long>(Bits.size()), MaxChromosomeBits));
    const auto Bad =
        std::find_if(Bits.begin(), Bits.end(), [](char C) { return C != '0' && C != '1'; });
    if (Bad != Bits.end())
        throw EConvertError(Format("%s: the Bits text \"%s\" is not a bit string: the character "
                                   "at index %lld is not 0 or 1",
                                   ChromosomePlace(Index, Name), TextExcerpt(Bits),
                                   static_cast<long long>(Bad - Bits.begin())));
}

// ---- settings ----

template <class E>
E ReadIdent(const std::string& Text, const char* Element, const char* Parent) {
    const std::string_view Ident = TrimXMLSpace(Text);
    if (Ident.empty())
        throw EConvertError(Format("Missing %s identifier: element \"%s\" in \"%s\" is absent or "
                                   "empty",
                                   TEnumInfo<E>::TypeName, Element, Parent));
    if (std::optional<E> Value = TryIdentToEnum<E>(Ident))
        return *Value;
    throw EConvertError(Format("\"%s\" is not a valid %s identifier for element \"%s\" in \"%s\"",
                               TextExcerpt(Text), TEnumInfo<E>::TypeName, Element, Parent));
}

// An optional identifier element of Parent: Default when absent or empty.
template <class E>
E ReadOptionalIdent(IXMLNode& Parent, const char* Element, E Default) {
    if (!Parent.HasChildValue(Element))
        return Default;
    const std::string Text = Parent.GetChildText(Element);
    if (TrimXMLSpace(Text).empty())
        return Default;
    return ReadIdent<E>(Text, Element, Parent.GetNodeName().c_str());
}

template <class T>
std::shared_ptr<T> RequireChild(IXMLNode& Node, const char* Name) {
    std::shared_ptr<T> Child = FindChild<T>(Node, Name);
    if (Child == nullptr)
        throw EConvertError(Format("Missing element \"%s\" in \"%s\"", Name, Node.GetNodeName()));
    return Child;
}

} // namespace

TGenoTypeRecord ReadGenoType(IXMLGenoType& Node) {
    TGenoTypeRecord R;
    R.Size = Node.GetSize();
    if (R.Size < 0 || R.Size > MaxChromosomeBits)
        throw EConvertError(Format("The value %d of attribute \"Size\" of \"GenoType\" is not a "
                                   "chromosome size from 0 to %d",
                                   R.Size, MaxChromosomeBits));
    std::shared_ptr<IXMLNodeList> Children = Node.GetChildNodes();
    const int Count = Children->GetCount();
    R.Genes.reserve(static_cast<size_t>(Count));
    // The genes are re-created one after the other, each at the end of the ones before it: its
    // Size is set first (the genotype then reaches Offset + Size), and the enumeration texts
    // appended afterwards give an enumerated gene its final size (never above that of all its
    // texts). GeneSize follows the largest total reached.
    int64_t Offset = 0;
    int64_t Peak = R.Size;
    for (int I = 0; I < Count; ++I) {
        std::shared_ptr<IXMLNode> Child = Children->GetNode(I);
        auto Gene = std::dynamic_pointer_cast<IXMLGeneType>(Child);
        if (Gene == nullptr)
            NotAGene(*Child, I);
        TGeneRecord G = ReadGene(*Gene, I);
        const int32_t Final = G.GeneType == gtEnumeration && !G.Enumerations.empty()
                                  ? BitsRequired(static_cast<uint32_t>(G.Enumerations.size()))
                                  : G.Size;
        const int64_t Reach = Offset + std::max(G.Size, Final);
        if (Reach > MaxChromosomeBits)
            throw EConvertError(Format("GenoType item %d (%s \"%s\"): the genes reach %lld bits, "
                                       "more than the %d bits a chromosome may have",
                                       I, Gene->GetNodeName(), TextExcerpt(G.Name),
                                       static_cast<long long>(Reach), MaxChromosomeBits));
        Peak = std::max(Peak, Reach);
        Offset += Final;
        R.Genes.push_back(std::move(G));
    }
    R.GeneSize = static_cast<int32_t>(Peak);
    return R;
}

TChromosomeRecord ReadChromosome(IXMLChromosome& Node, int Index) {
    TChromosomeRecord R;
    R.Name = Node.GetName();
    if (std::shared_ptr<IXMLGenes> Genes = FindChild<IXMLGenes>(Node, "Genes")) {
        R.Bits = Genes->GetBits();
        // White space around the digits (a hand-indented document) is not part of the text.
        const std::string_view Trimmed = TrimXMLSpace(R.Bits);
        if (Trimmed.size() != R.Bits.size())
            R.Bits = std::string(Trimmed);
    }
    CheckBits(R.Bits, Index, R.Name);
    return R;
}

namespace {

// Reads and checks every Chromosome item of Node, appending the records to Records when it is
// given (a save's check keeps nothing). The padding is counted as the items are read, so a
// document that asks for too much is refused at the first item beyond the allowance.
void ScanChromosomes(IXMLChromosomes& Node, int64_t GeneSize, int64_t MaxPaddingBits,
                     std::vector<TChromosomeRecord>* Records) {
    const int Count = Node.GetCount();
    if (GeneSize > 0 && int64_t(Count) * GeneSize > MaxPopulationBits)
        throw EConvertError(Format("\"Chromosomes\" holds %d chromosomes of %lld bits, more than "
                                   "the %lld bits a loaded population may hold",
                                   Count, static_cast<long long>(GeneSize),
                                   static_cast<long long>(MaxPopulationBits)));
    if (Records != nullptr)
        Records->reserve(static_cast<size_t>(Count));
    int64_t Padding = 0;
    for (int I = 0; I < Count; ++I) {
        TChromosomeRecord R = ReadChromosome(*Node.GetChromosome(I), I);
        const auto Given = static_cast<int64_t>(R.Bits.size());
        if (Given < GeneSize) {
            Padding += GeneSize - Given;
            if (Padding > MaxPaddingBits)
                throw EConvertError(Format(
                    "%s: the Bits texts of the chromosomes up to this one leave %lld bits of their "
                    "%lld-bit chromosomes unwritten, more than the %lld bits of padding a load "
                    "may add (DocumentLimits.MaxPaddingBits)",
                    ChromosomePlace(I, R.Name), static_cast<long long>(Padding),
                    static_cast<long long>(GeneSize), static_cast<long long>(MaxPaddingBits)));
        }
        if (Records != nullptr)
            Records->push_back(std::move(R));
    }
}

} // namespace

std::vector<TChromosomeRecord> ReadChromosomes(IXMLChromosomes& Node, int64_t GeneSize,
                                               int64_t MaxPaddingBits) {
    std::vector<TChromosomeRecord> Records;
    ScanChromosomes(Node, GeneSize, MaxPaddingBits, &Records);
    return Records;
}

void CheckLoadable(IXMLGeneticAlgorithm& Node, int64_t MaxPaddingBits) {
    ReadSettings(Node);
    std::shared_ptr<IXMLGADomainType> Domain = FindChild<IXMLGADomainType>(Node, "Domain");
    if (Domain == nullptr)
        return;
    int64_t GeneSize = 0;
    if (auto GenoType = FindChild<IXMLGenoType>(*Domain, "GenoType"))
        GeneSize = ReadGenoType(*GenoType).GeneSize;
    if (auto Chromosomes = FindChild<IXMLChromosomes>(*Domain, "Chromosomes"))
        ScanChromosomes(*Chromosomes, GeneSize, MaxPaddingBits, nullptr);
}

namespace {
thread_local TDomainReading* CurrentReading = nullptr;
} // namespace

TDomainReading::TDomainReading(const IXMLGenoType& GenoType, const TGenoTypeRecord& Genes,
                               const IXMLChromosomes& Chromosomes,
                               const std::vector<TChromosomeRecord>& Individuals,
                               int64_t GeneSize) noexcept
    : FGenoType(&GenoType), FGenes(&Genes), FChromosomes(&Chromosomes), FIndividuals(&Individuals),
      FGeneSize(GeneSize), FOuter(CurrentReading) {
    CurrentReading = this;
}

TDomainReading::~TDomainReading() {
    CurrentReading = FOuter;
}

const TGenoTypeRecord* TDomainReading::TakeGenes(const IXMLGenoType& Node) noexcept {
    TDomainReading* R = CurrentReading;
    if (R == nullptr || R->FGenoType != &Node)
        return nullptr;
    R->FGenoType = nullptr;
    return R->FGenes;
}

const std::vector<TChromosomeRecord>* TDomainReading::TakeChromosomes(const IXMLChromosomes& Node,
                                                                      int64_t GeneSize) noexcept {
    TDomainReading* R = CurrentReading;
    if (R == nullptr || R->FChromosomes != &Node || R->FGeneSize != GeneSize)
        return nullptr;
    R->FChromosomes = nullptr;
    return R->FIndividuals;
}

TSettingsRecord ReadSettings(IXMLGeneticAlgorithm& Node) {
    TSettingsRecord S;
    S.DiversityLimit = Node.GetDiversityLimit();
    S.FitnessCutoff = Node.GetFitnessCutoff();
    S.FitnessMethod =
        ReadIdent<TGAFitnessMethod>(Node.GetFitnessMethod(), "FitnessMethod", "GeneticAlgorithm");
    S.Generation = Node.GetGeneration();
    S.UseDiversityLimit = Node.GetUseDiversityLimit();
    S.UseFitnessCutoff = Node.GetUseFitnessCutoff();
    auto Reproduction = RequireChild<IXMLReproduction>(Node, "Reproduction");
    S.CrossoverMethod = ReadIdent<TGACrossoverMethod>(Reproduction->GetCrossoverMethod(),
                                                      "CrossoverMethod", "Reproduction");
    S.CrossoverProbability = Reproduction->GetCrossoverProbability();
    S.InversionProbability = Reproduction->GetInversionProbability();
    S.MutationProbability = Reproduction->GetMutationProbability();
    auto Selection = RequireChild<IXMLSelectionMethod>(*Reproduction, "SelectionMethod");
    S.SelectionMethod =
        ReadIdent<TGASelectionMethod>(Selection->GetMethod(), "Method", "SelectionMethod");
    S.ElitistPercent = Selection->GetElitistPercent();
    S.CrossoverKind =
        ReadOptionalIdent<TGACrossoverKind>(*Reproduction, "CrossoverKind", ckOnePoint);
    S.MutationMode = ReadOptionalIdent<TGAMutationMode>(*Reproduction, "MutationMode", mmPerBit);
    S.TournamentField = Selection->GetTournamentField();
    if (S.TournamentField > MaxTournamentField)
        throw EConvertError(Format("The value %d of element \"TournamentField\" in "
                                   "\"SelectionMethod\" is more than the %d contestants a loaded "
                                   "tournament may have",
                                   S.TournamentField, MaxTournamentField));
    return S;
}

} // namespace kv::detail
