#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <typeinfo>

#include "kv/rtl/exceptions.h"
#include "kv/rtl/strings.h"
#include "kv/rtl/var_rec.h"

using namespace kv;

TEST(VarRec, ImplicitKindsFromCppValues) {
    TStringList Obj;
    TVarRecList Args{1,    true,    2.5,  "text",  std::string("s"), int64_t(5), 'c',
                     u'w', u"wide", &Obj, nullptr, short(7),         3000000000u};
    const TVarRecKind Expected[] = {vtInteger, vtBoolean, vtExtended, vtAnsiString,    vtAnsiString,
                                    vtInt64,   vtChar,    vtWideChar, vtUnicodeString, vtObject,
                                    vtPointer, vtInteger, vtInt64};
    ASSERT_EQ(Args.size(), std::size(Expected));
    for (size_t I = 0; I < Args.size(); ++I)
        EXPECT_EQ(Args[I].Kind(), Expected[I]) << "argument " << I;
    EXPECT_EQ(Args[3].AsString(), "text");
    EXPECT_EQ(Args[9].AsObject(), &Obj);
    EXPECT_EQ(Args[12].AsInt64(), 3000000000);
    EXPECT_STREQ(VarRecKindName(vtUnicodeString), "vtUnicodeString");
    EXPECT_EQ(static_cast<int>(vtUnicodeString), 17);
}

TEST(VarRec, ConvertsEveryKindToTheVariantPushed) {
    TStringList Obj;
    const char* PChar = "p";
    const char16_t* PWide = u"q";
    struct {
        TVarRec Arg;
        bool Pushes;
        Variant Value;
    } Cases[] = {
        {TVarRec(42), true, Variant(42)},
        {TVarRec(false), true, Variant(false)},
        {TVarRec('z'), true, Variant("z")},
        {TVarRec(2.5), true, Variant(2.5)},
        {TVarRec::FromShortString("short"), true, Variant("short")},
        {TVarRec::FromPointer(&Obj), false, Variant()},
        {TVarRec::FromPChar(PChar), false, Variant()},
        {TVarRec::FromObject(&Obj), false, Variant()},
        {TVarRec::FromClass<TStringList>(), false, Variant()},
        {TVarRec(u'\u00e9'), true, Variant("\xc3\xa9")},
        {TVarRec::FromPWideChar(PWide), false, Variant()},
        {TVarRec::FromAnsiString("ansi"), true, Variant("ansi")},
        {TVarRec(Currency::FromScaled(-25)), true, Variant(Currency::FromScaled(-25))},
        {TVarRec(Variant("inner")), true, Variant("inner")},
        {TVarRec::FromInterface(&Obj), false, Variant()},
        {TVarRec::FromWideString(u"\U0001F600"), true, Variant("\xf0\x9f\x98\x80")},
        {TVarRec(int64_t(-5000000000)), true, Variant(int64_t(-5000000000))},
        {TVarRec(std::u16string(u"uni")), true, Variant("uni")},
    };
    for (size_t I = 0; I < std::size(Cases); ++I) {
        EXPECT_EQ(static_cast<size_t>(Cases[I].Arg.Kind()), I); // one case per kind, in order
        Variant Out("untouched");
        EXPECT_EQ(VarRecToVariant(Cases[I].Arg, Out), Cases[I].Pushes)
            << VarRecKindName(Cases[I].Arg.Kind());
        if (Cases[I].Pushes)
            EXPECT_EQ(Out, Cases[I].Value) << VarRecKindName(Cases[I].Arg.Kind());
        else
            EXPECT_EQ(Out, Variant("untouched"));
    }
    EXPECT_EQ(*TVarRec::FromClass<TStringList>().AsClass(), typeid(TStringList));
    EXPECT_EQ(TVarRec::FromPChar(PChar).AsPChar(), PChar);
}

TEST(VarRec, ReadingAnotherKindOrAnOverlongShortStringFails) {
    try {
        TVarRec(1).AsBoolean();
        FAIL();
    } catch (const EConvertError& E) {
        EXPECT_STREQ(E.what(), "An argument of kind vtInteger cannot be read as vtBoolean");
    }
    EXPECT_THROW(TVarRec("s").AsWideString(), EConvertError);
    EXPECT_THROW(TVarRec(int64_t(1)).AsInteger(), EConvertError);
    EXPECT_EQ(TVarRec::FromShortString(std::string(255, 'x')).AsString().size(), 255u);
    EXPECT_THROW(TVarRec::FromShortString(std::string(256, 'x')), EConvertError);
    // A lone surrogate becomes U+FFFD rather than invalid UTF-8.
    Variant Out;
    ASSERT_TRUE(VarRecToVariant(TVarRec(char16_t(0xD800)), Out));
    EXPECT_EQ(Out, Variant("\xef\xbf\xbd"));
}
