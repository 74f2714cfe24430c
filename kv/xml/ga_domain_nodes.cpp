#include "kv/xml/ga_domain_nodes.h"

#include "kv/xml/detail/ga_domain_classes.h"
#include "kv/xml/detail/xml_impl.h"
#include "kv/xml/detail/xml_lists.h"
#include "kv/xml/detail/xml_text_buffer.h"

namespace kv::detail {

namespace {

extern const TXMLNodeClass XMLGenoTypeClass;
extern const TXMLNodeClass XMLBooleanGeneTypeClass;
extern const TXMLNodeClass XMLFloatGeneTypeClass;
extern const TXMLNodeClass XMLIntegerGeneTypeClass;
extern const TXMLNodeClass XMLEnumerationGeneTypeClass;
extern const TXMLNodeClass XMLChromosomesClass;
extern const TXMLNodeClass XMLChromosomeClass;
extern const TXMLNodeClass XMLGenesClass;

using TXMLBooleanGeneTypeList = TXMLNodeItemList<IXMLBooleanGeneTypeList, IXMLBooleanGeneType>;
using TXMLFloatGeneTypeList = TXMLNodeItemList<IXMLFloatGeneTypeList, IXMLFloatGeneType>;
using TXMLIntegerGeneTypeList = TXMLNodeItemList<IXMLIntegerGeneTypeList, IXMLIntegerGeneType>;
using TXMLEnumerationGeneTypeList =
    TXMLNodeItemList<IXMLEnumerationGeneTypeList, IXMLEnumerationGeneType>;
using TXMLBooleanList = TXMLValueItemList<IXMLBooleanList, bool>;
using TXMLFloatList = TXMLValueItemList<IXMLFloatList, float>;
using TXMLIntegerList = TXMLValueItemList<IXMLIntegerList, int>;
using TXMLString_List = TXMLValueItemList<IXMLString_List, std::string, std::string_view>;

// ---- genes ----

class TXMLGeneType : public TXMLNode, public virtual IXMLGeneType {
public:
    using TXMLNode::TXMLNode;
    std::string GetName() const override { return ChildText("Name"); }
    int GetSize() const override { return ChildValue<int>("Size"); }
    void SetName(std::string_view Value) override { SetChildValue("Name", Value); }
    void SetSize(int Value) override { SetChildValue("Size", IntegerText(Value).View()); }
};

class TXMLNumericGeneType : public TXMLGeneType, public virtual IXMLNumericGeneType {
public:
    using TXMLGeneType::TXMLGeneType;
    double GetMinValue() const override { return ChildValue<double>("MinValue", 0.0); }
    double GetMaxValue() const override { return ChildValue<double>("MaxValue", 0.0); }
    bool GetPreserveSignBit() const override { return ChildValue<bool>("PreserveSignBit", false); }
    void SetMinValue(double Value) override { SetChildValue("MinValue", DoubleText(Value).View()); }
    void SetMaxValue(double Value) override { SetChildValue("MaxValue", DoubleText(Value).View()); }
    void SetPreserveSignBit(bool Value) override {
        SetChildValue("PreserveSignBit", BooleanText(Value).View());
    }
};

class TXMLBooleanGeneType final : public TXMLGeneType, public virtual IXMLBooleanGeneType {
public:
    using TXMLGeneType::TXMLGeneType;
};

class TXMLIntegerGeneType final : public TXMLNumericGeneType, public virtual IXMLIntegerGeneType {
public:
    using TXMLNumericGeneType::TXMLNumericGeneType;
};

class TXMLFloatGeneType final : public TXMLNumericGeneType, public virtual IXMLFloatGeneType {
public:
    using TXMLNumericGeneType::TXMLNumericGeneType;
};

class TXMLEnumerationGeneType final : public TXMLNumericGeneType,
                                      public virtual IXMLEnumerationGeneType {
public:
    using TXMLNumericGeneType::TXMLNumericGeneType;
    std::shared_ptr<IXMLString_List> GetEnumeration() override {
        Element();
        return ShareMember<IXMLString_List>(FEnumeration);
    }

private:
    TXMLString_List FEnumeration{*this, "Enumeration"};
};

// ---- genotype ----

class TXMLGenoType final : public TXMLNode, public virtual IXMLGenoType {
public:
    using TXMLNode::TXMLNode;
    int GetSize() const override {
        pugi::xml_attribute A = Element().attribute("Size");
        return ConvertOptional<int>(A ? A.value() : nullptr, 0,
                                    TValueSite{"Size", "GenoType", true});
    }
    std::shared_ptr<IXMLBooleanGeneTypeList> GetBooleanGene() override {
        return List<IXMLBooleanGeneTypeList>(FBooleanGene);
    }
    std::shared_ptr<IXMLFloatGeneTypeList> GetFloatGene() override {
        return List<IXMLFloatGeneTypeList>(FFloatGene);
    }
    std::shared_ptr<IXMLIntegerGeneTypeList> GetIntegerGene() override {
        return List<IXMLIntegerGeneTypeList>(FIntegerGene);
    }
    std::shared_ptr<IXMLEnumerationGeneTypeList> GetEnumerationGene() override {
        return List<IXMLEnumerationGeneTypeList>(FEnumerationGene);
    }
    void SetSize(int Value) override { SetAttributeAsInteger("Size", Value); }

private:
    template <class I, class L>
    std::shared_ptr<I> List(L& Member) {
        Element();
        return ShareMember<I>(Member);
    }

    TXMLBooleanGeneTypeList FBooleanGene{*this, "BooleanGene"};
    TXMLFloatGeneTypeList FFloatGene{*this, "FloatGene"};
    TXMLIntegerGeneTypeList FIntegerGene{*this, "IntegerGene"};
    TXMLEnumerationGeneTypeList FEnumerationGene{*this, "EnumerationGene"};
};

// ---- chromosomes ----

class TXMLGenes final : public TXMLNode, public virtual IXMLGenes {
public:
    using TXMLNode::TXMLNode;
    std::string GetBits() const override { return ChildText("Bits"); }
    std::shared_ptr<IXMLBooleanList> GetBooleanGeneValue() override {
        return List<IXMLBooleanList>(FBooleanGeneValue);
    }
    std::shared_ptr<IXMLFloatList> GetFloatGeneValue() override {
        return List<IXMLFloatList>(FFloatGeneValue);
    }
    std::shared_ptr<IXMLIntegerList> GetIntegerGeneValue() override {
        return List<IXMLIntegerList>(FIntegerGeneValue);
    }
    std::shared_ptr<IXMLString_List> GetEnumerationGeneValue() override {
        return List<IXMLString_List>(FEnumerationGeneValue);
    }
    void SetBits(std::string_view Value) override { SetChildValue("Bits", Value); }

private:
    template <class I, class L>
    std::shared_ptr<I> List(L& Member) {
        Element();
        return ShareMember<I>(Member);
    }

    TXMLBooleanList FBooleanGeneValue{*this, "BooleanGeneValue"};
    TXMLFloatList FFloatGeneValue{*this, "FloatGeneValue"};
    TXMLIntegerList FIntegerGeneValue{*this, "IntegerGeneValue"};
    TXMLString_List FEnumerationGeneValue{*this, "EnumerationGeneValue"};
};

class TXMLChromosome final : public TXMLNode, public virtual IXMLChromosome {
public:
    using TXMLNode::TXMLNode;
    std::string GetName() const override { return ChildText("Name"); }
    std::shared_ptr<IXMLGenes> GetGenes() override { return ChildNodeAs<IXMLGenes>("Genes"); }
    void SetName(std::string_view Value) override { SetChildValue("Name", Value); }
};

class TXMLChromosomes final : public TXMLNode, public virtual IXMLChromosomes {
public:
    using TXMLNode::TXMLNode;

    int GetCount() const override { return FItems.Count(); }
    std::shared_ptr<IXMLNode> GetNode(int Index) const override {
        return FItems.Wrap(FItems.Item(Index));
    }
    void Clear() override { FItems.Clear(); }
    void Delete(int Index) override { FItems.Delete(Index); }
    int Remove(const std::shared_ptr<IXMLNode>& Node) override { return FItems.Remove(Node); }

    std::shared_ptr<IXMLChromosome> GetChromosome(int Index) const override {
        return CastNode<IXMLChromosome>(FItems.Wrap(FItems.Item(Index)));
    }
    std::shared_ptr<IXMLChromosome> Add() override {
        return CastNode<IXMLChromosome>(FItems.Wrap(FItems.Add()));
    }
    std::shared_ptr<IXMLChromosome> Insert(int Index) override {
        return CastNode<IXMLChromosome>(FItems.Wrap(FItems.Insert(Index)));
    }

private:
    TXMLItems FItems{*this, "Chromosome"};
};

// ---- domain ----

class TXMLGADomainType final : public TXMLNode, public virtual IXMLGADomainType {
public:
    using TXMLNode::TXMLNode;
    std::shared_ptr<IXMLGenoType> GetGenoType() override {
        return ChildNodeAs<IXMLGenoType>("GenoType");
    }
    std::shared_ptr<IXMLChromosomes> GetChromosomes() override {
        return ChildNodeAs<IXMLChromosomes>("Chromosomes");
    }
};

// ---- registration ----

const TXMLChildClass GenoTypeChildren[] = {
    {"BooleanGene", &XMLBooleanGeneTypeClass},
    {"FloatGene", &XMLFloatGeneTypeClass},
    {"IntegerGene", &XMLIntegerGeneTypeClass},
    {"EnumerationGene", &XMLEnumerationGeneTypeClass},
};
const TXMLChildClass ChromosomesChildren[] = {{"Chromosome", &XMLChromosomeClass}};
const TXMLChildClass ChromosomeChildren[] = {{"Genes", &XMLGenesClass}};

const TXMLNodeClass XMLGenoTypeClass = {"TXMLGenoType", &CreateNodeOf<TXMLGenoType>,
                                        GenoTypeChildren, std::size(GenoTypeChildren)};
const TXMLNodeClass XMLBooleanGeneTypeClass = {"TXMLBooleanGeneType",
                                               &CreateNodeOf<TXMLBooleanGeneType>, nullptr, 0};
const TXMLNodeClass XMLFloatGeneTypeClass = {"TXMLFloatGeneType", &CreateNodeOf<TXMLFloatGeneType>,
                                             nullptr, 0};
const TXMLNodeClass XMLIntegerGeneTypeClass = {"TXMLIntegerGeneType",
                                               &CreateNodeOf<TXMLIntegerGeneType>, nullptr, 0};
const TXMLNodeClass XMLEnumerationGeneTypeClass = {
    "TXMLEnumerationGeneType", &CreateNodeOf<TXMLEnumerationGeneType>, nullptr, 0};
const TXMLNodeClass XMLChromosomesClass = {"TXMLChromosomes", &CreateNodeOf<TXMLChromosomes>,
                                           ChromosomesChildren, std::size(ChromosomesChildren)};
const TXMLNodeClass XMLChromosomeClass = {"TXMLChromosome", &CreateNodeOf<TXMLChromosome>,
                                          ChromosomeChildren, std::size(ChromosomeChildren)};
const TXMLNodeClass XMLGenesClass = {"TXMLGenes", &CreateNodeOf<TXMLGenes>, nullptr, 0};

const TXMLChildClass GADomainChildren[] = {
    {"GenoType", &XMLGenoTypeClass},
    {"Chromosomes", &XMLChromosomesClass},
};

} // namespace

const TXMLNodeClass XMLGADomainTypeClass = {"TXMLGADomainType", &CreateNodeOf<TXMLGADomainType>,
                                            GADomainChildren, std::size(GADomainChildren)};

} // namespace kv::detail

namespace kv {

using detail::BindRootAs;
using detail::LoadRootAs;
using detail::NewRootAs;

std::shared_ptr<IXMLGADomainType> GetGADomain(const std::shared_ptr<IXMLDocument>& Doc) {
    return BindRootAs<IXMLGADomainType>(Doc, "GADomain", detail::XMLGADomainTypeClass);
}
std::shared_ptr<IXMLGADomainType> LoadGADomain(const std::string& FileName) {
    return LoadRootAs<IXMLGADomainType>(FileName, "GADomain", detail::XMLGADomainTypeClass);
}
std::shared_ptr<IXMLGADomainType> NewGADomain() {
    return NewRootAs<IXMLGADomainType>("GADomain", detail::XMLGADomainTypeClass);
}

std::shared_ptr<IXMLGenoType> GetGenoType(const std::shared_ptr<IXMLDocument>& Doc) {
    return BindRootAs<IXMLGenoType>(Doc, "GenoType", detail::XMLGenoTypeClass);
}
std::shared_ptr<IXMLGenoType> LoadGenoType(const std::string& FileName) {
    return LoadRootAs<IXMLGenoType>(FileName, "GenoType", detail::XMLGenoTypeClass);
}
std::shared_ptr<IXMLGenoType> NewGenoType() {
    return NewRootAs<IXMLGenoType>("GenoType", detail::XMLGenoTypeClass);
}

std::shared_ptr<IXMLChromosomes> GetChromosomes(const std::shared_ptr<IXMLDocument>& Doc) {
    return BindRootAs<IXMLChromosomes>(Doc, "Chromosomes", detail::XMLChromosomesClass);
}
std::shared_ptr<IXMLChromosomes> LoadChromosomes(const std::string& FileName) {
    return LoadRootAs<IXMLChromosomes>(FileName, "Chromosomes", detail::XMLChromosomesClass);
}
std::shared_ptr<IXMLChromosomes> NewChromosomes() {
    return NewRootAs<IXMLChromosomes>("Chromosomes", detail::XMLChromosomesClass);
}

} // namespace kv
