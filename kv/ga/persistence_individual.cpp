// Saving and loading individuals and populations (see kv/ga/persistence.h).
#include <typeinfo>
#include <vector>

#include "kv/ga/detail/persistence_records.h"
#include "kv/ga/engine.h"
#include "kv/ga/genes.h"
#include "kv/ga/individual.h"
#include "kv/ga/population.h"
#include "kv/rtl/update_guard.h"
#include "kv/xml/KvGADomainXML.h"

namespace kv {

namespace {

// Gives Item the name and the bits of a chromosome read from a document.
void ApplyChromosome(TKvGAIndividual& Item, const detail::TChromosomeRecord& Record) {
    Item.SetName(Record.Name);
    TKvGABits* Bits = Item.GetBits();
    // Inside an engine the chromosome has the engine's length; anywhere else nothing gives it one,
    // and the text is the only length there is.
    const TKvGAPopulation* Population = Item.GetCollection();
    if (Population == nullptr || Population->GetOwner() == nullptr)
        Bits->SetSize(static_cast<int32_t>(Record.Bits.size()));
    Bits->SetAsBitString(0, Bits->GetSize(), Record.Bits);
}

} // namespace

// ---- TKvGAIndividual ----

void TKvGAIndividual::SaveToXML(IXMLChromosome& ChromosomeXML) const {
    ChromosomeXML.SetName(GetDisplayName());
    std::shared_ptr<IXMLGenes> GenesXML = ChromosomeXML.GetGenes();
    GenesXML->SetBits(GetBits()->ToBitString());
    const TKvGAPopulation* Population = GetCollection();
    if (Population != nullptr && Population->GetOwner() != nullptr)
        Population->GetOwner()->GetGenes()->SaveToXML(*GenesXML, *this);
}

void TKvGAIndividual::LoadFromXML(IXMLChromosome& ChromosomeXML) {
    ApplyChromosome(*this, detail::ReadChromosome(ChromosomeXML));
}

// ---- TKvGAPopulation ----

void TKvGAPopulation::SaveToXML(IXMLChromosomes& ChromosomesXML) const {
    const int Count = GetCount();
    for (int I = 0; I < Count; ++I)
        GetItemUnchecked(I)->SaveToXML(*ChromosomesXML.Add());
}

void TKvGAPopulation::LoadFromXML(IXMLChromosomes& ChromosomesXML) {
    const int64_t GeneSize = FEngine != nullptr ? FEngine->GetGeneSize() : -1;
    std::vector<detail::TChromosomeRecord> Own;
    const std::vector<detail::TChromosomeRecord>* Taken =
        detail::TDomainReading::TakeChromosomes(ChromosomesXML, GeneSize);
    if (Taken == nullptr)
        Own = detail::ReadChromosomes(
            ChromosomesXML, GeneSize,
            FEngine != nullptr ? FEngine->GetDocumentLimits().MaxPaddingBits : 0);
    const std::vector<detail::TChromosomeRecord>& Records = Taken != nullptr ? *Taken : Own;
    TUpdateGuard Batch(*this);
    Clear();
    const int Count = static_cast<int>(Records.size());
    for (int I = 0; I < Count; ++I) {
        TKvGAIndividual* Item = Add();
        // The library's own individuals take what was read; any other class reads its node
        // through its LoadFromXML, which it may override.
        if (typeid(*Item) == typeid(TKvGAIndividual))
            ApplyChromosome(*Item, Records[static_cast<size_t>(I)]);
        else
            Item->LoadFromXML(*ChromosomesXML.GetChromosome(I));
    }
}

} // namespace kv
