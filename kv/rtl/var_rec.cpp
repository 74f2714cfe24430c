#include "kv/rtl/var_rec.h"

#include "kv/rtl/convert.h"
#include "kv/rtl/exceptions.h"

namespace kv {

const char* VarRecKindName(TVarRecKind Kind) noexcept {
    static const char* const Names[] = {
        "vtInteger",  "vtBoolean", "vtChar",      "vtExtended",   "vtString",    "vtPointer",
        "vtPChar",    "vtObject",  "vtClass",     "vtWideChar",   "vtPWideChar", "vtAnsiString",
        "vtCurrency", "vtVariant", "vtInterface", "vtWideString", "vtInt64",     "vtUnicodeString"};
    if (Kind < vtInteger || Kind > vtUnicodeString)
        return "vtUnknown";
    return Names[Kind];
}

TVarRec TVarRec::FromShortString(std::string_view S) {
    if (S.size() > 255)
        throw EConvertError(Format("A short string holds at most 255 characters, not %d",
                                   static_cast<int>(S.size())));
    return TVarRec(vtString, std::string(S));
}

TVarRec TVarRec::FromPChar(const char* P) {
    return TVarRec(vtPChar, P);
}

TVarRec TVarRec::FromClass(const std::type_info& Class) {
    return TVarRec(vtClass, &Class);
}

TVarRec TVarRec::FromPWideChar(const char16_t* P) {
    return TVarRec(vtPWideChar, P);
}

TVarRec TVarRec::FromInterface(const void* Intf) {
    return TVarRec(vtInterface, Intf);
}

TVarRec TVarRec::FromWideString(std::u16string S) {
    return TVarRec(vtWideString, std::move(S));
}

template <class T>
const T& TVarRec::Get(TVarRecKind K1, TVarRecKind K2) const {
    if (FKind != K1 && FKind != K2)
        throw EConvertError(Format("An argument of kind %s cannot be read as %s",
                                   VarRecKindName(FKind), VarRecKindName(K1)));
    return std::get<T>(FValue);
}

int32_t TVarRec::AsInteger() const {
    return Get<int32_t>(vtInteger, vtInteger);
}
bool TVarRec::AsBoolean() const {
    return Get<bool>(vtBoolean, vtBoolean);
}
char TVarRec::AsChar() const {
    return Get<char>(vtChar, vtChar);
}
double TVarRec::AsExtended() const {
    return Get<double>(vtExtended, vtExtended);
}
const std::string& TVarRec::AsString() const {
    return Get<std::string>(vtAnsiString, vtString);
}
const void* TVarRec::AsPointer() const {
    return Get<const void*>(vtPointer, vtInterface);
}
const char* TVarRec::AsPChar() const {
    return Get<const char*>(vtPChar, vtPChar);
}
TObject* TVarRec::AsObject() const {
    return Get<TObject*>(vtObject, vtObject);
}
const std::type_info* TVarRec::AsClass() const {
    return Get<const std::type_info*>(vtClass, vtClass);
}
char16_t TVarRec::AsWideChar() const {
    return Get<char16_t>(vtWideChar, vtWideChar);
}
const char16_t* TVarRec::AsPWideChar() const {
    return Get<const char16_t*>(vtPWideChar, vtPWideChar);
}
Currency TVarRec::AsCurrency() const {
    return Get<Currency>(vtCurrency, vtCurrency);
}
const Variant& TVarRec::AsVariant() const {
    return Get<Variant>(vtVariant, vtVariant);
}
const std::u16string& TVarRec::AsWideString() const {
    return Get<std::u16string>(vtUnicodeString, vtWideString);
}
int64_t TVarRec::AsInt64() const {
    return Get<int64_t>(vtInt64, vtInt64);
}

bool VarRecToVariant(const TVarRec& Arg, Variant& Out) {
    switch (Arg.Kind()) {
    case vtInteger:
        Out = Variant(Arg.AsInteger());
        return true;
    case vtBoolean:
        Out = Variant(Arg.AsBoolean());
        return true;
    case vtChar:
        Out = Variant(std::string(1, Arg.AsChar()));
        return true;
    case vtExtended:
        Out = Variant(Arg.AsExtended());
        return true;
    case vtString:
    case vtAnsiString:
        Out = Variant(Arg.AsString());
        return true;
    case vtWideChar: {
        char16_t C = Arg.AsWideChar();
        Out = Variant(Utf16ToUtf8(std::u16string_view(&C, 1)));
        return true;
    }
    case vtCurrency:
        Out = Variant(Arg.AsCurrency());
        return true;
    case vtVariant:
        Out = Arg.AsVariant();
        return true;
    case vtInt64:
        Out = Variant(Arg.AsInt64());
        return true;
    case vtWideString:
    case vtUnicodeString:
        Out = Variant(Utf16ToUtf8(Arg.AsWideString()));
        return true;
    case vtPointer:
    case vtPChar:
    case vtObject:
    case vtClass:
    case vtPWideChar:
    case vtInterface:
        return false;
    }
    return false;
}

} // namespace kv
