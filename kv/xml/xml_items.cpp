// The list views of an element: its child nodes (TXMLChildList) and the repeated items of one
// name (TXMLItems, under every collection of the typed documents).
#include "kv/rtl/exceptions.h"
#include "kv/xml/detail/xml_impl.h"

#include <new>

namespace kv::detail {

namespace {

inline bool IsBlank(const char* S) {
    for (; *S; ++S)
        if (!(*S == ' ' || *S == '\t' || *S == '\r' || *S == '\n'))
            return false;
    return true;
}

} // namespace

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

} // namespace kv::detail
