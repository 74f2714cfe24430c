// Saving and loading engines: the settings and domain documents, streams and files (see
// kv/ga/persistence.h).
#include <functional>
#include <istream>
#include <limits>
#include <new>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "kv/ga/detail/persistence_records.h"
#include "kv/ga/engine.h"
#include "kv/rtl/convert.h"
#include "kv/rtl/detail/file_replace.h"
#include "kv/rtl/exceptions.h"
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
    // Optional settings: written when they differ from the default (or to overwrite an element
    // the node already holds), so that a document of the default operators stays as it was.
    if (FCrossoverKind != ckOnePoint || Reproduction->HasChildNode("CrossoverKind"))
        Reproduction->SetChildText("CrossoverKind", EnumToIdent(FCrossoverKind));
    if (FMutationMode != mmPerBit || Reproduction->HasChildNode("MutationMode"))
        Reproduction->SetChildText("MutationMode", EnumToIdent(FMutationMode));
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

namespace {

// Runs a load or save of a file or stream, turning the foreign exceptions that the memory running
// out raises into EXmlError naming What ("Cannot load the engine from the file \"a.xml\"").
template <class F>
void WithoutForeignErrors(F&& Run, const std::function<std::string()>& What) {
    try {
        Run();
    } catch (const std::bad_alloc&) {
        throw EXmlError(What() + ": the memory ran out");
    } catch (const std::length_error&) {
        throw EXmlError(What() + ": the memory ran out");
    }
}

} // namespace

void TKvCustomGeneticAlgorithm::SaveToStream(std::ostream& Stream) const {
    WithoutForeignErrors(
        [&] {
            // Each chromosome bit is one character of the document: a population of more bits
            // than a document may have bytes is refused before its document is built.
            uint64_t Bits = 0;
            const TKvGAPopulation* Population = GetPopulation();
            for (int I = 0; I < Population->GetCount(); ++I)
                Bits += static_cast<uint64_t>(Population->GetItem(I)->GetBits()->GetSize());
            if (Bits > FDocumentLimits.MaxDocumentBytes)
                throw EXmlError(
                    Format("Cannot save the engine: its population holds %llu bits, "
                           "and so its document more than the %llu bytes a document "
                           "may have",
                           static_cast<unsigned long long>(Bits),
                           static_cast<unsigned long long>(FDocumentLimits.MaxDocumentBytes)));
            std::shared_ptr<IXMLGeneticAlgorithm> Document = NewGeneticAlgorithm();
            SaveToXML(*Document);
            // Nothing is saved that a load with the same limits would refuse.
            try {
                detail::CheckLoadable(*Document, FDocumentLimits.MaxPaddingBits);
            } catch (const Exception& E) {
                throw EXmlError(Format("Cannot save the engine: its document could not be loaded "
                                       "back: %s",
                                       E.Message()));
            }
            std::shared_ptr<IXMLDocument> Owner = Document->GetOwnerDocument();
            Owner->SetMaxDocumentBytes(FDocumentLimits.MaxDocumentBytes);
            Owner->SaveToStream(Stream);
        },
        [] { return std::string("Cannot save the engine"); });
}

void TKvCustomGeneticAlgorithm::SaveToFile(const std::string& FileName) const {
    WithoutForeignErrors(
        [&] {
            // The whole document is made (through SaveToStream, so that a descendant's form of
            // it is what the file gets) before the file is touched.
            std::ostringstream Text;
            try {
                SaveToStream(Text);
            } catch (const EXmlError& E) {
                throw EXmlError(Format("%s (file \"%s\")", E.Message(), FileName));
            }
            const std::string_view Bytes = Text.view();
            if (Bytes.size() > FDocumentLimits.MaxDocumentBytes)
                throw EXmlError(
                    Format("Cannot save the engine to the file \"%s\": its document "
                           "has %llu bytes, more than the %llu a document may have",
                           FileName, static_cast<unsigned long long>(Bytes.size()),
                           static_cast<unsigned long long>(FDocumentLimits.MaxDocumentBytes)));
            detail::ReplaceFile(FileName, Bytes);
        },
        [&] { return Format("Cannot save the engine to the file \"%s\"", FileName); });
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
    const TGACrossoverKind OldCrossoverKind = FCrossoverKind;
    const TGAMutationMode OldMutationMode = FMutationMode;

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
    SetCrossoverKind(Settings.CrossoverKind);
    SetMutationMode(Settings.MutationMode);
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
        FCrossoverKind = OldCrossoverKind;
        FMutationMode = OldMutationMode;
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
        detail::ReadChromosomes(*Chromosomes, Genes.GeneSize, FDocumentLimits.MaxPaddingBits);
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
    WithoutForeignErrors(
        [&] {
            std::shared_ptr<IXMLDocument> Document = NewXMLDocument();
            Document->SetMaxDocumentBytes(FDocumentLimits.MaxDocumentBytes);
            Document->LoadFromStream(Stream);
            LoadFromXML(*GetGeneticAlgorithm(Document));
        },
        [] { return std::string("Cannot load the engine from the stream"); });
}

void TKvCustomGeneticAlgorithm::LoadFromFile(const std::string& FileName) {
    CheckChange("LoadFromFile");
    WithoutForeignErrors(
        [&] {
            std::shared_ptr<IXMLDocument> Document = NewXMLDocument(std::string_view());
            Document->SetMaxDocumentBytes(FDocumentLimits.MaxDocumentBytes);
            Document->LoadFromFile(FileName);
            LoadFromXML(*GetGeneticAlgorithm(Document));
        },
        [&] { return Format("Cannot load the engine from the file \"%s\"", FileName); });
}

} // namespace kv
