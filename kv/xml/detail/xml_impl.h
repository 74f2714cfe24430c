// Internal: the node layer over pugixml. Only the library's own sources include this header.
//
// TXMLDocument owns the pugixml tree and knows every live node handle (TXMLNode) by the element it
// stands for, so that removing an element detaches its handles instead of leaving them dangling,
// and so that reaching an element twice gives the same handle. It also counts structural changes
// (a stamp); list views cache their item elements and rebuild the cache when the stamp moved.
//
// TXMLNodeClass describes a node class: how to make its handles and which node class the child
// elements of each name get (the child-name registration). The descriptors are constants, so the
// registration of a class is made once, not per node.
#pragma once

#include "kv/xml/xml_node.h"

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kv::detail {

class TXMLDocument;
class TXMLNode;
class TXMLChildList;
struct TXMLNodeClass;

struct TXMLNodeInit {
    std::shared_ptr<TXMLDocument> Document;
    pugi::xml_node Node;
    const TXMLNodeClass* Class;
};

struct TXMLChildClass {
    const char* Name;
    const TXMLNodeClass* Class;
};

struct TXMLNodeClass {
    const char* ClassName;
    std::shared_ptr<TXMLNode> (*Create)(const TXMLNodeInit& Init);
    const TXMLChildClass* Children;
    size_t ChildCount;

    // The class registered for child elements named Name; the plain node class when none is.
    const TXMLNodeClass& ChildClass(const char* Name) const noexcept;
};

template <class T>
std::shared_ptr<TXMLNode> CreateNodeOf(const TXMLNodeInit& Init) {
    return std::make_shared<T>(Init);
}

// The class of plain element and text nodes: registers no children.
extern const TXMLNodeClass PlainNodeClass;

// ---- values and their errors ----

// Where a value stands, for error messages: element "Size" in "BooleanGene", item 3 of element
// "BooleanGeneValue" in "Genes", or attribute "Size" of "GenoType".
struct TValueSite {
    const char* Name;
    const char* Parent = nullptr; // nullptr: a root element
    bool Attribute = false;
    int Item = -1; // index within a list, or -1
};

// The value text of node N: for an element, all its text and CDATA children joined in document
// order (a comment between two pieces, dropped when the document was read, leaves the two pieces
// next to each other); for a text node, its text. Get() is nullptr when there is no such text.
// The text of a single piece is not copied. Use it as a temporary or a local: it cannot be moved.
class TNodeValue {
public:
    explicit TNodeValue(pugi::xml_node N);
    TNodeValue(const TNodeValue&) = delete;
    TNodeValue& operator=(const TNodeValue&) = delete;

    const char* Get() const noexcept { return FText; }
    // True when the value is present and not empty.
    bool HasText() const noexcept { return FText != nullptr && *FText != 0; }

private:
    const char* FText = nullptr;
    std::string FJoined;
};

// Sets the value of element E to Text: its first text or CDATA child takes Text (a text child is
// added when there is none) and every other text or CDATA child of E is removed, so that the value
// read back is exactly Text. Text must have been checked.
void SetElementText(TXMLDocument& Document, pugi::xml_node E, std::string_view Text);

// Conversions of a value text (nullptr when absent). Required values raise EConvertError when
// absent, empty or not convertible; optional ones give Default when absent or empty.
template <class T>
T ConvertRequired(const char* Text, const TValueSite& Site);
template <class T>
T ConvertOptional(const char* Text, T Default, const TValueSite& Site);

// Raises EConvertError when Text holds a NUL character or is not valid UTF-8.
void CheckText(std::string_view Text, const TValueSite& Site);
// Raises EXmlError when Name is not an XML name.
void CheckName(std::string_view Name);

// ---- the document ----

class TXMLDocument final : public IXMLDocument, public std::enable_shared_from_this<TXMLDocument> {
public:
    // An empty document; with a declaration of Version unless Version is empty.
    explicit TXMLDocument(std::string_view Version);
    ~TXMLDocument() override;

    bool IsEmpty() const override;
    std::shared_ptr<IXMLNode> GetDocumentElement() override;
    std::string GetVersion() const override;
    uint64_t GetMaxDocumentBytes() const override { return FMaxBytes; }
    void SetMaxDocumentBytes(uint64_t Value) override { FMaxBytes = Value; }
    void LoadFromFile(const std::string& FileName) override;
    void LoadFromStream(std::istream& Stream) override;
    void LoadFromString(std::string_view Bytes) override;
    void SaveToStream(std::ostream& Stream) const override;
    void SaveToFile(const std::string& FileName) const override;
    std::string SaveToString() const override;

    pugi::xml_document& Tree() noexcept { return *FTree; }
    uint64_t Stamp() const noexcept { return FStamp; }
    void Changed() noexcept { ++FStamp; }

    // The handle of class Class onto Node: the live one when there is one, else a new one.
    std::shared_ptr<TXMLNode> Wrap(pugi::xml_node Node, const TXMLNodeClass& Class);
    // The root element as a handle of Class under the tag Tag: a new root when the document is
    // empty; EIntfCastError when the root has another name.
    std::shared_ptr<TXMLNode> BindRoot(const char* Tag, const TXMLNodeClass& Class,
                                       const char* InterfaceName);
    // Removes Child from Parent, detaching every handle within it first.
    void RemoveChild(pugi::xml_node Parent, pugi::xml_node Child);

    void Attach(TXMLNode* Node, pugi::xml_node_struct* Element);
    void Release(TXMLNode* Node, pugi::xml_node_struct* Element) noexcept;

private:
    void Load(std::string_view Bytes);
    void DetachAll() noexcept;
    void DetachWithin(pugi::xml_node Root);

    std::unique_ptr<pugi::xml_document> FTree;
    std::unordered_multimap<pugi::xml_node_struct*, TXMLNode*> FNodes;
    uint64_t FStamp = 0;
    uint64_t FMaxBytes = DefaultMaxXMLDocumentBytes;
};

// ---- nodes ----

class TXMLNode : public virtual IXMLNode, public std::enable_shared_from_this<TXMLNode> {
public:
    explicit TXMLNode(const TXMLNodeInit& Init);
    ~TXMLNode() override;

    std::string GetNodeName() const override;
    TNodeType GetNodeType() const override;
    std::shared_ptr<IXMLDocument> GetOwnerDocument() const override;
    bool IsAttached() const noexcept override { return FNode != nullptr; }

    bool HasText() const override;
    std::string GetText() const override;
    void SetText(std::string_view Value) override;
    int GetAsInteger() const override;
    double GetAsDouble() const override;
    float GetAsSingle() const override;
    bool GetAsBoolean() const override;
    void SetAsInteger(int Value) override;
    void SetAsDouble(double Value) override;
    void SetAsSingle(float Value) override;
    void SetAsBoolean(bool Value) override;

    std::shared_ptr<IXMLNodeList> GetChildNodes() override;
    bool HasChildNode(std::string_view Name) const override;
    std::shared_ptr<IXMLNode> FindChildNode(std::string_view Name) override;
    std::shared_ptr<IXMLNode> GetChildNode(std::string_view Name) override;
    std::shared_ptr<IXMLNode> AddChild(std::string_view Name) override;

    bool HasChildValue(std::string_view Name) const override;
    std::string GetChildText(std::string_view Name) const override;
    int GetChildAsInteger(std::string_view Name) const override;
    int GetChildAsInteger(std::string_view Name, int Default) const override;
    double GetChildAsDouble(std::string_view Name) const override;
    double GetChildAsDouble(std::string_view Name, double Default) const override;
    float GetChildAsSingle(std::string_view Name) const override;
    float GetChildAsSingle(std::string_view Name, float Default) const override;
    bool GetChildAsBoolean(std::string_view Name) const override;
    bool GetChildAsBoolean(std::string_view Name, bool Default) const override;
    void SetChildText(std::string_view Name, std::string_view Value) override;
    void SetChildAsInteger(std::string_view Name, int Value) override;
    void SetChildAsDouble(std::string_view Name, double Value) override;
    void SetChildAsSingle(std::string_view Name, float Value) override;
    void SetChildAsBoolean(std::string_view Name, bool Value) override;

    bool HasAttribute(std::string_view Name) const override;
    std::string GetAttribute(std::string_view Name) const override;
    int GetAttributeAsInteger(std::string_view Name) const override;
    int GetAttributeAsInteger(std::string_view Name, int Default) const override;
    void SetAttribute(std::string_view Name, std::string_view Value) override;
    void SetAttributeAsInteger(std::string_view Name, int Value) override;

    // ---- for node classes and lists ----
    TXMLDocument& Document() const noexcept { return *FDocument; }
    const TXMLNodeClass& NodeClass() const noexcept { return *FClass; }
    pugi::xml_node_struct* Handle() const noexcept { return FNode; }
    void Detach() noexcept { FNode = nullptr; }
    // The node; EXmlError when detached.
    pugi::xml_node Node() const;
    // The node as an element; EXmlError when detached or not an element.
    pugi::xml_node Element() const;
    // The element's level (the root element is 1).
    int Depth() const;

    // The first child element named Name, or an empty node.
    pugi::xml_node FindChildElement(const char* Name) const { return Element().child(Name); }
    // The first child element named Name, created as the last child when absent.
    pugi::xml_node ChildElement(const char* Name);
    // A new child element as the last child, or before Before when given.
    pugi::xml_node NewChildElement(const char* Name, pugi::xml_node Before = pugi::xml_node());
    // The handle onto Child (a child of this node), of the class registered for its name.
    std::shared_ptr<TXMLNode> WrapChild(pugi::xml_node Child) const;

    // Typed child values for the node classes (names are NUL-terminated constants).
    std::string ChildText(const char* Name) const;
    template <class T>
    T ChildValue(const char* Name) const {
        return ConvertRequired<T>(TNodeValue(FindChildElement(Name)).Get(), Site(Name));
    }
    template <class T>
    T ChildValue(const char* Name, T Default) const {
        return ConvertOptional<T>(TNodeValue(FindChildElement(Name)).Get(), Default, Site(Name));
    }
    void SetChildValue(const char* Name, std::string_view Text);
    // Sets the value of element E (validated text).
    void SetElementValue(pugi::xml_node E, std::string_view Text, const TValueSite& Site);

    // The child node property Name as interface I (created when absent). Interfaces name
    // themselves in a static InterfaceName for the messages of failed casts.
    template <class I>
    std::shared_ptr<I> ChildNodeAs(const char* Name) {
        return CastNode<I>(WrapChild(ChildElement(Name)));
    }
    // A member of this node (a list) shared with the node's lifetime.
    template <class I, class M>
    std::shared_ptr<I> ShareMember(M& Member) {
        return std::shared_ptr<I>(shared_from_this(), &Member);
    }
    template <class I>
    static std::shared_ptr<I> CastNode(const std::shared_ptr<TXMLNode>& Node) {
        auto R = std::dynamic_pointer_cast<I>(Node);
        if (!R)
            CastError(*Node, I::InterfaceName);
        return R;
    }
    [[noreturn]] static void CastError(const TXMLNode& Node, const char* InterfaceName);

    TValueSite Site(const char* ChildName) const;

private:
    std::shared_ptr<TXMLDocument> FDocument;
    pugi::xml_node_struct* FNode;
    const TXMLNodeClass* FClass;
    mutable int FDepth = 0;
    std::unique_ptr<TXMLChildList> FChildNodes;
};

// The child nodes of an element: elements, and text that is not only white space.
class TXMLChildList final : public IXMLNodeList {
public:
    explicit TXMLChildList(TXMLNode& Owner) noexcept : FOwner(Owner) {}
    int GetCount() const override;
    std::shared_ptr<IXMLNode> GetNode(int Index) const override;

private:
    void Refresh() const;
    TXMLNode& FOwner;
    mutable std::vector<pugi::xml_node_struct*> FNodes;
    mutable uint64_t FStamp = ~uint64_t(0);
};

// The items of one name under the owner's element: the engine of every collection. The item
// elements are cached and the cache is rebuilt when the document changed since; appending keeps
// a fresh cache fresh.
class TXMLItems {
public:
    TXMLItems(TXMLNode& Owner, const char* ItemName) noexcept
        : FOwner(Owner), FItemName(ItemName) {}

    TXMLNode& Owner() const noexcept { return FOwner; }
    const char* ItemName() const noexcept { return FItemName; }

    int Count() const;
    pugi::xml_node Item(int Index) const;
    // A new item as the last child of the owner's element (Index = Count) or before item Index,
    // with the value Text when given. Text is validated before anything changes unless Checked
    // says it is known to be sound (the text form of a number or boolean).
    pugi::xml_node Insert(int Index, const std::string_view* Text = nullptr, bool Checked = false);
    pugi::xml_node Add(const std::string_view* Text = nullptr, bool Checked = false);
    void Clear();
    void Delete(int Index);
    int Remove(const std::shared_ptr<IXMLNode>& Node);
    // The handle onto item element E, of the class the owner registers for the item name.
    std::shared_ptr<TXMLNode> Wrap(pugi::xml_node E) const { return FOwner.WrapChild(E); }
    // The site of item Index for error messages.
    TValueSite Site(int Index) const;

private:
    void Refresh() const;
    [[noreturn]] void IndexError(int Index, int Count) const;

    TXMLNode& FOwner;
    const char* FItemName;
    mutable std::vector<pugi::xml_node_struct*> FItems;
    mutable uint64_t FStamp = ~uint64_t(0);
};

} // namespace kv::detail
