#include <gtest/gtest.h>

#include <string>

#include "kv/rtl/exceptions.h"
#include "kv/xml/KvGADomainXML.h"

using namespace kv;

namespace {

std::shared_ptr<IXMLNode> Root(const std::string& Text) {
    auto Doc = NewXMLDocument();
    Doc->LoadFromString(Text);
    return Doc->GetDocumentElement();
}

// The names of Node's child nodes, in order, separated by spaces.
std::string ChildNames(const std::shared_ptr<IXMLNode>& Node) {
    auto List = Node->GetChildNodes();
    std::string R;
    for (int I = 0; I < List->GetCount(); ++I) {
        if (I > 0)
            R += ' ';
        R += List->GetNode(I)->GetNodeName();
    }
    return R;
}

template <class E, class F>
std::string MessageOf(F&& Call) {
    try {
        Call();
    } catch (const E& Error) {
        return Error.what();
    }
    return "(no exception)";
}

} // namespace

TEST(XMLNode, ValuesAreReadWithoutChangeAndWrittenIntoOneElement) {
    auto R = Root("<Gene><Size>8</Size></Gene>");
    EXPECT_EQ(R->GetChildText("Name"), "");
    EXPECT_FALSE(R->HasChildValue("Name"));
    EXPECT_EQ(R->GetChildAsInteger("MinValue", 0), 0);
    EXPECT_EQ(ChildNames(R), "Size") << "reading created elements";

    R->SetChildText("Name", "first");
    R->SetChildText("Name", "second");
    R->SetChildAsInteger("Size", 16);
    EXPECT_EQ(ChildNames(R), "Size Name") << "a new element goes last, an existing one stays";
    EXPECT_EQ(R->GetChildText("Name"), "second");
    EXPECT_EQ(R->GetChildAsInteger("Size"), 16);

    // The same element gives the same node, and GetChildNode creates only once.
    auto A = R->GetChildNode("Extra");
    EXPECT_EQ(A, R->GetChildNode("Extra"));
    EXPECT_EQ(A, R->FindChildNode("Extra"));
    EXPECT_EQ(R->FindChildNode("Missing"), nullptr);
    EXPECT_EQ(ChildNames(R), "Size Name Extra");
    A->SetAsSingle(0.1f);
    EXPECT_EQ(R->GetChildText("Extra"), "0.1");
    EXPECT_EQ(A->GetAsSingle(), 0.1f);
}

TEST(XMLNode, RequiredAndOptionalValuesReportWhatIsWrong) {
    auto R = Root("<Gene><Size> </Size><Min>1.5x</Min><Flag>yes</Flag><Max> 2.5 </Max></Gene>");
    std::string Missing = MessageOf<EConvertError>([&] { R->GetChildAsInteger("Count"); });
    EXPECT_NE(Missing.find("\"Count\" in \"Gene\""), std::string::npos) << Missing;
    std::string Empty = MessageOf<EConvertError>([&] { R->GetChildAsInteger("Size"); });
    EXPECT_NE(Empty.find("\"Size\" in \"Gene\""), std::string::npos) << Empty;
    std::string Bad = MessageOf<EConvertError>([&] { R->GetChildAsDouble("Min"); });
    EXPECT_NE(Bad.find("\"1.5x\""), std::string::npos) << Bad;
    EXPECT_NE(Bad.find("\"Min\" in \"Gene\""), std::string::npos) << Bad;
    EXPECT_THROW(R->GetChildAsBoolean("Flag"), EConvertError);

    // Optional: absent or empty gives the default, but a wrong text is still an error.
    EXPECT_EQ(R->GetChildAsInteger("Size", 0), 0);
    EXPECT_EQ(R->GetChildAsDouble("Count", -1.0), -1.0);
    EXPECT_EQ(R->GetChildAsDouble("Max", 0.0), 2.5);
    EXPECT_THROW(R->GetChildAsDouble("Min", 0.0), EConvertError);
    EXPECT_THROW(R->GetChildAsBoolean("Flag", false), EConvertError);

    R->SetAttribute("Size", " 7 ");
    EXPECT_EQ(R->GetAttributeAsInteger("Size"), 7);
    EXPECT_EQ(R->GetAttributeAsInteger("Other", 3), 3);
    R->SetAttribute("Size", "seven");
    std::string Attr = MessageOf<EConvertError>([&] { R->GetAttributeAsInteger("Size", 0); });
    EXPECT_NE(Attr.find("attribute \"Size\" of \"Gene\""), std::string::npos) << Attr;
}

TEST(XMLNode, RefusesWhatCouldNotBeReadBack) {
    auto R = Root("<Gene/>");
    EXPECT_THROW(R->SetChildText("Name", std::string("a\0b", 3)), EConvertError);
    EXPECT_THROW(R->SetChildText("Name", "\xC3"), EConvertError);
    EXPECT_THROW(R->SetAttribute("Name", "\xFF"), EConvertError);
    EXPECT_EQ(ChildNames(R), "") << "a refused value left an element behind";
    for (const char* Bad : {"", "1a", "a b", "a<b", "-x", "a&b"}) {
        EXPECT_THROW(R->GetChildNode(Bad), EXmlError) << Bad;
        EXPECT_THROW(R->SetChildText(Bad, "x"), EXmlError) << Bad;
    }
    EXPECT_THROW(R->AddChild(std::string("a\0b", 3)), EXmlError);
    EXPECT_EQ(ChildNames(R), "");

    // Nesting is limited for built trees as for loaded ones.
    auto N = R;
    for (int Level = 2; Level <= MaxXMLDepth; ++Level)
        N = N->AddChild("x");
    EXPECT_THROW(N->AddChild("x"), EXmlError);
    EXPECT_THROW(N->GetChildNode("y"), EXmlError);
    auto Doc = R->GetOwnerDocument();
    auto Again = NewXMLDocument();
    EXPECT_NO_THROW(Again->LoadFromString(Doc->SaveToString()));
}

TEST(XMLNode, ChildNodesAreElementsAndTextInDocumentOrder) {
    auto R = Root("<G>\n  <A/>\n  loose text\n  <B/><![CDATA[ ]]>\n</G>");
    auto List = R->GetChildNodes();
    ASSERT_EQ(List->GetCount(), 4);
    EXPECT_EQ(List->GetNode(0)->GetNodeType(), ntElement);
    EXPECT_EQ(List->GetNode(1)->GetNodeType(), ntText);
    EXPECT_EQ(List->GetNode(1)->GetNodeName(), "#text");
    EXPECT_EQ(List->GetNode(1)->GetText(), "\n  loose text\n  ");
    EXPECT_EQ(List->GetNode(3)->GetNodeType(), ntCData);
    EXPECT_THROW(List->GetNode(1)->GetChildNode("x"), EXmlError);
    std::string Index = MessageOf<EListError>([&] { List->GetNode(4); });
    EXPECT_NE(Index.find("(4)"), std::string::npos) << Index;
    EXPECT_NE(Index.find("has 4 child nodes"), std::string::npos) << Index;
    EXPECT_THROW(List->GetNode(-1), EListError);

    // The list is a view: it follows changes made after it was taken.
    R->AddChild("C");
    EXPECT_EQ(List->GetCount(), 5);
    EXPECT_EQ(List->GetNode(4)->GetNodeName(), "C");
}

TEST(XMLNode, NodesOfRemovedElementsAreDetachedNotDangling) {
    auto GenoType = NewGenoType();
    auto Genes = GenoType->GetBooleanGene();
    auto First = Genes->Add();
    First->SetName("first");
    auto Second = Genes->Add();
    Second->SetName("second");
    auto SecondName = Second->GetChildNode("Name");
    auto Third = Genes->Add();
    Third->SetName("third");

    Genes->Delete(1);
    EXPECT_FALSE(Second->IsAttached());
    EXPECT_FALSE(SecondName->IsAttached()) << "a node inside the removed element";
    EXPECT_THROW(Second->GetName(), EXmlError);
    EXPECT_THROW(SecondName->SetText("x"), EXmlError);
    EXPECT_THROW(Second->GetChildNodes()->GetCount(), EXmlError);
    EXPECT_EQ(Third->GetName(), "third");
    EXPECT_EQ(Genes->GetItem(1), Third);

    EXPECT_EQ(Genes->Remove(Second), -1) << "a detached node is no item";
    auto Other = NewGenoType()->GetBooleanGene()->Add();
    EXPECT_EQ(Genes->Remove(Other), -1) << "a node of another document is no item";
    EXPECT_EQ(Genes->Remove(Third), 1);
    EXPECT_FALSE(Third->IsAttached());
    Genes->Clear();
    EXPECT_FALSE(First->IsAttached());
    EXPECT_EQ(Genes->GetCount(), 0);
    EXPECT_EQ(ChildNames(GenoType), "");
    EXPECT_THROW(Genes->Delete(0), EListError);
}

TEST(XMLNode, ManyHandlesAndLargeRemovalsStayConsistent) {
    auto Chromosomes = NewChromosomes();
    std::vector<std::shared_ptr<IXMLChromosome>> Kept;
    for (int I = 0; I < 2000; ++I) {
        auto C = Chromosomes->Add();
        C->SetName(std::to_string(I));
        auto Genes = C->GetGenes();
        for (int K = 0; K < 20; ++K)
            Genes->GetBooleanGeneValue()->Add(K % 2 == 0);
        if (I % 100 == 0)
            Kept.push_back(C);
    }
    ASSERT_EQ(Chromosomes->GetCount(), 2000);
    for (int I = 0; I < 2000; I += 97)
        EXPECT_EQ(Chromosomes->GetChromosome(I)->GetName(), std::to_string(I));
    Chromosomes->Delete(100);
    EXPECT_FALSE(Kept[1]->IsAttached());
    EXPECT_TRUE(Kept[2]->IsAttached());
    EXPECT_EQ(Chromosomes->GetChromosome(100)->GetName(), "101");
    Chromosomes->Clear();
    for (auto& C : Kept)
        EXPECT_FALSE(C->IsAttached());

    // A removed element far larger than the number of live nodes: a node deep inside it is
    // still found and detached.
    auto Big = Chromosomes->Add();
    auto Values = Big->GetGenes()->GetIntegerGeneValue();
    for (int K = 0; K < 5000; ++K)
        Values->Add(K);
    auto Last = Values->GetNode(4999);
    EXPECT_EQ(Last->GetAsInteger(), 4999);
    Chromosomes->Remove(Big);
    EXPECT_FALSE(Last->IsAttached());
    EXPECT_THROW(Last->GetAsInteger(), EXmlError);
    EXPECT_THROW(Values->GetCount(), EXmlError);
}
