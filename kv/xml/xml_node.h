// The XML node layer: documents, element nodes, child-node lists and collections of repeated items.
//
// A document (IXMLDocument) holds one element tree. Its nodes (IXMLNode) are handles onto the
// elements of that tree: every method reads or writes the tree at once, and a node holds nothing of
// its own but its list views. Every node keeps its document alive, so a typed root returned by a
// document function is all a caller needs to hold; the document goes when its last node and its
// last document reference go. Reach the document from any node with GetOwnerDocument().
//
// Node kinds. Each element comes back as the node class its parent registers for the element's
// name (a GenoType's "BooleanGene" children are boolean gene nodes, for example), or as a plain
// element node when its parent registers nothing for that name. Ask a node for an interface with
// std::dynamic_pointer_cast; a node answers to the interfaces of its class and of every class above
// it. One element may be reached through several handles; they read and write the same element.
//
// Children. GetChildNode(Name) is the first child element of that name, created empty as the last
// child when there is none; FindChildNode(Name) never creates. Reading a value never changes the
// document: a missing element reads as absent. Writing a value sets the first child element of the
// name, creating it as the last child when absent, and never adds a second one.
//
// Values. An element's value is the text of all its text and CDATA children, joined in document
// order ("<Bits>1011<!--c-->0011</Bits>" holds 10110011, the comment being dropped when the
// document is read); an element without such a child has no value. Writing a value leaves the
// element one text child holding it. Typed readers convert with the text forms of xml_text.h. A
// required value (the readers without a default) that is absent, empty or does not convert raises
// EConvertError naming the element, its parent and the text. An optional value (the readers with a
// default) gives the default when absent or empty and raises EConvertError when present but not
// convertible. Text written must be valid UTF-8 without NUL characters (EConvertError otherwise),
// so that everything written reads back exactly.
//
// Removal. Deleting or clearing items removes their elements; a handle onto a removed element (or
// onto any element of a document that has since been loaded again) is detached, and every call on
// it raises EXmlError. Nothing is left dangling.
//
// Documents. Loading reads UTF-8 (with or without a byte-order mark), UTF-16 and UTF-32 (with a
// byte-order mark, or without one when the document starts with '<'), and ISO-8859-1 when the XML
// declaration names it; the encoding is detected from the content. Loading replaces the whole tree
// only when the new document is sound; a failed load leaves the document and its nodes as they
// were. A malformed document raises EXmlError with the parser's description and the line and
// column. Entities are never expanded: the standard character references (&lt; &amp; &#x41; ...)
// are decoded, and a document with a document type declaration (DOCTYPE) is refused as a whole,
// so no entity declared in one can stand for text (any other entity reference stays as its
// literal text, "&name;"). A document with no or more than one root element, text outside it, a
// NUL character, invalid UTF-8 or UTF-16, a character reference to NUL, a surrogate or a code
// point beyond U+10FFFF ("&#0;", "&#xD800;"), or elements nested deeper than MaxXMLDepth is
// refused likewise; the depth limit also holds for elements added through this layer (EXmlError).
// Comments and processing instructions are dropped on loading; so is white space between elements,
// while the white space of a text element ("<Name> </Name>") and line ends inside texts are kept as
// they stand. Saving writes UTF-8 with an XML declaration, indented by two spaces per level.
//
// Documents and their nodes are not thread-safe: use a document from one thread at a time.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

namespace kv {

// The deepest element nesting a document may have (the root element is level 1). The library's
// own documents need 6 levels.
inline constexpr int MaxXMLDepth = 32;

// The largest document, in bytes, that a document loads or saves unless its MaxDocumentBytes is
// set otherwise: 1 GiB, far above any population of the sizes a loaded document may describe
// and low enough that an endless stream or a huge file is refused long before memory runs out.
inline constexpr uint64_t DefaultMaxXMLDocumentBytes = uint64_t(1) << 30;

// Kinds of nodes. This layer produces ntElement, ntText and ntCData nodes.
enum TNodeType {
    ntReserved,
    ntElement,
    ntAttribute,
    ntText,
    ntCData,
    ntEntityRef,
    ntEntity,
    ntProcessingInstr,
    ntComment,
    ntDocument,
    ntDocType,
    ntDocFragment,
    ntNotation
};

class IXMLDocument;
class IXMLNodeList;

// An element (or a text node of a child-node list). The value and child operations apply to
// elements; called on a text node they raise EXmlError.
class IXMLNode {
public:
    static constexpr const char* InterfaceName = "IXMLNode";

    IXMLNode(const IXMLNode&) = delete;
    IXMLNode& operator=(const IXMLNode&) = delete;
    virtual ~IXMLNode();

    // The element's tag name; "#text" or "#cdata-section" for text nodes.
    virtual std::string GetNodeName() const = 0;
    virtual TNodeType GetNodeType() const = 0;
    virtual std::shared_ptr<IXMLDocument> GetOwnerDocument() const = 0;
    // False once the node's element has been removed from its document.
    virtual bool IsAttached() const noexcept = 0;

    // The node's own value (see the header comment). GetText is empty when there is no value.
    virtual bool HasText() const = 0;
    virtual std::string GetText() const = 0;
    virtual void SetText(std::string_view Value) = 0;
    virtual int GetAsInteger() const = 0;
    virtual double GetAsDouble() const = 0;
    virtual float GetAsSingle() const = 0;
    virtual bool GetAsBoolean() const = 0;
    virtual void SetAsInteger(int Value) = 0;
    virtual void SetAsDouble(double Value) = 0;
    virtual void SetAsSingle(float Value) = 0;
    virtual void SetAsBoolean(bool Value) = 0;

    // Children, in document order: elements, and text that is not only white space.
    virtual std::shared_ptr<IXMLNodeList> GetChildNodes() = 0;
    virtual bool HasChildNode(std::string_view Name) const = 0;
    // The first child element named Name, or nullptr.
    virtual std::shared_ptr<IXMLNode> FindChildNode(std::string_view Name) = 0;
    // The first child element named Name, created empty as the last child when absent.
    virtual std::shared_ptr<IXMLNode> GetChildNode(std::string_view Name) = 0;
    // A new child element named Name, appended as the last child.
    virtual std::shared_ptr<IXMLNode> AddChild(std::string_view Name) = 0;

    // Values of the first child element named Name (see the header comment).
    virtual bool HasChildValue(std::string_view Name) const = 0;
    virtual std::string GetChildText(std::string_view Name) const = 0;
    virtual int GetChildAsInteger(std::string_view Name) const = 0;
    virtual int GetChildAsInteger(std::string_view Name, int Default) const = 0;
    virtual double GetChildAsDouble(std::string_view Name) const = 0;
    virtual double GetChildAsDouble(std::string_view Name, double Default) const = 0;
    virtual float GetChildAsSingle(std::string_view Name) const = 0;
    virtual float GetChildAsSingle(std::string_view Name, float Default) const = 0;
    virtual bool GetChildAsBoolean(std::string_view Name) const = 0;
    virtual bool GetChildAsBoolean(std::string_view Name, bool Default) const = 0;
    virtual void SetChildText(std::string_view Name, std::string_view Value) = 0;
    virtual void SetChildAsInteger(std::string_view Name, int Value) = 0;
    virtual void SetChildAsDouble(std::string_view Name, double Value) = 0;
    virtual void SetChildAsSingle(std::string_view Name, float Value) = 0;
    virtual void SetChildAsBoolean(std::string_view Name, bool Value) = 0;

    // Attributes. GetAttribute is empty when the attribute is absent.
    virtual bool HasAttribute(std::string_view Name) const = 0;
    virtual std::string GetAttribute(std::string_view Name) const = 0;
    virtual int GetAttributeAsInteger(std::string_view Name) const = 0;
    virtual int GetAttributeAsInteger(std::string_view Name, int Default) const = 0;
    virtual void SetAttribute(std::string_view Name, std::string_view Value) = 0;
    virtual void SetAttributeAsInteger(std::string_view Name, int Value) = 0;

protected:
    IXMLNode() = default;
};

// The child nodes of one element, in document order. A view: it follows the element's changes.
// GetNode raises EListError naming the index and the count when Index is outside 0..Count-1.
class IXMLNodeList {
public:
    IXMLNodeList(const IXMLNodeList&) = delete;
    IXMLNodeList& operator=(const IXMLNodeList&) = delete;
    virtual ~IXMLNodeList();

    virtual int GetCount() const = 0;
    virtual std::shared_ptr<IXMLNode> GetNode(int Index) const = 0;

protected:
    IXMLNodeList() = default;
};

// The repeated child elements of one name under one parent element (the items), in document
// order. Several collections may share a parent element; each counts and indexes only its own
// items, while new items go after every existing child of the parent, so items added to several
// collections of one parent stand in the order of the calls. A view: it follows the element's
// changes. Index errors raise EListError naming the index and the count.
class IXMLNodeCollection {
public:
    IXMLNodeCollection(const IXMLNodeCollection&) = delete;
    IXMLNodeCollection& operator=(const IXMLNodeCollection&) = delete;
    virtual ~IXMLNodeCollection();

    virtual int GetCount() const = 0;
    // The item element at Index.
    virtual std::shared_ptr<IXMLNode> GetNode(int Index) const = 0;
    // Removes every item (other children of the parent stay).
    virtual void Clear() = 0;
    virtual void Delete(int Index) = 0;
    // Removes Node when it is one of the items and returns its former index; otherwise -1.
    virtual int Remove(const std::shared_ptr<IXMLNode>& Node) = 0;

protected:
    IXMLNodeCollection() = default;
};

// A document. Created by NewXMLDocument or LoadXMLDocument, or by the typed document functions.
class IXMLDocument {
public:
    IXMLDocument(const IXMLDocument&) = delete;
    IXMLDocument& operator=(const IXMLDocument&) = delete;
    virtual ~IXMLDocument();

    // True while the document has no root element.
    virtual bool IsEmpty() const = 0;
    // The root element as a plain element node, or nullptr when the document is empty.
    virtual std::shared_ptr<IXMLNode> GetDocumentElement() = 0;
    // The XML version of the declaration ("1.0" when there is none).
    virtual std::string GetVersion() const = 0;

    // The largest document, in bytes, that this document loads and saves
    // (DefaultMaxXMLDocumentBytes until set). A load of more bytes is refused with EXmlError while
    // it reads, whatever size a file or stream claims, so an endless stream or a file that keeps
    // growing stops at the limit; a save whose text would be longer is refused with EXmlError, so
    // that nothing is saved that a document with the same limit could not load. Raising it to
    // UINT64_MAX lifts the limit.
    virtual uint64_t GetMaxDocumentBytes() const = 0;
    virtual void SetMaxDocumentBytes(uint64_t Value) = 0;

    // Replace the content (see the header comment). Every failure raises EXmlError, the memory
    // running out included; the document is then unchanged.
    // LoadFromFile reads only a regular file (a symbolic link is followed): a directory, FIFO,
    // device or socket is refused without reading or waiting, naming the file. A file that cannot
    // be opened or read raises EXmlError naming it.
    virtual void LoadFromFile(const std::string& FileName) = 0;
    // Reads Stream from its position to its end.
    virtual void LoadFromStream(std::istream& Stream) = 0;
    // Bytes is the document as it would stand in a file.
    virtual void LoadFromString(std::string_view Bytes) = 0;

    // Write the document (UTF-8, indented). A stream or file that fails, a text longer than
    // MaxDocumentBytes and the memory running out raise EXmlError. SaveToStream checks the length
    // while it writes: a refused document may have left its first MaxDocumentBytes bytes in the
    // stream.
    virtual void SaveToStream(std::ostream& Stream) const = 0;
    // Builds the whole text first, writes it to a temporary file beside FileName and renames that
    // over FileName: an interrupted or failed save leaves an existing file as it was and never a
    // part of the new text under FileName. A failure raises EXmlError naming the file and the
    // reason. A symbolic link has the file it names replaced; an existing file's permissions pass
    // to the new one. Only a regular file is replaced: a target that is a directory, FIFO, device
    // or socket (after following links), or a symbolic link that names no file, is refused and
    // left as it is.
    virtual void SaveToFile(const std::string& FileName) const = 0;
    virtual std::string SaveToString() const = 0;

protected:
    IXMLDocument() = default;
};

// A new empty document whose XML declaration carries Version and the encoding UTF-8.
std::shared_ptr<IXMLDocument> NewXMLDocument(std::string_view Version = "1.0");
// A new document loaded from FileName.
std::shared_ptr<IXMLDocument> LoadXMLDocument(const std::string& FileName);
// A new document loaded from Stream.
std::shared_ptr<IXMLDocument> LoadXMLDocument(std::istream& Stream);

} // namespace kv
