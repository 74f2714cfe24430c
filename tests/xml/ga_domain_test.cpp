#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "kv/rtl/exceptions.h"
#include "kv/xml/KvGADomainXML.h"

using namespace kv;

namespace {

std::shared_ptr<IXMLDocument> Load(const std::string& Text) {
    auto Doc = NewXMLDocument();
    Doc->LoadFromString(Text);
    return Doc;
}

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

template <class I>
bool Is(const std::shared_ptr<IXMLNode>& Node) {
    return std::dynamic_pointer_cast<I>(Node) != nullptr;
}

} // namespace

TEST(GADomainDocument, NewDomainHasOneEmptyRootAndChildrenAppearOnDemand) {
    auto Domain = NewGADomain();
    auto Doc = Domain->GetOwnerDocument();
    EXPECT_EQ(Doc->SaveToString(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<GADomain />\n");
    auto GenoType = Domain->GetGenoType();
    EXPECT_EQ(GenoType, Domain->GetGenoType());
    Domain->GetChromosomes();
    EXPECT_EQ(ChildNames(Domain), "GenoType Chromosomes");
    EXPECT_EQ(GenoType->GetSize(), 0);
    EXPECT_EQ(GenoType->GetBooleanGene()->GetCount(), 0);

    // The typed root keeps its document alive once every other reference is gone.
    std::weak_ptr<IXMLDocument> Weak = Doc;
    Doc.reset();
    GenoType.reset();
    ASSERT_FALSE(Weak.expired());
    EXPECT_EQ(ChildNames(Domain), "GenoType Chromosomes");
    Domain.reset();
    EXPECT_TRUE(Weak.expired());
}

TEST(GADomainDocument, OptionalValuesReadAsZeroAndRequiredOnesFail) {
    auto Doc = Load("<GenoType><FloatGene><Name>F</Name></FloatGene>"
                    "<IntegerGene><Name>I</Name><Size>4</Size><MinValue> </MinValue>"
                    "<MaxValue>ten</MaxValue><PreserveSignBit>true</PreserveSignBit></IntegerGene>"
                    "</GenoType>");
    auto GenoType = GetGenoType(Doc);
    EXPECT_EQ(GenoType->GetSize(), 0);
    auto Float = GenoType->GetFloatGene()->GetItem(0);
    EXPECT_EQ(Float->GetMinValue(), 0.0);
    EXPECT_EQ(Float->GetMaxValue(), 0.0);
    EXPECT_FALSE(Float->GetPreserveSignBit());
    EXPECT_EQ(Float->GetName(), "F");
    EXPECT_THROW(Float->GetSize(), EConvertError);
    auto Integer = GenoType->GetIntegerGene()->GetItem(0);
    EXPECT_EQ(Integer->GetSize(), 4);
    EXPECT_EQ(Integer->GetMinValue(), 0.0);
    EXPECT_TRUE(Integer->GetPreserveSignBit());
    EXPECT_THROW(Integer->GetMaxValue(), EConvertError);
    EXPECT_EQ(ChildNames(Float), "Name") << "reading optional values added elements";

    GenoType->SetSize(12);
    EXPECT_EQ(GenoType->GetAttribute("Size"), "12");
    GenoType->SetAttribute("Size", "x");
    EXPECT_THROW(GenoType->GetSize(), EConvertError);
}

TEST(GADomainDocument, GeneListsShareGenoTypeAndKeepDocumentOrder) {
    auto GenoType = GetGenoType(Load("<GenoType><BooleanGene><Name>b1</Name></BooleanGene>"
                                     "<IntegerGene><Name>i1</Name></IntegerGene>"
                                     "<BooleanGene><Name>b2</Name></BooleanGene></GenoType>"));
    auto Booleans = GenoType->GetBooleanGene();
    auto Integers = GenoType->GetIntegerGene();
    EXPECT_EQ(Booleans->GetCount(), 2);
    EXPECT_EQ(Integers->GetCount(), 1);
    EXPECT_EQ(GenoType->GetFloatGene()->GetCount(), 0);
    EXPECT_EQ(ChildNames(GenoType), "BooleanGene IntegerGene BooleanGene");
    EXPECT_EQ(Booleans->GetItem(1)->GetName(), "b2");
    EXPECT_EQ(GenoType->GetChildNodes()->GetNode(2), Booleans->GetItem(1));

    // Insert(Index) makes the new element item Index of its own list; Count appends at the end.
    Integers->Insert(0)->SetName("i0");
    Booleans->Insert(1)->SetName("b1.5");
    Integers->Insert(Integers->GetCount())->SetName("i2");
    EXPECT_EQ(ChildNames(GenoType),
              "BooleanGene IntegerGene IntegerGene BooleanGene BooleanGene IntegerGene");
    EXPECT_EQ(GenoType->GetChildNodes()->GetNode(1), Integers->GetItem(0));
    EXPECT_EQ(GenoType->GetChildNodes()->GetNode(3), Booleans->GetItem(1));
    EXPECT_EQ(Integers->GetItem(0)->GetName(), "i0");
    EXPECT_EQ(Integers->GetItem(2)->GetName(), "i2");
    EXPECT_EQ(Booleans->GetItem(1)->GetName(), "b1.5");
    EXPECT_EQ(Booleans->GetItem(2)->GetName(), "b2");
    EXPECT_THROW(Integers->Insert(4), EListError);
    EXPECT_THROW(Booleans->GetItem(3), EListError);
    try {
        Booleans->GetItem(-1);
    } catch (const EListError& E) {
        EXPECT_NE(std::string(E.what()).find("(-1)"), std::string::npos) << E.what();
        EXPECT_NE(std::string(E.what()).find("has 3 \"BooleanGene\" items"), std::string::npos)
            << E.what();
    }

    // Added in gene order, the four kinds come out in the order of the calls.
    auto Fresh = NewGenoType();
    Fresh->GetBooleanGene()->Add();
    Fresh->GetIntegerGene()->Add();
    Fresh->GetBooleanGene()->Add();
    Fresh->GetEnumerationGene()->Add();
    Fresh->GetFloatGene()->Add();
    Fresh->GetBooleanGene()->Add();
    EXPECT_EQ(ChildNames(Fresh), "BooleanGene IntegerGene BooleanGene EnumerationGene FloatGene "
                                 "BooleanGene");
    EXPECT_EQ(Fresh->GetBooleanGene()->GetCount(), 3);
}

TEST(GADomainDocument, ValueListsInterleaveAndReadBackTheirTypes) {
    auto Chromosomes = NewChromosomes();
    auto Chromosome = Chromosomes->Add();
    Chromosome->SetName("Best");
    auto Genes = Chromosome->GetGenes();
    Genes->GetBooleanGeneValue()->Add(true);
    Genes->GetIntegerGeneValue()->Add(-42);
    Genes->GetBooleanGeneValue()->Add(false);
    Genes->GetFloatGeneValue()->Add(0.1f);
    Genes->GetEnumerationGeneValue()->Add("Green");
    Genes->SetBits("1010");
    Genes->SetBits("0110");
    EXPECT_EQ(ChildNames(Chromosome), "Name Genes");
    EXPECT_EQ(ChildNames(Genes), "BooleanGeneValue IntegerGeneValue BooleanGeneValue "
                                 "FloatGeneValue EnumerationGeneValue Bits");
    Genes->GetIntegerGeneValue()->Insert(0, 7);
    EXPECT_EQ(Genes->GetIntegerGeneValue()->GetItem(0), 7);
    EXPECT_EQ(Genes->GetIntegerGeneValue()->GetItem(1), -42);

    auto Doc = NewXMLDocument();
    Doc->LoadFromString(Chromosomes->GetOwnerDocument()->SaveToString());
    auto Loaded = GetChromosomes(Doc)->GetChromosome(0);
    EXPECT_EQ(Loaded->GetName(), "Best");
    auto LoadedGenes = Loaded->GetGenes();
    EXPECT_EQ(LoadedGenes->GetBits(), "0110");
    auto Booleans = LoadedGenes->GetBooleanGeneValue();
    ASSERT_EQ(Booleans->GetCount(), 2);
    EXPECT_TRUE(Booleans->GetItem(0));
    EXPECT_FALSE(Booleans->GetItem(1));
    float F = LoadedGenes->GetFloatGeneValue()->GetItem(0);
    EXPECT_EQ(F, 0.1f);
    EXPECT_NE(double(F), 0.1) << "a single-precision value read back as a double";
    EXPECT_EQ(LoadedGenes->GetEnumerationGeneValue()->GetItem(0), "Green");
    EXPECT_EQ(LoadedGenes->GetIntegerGeneValue()->GetCount(), 2);

    // Written from the double 0.1, the value becomes the nearest float on the way in.
    LoadedGenes->GetFloatGeneValue()->Add(static_cast<float>(0.1));
    EXPECT_EQ(LoadedGenes->GetFloatGeneValue()->GetNode(1)->GetText(), "0.1");

    auto Bad = GetChromosomes(Load("<Chromosomes><Chromosome><Genes><BooleanGeneValue>true"
                                   "</BooleanGeneValue><BooleanGeneValue>maybe</BooleanGeneValue>"
                                   "</Genes></Chromosome></Chromosomes>"));
    auto BadList = Bad->GetChromosome(0)->GetGenes()->GetBooleanGeneValue();
    EXPECT_TRUE(BadList->GetItem(0));
    try {
        BadList->GetItem(1);
        ADD_FAILURE() << "\"maybe\" read as a boolean";
    } catch (const EConvertError& E) {
        std::string M = E.what();
        EXPECT_NE(M.find("\"maybe\""), std::string::npos) << M;
        EXPECT_NE(M.find("\"BooleanGeneValue\" (item 1) in \"Genes\""), std::string::npos) << M;
    }
}

TEST(GADomainDocument, TypeQueriesFollowTheRegistration) {
    auto Domain = GetGADomain(Load(
        "<GADomain><GenoType><BooleanGene/><IntegerGene/><FloatGene/><EnumerationGene/>"
        "<Note/></GenoType><Chromosomes><BooleanGene/><Chromosome/></Chromosomes></GADomain>"));
    auto Children = Domain->GetGenoType()->GetChildNodes();
    ASSERT_EQ(Children->GetCount(), 5);
    auto Boolean = Children->GetNode(0), Integer = Children->GetNode(1);
    auto Float = Children->GetNode(2), Enumeration = Children->GetNode(3);
    auto Note = Children->GetNode(4);

    EXPECT_TRUE(Is<IXMLGeneType>(Boolean));
    EXPECT_TRUE(Is<IXMLBooleanGeneType>(Boolean));
    EXPECT_FALSE(Is<IXMLNumericGeneType>(Boolean));
    EXPECT_TRUE(Is<IXMLNumericGeneType>(Integer));
    EXPECT_TRUE(Is<IXMLGeneType>(Integer));
    EXPECT_TRUE(Is<IXMLIntegerGeneType>(Integer));
    EXPECT_FALSE(Is<IXMLFloatGeneType>(Integer));
    EXPECT_TRUE(Is<IXMLFloatGeneType>(Float));
    EXPECT_FALSE(Is<IXMLIntegerGeneType>(Float));
    EXPECT_TRUE(Is<IXMLNumericGeneType>(Enumeration));
    EXPECT_TRUE(Is<IXMLEnumerationGeneType>(Enumeration));
    EXPECT_FALSE(Is<IXMLGeneType>(Note));

    // The class comes from the parent's registration, not from the element's name alone.
    auto Misplaced = Domain->GetChromosomes()->GetChildNodes()->GetNode(0);
    EXPECT_FALSE(Is<IXMLGeneType>(Misplaced));
    EXPECT_TRUE(Is<IXMLChromosome>(Domain->GetChromosomes()->GetNode(0)));
    EXPECT_EQ(Domain->GetChromosomes()->GetCount(), 1);

    // The plain root and the bound root are different views of one element.
    auto Plain = Domain->GetOwnerDocument()->GetDocumentElement();
    EXPECT_FALSE(Is<IXMLGADomainType>(Plain));
    EXPECT_EQ(ChildNames(Plain), "GenoType Chromosomes");
}

TEST(GADomainDocument, WritingTwiceKeepsOneElementAndEnumerationsKeepTheirOrder) {
    auto Gene = NewGenoType()->GetEnumerationGene()->Add();
    Gene->SetName("Colour");
    Gene->SetSize(2);
    Gene->SetMinValue(0);
    Gene->SetMaxValue(2);
    Gene->SetPreserveSignBit(false);
    for (const char* Name : {"Red", "Green", "Blue"})
        Gene->GetEnumeration()->Add(Name);
    Gene->SetName("Hue");
    Gene->SetMaxValue(3.5);
    EXPECT_EQ(ChildNames(Gene), "Name Size MinValue MaxValue PreserveSignBit Enumeration "
                                "Enumeration Enumeration");
    EXPECT_EQ(Gene->GetName(), "Hue");
    EXPECT_EQ(Gene->GetMaxValue(), 3.5);
    auto List = Gene->GetEnumeration();
    ASSERT_EQ(List->GetCount(), 3);
    EXPECT_EQ(List->GetItem(0), "Red");
    EXPECT_EQ(List->GetItem(2), "Blue");
    List->Delete(1);
    EXPECT_EQ(List->GetItem(1), "Blue");
    List->Insert(0, "Black");
    EXPECT_EQ(List->GetItem(0), "Black");
    EXPECT_EQ(List->GetCount(), 3);
}

TEST(GADomainDocument, RootsBindOnlyUnderTheirTag) {
    auto Doc = Load("<GADomain/>");
    try {
        GetGenoType(Doc);
        ADD_FAILURE() << "a GADomain root bound as a genotype";
    } catch (const EIntfCastError& E) {
        std::string M = E.what();
        EXPECT_NE(M.find("\"GADomain\""), std::string::npos) << M;
        EXPECT_NE(M.find("\"GenoType\""), std::string::npos) << M;
    }
    EXPECT_THROW(GetChromosomes(Doc), EIntfCastError);
    EXPECT_NO_THROW(GetGADomain(Doc));
    EXPECT_THROW(GetGADomain(nullptr), EXmlError);

    auto Empty = NewXMLDocument();
    EXPECT_TRUE(Empty->IsEmpty());
    EXPECT_EQ(Empty->GetDocumentElement(), nullptr);
    auto Chromosomes = GetChromosomes(Empty);
    EXPECT_FALSE(Empty->IsEmpty());
    EXPECT_EQ(Empty->GetDocumentElement()->GetNodeName(), "Chromosomes");
    EXPECT_EQ(Chromosomes, GetChromosomes(Empty));

    const char* Dir = std::getenv("KVGA_TEST_TMP");
    const std::string Path = std::string(Dir ? Dir : "/tmp") + "/ga_domain_test_roots.xml";
    Chromosomes->Add()->SetName("Solo");
    Empty->SaveToFile(Path);
    EXPECT_EQ(LoadChromosomes(Path)->GetChromosome(0)->GetName(), "Solo");
    EXPECT_THROW(LoadGenoType(Path), EIntfCastError);
    EXPECT_THROW(LoadGADomain(Path), EIntfCastError);
}
