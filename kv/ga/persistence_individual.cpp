// Saving and loading individuals and populations (see kv/ga/persistence.h).
#include "kv/ga/detail/persistence_records.h"
#include "kv/ga/engine.h"
#include "kv/ga/genes.h"
#include "kv/ga/individual.h"
#include "kv/ga/population.h"
#include "kv/rtl/update_guard.h"
#include "kv/xml/KvGADomainXML.h"

namespace kv {

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
    const detail::TChromosomeRecord Record = detail::ReadChromosome(ChromosomeXML);
    SetName(Record.Name);
    TKvGABits* Bits = GetBits();
    // Inside an engine the chromosome has the engine's length; anywhere else nothing gives it one,
    // and the text is the only length there is.
    const TKvGAPopulation* Population = GetCollection();
    if (Population == nullptr || Population->GetOwner() == nullptr)
        Bits->SetSize(static_cast<int32_t>(Record.Bits.size()));
    Bits->SetAsBitString(0, Bits->GetSize(), Record.Bits);
}

// ---- TKvGAPopulation ----

void TKvGAPopulation::SaveToXML(IXMLChromosomes& ChromosomesXML) const {
    const int Count = GetCount();
    for (int I = 0; I < Count; ++I)
        GetItemUnchecked(I)->SaveToXML(*ChromosomesXML.Add());
}

void TKvGAPopulation::LoadFromXML(IXMLChromosomes& ChromosomesXML) {
    detail::CheckChromosomes(ChromosomesXML, FEngine != nullptr ? FEngine->GetGeneSize() : -1);
    TUpdateGuard Batch(*this);
    Clear();
    const int Count = ChromosomesXML.GetCount();
    for (int I = 0; I < Count; ++I)
        Add()->LoadFromXML(*ChromosomesXML.GetChromosome(I));
}

} // namespace kv
