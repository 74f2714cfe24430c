// Saving and loading the genotype, and saving the decoded gene values of an individual (see
// kv/ga/persistence.h).
#include "kv/ga/detail/persistence_records.h"
#include "kv/ga/engine.h"
#include "kv/ga/genes.h"
#include "kv/ga/persistence.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/update_guard.h"
#include "kv/xml/KvGADomainXML.h"

namespace kv {

namespace {

// Name, Size, range and sign flag of a numeric gene element.
void SaveNumeric(IXMLNumericGeneType& Node, const TKvGAGene& Gene) {
    Node.SetName(Gene.GetDisplayName());
    Node.SetSize(Gene.GetSize());
    Node.SetMinValue(Gene.GetMinValue());
    Node.SetMaxValue(Gene.GetMaxValue());
    Node.SetPreserveSignBit(Gene.GetPreserveSignBit());
}

// Restores a chromosome's sign flag on leaving: the gene readers set it before each numeric read,
// a mode of access rather than a part of the chromosome's value.
class TSignFlagGuard {
public:
    explicit TSignFlagGuard(TKvEncodedBits& Bits) noexcept
        : FBits(Bits), FSaved(Bits.PreserveSignBit) {}
    TSignFlagGuard(const TSignFlagGuard&) = delete;
    TSignFlagGuard& operator=(const TSignFlagGuard&) = delete;
    ~TSignFlagGuard() { FBits.PreserveSignBit = FSaved; }

private:
    TKvEncodedBits& FBits;
    bool FSaved;
};

// The value element of a gene type, or nullptr for a type whose value is not saved.
const char* ValueElement(TGeneType Type) noexcept {
    switch (Type) {
    case gtBoolean:
        return "BooleanGeneValue";
    case gtInteger:
        return "IntegerGeneValue";
    case gtFloat:
        return "FloatGeneValue";
    case gtEnumeration:
        return "EnumerationGeneValue";
    default:
        return nullptr;
    }
}

} // namespace

void TKvGAGenes::SaveToXML(IXMLGenoType& GenoTypeXML) const {
    const int Count = GetCount();
    for (int I = 0; I < Count; ++I) {
        const auto* Gene = static_cast<const TKvGAGene*>(GetItemUnchecked(I));
        switch (Gene->GetGeneType()) {
        case gtBoolean: {
            std::shared_ptr<IXMLBooleanGeneType> Node = GenoTypeXML.GetBooleanGene()->Add();
            Node->SetName(Gene->GetDisplayName());
            Node->SetSize(Gene->GetSize());
            break;
        }
        case gtInteger: {
            std::shared_ptr<IXMLIntegerGeneType> Node = GenoTypeXML.GetIntegerGene()->Add();
            SaveNumeric(*Node, *Gene);
            // Optional elements, written only when they differ from a plain integer gene's.
            if (Gene->GetUseRealInterval()) {
                Node->SetChildAsDouble("RealLow", Gene->GetRealLow());
                Node->SetChildAsDouble("RealHigh", Gene->GetRealHigh());
            }
            if (Gene->GetGrayCode())
                Node->SetChildAsBoolean("GrayCode", true);
            break;
        }
        case gtFloat:
            SaveNumeric(*GenoTypeXML.GetFloatGene()->Add(), *Gene);
            break;
        case gtEnumeration: {
            std::shared_ptr<IXMLEnumerationGeneType> Node = GenoTypeXML.GetEnumerationGene()->Add();
            SaveNumeric(*Node, *Gene);
            std::shared_ptr<IXMLString_List> Texts = Node->GetEnumeration();
            const TStrings* Enumerations = Gene->GetEnumerations();
            for (int K = 0; K < Enumerations->GetCount(); ++K)
                Texts->Add(Enumerations->GetString(K));
            break;
        }
        default:
            // A gene of unknown type has no element kind: it is left out.
            break;
        }
    }
    // Inside an engine the chromosomes may be longer than the genes (a genetic program is read as
    // consecutive slots of its one gene): the chromosome length is what must come back.
    int32_t Size = GetSize();
    if (FEngine != nullptr && FEngine->GetGeneSize() > Size)
        Size = FEngine->GetGeneSize();
    GenoTypeXML.SetSize(Size);
}

void TKvGAGenes::SaveToXML(IXMLGenes& GenesXML, const TKvGAIndividual& Item) const {
    // The individual's chromosome is an object of its own (owned through a pointer), so reading
    // it with the gene readers, which set its sign flag, changes no constant object; the guard
    // gives the flag back.
    TKvEncodedBits& Bits = const_cast<TKvGABits&>(*Item.GetBits());
    TSignFlagGuard Flag(Bits);
    std::shared_ptr<IXMLBooleanList> Booleans;
    std::shared_ptr<IXMLIntegerList> Integers;
    std::shared_ptr<IXMLFloatList> Floats;
    std::shared_ptr<IXMLString_List> Texts;
    const int Count = GetCount();
    for (int I = 0; I < Count; ++I) {
        const auto* Gene = static_cast<const TKvGAGene*>(GetItemUnchecked(I));
        // A gene that does not lie wholly inside the chromosome (GeneSize set below the genes'
        // total, or a chromosome that a callback shortened) has no value in it: its value element
        // is written empty, like that of an enumerated code that names no entry.
        if (int64_t(Gene->GetOffset()) + Gene->GetSize() > Bits.GetSize()) {
            if (const char* Element = ValueElement(Gene->GetGeneType()))
                GenesXML.AddChild(Element);
            continue;
        }
        switch (Gene->GetGeneType()) {
        case gtBoolean:
            if (!Booleans)
                Booleans = GenesXML.GetBooleanGeneValue();
            Booleans->Add(Gene->GeneAsBoolean(Bits));
            break;
        case gtInteger:
            if (!Integers)
                Integers = GenesXML.GetIntegerGeneValue();
            Integers->Add(Gene->GeneAsInteger(Bits));
            break;
        case gtFloat:
            if (!Floats)
                Floats = GenesXML.GetFloatGeneValue();
            Floats->Add(Gene->GeneAsFloat(Bits));
            break;
        case gtEnumeration: {
            if (!Texts)
                Texts = GenesXML.GetEnumerationGeneValue();
            // A code that names no entry (a random or mutated chromosome of a gene whose entries
            // do not fill its bits) has no text: the value is left empty, so that the individual,
            // whose bits are saved whole, can still be saved. The codes are read unsigned, as
            // the gene reads them.
            Bits.PreserveSignBit = false;
            const int32_t Code = Bits.GetAsInteger(Gene->GetOffset(), Gene->GetSize());
            const TStrings* Entries = Gene->GetEnumerations();
            if (Code >= 0 && Code < Entries->GetCount())
                Texts->Add(Entries->GetString(Code));
            else
                Texts->Add(std::string_view());
            break;
        }
        default:
            break;
        }
    }
}

void TKvGAGenes::LoadFromXML(IXMLGenoType& GenoTypeXML) {
    detail::TGenoTypeRecord Own;
    const detail::TGenoTypeRecord* Taken = detail::TDomainReading::TakeGenes(GenoTypeXML);
    if (Taken == nullptr)
        Own = detail::ReadGenoType(GenoTypeXML);
    const detail::TGenoTypeRecord& Record = Taken != nullptr ? *Taken : Own;
    if (FEngine != nullptr) {
        // Growing GeneSize lengthens every chromosome of the engine's current population.
        const int64_t Individuals = FEngine->GetPopulation()->GetCount();
        if (Record.GeneSize > FEngine->GetGeneSize() &&
            Individuals * Record.GeneSize > MaxPopulationBits)
            throw EConvertError(Format("The genotype of %d bits would give the %lld individuals "
                                       "of the population more than the %lld bits a loaded "
                                       "population may hold",
                                       Record.GeneSize, static_cast<long long>(Individuals),
                                       static_cast<long long>(MaxPopulationBits)));
        FEngine->SetGeneSize(Record.Size);
    }
    TUpdateGuard Batch(*this);
    Clear();
    for (const detail::TGeneRecord& G : Record.Genes) {
        TKvGAGene* Gene = Add();
        Gene->SetName(G.Name);
        Gene->SetSize(G.Size);
        if (G.Numeric) {
            Gene->SetMinValue(G.MinValue);
            Gene->SetMaxValue(G.MaxValue);
            Gene->SetPreserveSignBit(G.PreserveSignBit);
        }
        Gene->SetGeneType(G.GeneType);
        if (G.UseRealInterval)
            Gene->SetRealInterval(G.RealLow, G.RealHigh); // checked when it was read
        Gene->SetGrayCode(G.GrayCode);
        if (G.GeneType == gtEnumeration) {
            // One text after the other: each addition re-sizes the gene from the entries so far.
            // The texts start from a gene of no bits, so that the range they leave depends on the
            // texts alone (as in a gene that was given them one by one) and not on the Size the
            // document gave first. Otherwise a gene of 7 bits with one text loads with the range
            // 0 to 0, is saved with 1 bit, and loads again with the range 0 to -1.
            TStrings* Enumerations = Gene->GetEnumerations();
            if (!G.Enumerations.empty())
                Gene->SetSize(0);
            for (const std::string& Text : G.Enumerations)
                Enumerations->Add(Text);
        }
    }
}

} // namespace kv
