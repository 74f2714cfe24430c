// Saving and loading engines: the settings and domain documents, streams and files (see
// kv/ga/persistence.h).
#include <istream>
#include <limits>
#include <ostream>
#include <sstream>

#include "kv/ga/detail/persistence_records.h"
#include "kv/ga/engine.h"
#include "kv/rtl/convert.h"
#include "kv/rtl/detail/file_replace.h"
#include "kv/xml/KvGeneticAlgorithmXML.h"

namespace kv {

// ---- saving ----

void TKvCustomGeneticAlgorithm::SaveToXML(IXMLGeneticAlgorithm& GAXML) const {
    GAXML.SetDiversityLimit(SaturateToSingle(FDiversityLimit));
    GAXML.SetFitnessCutoff(SaturateToSingle(FFitnessCutoff));
    GAXML.SetFitnessMethod(EnumToIdent(FFitnessMethod));
    GAXML.SetGeneration(FGeneration);
    GAXML.SetUseDiversityLimit(FUseDiversityLimit);
    GAXML.SetUseFitnessCutoff(FUseFitnessCutoff);
    std::shared_ptr<IXMLReproduction> Reproduction = GAXML.GetReproduction();
    Reproduction->SetCrossoverMethod(EnumToIdent(FCrossoverMethod));
    Reproduction->SetCrossoverProbability(SaturateToSingle(FCrossoverProbability));
    Reproduction->SetInversionProbability(SaturateToSingle(FInversionProbability));
    Reproduction->SetMutationProbability(SaturateToSingle(FMutationProbability));
    std::shared_ptr<IXMLSelectionMethod> Selection = Reproduction->GetSelectionMethod();
    Selection->SetMethod(EnumToIdent(FSelectionMethod));
    Selection->SetElitistPercent(SaturateToSingle(FElitistPct));
    Selection->SetTournamentField(FTournamentField);
    SaveToXML(*GAXML.GetDomain());
}

void TKvCustomGeneticAlgorithm::SaveToXML(IXMLGADomainType& GAXML) const {
    GetGenes()->SaveToXML(*GAXML.GetGenoType());
    GetPopulation()->SaveToXML(*GAXML.GetChromosomes());
}

void TKvCustomGeneticAlgorithm::SaveToStream(std::ostream& Stream) const {
    std::shared_ptr<IXMLGeneticAlgorithm> Document = NewGeneticAlgorithm();
    SaveToXML(*Document);
    Document->GetOwnerDocument()->SaveToStream(Stream);
}

void TKvCustomGeneticAlgorithm::SaveToFile(const std::string& FileName) const {
    // The whole document is made (through SaveToStream, so that a descendant's form of it is
    // what the file gets) before the file is touched.
    std::ostringstream Text;
    SaveToStream(Text);
    detail::ReplaceFile(FileName, Text.view());
}

// ---- loading ----

void TKvCustomGeneticAlgorithm::LoadFromXML(IXMLGeneticAlgorithm& GAXML) {
    CheckChange("LoadFromXML");
    const detail::TSettingsRecord Settings = detail::ReadSettings(GAXML);
    std::shared_ptr<IXMLGADomainType> Domain = detail::FindChild<IXMLGADomainType>(GAXML, "Domain");
    // A document without a domain has an empty one: no genes, no individuals.
    if (Domain == nullptr)
        Domain = NewGADomain();

    // The settings are applied first; should the domain fail, they are put back exactly.
    const TGAProbability OldDiversityLimit = FDiversityLimit;
    const TGAFitness OldFitnessCutoff = FFitnessCutoff;
    const TGAFitnessMethod OldFitnessMethod = FFitnessMethod;
    const int32_t OldGeneration = FGeneration;
    const bool OldUseDiversityLimit = FUseDiversityLimit;
    const bool OldUseFitnessCutoff = FUseFitnessCutoff;
    const TGACrossoverMethod OldCrossoverMethod = FCrossoverMethod;
    const TGAProbability OldCrossoverProbability = FCrossoverProbability;
    const TGAProbability OldInversionProbability = FInversionProbability;
    const TGAProbability OldMutationProbability = FMutationProbability;
    const TGASelectionMethod OldSelectionMethod = FSelectionMethod;
    TKvGASelectionEvent OldOnSelection = FOnSelection;
    const TGAProbability OldElitistPct = FElitistPct;
    const int32_t OldTournamentField = FTournamentField;

    SetDiversityLimit(Settings.DiversityLimit);
    FFitnessCutoff = Settings.FitnessCutoff;
    FFitnessMethod = Settings.FitnessMethod;
    SetGeneration(Settings.Generation);
    FUseDiversityLimit = Settings.UseDiversityLimit;
    FUseFitnessCutoff = Settings.UseFitnessCutoff;
    FCrossoverMethod = Settings.CrossoverMethod;
    SetCrossoverProbability(Settings.CrossoverProbability);
    SetInversionProbability(Settings.InversionProbability);
    SetMutationProbability(Settings.MutationProbability);
    SetSelectionMethod(Settings.SelectionMethod);
    SetElitistPct(Settings.ElitistPercent);
    SetTournamentField(Settings.TournamentField);
    try {
        LoadFromXML(*Domain);
    } catch (...) {
        FDiversityLimit = OldDiversityLimit;
        FFitnessCutoff = OldFitnessCutoff;
        FFitnessMethod = OldFitnessMethod;
        FGeneration = OldGeneration;
        FUseDiversityLimit = OldUseDiversityLimit;
        FUseFitnessCutoff = OldUseFitnessCutoff;
        FCrossoverMethod = OldCrossoverMethod;
        FCrossoverProbability = OldCrossoverProbability;
        FInversionProbability = OldInversionProbability;
        FMutationProbability = OldMutationProbability;
        FSelectionMethod = OldSelectionMethod;
        FOnSelection = std::move(OldOnSelection);
        FElitistPct = OldElitistPct;
        FTournamentField = OldTournamentField;
        throw;
    }
}

void TKvCustomGeneticAlgorithm::LoadFromXML(IXMLGADomainType& GAXML) {
    CheckChange("LoadFromXML");
    // Absent parts read as empty ones, without adding elements to the caller's document.
    std::shared_ptr<IXMLGenoType> GenoType = detail::FindChild<IXMLGenoType>(GAXML, "GenoType");
    if (GenoType == nullptr)
        GenoType = NewGenoType();
    std::shared_ptr<IXMLChromosomes> Chromosomes =
        detail::FindChild<IXMLChromosomes>(GAXML, "Chromosomes");
    if (Chromosomes == nullptr)
        Chromosomes = NewChromosomes();

    // Both parts are checked before either replaces anything: the chromosomes against the length
    // the genes will give them.
    const detail::TGenoTypeRecord Genes = detail::ReadGenoType(*GenoType);
    const std::vector<detail::TChromosomeRecord> Individuals =
        detail::ReadChromosomes(*Chromosomes, Genes.GeneSize);
    const detail::TDomainReading Reading(*GenoType, Genes, *Chromosomes, Individuals,
                                         Genes.GeneSize);
    // The current population is replaced below; emptying it first spares lengthening its
    // chromosomes to the new GeneSize on the way.
    GetPopulation()->Clear();
    GetGenes()->LoadFromXML(*GenoType);
    GetPopulation()->LoadFromXML(*Chromosomes);
}

void TKvCustomGeneticAlgorithm::LoadFromStream(std::istream& Stream) {
    CheckChange("LoadFromStream");
    std::shared_ptr<IXMLDocument> Document = NewXMLDocument();
    Document->LoadFromStream(Stream);
    LoadFromXML(*GetGeneticAlgorithm(Document));
}

void TKvCustomGeneticAlgorithm::LoadFromFile(const std::string& FileName) {
    CheckChange("LoadFromFile");
    LoadFromXML(*LoadGeneticAlgorithm(FileName));
}

} // namespace kv
