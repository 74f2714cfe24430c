// Saving and loading the optional operator settings: crossover kind, mutation mode, and the real
// interval and Gray coding of integer genes.
#include <gtest/gtest.h>

#include <string>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/xml/KvGeneticAlgorithmXML.h"
#include "persistence_fixture.h"

using namespace kv;
using kvtest::LoadText;
using kvtest::SaveText;
using kvtest::Snapshot;

namespace {

// Replaces the one occurrence of From in Text.
std::string Replace(std::string Text, const std::string& From, const std::string& To) {
    const size_t At = Text.find(From);
    if (At == std::string::npos || Text.find(From, At + 1) != std::string::npos)
        throw std::runtime_error("not exactly one \"" + From + "\" in the document");
    return Text.replace(At, From.size(), To);
}

// The engine of the fixture with every option away from its default.
void UseOptions(TKvCustomGeneticAlgorithm& Engine) {
    Engine.SetCrossoverKind(ckUniform);
    Engine.SetMutationMode(mmGeometric);
    TKvGAGene* Count = Engine.GetGenes()->GetItem(1);
    Count->SetRealInterval(-2.5, 0.1);
    Count->SetGrayCode(true);
}

} // namespace

TEST(OperatorSettingsPersistence, DefaultsAddNothingAndOptionsComeBack) {
    TKvGeneticAlgorithm A;
    kvtest::BuildEngine(A);
    const std::string Plain = SaveText(A);
    for (const char* Element : {"CrossoverKind", "MutationMode", "RealLow", "RealHigh", "GrayCode"})
        EXPECT_EQ(Plain.find(Element), std::string::npos) << Element;

    UseOptions(A);
    const std::string Options = SaveText(A);
    EXPECT_NE(Options.find("<MutationProbability>0.01</MutationProbability>\n"
                           "    <CrossoverKind>ckUniform</CrossoverKind>\n"
                           "    <MutationMode>mmGeometric</MutationMode>\n"
                           "    <SelectionMethod>"),
              std::string::npos);
    EXPECT_NE(Options.find("<PreserveSignBit>true</PreserveSignBit>\n"
                           "        <RealLow>-2.5</RealLow>\n"
                           "        <RealHigh>0.1</RealHigh>\n"
                           "        <GrayCode>true</GrayCode>\n"
                           "      </IntegerGene>"),
              std::string::npos);

    TKvGeneticAlgorithm B;
    LoadText(B, Options);
    EXPECT_EQ(B.GetCrossoverKind(), ckUniform);
    EXPECT_EQ(B.GetMutationMode(), mmGeometric);
    const TKvGAGene* Count = B.GetGenes()->GetItem(1);
    EXPECT_TRUE(Count->GetUseRealInterval());
    EXPECT_EQ(Count->GetRealLow(), -2.5);
    EXPECT_EQ(Count->GetRealHigh(), 0.1);
    EXPECT_TRUE(Count->GetGrayCode());
    EXPECT_EQ(kvtest::Values(B), kvtest::Values(A));
    EXPECT_EQ(SaveText(B), Options);

    // A document without the options gives the defaults; an empty element counts as absent.
    LoadText(B, Plain);
    EXPECT_EQ(SaveText(B), Plain);
    EXPECT_EQ(B.GetCrossoverKind(), ckOnePoint);
    EXPECT_EQ(B.GetMutationMode(), mmPerBit);
    EXPECT_FALSE(B.GetGenes()->GetItem(1)->GetUseRealInterval());
    LoadText(B, Replace(Options, "<CrossoverKind>ckUniform</CrossoverKind>",
                        "<CrossoverKind> </CrossoverKind>"));
    EXPECT_EQ(B.GetCrossoverKind(), ckOnePoint);
    EXPECT_EQ(B.GetMutationMode(), mmGeometric);

    // Saving the defaults into a node that holds the options overwrites them.
    auto Node = NewGeneticAlgorithm();
    A.SaveToXML(*Node);
    TKvGeneticAlgorithm Defaults;
    Defaults.SaveToXML(*Node);
    EXPECT_EQ(Node->GetReproduction()->GetChildText("CrossoverKind"), "ckOnePoint");
    EXPECT_EQ(Node->GetReproduction()->GetChildText("MutationMode"), "mmPerBit");

    TKvGeneticAlgorithm C;
    C.Assign(&A);
    EXPECT_EQ(C.GetCrossoverKind(), ckUniform);
    EXPECT_EQ(C.GetMutationMode(), mmGeometric);
    EXPECT_EQ(C.GetGenes()->GetItem(1)->GetRealHigh(), 0.1);
}

TEST(OperatorSettingsPersistence, BadOptionalValuesFailTheWholeLoad) {
    TKvGeneticAlgorithm A;
    kvtest::BuildEngine(A);
    UseOptions(A);
    const std::string Good = SaveText(A);
    TKvGeneticAlgorithm B;
    kvtest::BuildEngine(B);
    B.SetCrossoverKind(ckTwoPoint);
    const std::string Before = Snapshot(B);
    const std::pair<std::string, std::string> Faults[] = {
        {Replace(Good, "ckUniform", "ckThreePoint"), "ckThreePoint"},
        {Replace(Good, "mmGeometric", "mmSometimes"), "mmSometimes"},
        {Replace(Good, "<RealHigh>0.1</RealHigh>", ""), "RealLow"},
        {Replace(Good, "<RealLow>-2.5</RealLow>", ""), "RealHigh"},
        {Replace(Good, "<RealLow>-2.5</RealLow>", "<RealLow>7</RealLow>"), "[7, 0.1]"},
        {Replace(Good, "<RealLow>-2.5</RealLow>", "<RealLow>inf</RealLow>"), "RealLow"},
        {Replace(Good, "<RealHigh>0.1</RealHigh>", "<RealHigh>tall</RealHigh>"), "tall"},
        {Replace(Good, "<GrayCode>true</GrayCode>", "<GrayCode>maybe</GrayCode>"), "maybe"},
    };
    for (const auto& [Text, Named] : Faults) {
        try {
            LoadText(B, Text);
            ADD_FAILURE() << "loaded a document with " << Named;
        } catch (const EConvertError& E) {
            EXPECT_NE(std::string(E.what()).find(Named), std::string::npos) << E.what();
        }
        EXPECT_EQ(Snapshot(B), Before) << Named;
    }
}
