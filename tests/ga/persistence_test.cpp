#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/xml/KvGeneticAlgorithmXML.h"
#include "persistence_fixture.h"

using namespace kv;
using kvtest::LoadText;
using kvtest::SaveText;

namespace {

// A settings document with the given GenoType and Chromosomes elements (and settings text).
std::string Document(const std::string& Domain, const std::string& Method = "smRoulette",
                     const std::string& Probability = "0.5") {
    return "<GeneticAlgorithm><DiversityLimit>0.25</DiversityLimit><FitnessCutoff>1.5"
           "</FitnessCutoff><FitnessMethod>FMMAXIMIZE</FitnessMethod><Generation>3</Generation>"
           "<UseDiversityLimit>true</UseDiversityLimit><UseFitnessCutoff>false</UseFitnessCutoff>"
           "<Reproduction><CrossoverMethod>cmbyteboundary</CrossoverMethod><CrossoverProbability>" +
           Probability +
           "</CrossoverProbability><InversionProbability>0.5</InversionProbability>"
           "<MutationProbability>0.5</MutationProbability><SelectionMethod><Method>" +
           Method +
           "</Method><ElitistPercent>0.5</ElitistPercent><TournamentField>1</TournamentField>"
           "</SelectionMethod></Reproduction><Domain>" +
           Domain + "</Domain></GeneticAlgorithm>";
}

std::vector<std::string> ChildNames(IXMLNode& Node) {
    std::vector<std::string> Names;
    auto Children = Node.GetChildNodes();
    for (int I = 0; I < Children->GetCount(); ++I)
        Names.push_back(Children->GetNode(I)->GetNodeName());
    return Names;
}

class TTaggedIndividual : public TKvGAIndividual {
public:
    int Tag = 0;
    std::string ClassName() const override { return "TTaggedIndividual"; }
    void SaveToXML(IXMLChromosome& Node) const override {
        TKvGAIndividual::SaveToXML(Node);
        Node.SetChildAsInteger("Tag", Tag);
    }
    void LoadFromXML(IXMLChromosome& Node) override {
        TKvGAIndividual::LoadFromXML(Node);
        Tag = Node.GetChildAsInteger("Tag");
    }
};

class TTaggedEngine : public TKvGeneticAlgorithm {
public:
    using TKvGeneticAlgorithm::TKvGeneticAlgorithm;
    mutable int StreamSaves = 0;
    void SaveToStream(std::ostream& Stream) const override {
        ++StreamSaves;
        TKvGeneticAlgorithm::SaveToStream(Stream);
    }

protected:
    std::unique_ptr<TKvGAPopulation> CreatePopulation(const TKvGAIndividualClass&) override {
        return std::make_unique<TKvGAPopulation>(this,
                                                 TKvGAIndividualClass::Of<TTaggedIndividual>());
    }
};

} // namespace

TEST(PersistenceRoundTrip, GenesOfEveryKindAndTheirIndividuals) {
    TKvGeneticAlgorithm A;
    kvtest::BuildEngine(A);
    A.SetGeneSize(50); // bits beyond the genes come back too
    A.GetPopulation()->GetItem(0)->GetBits()->SetBit(47, true);
    const std::string Text = SaveText(A);

    auto Doc = NewXMLDocument();
    Doc->LoadFromString(Text);
    auto GA = GetGeneticAlgorithm(Doc);
    EXPECT_EQ(
        ChildNames(*GA->GetDomain()->GetGenoType()),
        (std::vector<std::string>{"BooleanGene", "IntegerGene", "FloatGene", "EnumerationGene"}));
    auto Genes = GA->GetDomain()->GetChromosomes()->GetChromosome(0)->GetGenes();
    EXPECT_EQ(ChildNames(*Genes),
              (std::vector<std::string>{"Bits", "BooleanGeneValue", "IntegerGeneValue",
                                        "FloatGeneValue", "EnumerationGeneValue"}));
    EXPECT_EQ(Genes->GetIntegerGeneValue()->GetItem(0), -40);
    EXPECT_EQ(Genes->GetFloatGeneValue()->GetItem(0), 0.1f);
    EXPECT_EQ(Genes->GetEnumerationGeneValue()->GetItem(0), "Blue");

    TKvGeneticAlgorithm B;
    LoadText(B, Text);
    // The genes come back with every value the document holds (the saved texts are equal) and
    // their offsets (the decoded values are equal).
    EXPECT_EQ(B.GetGenes()->GetCount(), 4);
    EXPECT_EQ(B.GetGeneSize(), 50);
    EXPECT_EQ(kvtest::Values(B), kvtest::Values(A));
    EXPECT_EQ(B.GetPopulation()->GetItem(1)->GetName(), "TKvGAIndividual");
    EXPECT_EQ(B.GetPopulation()->GetItem(0)->GetBits()->ToBitString(),
              A.GetPopulation()->GetItem(0)->GetBits()->ToBitString());
    EXPECT_EQ(SaveText(B), Text);

    // A code that names no entry saves an empty value, and its bits come back.
    A.GetPopulation()->GetItem(2)->GetBits()->SetAsInteger(41, 2, 3);
    Doc->LoadFromString(SaveText(A));
    EXPECT_EQ(GetGeneticAlgorithm(Doc)
                  ->GetDomain()
                  ->GetChromosomes()
                  ->GetChromosome(2)
                  ->GetGenes()
                  ->GetEnumerationGeneValue()
                  ->GetItem(0),
              "");
    LoadText(B, SaveText(A));
    EXPECT_EQ(B.GetPopulation()->GetItem(2)->GetBits()->GetAsInteger(41, 2), 3);
}

TEST(PersistenceRoundTrip, UnknownGeneIsLeftOutAndTheRestMoveUp) {
    TKvGeneticAlgorithm A;
    for (TGeneType Type : {gtBoolean, gtUnknown, gtInteger}) {
        TKvGAGene* Gene = A.GetGenes()->Add();
        Gene->SetGeneType(Type);
        Gene->SetSize(Type == gtBoolean ? 1 : 4);
    }
    TKvGeneticAlgorithm B;
    LoadText(B, SaveText(A));
    ASSERT_EQ(B.GetGenes()->GetCount(), 2);
    EXPECT_EQ(B.GetGenes()->GetItem(1)->GetGeneType(), gtInteger);
    EXPECT_EQ(B.GetGenes()->GetItem(1)->GetOffset(), 1);
    EXPECT_EQ(B.GetGenes()->GetItem(0)->GetName(), "TKvGAGene");
    EXPECT_EQ(B.GetGeneSize(), 9);
}

TEST(PersistenceLoad, GenesAreMadeThroughTheirWriters) {
    const std::string GenoType =
        "<GenoType><IntegerGene><Name>S</Name><Size>8</Size><MinValue>10</MinValue><MaxValue>20"
        "</MaxValue><PreserveSignBit>true</PreserveSignBit></IntegerGene><FloatGene><Name>U"
        "</Name><Size>8</Size><MinValue>10</MinValue><MaxValue>20</MaxValue></FloatGene>"
        "<EnumerationGene><Name>E</Name><Size>2</Size><MaxValue>9</MaxValue><Enumeration>Low"
        "</Enumeration><Enumeration>Mid</Enumeration><Enumeration>High</Enumeration>"
        "</EnumerationGene><EnumerationGene><Name>Wide</Name><Size>20</Size><Enumeration>A"
        "</Enumeration><Enumeration>B</Enumeration><Enumeration>C</Enumeration><Enumeration>D"
        "</Enumeration></EnumerationGene></GenoType>";
    TKvGeneticAlgorithm E;
    LoadText(E, Document(GenoType + "<Chromosomes><Chromosome><Genes><Bits>1</Bits></Genes>"
                                    "</Chromosome></Chromosomes>"));
    const TKvGAGenes* G = E.GetGenes();
    ASSERT_EQ(G->GetCount(), 4);
    EXPECT_EQ(G->GetItem(0)->GetMinValue(), -128);
    EXPECT_EQ(G->GetItem(0)->GetMaxValue(), 127);
    EXPECT_EQ(G->GetItem(1)->GetMinValue(), 0);
    EXPECT_EQ(G->GetItem(1)->GetMaxValue(), 255);
    EXPECT_EQ(G->GetItem(2)->GetSize(), 2);
    EXPECT_EQ(G->GetItem(2)->GetMaxValue(), 1); // the third text did not change the size
    EXPECT_EQ(G->GetItem(2)->GetEnumerations()->GetString(2), "High");
    EXPECT_EQ(G->GetItem(3)->GetSize(), 3);
    EXPECT_EQ(G->GetItem(3)->GetOffset(), 18);
    // Wide's Size of 20 made the genotype reach 38 bits before its texts sized it down.
    EXPECT_EQ(E.GetGeneSize(), 38);
    EXPECT_EQ(E.GetPopulation()->GetItem(0)->GetBits()->GetSize(), 38);
    EXPECT_EQ(E.GetPopulation()->GetItem(0)->GetName(), "");
    EXPECT_EQ(E.GetPopulation()->GetItem(0)->GetFitness(), 0);
}

TEST(PersistenceSize, TheChromosomeLengthComesBack) {
    // Chromosomes longer than their genes (as a genetic program's are) keep every bit.
    TKvGeneticAlgorithm A;
    TKvGAGene* Gene = A.GetGenes()->Add();
    Gene->SetGeneType(gtInteger);
    Gene->SetSize(10);
    A.SetGeneSize(20);
    A.GetPopulation()->Add()->GetBits()->SetBit(15, true);
    TKvGeneticAlgorithm B;
    LoadText(B, SaveText(A));
    EXPECT_EQ(B.GetGeneSize(), 20);
    EXPECT_TRUE(B.GetPopulation()->GetItem(0)->GetBits()->GetBit(15));

    TKvGeneticAlgorithm NoGenes;
    NoGenes.SetGeneSize(20);
    LoadText(B, SaveText(NoGenes));
    EXPECT_EQ(B.GetGeneSize(), 20);

    // Without the attribute, GeneSize is what the genes give, whatever it was.
    LoadText(B, Document("<GenoType><BooleanGene><Name>F</Name><Size>6</Size></BooleanGene>"
                         "</GenoType>"));
    EXPECT_EQ(B.GetGeneSize(), 6);

    TKvGAGenes Standalone(nullptr);
    Standalone.Add()->SetSize(7);
    auto GenoType = NewGenoType();
    Standalone.SaveToXML(*GenoType);
    EXPECT_EQ(GenoType->GetSize(), 7);
}

TEST(PersistenceSettings, SinglePrecisionIdentifiersAndWriters) {
    TKvGeneticAlgorithm A;
    A.SetFitnessMethod(fmMaximize);
    A.SetCrossoverMethod(cmBitBoundary);
    A.SetSelectionMethod(smTournament);
    A.SetTournamentField(5);
    A.SetElitistPct(0.25);
    A.SetGeneration(7);
    A.SetUseFitnessCutoff(true);
    A.SetFitnessCutoff(1e300); // beyond single precision: saved as infinity, not undefined
    TKvGeneticAlgorithm B;
    LoadText(B, SaveText(A));
    EXPECT_EQ(B.GetCrossoverProbability(), 0.9800000190734863);
    EXPECT_EQ(B.GetDiversityLimit(), 0.019999999552965164);
    EXPECT_EQ(B.GetMutationProbability(), double(0.01f));
    EXPECT_EQ(B.GetFitnessMethod(), fmMaximize);
    EXPECT_EQ(B.GetCrossoverMethod(), cmBitBoundary);
    EXPECT_EQ(B.GetSelectionMethod(), smTournament);
    EXPECT_EQ(B.GetTournamentField(), 5);
    EXPECT_EQ(B.GetElitistPct(), 0.25);
    EXPECT_EQ(B.GetGeneration(), 7);
    EXPECT_TRUE(B.GetUseFitnessCutoff());
    EXPECT_EQ(B.GetFitnessCutoff(), HUGE_VAL);

    // Identifiers in any case; out-of-range values are ignored by the writers, the cut-off taken.
    LoadText(B, Document(""));
    EXPECT_EQ(B.GetFitnessMethod(), fmMaximize);
    EXPECT_EQ(B.GetCrossoverMethod(), cmByteBoundary);
    EXPECT_EQ(B.GetSelectionMethod(), smRoulette);
    EXPECT_EQ(B.GetCrossoverProbability(), 0.5);
    LoadText(B, Document("", "SMSTOCHASTICTOURNAMENT", "1.5"));
    EXPECT_EQ(B.GetCrossoverProbability(), 0.5);
    EXPECT_EQ(B.GetTournamentField(), 5);
    EXPECT_EQ(B.GetFitnessCutoff(), 1.5);
    EXPECT_EQ(B.GetDiversityLimit(), 0.25);
    EXPECT_EQ(B.GetSelectionMethod(), smStochasticTournament);
    EXPECT_EQ(B.GetGenes()->GetCount(), 0);

    // smCustom keeps a custom routine in force and leaves any other engine without one.
    int Calls = 0;
    B.SetOnSelection([&Calls](TObject*, TKvGAPopulation* P, TKvGAIndividual*& Parent) {
        ++Calls;
        Parent = P->GetItem(0);
    });
    LoadText(B, Document("", "smcustom"));
    EXPECT_EQ(B.GetSelectionMethod(), smCustom);
    ASSERT_TRUE(static_cast<bool>(B.GetOnSelection()));
    TKvGeneticAlgorithm C;
    LoadText(C, Document("", "smCustom"));
    EXPECT_EQ(C.GetSelectionMethod(), smCustom);
    EXPECT_FALSE(static_cast<bool>(C.GetOnSelection()));
}

TEST(PersistenceSave, IntoANodeThatHoldsItemsAppends) {
    TKvGeneticAlgorithm A;
    kvtest::BuildEngine(A);
    auto GA = NewGeneticAlgorithm();
    A.SaveToXML(*GA);
    A.SetGeneration(12);
    A.SaveToXML(*GA);
    EXPECT_EQ(GA->GetDomain()->GetGenoType()->GetChildNodes()->GetCount(), 8);
    EXPECT_EQ(GA->GetDomain()->GetChromosomes()->GetCount(), 6);
    EXPECT_EQ(GA->GetChildNodes()->GetCount(), 8); // the settings are overwritten, not repeated
    EXPECT_EQ(GA->GetGeneration(), 12);
}

TEST(PersistenceDescendants, OverridesTakePartEverywhere) {
    const auto Dir = kvtest::TestDir("descendants");
    const std::string File = (Dir / "tagged.xml").string();
    TTaggedEngine A;
    kvtest::BuildEngine(A);
    static_cast<TTaggedIndividual*>(A.GetPopulation()->GetItem(0))->Tag = 7;
    static_cast<TTaggedIndividual*>(A.GetPopulation()->GetItem(2))->Tag = 9;
    A.SaveToFile(File);
    EXPECT_EQ(A.StreamSaves, 1);
    TTaggedEngine B;
    B.LoadFromFile(File);
    ASSERT_EQ(B.GetPopulation()->GetCount(), 3);
    EXPECT_EQ(static_cast<TTaggedIndividual*>(B.GetPopulation()->GetItem(0))->Tag, 7);
    EXPECT_EQ(static_cast<TTaggedIndividual*>(B.GetPopulation()->GetItem(2))->Tag, 9);
    EXPECT_EQ(B.GetPopulation()->GetItem(1)->GetName(), "TTaggedIndividual");
    EXPECT_EQ(kvtest::Values(B), kvtest::Values(A));
}

TEST(PersistenceStandalone, OutsideAnEngineTheTextGivesTheLength) {
    TKvGAPopulation P(nullptr);
    P.Add()->GetBits()->SetSize(5);
    P.GetItem(0)->GetBits()->SetBit(4, true);
    P.Add()->GetBits()->SetSize(9);
    auto Chromosomes = NewChromosomes();
    P.SaveToXML(*Chromosomes);
    EXPECT_EQ(Chromosomes->GetChromosome(0)->GetGenes()->GetChildNodes()->GetCount(), 1);
    TKvGAPopulation Q(nullptr);
    Q.LoadFromXML(*Chromosomes);
    ASSERT_EQ(Q.GetCount(), 2);
    EXPECT_EQ(Q.GetItem(0)->GetBits()->ToBitString(), "00001");
    EXPECT_EQ(Q.GetItem(1)->GetBits()->GetSize(), 9);
}

TEST(PersistenceLoad, AbsentPartsReadEmptyAndTheDocumentStaysAsItWas) {
    TKvGeneticAlgorithm A;
    kvtest::BuildEngine(A);
    auto Doc = NewXMLDocument();
    Doc->LoadFromString(kvtest::Replaced(Document("", "smRandom"), "<Domain></Domain>", ""));
    const std::string Before = Doc->SaveToString();
    A.LoadFromXML(*GetGeneticAlgorithm(Doc));
    EXPECT_EQ(Doc->SaveToString(), Before);
    EXPECT_EQ(A.GetGenes()->GetCount(), 0);
    EXPECT_EQ(A.GetPopulation()->GetCount(), 0);
    EXPECT_EQ(A.GetGeneSize(), 0);
    EXPECT_EQ(A.GetSelectionMethod(), smRandom);
}

TEST(PersistenceLoad, HandWrittenLayoutAndSplitTextsReadAsWhole) {
    TKvGeneticAlgorithm A;
    kvtest::BuildEngine(A);
    const std::string Saved = SaveText(A);
    std::string Text = kvtest::Replaced(Saved, "<Generation>0<", "<Generation>1<!--x-->2<");
    const std::string Bits[] = {A.GetPopulation()->GetItem(0)->GetBits()->ToBitString(),
                                A.GetPopulation()->GetItem(1)->GetBits()->ToBitString(),
                                A.GetPopulation()->GetItem(2)->GetBits()->ToBitString()};
    // Bits on lines of their own, indented; split by a comment; text followed by CDATA.
    Text = kvtest::Replaced(Text, "<Bits>" + Bits[0] + "<",
                            "<Bits>\n            " + Bits[0] + "\n          <");
    Text =
        kvtest::Replaced(Text, "<Bits>" + Bits[1] + "<",
                         "<Bits>" + Bits[1].substr(0, 5) + "<!-- c -->" + Bits[1].substr(5) + "<");
    Text = kvtest::Replaced(Text, "<Bits>" + Bits[2] + "<",
                            "<Bits>" + Bits[2].substr(0, 7) + "<![CDATA[" + Bits[2].substr(7) +
                                "]]><");
    TKvGeneticAlgorithm B;
    LoadText(B, Text);
    EXPECT_EQ(B.GetGeneration(), 12);
    B.SetGeneration(0);
    EXPECT_EQ(SaveText(B), Saved);

    // Writing a value over several pieces leaves exactly the value written.
    auto Doc = NewXMLDocument();
    Doc->LoadFromString("<Root><Name>ab<!--c-->cd<![CDATA[<e>]]></Name></Root>");
    std::shared_ptr<IXMLNode> Root = Doc->GetDocumentElement();
    EXPECT_EQ(Root->GetChildText("Name"), "abcd<e>");
    Root->SetChildText("Name", "xy");
    EXPECT_EQ(Root->GetChildText("Name"), "xy");
    EXPECT_EQ(Root->GetChildNode("Name")->GetChildNodes()->GetCount(), 1);
}

TEST(PersistenceSave, GenesOutsideTheChromosomeSaveEmptyValues) {
    TKvGeneticAlgorithm A;
    kvtest::BuildEngine(A); // Flag 0, Count 1..8, Rate 9..40, Colour 41..42
    A.SetGeneSize(20);      // Rate and Colour leave the chromosomes
    A.GetPopulation()->GetItem(2)->GetBits()->SetSize(3); // as a callback might; Count leaves too
    auto Doc = NewGeneticAlgorithm();
    A.SaveToXML(*Doc);
    std::shared_ptr<IXMLGenes> Genes =
        Doc->GetDomain()->GetChromosomes()->GetChromosome(2)->GetGenes();
    EXPECT_EQ(ChildNames(*Genes),
              (std::vector<std::string>{"Bits", "BooleanGeneValue", "IntegerGeneValue",
                                        "FloatGeneValue", "EnumerationGeneValue"}));
    EXPECT_EQ(Genes->GetBooleanGeneValue()->GetItem(0), true);
    for (const char* Empty : {"IntegerGeneValue", "FloatGeneValue", "EnumerationGeneValue"})
        EXPECT_FALSE(Genes->HasChildValue(Empty)) << Empty;
    Genes = Doc->GetDomain()->GetChromosomes()->GetChromosome(0)->GetGenes();
    EXPECT_EQ(Genes->GetIntegerGeneValue()->GetItem(0), -40);
    EXPECT_FALSE(Genes->HasChildValue("FloatGeneValue"));

    TKvGeneticAlgorithm B; // and the file loads, the genes giving the chromosomes their length
    LoadText(B, SaveText(A));
    EXPECT_EQ(B.GetGeneSize(), 43);
    EXPECT_EQ(B.GetPopulation()->GetItem(2)->GetBits()->ToBitString(),
              A.GetPopulation()->GetItem(2)->GetBits()->ToBitString() + std::string(40, '0'));
}
