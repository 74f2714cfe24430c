// Values of elements and attributes: reading them as typed values, checking texts and names
// before they are written, and the error messages that name where a bad value stands.
#include "kv/rtl/exceptions.h"
#include "kv/rtl/text.h"
#include "kv/xml/detail/xml_impl.h"
#include "kv/xml/detail/xml_input.h"
#include "kv/xml/xml_text.h"

#include <new>

namespace kv::detail {

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

} // namespace

namespace {
bool IsTextNode(pugi::xml_node N) noexcept {
    return N.type() == pugi::node_pcdata || N.type() == pugi::node_cdata;
}
} // namespace

TNodeValue::TNodeValue(pugi::xml_node N) {
    if (!N)
        return;
    if (IsTextNode(N)) {
        FText = N.value();
        return;
    }
    pugi::xml_node First = N.first_child();
    while (First && !IsTextNode(First))
        First = First.next_sibling();
    if (!First)
        return;
    FText = First.value();
    pugi::xml_node Next = First.next_sibling();
    while (Next && !IsTextNode(Next))
        Next = Next.next_sibling();
    if (!Next)
        return; // one piece, the common case: no copy
    FJoined = FText;
    for (; Next; Next = Next.next_sibling())
        if (IsTextNode(Next))
            FJoined += Next.value();
    FText = FJoined.c_str();
}

void SetElementText(TXMLDocument& Document, pugi::xml_node E, std::string_view Text) {
    pugi::xml_node First = E.first_child();
    while (First && !IsTextNode(First))
        First = First.next_sibling();
    if (First) {
        for (pugi::xml_node Next = First.next_sibling(); Next;) {
            pugi::xml_node After = Next.next_sibling();
            if (IsTextNode(Next))
                Document.RemoveChild(E, Next);
            Next = After;
        }
    }
    if (!E.text().set(Text.data(), Text.size()))
        throw std::bad_alloc();
    Document.Changed();
}

template <class T>
T ConvertRequired(const char* Text, const TValueSite& Site) {
    std::string_view S = Text ? TrimXMLSpace(Text) : std::string_view();
    if (S.empty())
        throw EConvertError(
            Format("Missing %s value: %s is absent or empty", TValueType<T>::Name, Describe(Site)));
    T V{};
    if (!TValueType<T>::Parse(S, V))
        throw EConvertError(Format("\"%s\" is not a valid %s value for %s", TextExcerpt(Text),
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
        throw EXmlError(Format("\"%s\" is not a valid XML name", TextExcerpt(Name)));
}

} // namespace kv::detail
