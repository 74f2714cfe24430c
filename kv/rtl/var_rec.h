// TVarRec: one argument of an argument list, tagged with its kind; TVarRecList: the list.
//
// An argument list passes several values of mixed kinds in one call:
//     vm.Initialize(Program, {1, true, 2.5, "text", std::string("s"), int64_t(5)});
//
// Kinds (TVarRecKind, with the host's ordinals) and how a TVarRec gets them:
//   vtInteger       integer types of up to 32 bits that fit int32_t (int, short, int8_t, ...)
//   vtBoolean       bool
//   vtChar          char
//   vtExtended      float, double, long double (held as double)
//   vtString        FromShortString(text): a short string, at most 255 characters
//   vtPointer       any other pointer, nullptr, FromPointer(p)
//   vtPChar         FromPChar(p): a null-terminated 8-bit string, by reference (not copied)
//   vtObject        a pointer to a TObject or a descendant, FromObject(p)
//   vtClass         FromClass<T>() / FromClass(typeid(T)): a class reference
//   vtWideChar      char16_t
//   vtPWideChar     FromPWideChar(p): a null-terminated 16-bit string, by reference (not copied)
//   vtAnsiString    const char*, std::string, std::string_view (copied); FromAnsiString(text)
//   vtCurrency      Currency
//   vtVariant       Variant (copied)
//   vtInterface     FromInterface(p): an interface reference, by address
//   vtWideString    FromWideString(u16 text)
//   vtInt64         64-bit integer types and unsigned 32-bit integers (uint64_t is refused: it
//                   does not fit)
//   vtUnicodeString const char16_t*, std::u16string (copied); FromUnicodeString(u16 text)
// A null const char* or const char16_t* gives an empty string. The accessors (AsInteger, ...) read
// the value of their own kind and raise EConvertError naming both kinds otherwise.
//
// VarRecToVariant(Arg, Out) gives the value a virtual machine pushes for Arg:
//   vtInteger -> integer; vtBoolean -> boolean; vtChar, vtWideChar -> a string of that character;
//   vtExtended -> double; vtString, vtAnsiString -> string; vtCurrency -> currency;
//   vtVariant -> a copy of the variant; vtInt64 -> 64-bit integer; vtWideString, vtUnicodeString ->
//   the text as a UTF-8 string.
//   vtPointer, vtPChar, vtObject, vtClass, vtPWideChar, vtInterface -> nothing: the function
//   returns false and leaves Out unchanged.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <variant>
#include <vector>

#include "kv/rtl/object.h"
#include "kv/rtl/variant.h"

namespace kv {

enum TVarRecKind {
    vtInteger,
    vtBoolean,
    vtChar,
    vtExtended,
    vtString,
    vtPointer,
    vtPChar,
    vtObject,
    vtClass,
    vtWideChar,
    vtPWideChar,
    vtAnsiString,
    vtCurrency,
    vtVariant,
    vtInterface,
    vtWideString,
    vtInt64,
    vtUnicodeString
};

// "vtInteger", "vtBoolean", ... as the enumeration's identifiers.
const char* VarRecKindName(TVarRecKind Kind) noexcept;

class TVarRec {
public:
    TVarRec(bool V) : FKind(vtBoolean), FValue(V) {}
    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char> && !std::same_as<T, wchar_t> &&
             !std::same_as<T, char8_t> && !std::same_as<T, char16_t> &&
             !std::same_as<T, char32_t> && !(std::is_unsigned_v<T> && sizeof(T) >= sizeof(int64_t)))
        TVarRec(T V)
        : FKind(FitsInteger<T>() ? vtInteger : vtInt64),
          FValue(FitsInteger<T>() ? TValue(static_cast<int32_t>(V))
                                  : TValue(static_cast<int64_t>(V))) {}
    template <std::floating_point T>
    TVarRec(T V) : FKind(vtExtended), FValue(static_cast<double>(V)) {}
    TVarRec(char C) : FKind(vtChar), FValue(C) {}
    TVarRec(char16_t C) : FKind(vtWideChar), FValue(C) {}
    TVarRec(const char* S) : FKind(vtAnsiString), FValue(std::string(S != nullptr ? S : "")) {}
    TVarRec(std::string S) : FKind(vtAnsiString), FValue(std::move(S)) {}
    TVarRec(std::string_view S) : FKind(vtAnsiString), FValue(std::string(S)) {}
    TVarRec(const char16_t* S)
        : FKind(vtUnicodeString), FValue(std::u16string(S != nullptr ? S : u"")) {}
    TVarRec(std::u16string S) : FKind(vtUnicodeString), FValue(std::move(S)) {}
    TVarRec(Currency C) : FKind(vtCurrency), FValue(C) {}
    TVarRec(Variant V) : FKind(vtVariant), FValue(std::move(V)) {}
    template <class T>
    requires std::derived_from<T, TObject> &&(!std::is_const_v<T>)TVarRec(T* Obj)
        : FKind(vtObject), FValue(static_cast<TObject*>(Obj)) {}
    TVarRec(const void* P) : FKind(vtPointer), FValue(P) {}
    TVarRec(std::nullptr_t) : FKind(vtPointer), FValue(static_cast<const void*>(nullptr)) {}

    // Raises EConvertError when S is longer than 255 characters.
    static TVarRec FromShortString(std::string_view S);
    static TVarRec FromAnsiString(std::string_view S) { return TVarRec(S); }
    static TVarRec FromPointer(const void* P) { return TVarRec(P); }
    static TVarRec FromPChar(const char* P);
    static TVarRec FromObject(TObject* Obj) { return TVarRec(Obj); }
    static TVarRec FromClass(const std::type_info& Class);
    template <class T>
    static TVarRec FromClass() {
        return FromClass(typeid(T));
    }
    static TVarRec FromPWideChar(const char16_t* P);
    static TVarRec FromInterface(const void* Intf);
    static TVarRec FromWideString(std::u16string S);
    static TVarRec FromUnicodeString(std::u16string S) { return TVarRec(std::move(S)); }

    TVarRecKind Kind() const noexcept { return FKind; }

    int32_t AsInteger() const;                  // vtInteger
    bool AsBoolean() const;                     // vtBoolean
    char AsChar() const;                        // vtChar
    double AsExtended() const;                  // vtExtended
    const std::string& AsString() const;        // vtString, vtAnsiString
    const void* AsPointer() const;              // vtPointer, vtInterface
    const char* AsPChar() const;                // vtPChar
    TObject* AsObject() const;                  // vtObject
    const std::type_info* AsClass() const;      // vtClass
    char16_t AsWideChar() const;                // vtWideChar
    const char16_t* AsPWideChar() const;        // vtPWideChar
    Currency AsCurrency() const;                // vtCurrency
    const Variant& AsVariant() const;           // vtVariant
    const std::u16string& AsWideString() const; // vtWideString, vtUnicodeString
    int64_t AsInt64() const;                    // vtInt64

private:
    using TValue = std::variant<int32_t, bool, char, double, int64_t, char16_t, const void*,
                                const char*, const char16_t*, TObject*, const std::type_info*,
                                std::string, std::u16string, Currency, Variant>;
    TVarRec(TVarRecKind Kind, TValue Value) : FKind(Kind), FValue(std::move(Value)) {}
    template <class T>
    const T& Get(TVarRecKind K1, TVarRecKind K2) const;
    // True when every value of the integer type T fits int32_t.
    template <class T>
    static constexpr bool FitsInteger() noexcept {
        return sizeof(T) < sizeof(int32_t) || (std::is_signed_v<T> && sizeof(T) == sizeof(int32_t));
    }

    TVarRecKind FKind;
    TValue FValue;
};

using TVarRecList = std::vector<TVarRec>;

// The value pushed for Arg (see above); false when Arg's kind pushes nothing.
bool VarRecToVariant(const TVarRec& Arg, Variant& Out);

} // namespace kv
