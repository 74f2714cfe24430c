// The element handles: TXMLNode's own value, its children, child values and attributes.
#include "kv/rtl/exceptions.h"
#include "kv/xml/detail/xml_impl.h"
#include "kv/xml/detail/xml_text_buffer.h"

#include <cstring>
#include <new>

namespace kv {

IXMLNode::~IXMLNode() = default;
IXMLNodeList::~IXMLNodeList() = default;
IXMLNodeCollection::~IXMLNodeCollection() = default;
IXMLDocument::~IXMLDocument() = default;

namespace detail {

const TXMLNodeClass PlainNodeClass = {"TXMLNode", &CreateNodeOf<TXMLNode>, nullptr, 0};

const TXMLNodeClass& TXMLNodeClass::ChildClass(const char* Name) const noexcept {
    for (size_t I = 0; I < ChildCount; ++I)
        if (std::strcmp(Children[I].Name, Name) == 0)
            return *Children[I].Class;
    return PlainNodeClass;
}

namespace {

// Name as a NUL-terminated string; false when Name is empty or holds a NUL (no element can have
// such a name).
bool ToNameZ(std::string_view Name, std::string& Out) {
    if (Name.empty() || Name.find('\0') != std::string_view::npos)
        return false;
    Out.assign(Name);
    return true;
}

} // namespace

// ---- TXMLNode ----

TXMLNode::TXMLNode(const TXMLNodeInit& Init)
    : FDocument(Init.Document), FNode(Init.Node.internal_object()), FClass(Init.Class) {
    FDocument->Attach(this, FNode);
}

TXMLNode::~TXMLNode() {
    if (FNode)
        FDocument->Release(this, FNode);
}

pugi::xml_node TXMLNode::Node() const {
    if (!FNode)
        throw EXmlError("The XML node has been removed from its document");
    return pugi::xml_node(FNode);
}

pugi::xml_node TXMLNode::Element() const {
    pugi::xml_node N = Node();
    if (N.type() != pugi::node_element)
        throw EXmlError(Format("A %s node has no child elements or attributes", GetNodeName()));
    return N;
}

int TXMLNode::Depth() const {
    if (FDepth == 0) {
        int D = 0;
        for (pugi::xml_node N = Node(); N && N.type() == pugi::node_element; N = N.parent())
            ++D;
        FDepth = D;
    }
    return FDepth;
}

TValueSite TXMLNode::Site(const char* ChildName) const {
    return TValueSite{ChildName, Element().name()};
}

std::string TXMLNode::GetNodeName() const {
    pugi::xml_node N = Node();
    switch (N.type()) {
    case pugi::node_pcdata:
        return "#text";
    case pugi::node_cdata:
        return "#cdata-section";
    default:
        return N.name();
    }
}

TNodeType TXMLNode::GetNodeType() const {
    switch (Node().type()) {
    case pugi::node_element:
        return ntElement;
    case pugi::node_pcdata:
        return ntText;
    case pugi::node_cdata:
        return ntCData;
    default:
        return ntReserved;
    }
}

std::shared_ptr<IXMLDocument> TXMLNode::GetOwnerDocument() const {
    return FDocument;
}

// ---- own value ----

namespace {
TValueSite OwnSite(pugi::xml_node N) {
    pugi::xml_node P = N.parent();
    return TValueSite{N.type() == pugi::node_element ? N.name() : "#text",
                      P && P.type() == pugi::node_element ? P.name() : nullptr};
}
} // namespace

bool TXMLNode::HasText() const {
    return TNodeValue(Node()).HasText();
}

std::string TXMLNode::GetText() const {
    const TNodeValue V(Node());
    return V.Get() ? V.Get() : "";
}

void TXMLNode::SetText(std::string_view Value) {
    pugi::xml_node N = Node();
    if (N.type() == pugi::node_element) {
        SetElementValue(N, Value, OwnSite(N));
        return;
    }
    CheckText(Value, OwnSite(N));
    if (!N.set_value(Value.data(), Value.size()))
        throw std::bad_alloc();
    FDocument->Changed();
}

int TXMLNode::GetAsInteger() const {
    pugi::xml_node N = Node();
    return ConvertRequired<int>(TNodeValue(N).Get(), OwnSite(N));
}
double TXMLNode::GetAsDouble() const {
    pugi::xml_node N = Node();
    return ConvertRequired<double>(TNodeValue(N).Get(), OwnSite(N));
}
float TXMLNode::GetAsSingle() const {
    pugi::xml_node N = Node();
    return ConvertRequired<float>(TNodeValue(N).Get(), OwnSite(N));
}
bool TXMLNode::GetAsBoolean() const {
    pugi::xml_node N = Node();
    return ConvertRequired<bool>(TNodeValue(N).Get(), OwnSite(N));
}
void TXMLNode::SetAsInteger(int Value) {
    SetText(IntegerText(Value).View());
}
void TXMLNode::SetAsDouble(double Value) {
    SetText(DoubleText(Value).View());
}
void TXMLNode::SetAsSingle(float Value) {
    SetText(SingleText(Value).View());
}
void TXMLNode::SetAsBoolean(bool Value) {
    SetText(BooleanText(Value).View());
}

// ---- children ----

pugi::xml_node TXMLNode::ChildElement(const char* Name) {
    pugi::xml_node E = FindChildElement(Name);
    return E ? E : NewChildElement(Name);
}

pugi::xml_node TXMLNode::NewChildElement(const char* Name, pugi::xml_node Before) {
    pugi::xml_node P = Element();
    if (Depth() >= MaxXMLDepth)
        throw EXmlError(Format("Cannot add the element \"%s\" to \"%s\": elements may be nested at "
                               "most %d levels deep",
                               Name, P.name(), MaxXMLDepth));
    pugi::xml_node E = Before ? P.insert_child_before(Name, Before) : P.append_child(Name);
    if (!E)
        throw std::bad_alloc();
    FDocument->Changed();
    return E;
}

std::shared_ptr<TXMLNode> TXMLNode::WrapChild(pugi::xml_node Child) const {
    const TXMLNodeClass& C =
        Child.type() == pugi::node_element ? FClass->ChildClass(Child.name()) : PlainNodeClass;
    return FDocument->Wrap(Child, C);
}

void TXMLNode::CastError(const TXMLNode& Node, const char* InterfaceName) {
    throw EIntfCastError(Format("The node \"%s\" (%s) does not support %s", Node.GetNodeName(),
                                Node.NodeClass().ClassName, InterfaceName));
}

std::shared_ptr<IXMLNodeList> TXMLNode::GetChildNodes() {
    Node();
    if (!FChildNodes)
        FChildNodes = std::make_unique<TXMLChildList>(*this);
    return ShareMember<IXMLNodeList>(*FChildNodes);
}

bool TXMLNode::HasChildNode(std::string_view Name) const {
    std::string Z;
    return ToNameZ(Name, Z) && FindChildElement(Z.c_str());
}

std::shared_ptr<IXMLNode> TXMLNode::FindChildNode(std::string_view Name) {
    std::string Z;
    if (!ToNameZ(Name, Z))
        return nullptr;
    pugi::xml_node E = FindChildElement(Z.c_str());
    return E ? WrapChild(E) : nullptr;
}

std::shared_ptr<IXMLNode> TXMLNode::GetChildNode(std::string_view Name) {
    std::string Z;
    if (ToNameZ(Name, Z))
        if (pugi::xml_node E = FindChildElement(Z.c_str()))
            return WrapChild(E);
    CheckName(Name);
    return WrapChild(NewChildElement(Z.c_str()));
}

std::shared_ptr<IXMLNode> TXMLNode::AddChild(std::string_view Name) {
    CheckName(Name);
    return WrapChild(NewChildElement(std::string(Name).c_str()));
}

// ---- child values ----

std::string TXMLNode::ChildText(const char* Name) const {
    const TNodeValue V(FindChildElement(Name));
    return V.Get() ? V.Get() : "";
}

void TXMLNode::SetElementValue(pugi::xml_node E, std::string_view Text, const TValueSite& Site) {
    CheckText(Text, Site);
    SetElementText(*FDocument, E, Text);
}

void TXMLNode::SetChildValue(const char* Name, std::string_view Text) {
    // Validate before the element is created, so that a refused text leaves no trace.
    CheckText(Text, Site(Name));
    SetElementText(*FDocument, ChildElement(Name), Text);
}

namespace {
// The NUL-terminated name of a child value; an impossible name (holding a NUL) finds nothing.
struct TChildName {
    std::string Z;
    bool Valid;
    explicit TChildName(std::string_view Name) : Valid(ToNameZ(Name, Z)) {}
};
} // namespace

bool TXMLNode::HasChildValue(std::string_view Name) const {
    TChildName N(Name);
    if (!N.Valid)
        return false;
    return TNodeValue(FindChildElement(N.Z.c_str())).HasText();
}

std::string TXMLNode::GetChildText(std::string_view Name) const {
    TChildName N(Name);
    return N.Valid ? ChildText(N.Z.c_str()) : std::string();
}

namespace {
template <class T>
T ReadChild(const TXMLNode& Node, std::string_view Name) {
    TChildName N(Name);
    return N.Valid ? Node.ChildValue<T>(N.Z.c_str())
                   : ConvertRequired<T>(nullptr, Node.Site(N.Z.c_str()));
}
template <class T>
T ReadChild(const TXMLNode& Node, std::string_view Name, T Default) {
    TChildName N(Name);
    return N.Valid ? Node.ChildValue<T>(N.Z.c_str(), Default) : Default;
}
} // namespace

int TXMLNode::GetChildAsInteger(std::string_view Name) const {
    return ReadChild<int>(*this, Name);
}
int TXMLNode::GetChildAsInteger(std::string_view Name, int Default) const {
    return ReadChild<int>(*this, Name, Default);
}
double TXMLNode::GetChildAsDouble(std::string_view Name) const {
    return ReadChild<double>(*this, Name);
}
double TXMLNode::GetChildAsDouble(std::string_view Name, double Default) const {
    return ReadChild<double>(*this, Name, Default);
}
float TXMLNode::GetChildAsSingle(std::string_view Name) const {
    return ReadChild<float>(*this, Name);
}
float TXMLNode::GetChildAsSingle(std::string_view Name, float Default) const {
    return ReadChild<float>(*this, Name, Default);
}
bool TXMLNode::GetChildAsBoolean(std::string_view Name) const {
    return ReadChild<bool>(*this, Name);
}
bool TXMLNode::GetChildAsBoolean(std::string_view Name, bool Default) const {
    return ReadChild<bool>(*this, Name, Default);
}

void TXMLNode::SetChildText(std::string_view Name, std::string_view Value) {
    CheckName(Name);
    SetChildValue(std::string(Name).c_str(), Value);
}
void TXMLNode::SetChildAsInteger(std::string_view Name, int Value) {
    SetChildText(Name, IntegerText(Value).View());
}
void TXMLNode::SetChildAsDouble(std::string_view Name, double Value) {
    SetChildText(Name, DoubleText(Value).View());
}
void TXMLNode::SetChildAsSingle(std::string_view Name, float Value) {
    SetChildText(Name, SingleText(Value).View());
}
void TXMLNode::SetChildAsBoolean(std::string_view Name, bool Value) {
    SetChildText(Name, BooleanText(Value).View());
}

// ---- attributes ----

bool TXMLNode::HasAttribute(std::string_view Name) const {
    std::string Z;
    return ToNameZ(Name, Z) && Element().attribute(Z.c_str());
}

std::string TXMLNode::GetAttribute(std::string_view Name) const {
    std::string Z;
    if (!ToNameZ(Name, Z))
        return std::string();
    return Element().attribute(Z.c_str()).value();
}

int TXMLNode::GetAttributeAsInteger(std::string_view Name) const {
    std::string Z;
    ToNameZ(Name, Z);
    pugi::xml_node E = Element();
    pugi::xml_attribute A = E.attribute(Z.c_str());
    return ConvertRequired<int>(A ? A.value() : nullptr, TValueSite{Z.c_str(), E.name(), true});
}

int TXMLNode::GetAttributeAsInteger(std::string_view Name, int Default) const {
    std::string Z;
    if (!ToNameZ(Name, Z))
        return Default;
    pugi::xml_node E = Element();
    pugi::xml_attribute A = E.attribute(Z.c_str());
    return ConvertOptional<int>(A ? A.value() : nullptr, Default,
                                TValueSite{Z.c_str(), E.name(), true});
}

void TXMLNode::SetAttribute(std::string_view Name, std::string_view Value) {
    CheckName(Name);
    std::string Z(Name);
    pugi::xml_node E = Element();
    CheckText(Value, TValueSite{Z.c_str(), E.name(), true});
    pugi::xml_attribute A = E.attribute(Z.c_str());
    if (!A)
        A = E.append_attribute(Z.c_str());
    if (!A || !A.set_value(Value.data(), Value.size()))
        throw std::bad_alloc();
}

void TXMLNode::SetAttributeAsInteger(std::string_view Name, int Value) {
    SetAttribute(Name, IntegerText(Value).View());
}
} // namespace detail
} // namespace kv
