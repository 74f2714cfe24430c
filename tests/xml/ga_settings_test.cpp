#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "kv/rtl/exceptions.h"
#include "kv/xml/KvGeneticAlgorithmXML.h"

using namespace kv;

namespace {

std::shared_ptr<IXMLGeneticAlgorithm> FromStream(const std::string& Bytes) {
    auto Doc = NewXMLDocument();
    std::istringstream In(Bytes);
    Doc->LoadFromStream(In);
    return GetGeneticAlgorithm(Doc);
}

// Writes the settings of a newly created engine, in the order an engine writes them.
void WriteDefaults(IXMLGeneticAlgorithm& GA) {
    GA.SetDiversityLimit(0.02);
    GA.SetFitnessCutoff(1);
    GA.SetFitnessMethod("fmMinimize");
    GA.SetGeneration(0);
    GA.SetUseDiversityLimit(false);
    GA.SetUseFitnessCutoff(false);
    auto Reproduction = GA.GetReproduction();
    Reproduction->SetCrossoverMethod("cmGeneBoundary");
    Reproduction->SetCrossoverProbability(0.98);
    Reproduction->SetInversionProbability(0.1);
    Reproduction->SetMutationProbability(0.01);
    auto Selection = Reproduction->GetSelectionMethod();
    Selection->SetMethod("smStochasticTournament");
    Selection->SetElitistPercent(0.1);
    Selection->SetTournamentField(2);
    auto Domain = GA.GetDomain();
    Domain->GetGenoType()->SetSize(0);
    Domain->GetChromosomes();
}

} // namespace

TEST(GASettingsDocument, WritesEverySettingAndReadsItBackThroughSinglePrecision) {
    auto GA = NewGeneticAlgorithm();
    WriteDefaults(*GA);
    std::ostringstream Out;
    GA->GetOwnerDocument()->SaveToStream(Out);
    EXPECT_EQ(Out.str(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<GeneticAlgorithm>\n"
                         "  <DiversityLimit>0.02</DiversityLimit>\n"
                         "  <FitnessCutoff>1</FitnessCutoff>\n"
                         "  <FitnessMethod>fmMinimize</FitnessMethod>\n"
                         "  <Generation>0</Generation>\n"
                         "  <UseDiversityLimit>false</UseDiversityLimit>\n"
                         "  <UseFitnessCutoff>false</UseFitnessCutoff>\n"
                         "  <Reproduction>\n"
                         "    <CrossoverMethod>cmGeneBoundary</CrossoverMethod>\n"
                         "    <CrossoverProbability>0.98</CrossoverProbability>\n"
                         "    <InversionProbability>0.1</InversionProbability>\n"
                         "    <MutationProbability>0.01</MutationProbability>\n"
                         "    <SelectionMethod>\n"
                         "      <Method>smStochasticTournament</Method>\n"
                         "      <ElitistPercent>0.1</ElitistPercent>\n"
                         "      <TournamentField>2</TournamentField>\n"
                         "    </SelectionMethod>\n"
                         "  </Reproduction>\n"
                         "  <Domain>\n"
                         "    <GenoType Size=\"0\" />\n"
                         "    <Chromosomes />\n"
                         "  </Domain>\n"
                         "</GeneticAlgorithm>\n");

    auto Loaded = FromStream(Out.str());
    EXPECT_EQ(double(Loaded->GetDiversityLimit()), 0.019999999552965164);
    EXPECT_EQ(Loaded->GetFitnessCutoff(), 1.0f);
    EXPECT_EQ(Loaded->GetFitnessMethod(), "fmMinimize");
    EXPECT_EQ(Loaded->GetGeneration(), 0);
    EXPECT_FALSE(Loaded->GetUseDiversityLimit());
    EXPECT_FALSE(Loaded->GetUseFitnessCutoff());
    auto Reproduction = Loaded->GetReproduction();
    EXPECT_EQ(Reproduction->GetCrossoverMethod(), "cmGeneBoundary");
    EXPECT_EQ(double(Reproduction->GetCrossoverProbability()), 0.9800000190734863);
    EXPECT_EQ(Reproduction->GetInversionProbability(), 0.1f);
    EXPECT_EQ(Reproduction->GetMutationProbability(), 0.01f);
    auto Selection = Reproduction->GetSelectionMethod();
    EXPECT_EQ(Selection->GetMethod(), "smStochasticTournament");
    EXPECT_EQ(Selection->GetElitistPercent(), 0.1f);
    EXPECT_EQ(Selection->GetTournamentField(), 2);
    EXPECT_EQ(Loaded->GetDomain()->GetGenoType()->GetSize(), 0);
    EXPECT_EQ(Loaded->GetDomain()->GetChromosomes()->GetCount(), 0);
    EXPECT_EQ(Loaded->GetOwnerDocument()->SaveToString(), Out.str())
        << "a loaded document saves as it was written";
}

TEST(GASettingsDocument, EveryNumberIsRequiredAndTextsReadEmpty) {
    auto GA = NewGeneticAlgorithm();
    WriteDefaults(*GA);
    auto Selection = GA->GetReproduction()->GetSelectionMethod();
    ASSERT_EQ(Selection->GetChildNodes()->GetCount(), 3);
    Selection->GetChildNodes()->GetNode(2)->SetText("");
    EXPECT_THROW(Selection->GetTournamentField(), EConvertError);

    // Without the element: reading fails with the element named.
    auto Loaded =
        FromStream("<GeneticAlgorithm><Reproduction><SelectionMethod><Method>smElitist</Method>"
                   "</SelectionMethod></Reproduction><Domain/></GeneticAlgorithm>");
    auto Sel = Loaded->GetReproduction()->GetSelectionMethod();
    EXPECT_EQ(Sel->GetMethod(), "smElitist");
    try {
        Sel->GetTournamentField();
        ADD_FAILURE() << "a missing TournamentField was read";
    } catch (const EConvertError& E) {
        EXPECT_NE(std::string(E.what()).find("\"TournamentField\" in \"SelectionMethod\""),
                  std::string::npos)
            << E.what();
    }
    EXPECT_THROW(Sel->GetElitistPercent(), EConvertError);
    EXPECT_THROW(Loaded->GetGeneration(), EConvertError);
    EXPECT_THROW(Loaded->GetUseFitnessCutoff(), EConvertError);
    EXPECT_THROW(Loaded->GetDiversityLimit(), EConvertError);
    EXPECT_EQ(Loaded->GetFitnessMethod(), "");
    EXPECT_EQ(Loaded->GetReproduction()->GetCrossoverMethod(), "");
    // An empty Domain yields an empty genotype.
    EXPECT_EQ(Loaded->GetDomain()->GetGenoType()->GetSize(), 0);
    EXPECT_EQ(Loaded->GetDomain()->GetGenoType()->GetChildNodes()->GetCount(), 0);
}

TEST(GASettingsDocument, WritingGenerationTwiceLeavesOneElement) {
    auto GA = NewGeneticAlgorithm();
    GA->SetGeneration(5);
    GA->GetReproduction();
    GA->SetGeneration(6);
    ASSERT_EQ(GA->GetChildNodes()->GetCount(), 2);
    EXPECT_EQ(GA->GetChildNodes()->GetNode(0)->GetNodeName(), "Generation");
    EXPECT_EQ(GA->GetGeneration(), 6);
}

TEST(GASettingsDocument, LoadsAHandEditedFileAndRefusesOtherRoots) {
    auto GA = LoadGeneticAlgorithm(KVGA_TEST_DATA_DIR "/xml/settings_crlf.xml");
    EXPECT_EQ(GA->GetFitnessMethod(), "fmMaximize");
    EXPECT_EQ(GA->GetGeneration(), 17);
    EXPECT_TRUE(GA->GetUseFitnessCutoff());
    EXPECT_EQ(GA->GetReproduction()->GetSelectionMethod()->GetTournamentField(), 3);
    auto Domain = GA->GetDomain();
    auto GenoType = Domain->GetGenoType();
    EXPECT_EQ(GenoType->GetSize(), 3);
    ASSERT_EQ(GenoType->GetChildNodes()->GetCount(), 2) << "white space or a comment became a node";
    auto Colour = GenoType->GetEnumerationGene()->GetItem(0);
    EXPECT_EQ(Colour->GetName(), "Colour");
    EXPECT_EQ(Colour->GetEnumeration()->GetItem(2), "Blue");
    auto Genes = Domain->GetChromosomes()->GetChromosome(0)->GetGenes();
    EXPECT_EQ(Genes->GetBits(), "101");
    EXPECT_EQ(Genes->GetEnumerationGeneValue()->GetItem(0), "Blue");

    try {
        FromStream("<GADomain/>");
        ADD_FAILURE() << "a GADomain root bound as a settings document";
    } catch (const EIntfCastError& E) {
        std::string M = E.what();
        EXPECT_NE(M.find("\"GADomain\""), std::string::npos) << M;
        EXPECT_NE(M.find("\"GeneticAlgorithm\""), std::string::npos) << M;
    }
}
