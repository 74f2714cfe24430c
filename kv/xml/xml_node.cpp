#include "kv/rtl/exceptions.h"
#include "kv/xml/detail/xml_impl.h"
#include "kv/xml/detail/xml_input.h"
#include "kv/xml/detail/xml_text_buffer.h"
#include "kv/xml/xml_text.h"

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

// ---- values and their errors ----

namespace {

template <class T>
struct TValueType;
template <>
struct TValueType<int> {
    static constexpr const char* Name = "integer";
    static bool Parse(std::string_view S, int& V) { return TryXMLTextToInteger(S, V); }
};
template <>
struct TValueType<double> {
    static constexpr const char* Name = "floating-point";
    static bool Parse(std::string_view S, double& V) { return TryXMLTextToDouble(S, V); }
};
template <>
struct TValueType<float> {
    static constexpr const char* Name = "single-precision";
    static bool Parse(std::string_view S, float& V) { return TryXMLTextToSingle(S, V); }
};
template <>
struct TValueType<bool> {
    static constexpr const char* Name = "boolean";
    static bool Parse(std::string_view S, bool& V) { return TryXMLTextToBoolean(S, V); }
};

std::string Describe(const TValueSite& S) {
    std::string R = S.Attribute ? "attribute \"" : "element \"";
    R += S.Name;
    R += '"';
    if (S.Item >= 0)
        R += Format(" (item %d)", S.Item);
    if (S.Parent) {
        R += S.Attribute ? " of \"" : " in \"";
        R += S.Parent;
        R += '"';
    }
    return R;
}

// Text for a message: at most 64 bytes, cut at a character boundary.
std::string Shown(std::string_view Text) {
    constexpr size_t Max = 64;
    if (Text.size() <= Max)
        return std::string(Text);
    size_t N = Max;
    while (N > 0 && (static_cast<unsigned char>(Text[N]) & 0xC0) == 0x80)
        --N;
    return std::string(Text.substr(0, N)) + "...";
}

inline bool IsBlank(const char* S) {
    for (; *S; ++S)
        if (!(*S == ' ' || *S == '\t' || *S == '\r' || *S == '\n'))
            return false;
    return true;
}

// Name as a NUL-terminated string; false when Name is empty or holds a NUL (no element can have
// such a name).
bool ToNameZ(std::string_view Name, std::string& Out) {
    if (Name.empty() || Name.find('\0') != std::string_view::npos)
        return false;
    Out.assign(Name);
    return true;
}

} // namespace

const char* NodeValue(pugi::xml_node N) noexcept {
    if (!N)
        return nullptr;
    if (N.type() == pugi::node_pcdata || N.type() == pugi::node_cdata)
        return N.value();
    pugi::xml_node T = N.text().data();
    return T ? T.value() : nullptr;
}

template <class T>
T ConvertRequired(const char* Text, const TValueSite& Site) {
    std::string_view S = Text ? TrimXMLSpace(Text) : std::string_view();
    if (S.empty())
        throw EConvertError(
            Format("Missing %s value: %s is absent or empty", TValueType<T>::Name, Describe(Site)));
    T V{};
    if (!TValueType<T>::Parse(S, V))
        throw EConvertError(Format("\"%s\" is not a valid %s value for %s", Shown(Text),
                                   TValueType<T>::Name, Describe(Site)));
    return V;
}

template <class T>
T ConvertOptional(const char* Text, T Default, const TValueSite& Site) {
    if (!Text || TrimXMLSpace(Text).empty())
        return Default;
    return ConvertRequired<T>(Text, Site);
}

template int ConvertRequired<int>(const char*, const TValueSite&);
template double ConvertRequired<double>(const char*, const TValueSite&);
template float ConvertRequired<float>(const char*, const TValueSite&);
template bool ConvertRequired<bool>(const char*, const TValueSite&);
template int ConvertOptional<int>(const char*, int, const TValueSite&);
template double ConvertOptional<double>(const char*, double, const TValueSite&);
template float ConvertOptional<float>(const char*, float, const TValueSite&);
template bool ConvertOptional<bool>(const char*, bool, const TValueSite&);

void CheckText(std::string_view Text, const TValueSite& Site) {
    size_t Bad = FindInvalidUTF8(Text);
    if (Bad != std::string_view::npos)
        throw EConvertError(Format("Cannot write %s: its text holds %s at byte %d", Describe(Site),
                                   Text[Bad] == 0 ? "a NUL character" : "invalid UTF-8",
                                   static_cast<int>(Bad)));
}

void CheckName(std::string_view Name) {
    bool Ok = !Name.empty() && FindInvalidUTF8(Name) == std::string_view::npos;
    for (size_t I = 0; Ok && I < Name.size(); ++I) {
        unsigned char C = static_cast<unsigned char>(Name[I]);
        if (C >= 0x80)
            continue;
        bool Start = (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_' || C == ':';
        bool Other = (C >= '0' && C <= '9') || C == '-' || C == '.';
        Ok = I == 0 ? Start : (Start || Other);
    }
    if (!Ok)
        throw EXmlError(Format("\"%s\" is not a valid XML name", Shown(Name)));
}

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
    const char* V = NodeValue(Node());
    return V && *V;
}

std::string TXMLNode::GetText() const {
    const char* V = NodeValue(Node());
    return V ? V : "";
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
    return ConvertRequired<int>(NodeValue(N), OwnSite(N));
}
double TXMLNode::GetAsDouble() const {
    pugi::xml_node N = Node();
    return ConvertRequired<double>(NodeValue(N), OwnSite(N));
}
float TXMLNode::GetAsSingle() const {
    pugi::xml_node N = Node();
    return ConvertRequired<float>(NodeValue(N), OwnSite(N));
}
bool TXMLNode::GetAsBoolean() const {
    pugi::xml_node N = Node();
    return ConvertRequired<bool>(NodeValue(N), OwnSite(N));
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
    const char* V = NodeValue(FindChildElement(Name));
    return V ? V : "";
}

void TXMLNode::SetElementValue(pugi::xml_node E, std::string_view Text, const TValueSite& Site) {
    CheckText(Text, Site);
    if (!E.text().set(Text.data(), Text.size()))
        throw std::bad_alloc();
    FDocument->Changed();
}

void TXMLNode::SetChildValue(const char* Name, std::string_view Text) {
    // Validate before the element is created, so that a refused text leaves no trace.
    CheckText(Text, Site(Name));
    pugi::xml_node E = ChildElement(Name);
    if (!E.text().set(Text.data(), Text.size()))
        throw std::bad_alloc();
    FDocument->Changed();
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
    const char* V = NodeValue(FindChildElement(N.Z.c_str()));
    return V && *V;
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

// ---- TXMLChildList ----

void TXMLChildList::Refresh() const {
    pugi::xml_node E = FOwner.Element();
    if (FStamp == FOwner.Document().Stamp())
        return;
    FNodes.clear();
    for (pugi::xml_node C = E.first_child(); C; C = C.next_sibling()) {
        switch (C.type()) {
        case pugi::node_element:
        case pugi::node_cdata:
            FNodes.push_back(C.internal_object());
            break;
        case pugi::node_pcdata:
            if (!IsBlank(C.value()))
                FNodes.push_back(C.internal_object());
            break;
        default:
            break;
        }
    }
    FStamp = FOwner.Document().Stamp();
}

int TXMLChildList::GetCount() const {
    Refresh();
    return static_cast<int>(FNodes.size());
}

std::shared_ptr<IXMLNode> TXMLChildList::GetNode(int Index) const {
    Refresh();
    int Count = static_cast<int>(FNodes.size());
    if (Index < 0 || Index >= Count)
        throw EListError(Format("List index out of bounds (%d): \"%s\" has %d child nodes", Index,
                                FOwner.Element().name(), Count));
    return FOwner.WrapChild(pugi::xml_node(FNodes[static_cast<size_t>(Index)]));
}

// ---- TXMLItems ----

void TXMLItems::Refresh() const {
    pugi::xml_node E = FOwner.Element();
    if (FStamp == FOwner.Document().Stamp())
        return;
    FItems.clear();
    for (pugi::xml_node C = E.child(FItemName); C; C = C.next_sibling(FItemName))
        FItems.push_back(C.internal_object());
    FStamp = FOwner.Document().Stamp();
}

void TXMLItems::IndexError(int Index, int Count) const {
    throw EListError(Format("List index out of bounds (%d): \"%s\" has %d \"%s\" items", Index,
                            FOwner.Element().name(), Count, FItemName));
}

TValueSite TXMLItems::Site(int Index) const {
    return TValueSite{FItemName, FOwner.Element().name(), false, Index};
}

int TXMLItems::Count() const {
    Refresh();
    return static_cast<int>(FItems.size());
}

pugi::xml_node TXMLItems::Item(int Index) const {
    Refresh();
    if (Index < 0 || static_cast<size_t>(Index) >= FItems.size())
        IndexError(Index, static_cast<int>(FItems.size()));
    return pugi::xml_node(FItems[static_cast<size_t>(Index)]);
}

namespace {
void SetNewItemText(pugi::xml_node E, const std::string_view* Text) {
    if (Text && !E.text().set(Text->data(), Text->size()))
        throw std::bad_alloc();
}
} // namespace

pugi::xml_node TXMLItems::Insert(int Index, const std::string_view* Text, bool Checked) {
    Refresh();
    int N = static_cast<int>(FItems.size());
    if (Index < 0 || Index > N)
        IndexError(Index, N);
    if (Text && !Checked)
        CheckText(*Text, Site(Index));
    pugi::xml_node Before =
        Index < N ? pugi::xml_node(FItems[static_cast<size_t>(Index)]) : pugi::xml_node();
    pugi::xml_node E = FOwner.NewChildElement(FItemName, Before);
    SetNewItemText(E, Text);
    TXMLDocument& D = FOwner.Document();
    D.Changed();
    FItems.insert(FItems.begin() + Index, E.internal_object());
    FStamp = D.Stamp();
    return E;
}

pugi::xml_node TXMLItems::Add(const std::string_view* Text, bool Checked) {
    TXMLDocument& D = FOwner.Document();
    // A fresh cache stays fresh: the new item is the last child, so it is the last item.
    bool Fresh = FStamp == D.Stamp();
    if (Text && !Checked)
        CheckText(*Text, Site(-1));
    pugi::xml_node E = FOwner.NewChildElement(FItemName);
    SetNewItemText(E, Text);
    D.Changed();
    if (Fresh) {
        FItems.push_back(E.internal_object());
        FStamp = D.Stamp();
    }
    return E;
}

void TXMLItems::Clear() {
    Refresh();
    pugi::xml_node P = FOwner.Element();
    TXMLDocument& D = FOwner.Document();
    for (pugi::xml_node_struct* E : FItems)
        D.RemoveChild(P, pugi::xml_node(E));
    FItems.clear();
    FStamp = D.Stamp();
}

void TXMLItems::Delete(int Index) {
    pugi::xml_node E = Item(Index);
    TXMLDocument& D = FOwner.Document();
    D.RemoveChild(FOwner.Element(), E);
    FItems.erase(FItems.begin() + Index);
    FStamp = D.Stamp();
}

int TXMLItems::Remove(const std::shared_ptr<IXMLNode>& Node) {
    auto* T = dynamic_cast<const TXMLNode*>(Node.get());
    if (!T || !T->Handle() || &T->Document() != &FOwner.Document())
        return -1;
    Refresh();
    for (size_t I = 0; I < FItems.size(); ++I)
        if (FItems[I] == T->Handle()) {
            Delete(static_cast<int>(I));
            return static_cast<int>(I);
        }
    return -1;
}

} // namespace detail
} // namespace kv
