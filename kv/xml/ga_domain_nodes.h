// Typed nodes of the GA domain document: a genotype (the ordered gene descriptions) and the
// chromosomes of a population (each individual's name, whole bit string and decoded gene values).
//
//   GADomain (or Domain inside a settings document)
//     GenoType            attribute Size (optional: reads 0 when absent or empty)
//       BooleanGene       Name, Size
//       IntegerGene       Name, Size, MinValue, MaxValue, PreserveSignBit (the last three optional)
//       FloatGene         the same
//       EnumerationGene   the same, then Enumeration repeated
//     Chromosomes
//       Chromosome        Name, Genes
//         Genes           Bits, then BooleanGeneValue, IntegerGeneValue, FloatGeneValue and
//                         EnumerationGeneValue repeated, one per gene in genotype order
//
// Every property reads or writes the document at once (the rules of xml_node.h): a child node
// property (GenoType, Chromosomes, Genes) is the first child element of its name, created as the
// last child when absent; a value property reads the first child element of its name (texts read
// empty when absent, required numbers raise EConvertError when absent, empty or not convertible;
// the optional ones read 0 or false) and writes it, creating it when absent, never twice.
//
// Gene and value lists are views of the repeated items of one name under a shared parent: the four
// gene lists share GenoType, the four value lists share Genes. Each counts and indexes only its own
// items; a new item goes after every child of the parent, so items added in gene order stand in
// gene order whatever their kinds. A node of a derived kind answers to every interface above it
// (std::dynamic_pointer_cast): an IntegerGene node is an IXMLNumericGeneType and an IXMLGeneType,
// a BooleanGene node is an IXMLGeneType but not an IXMLNumericGeneType. A child of GenoType with
// another name is a plain node answering to none of the gene interfaces.
//
// Single-precision values (FloatGeneValue) pass through float when written and when read; MinValue
// and MaxValue are doubles. Lists and nodes live as long as a reference to them or to their node;
// every node keeps its document alive.
#pragma once

#include "kv/xml/xml_node.h"

#include <memory>
#include <string>
#include <string_view>

namespace kv {

class IXMLGenoType;
class IXMLChromosomes;
class IXMLChromosome;
class IXMLGenes;
class IXMLString_List;

// ---- genes ----

class IXMLGeneType : public virtual IXMLNode {
public:
    static constexpr const char* InterfaceName = "IXMLGeneType";
    virtual std::string GetName() const = 0;
    virtual int GetSize() const = 0;
    virtual void SetName(std::string_view Value) = 0;
    virtual void SetSize(int Value) = 0;
};

class IXMLNumericGeneType : public virtual IXMLGeneType {
public:
    static constexpr const char* InterfaceName = "IXMLNumericGeneType";
    // Optional: 0, 0 and false when absent or empty.
    virtual double GetMinValue() const = 0;
    virtual double GetMaxValue() const = 0;
    virtual bool GetPreserveSignBit() const = 0;
    virtual void SetMinValue(double Value) = 0;
    virtual void SetMaxValue(double Value) = 0;
    virtual void SetPreserveSignBit(bool Value) = 0;
};

class IXMLBooleanGeneType : public virtual IXMLGeneType {
public:
    static constexpr const char* InterfaceName = "IXMLBooleanGeneType";
};

class IXMLIntegerGeneType : public virtual IXMLNumericGeneType {
public:
    static constexpr const char* InterfaceName = "IXMLIntegerGeneType";
};

class IXMLFloatGeneType : public virtual IXMLNumericGeneType {
public:
    static constexpr const char* InterfaceName = "IXMLFloatGeneType";
};

class IXMLEnumerationGeneType : public virtual IXMLNumericGeneType {
public:
    static constexpr const char* InterfaceName = "IXMLEnumerationGeneType";
    // The Enumeration items, one text per enumerated value, in list order.
    virtual std::shared_ptr<IXMLString_List> GetEnumeration() = 0;
};

// ---- lists of gene nodes (items of GenoType) ----
// Add appends a new, empty gene element after every child of GenoType; Insert(Index) places it so
// that it becomes item Index (0..Count; Count appends); both return the new node. GetItem raises
// EListError when Index is outside 0..Count-1.

class IXMLBooleanGeneTypeList : public IXMLNodeCollection {
public:
    static constexpr const char* InterfaceName = "IXMLBooleanGeneTypeList";
    virtual std::shared_ptr<IXMLBooleanGeneType> Add() = 0;
    virtual std::shared_ptr<IXMLBooleanGeneType> Insert(int Index) = 0;
    virtual std::shared_ptr<IXMLBooleanGeneType> GetItem(int Index) const = 0;
};

class IXMLFloatGeneTypeList : public IXMLNodeCollection {
public:
    static constexpr const char* InterfaceName = "IXMLFloatGeneTypeList";
    virtual std::shared_ptr<IXMLFloatGeneType> Add() = 0;
    virtual std::shared_ptr<IXMLFloatGeneType> Insert(int Index) = 0;
    virtual std::shared_ptr<IXMLFloatGeneType> GetItem(int Index) const = 0;
};

class IXMLIntegerGeneTypeList : public IXMLNodeCollection {
public:
    static constexpr const char* InterfaceName = "IXMLIntegerGeneTypeList";
    virtual std::shared_ptr<IXMLIntegerGeneType> Add() = 0;
    virtual std::shared_ptr<IXMLIntegerGeneType> Insert(int Index) = 0;
    virtual std::shared_ptr<IXMLIntegerGeneType> GetItem(int Index) const = 0;
};

class IXMLEnumerationGeneTypeList : public IXMLNodeCollection {
public:
    static constexpr const char* InterfaceName = "IXMLEnumerationGeneTypeList";
    virtual std::shared_ptr<IXMLEnumerationGeneType> Add() = 0;
    virtual std::shared_ptr<IXMLEnumerationGeneType> Insert(int Index) = 0;
    virtual std::shared_ptr<IXMLEnumerationGeneType> GetItem(int Index) const = 0;
};

// ---- lists of values (items of Genes, or of EnumerationGene for IXMLString_List) ----
// Add(Value) appends a new item element holding Value after every child of the parent;
// Insert(Index, Value) places it so that it becomes item Index (0..Count). They return nothing, so
// that appending a million values costs no node handles: the new item is GetNode(Count - 1) or
// GetNode(Index). GetItem reads item Index; a boolean, integer or float item that is empty or does
// not convert raises EConvertError naming the item, and an index outside 0..Count-1 EListError.

class IXMLBooleanList : public IXMLNodeCollection {
public:
    static constexpr const char* InterfaceName = "IXMLBooleanList";
    virtual void Add(bool Value) = 0;
    virtual void Insert(int Index, bool Value) = 0;
    virtual bool GetItem(int Index) const = 0;
};

class IXMLFloatList : public IXMLNodeCollection {
public:
    static constexpr const char* InterfaceName = "IXMLFloatList";
    virtual void Add(float Value) = 0;
    virtual void Insert(int Index, float Value) = 0;
    virtual float GetItem(int Index) const = 0;
};

class IXMLIntegerList : public IXMLNodeCollection {
public:
    static constexpr const char* InterfaceName = "IXMLIntegerList";
    virtual void Add(int Value) = 0;
    virtual void Insert(int Index, int Value) = 0;
    virtual int GetItem(int Index) const = 0;
};

class IXMLString_List : public IXMLNodeCollection {
public:
    static constexpr const char* InterfaceName = "IXMLString_List";
    virtual void Add(std::string_view Value) = 0;
    virtual void Insert(int Index, std::string_view Value) = 0;
    // The item's text; empty when the item has none.
    virtual std::string GetItem(int Index) const = 0;
};

// ---- the domain ----

class IXMLGenoType : public virtual IXMLNode {
public:
    static constexpr const char* InterfaceName = "IXMLGenoType";
    // The attribute Size: optional, 0 when absent or empty.
    virtual int GetSize() const = 0;
    virtual std::shared_ptr<IXMLBooleanGeneTypeList> GetBooleanGene() = 0;
    virtual std::shared_ptr<IXMLFloatGeneTypeList> GetFloatGene() = 0;
    virtual std::shared_ptr<IXMLIntegerGeneTypeList> GetIntegerGene() = 0;
    virtual std::shared_ptr<IXMLEnumerationGeneTypeList> GetEnumerationGene() = 0;
    virtual void SetSize(int Value) = 0;
};

class IXMLGenes : public virtual IXMLNode {
public:
    static constexpr const char* InterfaceName = "IXMLGenes";
    // The whole chromosome as a bit string, one '0'/'1' per bit, bit 0 first.
    virtual std::string GetBits() const = 0;
    virtual std::shared_ptr<IXMLBooleanList> GetBooleanGeneValue() = 0;
    virtual std::shared_ptr<IXMLFloatList> GetFloatGeneValue() = 0;
    virtual std::shared_ptr<IXMLIntegerList> GetIntegerGeneValue() = 0;
    virtual std::shared_ptr<IXMLString_List> GetEnumerationGeneValue() = 0;
    virtual void SetBits(std::string_view Value) = 0;
};

class IXMLChromosome : public virtual IXMLNode {
public:
    static constexpr const char* InterfaceName = "IXMLChromosome";
    virtual std::string GetName() const = 0;
    virtual std::shared_ptr<IXMLGenes> GetGenes() = 0;
    virtual void SetName(std::string_view Value) = 0;
};

// The Chromosomes element is itself the collection of its Chromosome items.
class IXMLChromosomes : public virtual IXMLNode, public virtual IXMLNodeCollection {
public:
    static constexpr const char* InterfaceName = "IXMLChromosomes";
    virtual std::shared_ptr<IXMLChromosome> GetChromosome(int Index) const = 0;
    virtual std::shared_ptr<IXMLChromosome> Add() = 0;
    virtual std::shared_ptr<IXMLChromosome> Insert(int Index) = 0;
};

class IXMLGADomainType : public virtual IXMLNode {
public:
    static constexpr const char* InterfaceName = "IXMLGADomainType";
    virtual std::shared_ptr<IXMLGenoType> GetGenoType() = 0;
    virtual std::shared_ptr<IXMLChromosomes> GetChromosomes() = 0;
};

// ---- document functions ----
// Get*: the root element of Doc bound under the tag (GADomain, GenoType, Chromosomes); an empty
// document gets a new root element of that name; a root of another name raises EIntfCastError
// naming the expected and the found root. Load*: a new document loaded from FileName (EXmlError
// when it cannot be opened or read), then as Get*. New*: a new document with XML version "1.0"
// and a new, empty root element. The returned node keeps its document alive; reach the document
// (to save it) with GetOwnerDocument().

std::shared_ptr<IXMLGADomainType> GetGADomain(const std::shared_ptr<IXMLDocument>& Doc);
std::shared_ptr<IXMLGADomainType> LoadGADomain(const std::string& FileName);
std::shared_ptr<IXMLGADomainType> NewGADomain();

std::shared_ptr<IXMLGenoType> GetGenoType(const std::shared_ptr<IXMLDocument>& Doc);
std::shared_ptr<IXMLGenoType> LoadGenoType(const std::string& FileName);
std::shared_ptr<IXMLGenoType> NewGenoType();

std::shared_ptr<IXMLChromosomes> GetChromosomes(const std::shared_ptr<IXMLDocument>& Doc);
std::shared_ptr<IXMLChromosomes> LoadChromosomes(const std::string& FileName);
std::shared_ptr<IXMLChromosomes> NewChromosomes();

} // namespace kv
