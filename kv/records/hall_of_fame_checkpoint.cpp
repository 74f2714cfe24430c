// The hall of fame in an engine's checkpoints: a named section of its own.
#include <algorithm>
#include <cmath>
#include <memory>

#include "kv/ga/persistence.h"
#include "kv/records/hall_of_fame.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/text.h"
#include "kv/vocabulary/enum_names.h"
#include "kv/xml/xml_node.h"

namespace kv {

namespace {

// Stores a loaded entry's fitness: the engine's helper for descendants is the one way in.
struct TFitnessStore : TKvCustomGeneticAlgorithm {
    using TKvCustomGeneticAlgorithm::StoreFitness;
};

bool IsSectionName(std::string_view Name) noexcept {
    if (Name.empty())
        return false;
    const auto Letter = [](char C) {
        return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_';
    };
    if (!Letter(Name.front()))
        return false;
    return std::all_of(Name.begin(), Name.end(), [&Letter](char C) {
        return Letter(C) || (C >= '0' && C <= '9') || C == '-' || C == '.';
    });
}

} // namespace

void TKvHallOfFame::SetSectionName(const std::string& Value) {
    if (Value == FSectionName)
        return;
    if (!Value.empty() && !IsSectionName(Value))
        throw EConvertError(Format("\"%s\" is not a checkpoint section name: ASCII letters, "
                                   "digits, '_', '-' and '.', starting with a letter or '_'",
                                   TextExcerpt(Value)));
    Unregister();
    FSectionName = Value;
    Register();
}

void TKvHallOfFame::Attached() {
    Register();
}

void TKvHallOfFame::Detaching() noexcept {
    Unregister();
}

void TKvHallOfFame::Register() {
    TKvCustomGeneticAlgorithm* Engine = GetWatchedEngine();
    if (Engine == nullptr || FSectionName.empty())
        return;
    Engine->SetCheckpointSection(
        FSectionName, [this](IXMLNode& Section) { WriteSection(Section); },
        [this](IXMLNode* Section) { return ReadSection(Section); });
}

void TKvHallOfFame::Unregister() noexcept {
    TKvCustomGeneticAlgorithm* Engine = GetWatchedEngine();
    if (Engine != nullptr && !FSectionName.empty())
        Engine->RemoveCheckpointSection(FSectionName);
}

void TKvHallOfFame::WriteSection(IXMLNode& Section) const {
    Section.SetChildAsInteger("Capacity", FCapacity);
    Section.SetChildAsBoolean("Unique", FUnique);
    Section.SetChildText("FitnessMethod", EnumToIdent(FFitnessMethod));
    for (const TEntry& E : FEntries) {
        std::shared_ptr<IXMLNode> Node = Section.AddChild("Entry");
        Node->SetChildAsInteger("Generation", E.Generation);
        Node->SetChildAsDouble("Fitness", E.Individual->GetFitness());
        // The display name, as a saved population writes its individuals: loaded, an individual
        // without a name of its own gets its class name as its name.
        Node->SetChildText("Name", E.Individual->GetDisplayName());
        Node->SetChildText("Bits", E.Individual->GetBits()->ToBitString());
    }
}

std::function<void()> TKvHallOfFame::ReadSection(IXMLNode* Section) {
    if (Section == nullptr)
        return {}; // a checkpoint saved without this hall of fame: the hall stays as it is
    const std::string Where = "checkpoint section \"" + FSectionName + "\"";
    const int Capacity = Section->GetChildAsInteger("Capacity");
    if (Capacity < 1 || Capacity > MaxCheckpointCapacity)
        throw EConvertError(Format("The %s has a Capacity of %d; 1 .. %d is allowed", Where,
                                   Capacity, MaxCheckpointCapacity));
    const bool Unique = Section->GetChildAsBoolean("Unique");
    const auto Method = IdentToEnum<TGAFitnessMethod>(Section->GetChildText("FitnessMethod"));

    auto Entries = std::make_shared<std::vector<TEntry>>();
    std::shared_ptr<IXMLNodeList> Children = Section->GetChildNodes();
    for (int I = 0; I < Children->GetCount(); ++I) {
        std::shared_ptr<IXMLNode> Node = Children->GetNode(I);
        if (Node->GetNodeType() != ntElement || Node->GetNodeName() != "Entry")
            continue;
        const int Index = static_cast<int>(Entries->size());
        if (Index >= Capacity)
            throw EConvertError(
                Format("The %s holds more entries than its Capacity of %d", Where, Capacity));
        TEntry E;
        E.Generation = Node->GetChildAsInteger("Generation");
        const double Fitness = Node->GetChildAsDouble("Fitness");
        std::string Bits = Node->GetChildText("Bits");
        const auto First = Bits.find_first_not_of(" \t\r\n");
        Bits = First == std::string::npos
                   ? std::string()
                   : Bits.substr(First, Bits.find_last_not_of(" \t\r\n") - First + 1);
        if (Bits.size() > static_cast<size_t>(MaxChromosomeBits))
            throw EConvertError(Format(
                "Entry %d of the %s has %d bits; at most %d are allowed", Index, Where,
                static_cast<int>(std::min<size_t>(Bits.size(), INT32_MAX)), MaxChromosomeBits));
        if (Bits.find_first_not_of("01") != std::string::npos)
            throw EConvertError(Format("Entry %d of the %s: \"%s\" is not a bit string", Index,
                                       Where, TextExcerpt(Bits)));
        E.Individual = std::make_unique<TKvGAIndividual>();
        TKvGABits* Chromosome = E.Individual->GetBits();
        Chromosome->SetSize(static_cast<int32_t>(Bits.size()));
        Chromosome->SetAsBitString(0, static_cast<int32_t>(Bits.size()), Bits);
        if (Node->HasChildValue("Name"))
            E.Individual->SetName(Node->GetChildText("Name"));
        TFitnessStore::StoreFitness(E.Individual.get(), Fitness);
        Entries->push_back(std::move(E));
    }
    // Best first, as the hall keeps them, whatever order the document lists them in.
    std::stable_sort(Entries->begin(), Entries->end(), [Method](const TEntry& A, const TEntry& B) {
        const TGAFitness FA = A.Individual->GetFitness(), FB = B.Individual->GetFitness();
        if (std::isnan(FA))
            return false;
        if (std::isnan(FB))
            return true;
        return Method == fmMaximize ? FA > FB : FA < FB;
    });
    if (Unique)
        RemoveDuplicates(*Entries); // a tampered document may list one chromosome twice
    return [this, Capacity, Unique, Method, Entries] {
        FCapacity = Capacity;
        FUnique = Unique;
        FFitnessMethod = Method;
        FEntries = std::move(*Entries);
    };
}

} // namespace kv
