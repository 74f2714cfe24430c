#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>

#include "kv/rtl/exceptions.h"
#include "kv/xml/KvGADomainXML.h"

using namespace kv;

namespace {

// Encodes UTF-32 text as UTF-8, UTF-16 or UTF-32 bytes.
std::string Utf8(std::u32string_view S) {
    std::string R;
    for (char32_t C : S) {
        if (C < 0x80) {
            R += char(C);
        } else if (C < 0x800) {
            R += char(0xC0 | (C >> 6));
            R += char(0x80 | (C & 0x3F));
        } else if (C < 0x10000) {
            R += char(0xE0 | (C >> 12));
            R += char(0x80 | ((C >> 6) & 0x3F));
            R += char(0x80 | (C & 0x3F));
        } else {
            R += char(0xF0 | (C >> 18));
            R += char(0x80 | ((C >> 12) & 0x3F));
            R += char(0x80 | ((C >> 6) & 0x3F));
            R += char(0x80 | (C & 0x3F));
        }
    }
    return R;
}

void PutUnit(std::string& R, uint32_t U, int Bytes, bool BigEndian) {
    for (int K = 0; K < Bytes; ++K) {
        int Shift = BigEndian ? 8 * (Bytes - 1 - K) : 8 * K;
        R += char((U >> Shift) & 0xFF);
    }
}

std::string Utf16(std::u32string_view S, bool BigEndian, bool Bom) {
    std::string R;
    if (Bom)
        PutUnit(R, 0xFEFF, 2, BigEndian);
    for (char32_t C : S) {
        if (C >= 0x10000) {
            PutUnit(R, 0xD800 + ((C - 0x10000) >> 10), 2, BigEndian);
            PutUnit(R, 0xDC00 + ((C - 0x10000) & 0x3FF), 2, BigEndian);
        } else {
            PutUnit(R, C, 2, BigEndian);
        }
    }
    return R;
}

std::string Utf32(std::u32string_view S, bool BigEndian) {
    std::string R;
    PutUnit(R, 0xFEFF, 4, BigEndian);
    for (char32_t C : S)
        PutUnit(R, C, 4, BigEndian);
    return R;
}

// Loads Bytes into a new document; returns the EXmlError message, or "" when it loaded.
std::string LoadError(const std::string& Bytes) {
    auto Doc = NewXMLDocument();
    try {
        Doc->LoadFromString(Bytes);
    } catch (const EXmlError& E) {
        return E.what();
    }
    return "";
}

std::string Nested(int Levels) {
    std::string S;
    for (int I = 0; I < Levels; ++I)
        S += "<a>";
    for (int I = 0; I < Levels; ++I)
        S += "</a>";
    return S;
}

std::string TempPath(const char* Name) {
    const char* Dir = std::getenv("KVGA_TEST_TMP");
    return std::string(Dir ? Dir : "/tmp") + "/" + Name;
}

} // namespace

TEST(XMLDocument, DetectsTheEncodingFromTheContent) {
    const std::u32string Body = U"<GADomain><GenoType><BooleanGene><Name>Fl\u00E9g "
                                U"\U0001F600</Name></BooleanGene></GenoType></GADomain>";
    const std::u32string Declared = U"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n" + Body;
    const std::string Expected = "Fl\xC3\xA9g \xF0\x9F\x98\x80";
    const std::pair<const char*, std::string> Inputs[] = {
        {"UTF-8", Utf8(Body)},
        {"UTF-8 with BOM", "\xEF\xBB\xBF" + Utf8(Body)},
        {"UTF-16LE with BOM", Utf16(Declared, false, true)},
        {"UTF-16BE with BOM", Utf16(Declared, true, true)},
        {"UTF-16LE without BOM", Utf16(Body, false, false)},
        {"UTF-16BE without BOM", Utf16(Body, true, false)},
        {"UTF-32LE", Utf32(Body, false)},
        {"UTF-32BE", Utf32(Body, true)},
        {"ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><GADomain><GenoType>"
                       "<BooleanGene><Name>Fl\xE9g</Name></BooleanGene></GenoType></GADomain>"},
    };
    for (const auto& [What, Bytes] : Inputs) {
        SCOPED_TRACE(What);
        auto Doc = NewXMLDocument();
        std::istringstream In(Bytes);
        ASSERT_NO_THROW(Doc->LoadFromStream(In));
        auto Gene = GetGADomain(Doc)->GetGenoType()->GetBooleanGene()->GetItem(0);
        std::string Want = std::string(What) == "ISO-8859-1" ? "Fl\xC3\xA9g" : Expected;
        EXPECT_EQ(Gene->GetName(), Want);
        // Whatever came in, the document is saved as UTF-8 and says so.
        std::string Saved = Doc->SaveToString();
        EXPECT_EQ(Saved.find("UTF-16"), std::string::npos);
        auto Again = NewXMLDocument();
        Again->LoadFromString(Saved);
        EXPECT_EQ(GetGADomain(Again)->GetGenoType()->GetBooleanGene()->GetItem(0)->GetName(), Want);
    }
}

TEST(XMLDocument, RefusesHostileInputWithAClearError) {
    std::string Utf16Doc = Utf16(U"<a>x</a>", false, true);
    std::string Unpaired = Utf16(U"<a>", false, true);
    PutUnit(Unpaired, 0xD800, 2, false);
    Unpaired += Utf16(U"</a>", false, false);
    const std::pair<std::string, const char*> Cases[] = {
        {"", "no root element"},
        {"  \n ", "no root element"},
        {"<?xml version=\"1.0\"?>", "no root element"},
        {"<GADomain><GenoType>", "line 1"},
        {"<GADomain><GenoType Size=\"3", "line 1"},
        {"<GADomain></GenoType>", "line 1"},
        {std::string("<a>x\0y</a>", 10), "NUL character at line 1, column 5"},
        {std::string("<a/>\0", 5), "NUL character"},
        {"<a>\xC3\x28</a>", "invalid UTF-8 at line 1, column 4"},
        {"<a>\xC0\xAF</a>", "invalid UTF-8"},
        {"<a>\xED\xA0\x80</a>", "invalid UTF-8"},
        {"<a>\xF4\x90\x80\x80</a>", "invalid UTF-8"},
        {"<a>\xE2\x82</a>", "invalid UTF-8"},
        {Utf16Doc + "x", "odd number of bytes"},
        {Unpaired, "unpaired UTF-16 surrogate"},
        {Utf32(U"<a/>", false) + "xy", "multiple of 4"},
        {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a/>", "\"windows-1252\""},
        {"<a/><b/>", "second root element"},
        {"junk<a/>", "text outside the root element at line 1, column 1"},
        {"<?xml version=\"1.0\"?>\n<a/>\n  trailing", "text outside the root element at line 2"},
        {"<![CDATA[x]]><a/>", "text outside the root element"},
        {"<!DOCTYPE a [<!ENTITY e \"boom\">]><a>&e;</a>", "DOCTYPE"},
        {"<!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 \"&lol;&lol;&lol;&lol;\">]>"
         "<lolz>&lol2;</lolz>",
         "DOCTYPE"},
        {Nested(MaxXMLDepth + 1), "deeper than 32 levels at line 1, column 97"},
        // References the parser would decode into a NUL (cutting the text short) or into bytes
        // that are not UTF-8, in text and in attribute values; a value too large for 32 bits
        // must not wrap around to a character.
        {"<a>x&#0;y</a>", "character reference to no character (NUL, a surrogate or beyond "
                          "U+10FFFF) at line 1, column 5"},
        {"<a>&#x0000;</a>", "character reference"},
        {"<a>&#xD800;</a>", "character reference"},
        {"<a>&#57343;</a>", "character reference"},
        {"<a>&#x110000;</a>", "character reference"},
        {"<a>&#4294967361;</a>", "character reference"},
        {"<a>&#x100000041;</a>", "character reference"},
        {"<a b='&#0;'/>", "line 1, column 7"},
        {"<a b=\"x>&#xdfff;\"/>", "character reference"},
        {"<a><!-- &#0; --><b c=\"&#0;\"/></a>", "line 1, column 23"},
    };
    for (const auto& [Bytes, Expected] : Cases) {
        std::string Message = LoadError(Bytes);
        EXPECT_NE(Message.find(Expected), std::string::npos)
            << "input of " << Bytes.size() << " bytes gave: " << Message;
    }
    EXPECT_EQ(LoadError(Nested(MaxXMLDepth)), "");
    // What the parser leaves as literal text, and references to characters, are no error.
    auto Doc = NewXMLDocument();
    Doc->LoadFromString("<a b=\"&#x10FFFF;\"><!-- &#0; --><?p &#0;?><c><![CDATA[&#0;]]></c>"
                        "<d>&#X41;&#x;&#12a;&#xD7FF;&#xE000;</d></a>");
    auto A = Doc->GetDocumentElement();
    EXPECT_EQ(A->GetAttribute("b"), "\xF4\x8F\xBF\xBF");
    EXPECT_EQ(A->GetChildText("c"), "&#0;");
    EXPECT_EQ(A->GetChildText("d"), "&#X41;&#x;&#12a;\xED\x9F\xBF\xEE\x80\x80");
}

TEST(XMLDocument, RefusesDeepNestingQuicklyAndWithoutRecursion) {
    auto Start = std::chrono::steady_clock::now();
    std::string Message = LoadError(Nested(100000));
    EXPECT_NE(Message.find("deeper than 32"), std::string::npos) << Message;
    // A DOCTYPE nested as deep is refused as well.
    std::string Doctype = "<!DOCTYPE a [";
    for (int I = 0; I < 100000; ++I)
        Doctype += "<![INCLUDE[";
    for (int I = 0; I < 100000; ++I)
        Doctype += "]]>";
    Doctype += "]><a/>";
    EXPECT_NE(LoadError(Doctype), "");
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(10));
}

TEST(XMLDocument, AFailedLoadKeepsTheDocumentAndALoadDetachesOldNodes) {
    auto Doc = NewXMLDocument();
    Doc->LoadFromString("<GADomain><GenoType Size=\"5\"/></GADomain>");
    auto GenoType = GetGADomain(Doc)->GetGenoType();
    EXPECT_THROW(Doc->LoadFromString("<GADomain><GenoType>"), EXmlError);
    EXPECT_THROW(Doc->LoadFromString("<Other/><Other/>"), EXmlError);
    ASSERT_TRUE(GenoType->IsAttached());
    EXPECT_EQ(GenoType->GetSize(), 5);

    Doc->LoadFromString("<GADomain><GenoType Size=\"7\"/></GADomain>");
    EXPECT_FALSE(GenoType->IsAttached());
    EXPECT_THROW(GenoType->GetSize(), EXmlError);
    EXPECT_THROW(GenoType->GetBooleanGene()->GetCount(), EXmlError);
    EXPECT_EQ(GetGADomain(Doc)->GetGenoType()->GetSize(), 7);
}

TEST(XMLDocument, DecodesCharacterReferencesAndKeepsTextsAsWritten) {
    auto Doc = NewXMLDocument();
    Doc->LoadFromString("<r>\r\n  <t>&lt;&amp;&#x41;&#66;&quot;&apos;&gt;</t>\r\n  <u>  </u>\r\n"
                        "  <v>a\r\nb</v><!-- note --><w><![CDATA[<x>]]></w>\r\n</r>");
    auto R = Doc->GetDocumentElement();
    EXPECT_EQ(R->GetChildText("t"), "<&AB\"'>");
    EXPECT_EQ(R->GetChildText("u"), "  ");
    EXPECT_EQ(R->GetChildText("v"), "a\r\nb");
    EXPECT_EQ(R->GetChildText("w"), "<x>");
    EXPECT_EQ(R->GetChildNodes()->GetCount(), 4) << "formatting and comments are no nodes";

    const std::string Tricky = "line1\r\nline2\rline3\n\t<&>\"' ]]> \xC3\xA9";
    R->SetChildText("t", Tricky);
    R->SetChildText("u", " ");
    R->SetAttribute("a", Tricky);
    auto Again = NewXMLDocument();
    Again->LoadFromString(Doc->SaveToString());
    auto R2 = Again->GetDocumentElement();
    EXPECT_EQ(R2->GetChildText("t"), Tricky);
    EXPECT_EQ(R2->GetChildText("u"), " ");
    EXPECT_EQ(R2->GetAttribute("a"), Tricky);
}

TEST(XMLDocument, SavesIndentedUTF8ToStreamsAndFiles) {
    auto Domain = NewGADomain();
    Domain->GetGenoType()->GetBooleanGene()->Add()->SetName("Flag");
    auto Doc = Domain->GetOwnerDocument();
    EXPECT_EQ(Doc->GetVersion(), "1.0");
    std::ostringstream Out;
    Doc->SaveToStream(Out);
    EXPECT_EQ(Out.str(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<GADomain>\n"
                         "  <GenoType>\n"
                         "    <BooleanGene>\n"
                         "      <Name>Flag</Name>\n"
                         "    </BooleanGene>\n"
                         "  </GenoType>\n"
                         "</GADomain>\n");
    EXPECT_EQ(Doc->SaveToString(), Out.str());

    std::ostringstream Broken;
    Broken.setstate(std::ios::failbit);
    EXPECT_THROW(Doc->SaveToStream(Broken), EXmlError);
    std::istringstream Unreadable("<a/>");
    Unreadable.setstate(std::ios::failbit);
    EXPECT_THROW(NewXMLDocument()->LoadFromStream(Unreadable), EXmlError);

    const std::string Path = TempPath("xml_document_test.xml");
    Doc->SaveToFile(Path);
    auto Loaded = LoadGADomain(Path);
    EXPECT_EQ(Loaded->GetGenoType()->GetBooleanGene()->GetItem(0)->GetName(), "Flag");
    EXPECT_EQ(Loaded->GetOwnerDocument()->SaveToString(), Out.str());

    try {
        LoadGADomain(TempPath("no_such_file.xml"));
        ADD_FAILURE() << "a missing file loaded";
    } catch (const EXmlError& E) {
        EXPECT_NE(std::string(E.what()).find("no_such_file.xml"), std::string::npos) << E.what();
    }
    EXPECT_THROW(Doc->SaveToFile(TempPath("no_such_dir/x.xml")), EXmlError);
}

namespace {

// A stream buffer that cannot seek and gives 'x' without end, or throws E on every read or write.
template <class E>
class TStubBuffer : public std::streambuf {
public:
    explicit TStubBuffer(bool Throws) : FThrows(Throws) { setg(FData, FData, FData); }

protected:
    int_type underflow() override {
        if (FThrows)
            throw E("stub");
        std::fill(std::begin(FData), std::end(FData), 'x');
        setg(FData, FData, FData + sizeof FData);
        return 'x';
    }
    int_type overflow(int_type) override { throw E("stub"); }

private:
    bool FThrows;
    char FData[4096];
};

struct TBadAlloc : std::bad_alloc {
    explicit TBadAlloc(const char*) {}
};

std::string MessageOf(const std::function<void()>& Call) {
    try {
        Call();
    } catch (const EXmlError& E) {
        return E.what();
    }
    return "no EXmlError";
}

} // namespace

TEST(XMLDocument, SizeLimitHoldsWhileReadingAndSavingAndForeignErrorsBecomeXmlErrors) {
    const std::string Text = "<a><b>12345</b></a>";
    auto Doc = NewXMLDocument();
    EXPECT_EQ(Doc->GetMaxDocumentBytes(), DefaultMaxXMLDocumentBytes);
    Doc->SetMaxDocumentBytes(Text.size());
    std::istringstream Exact(Text);
    Doc->LoadFromStream(Exact);
    Doc->LoadFromString(Text);
    const std::string Longer = "<a><b>123456</b></a>";
    std::istringstream Over(Longer);
    EXPECT_NE(MessageOf([&] { Doc->LoadFromStream(Over); }).find(std::to_string(Text.size())),
              std::string::npos);
    EXPECT_THROW(Doc->LoadFromString(Longer), EXmlError);
    // An endless stream that cannot say its size is cut off at the limit.
    Doc->SetMaxDocumentBytes(1 << 20);
    TStubBuffer<TBadAlloc> Endless(false);
    std::istream EndlessStream(&Endless);
    EXPECT_NE(MessageOf([&] { Doc->LoadFromStream(EndlessStream); }).find("1048576"),
              std::string::npos);
    EXPECT_EQ(Doc->GetDocumentElement()->GetChildText("b"), "12345") << "the document stays";

    // A save longer than the limit is refused; a file keeps its old content.
    const std::string Path = TempPath("xml_document_limit.xml");
    { std::ofstream(Path) << "old"; }
    Doc->SetMaxDocumentBytes(20);
    EXPECT_THROW(Doc->SaveToString(), EXmlError);
    EXPECT_THROW(Doc->SaveToFile(Path), EXmlError);
    std::ostringstream Out;
    EXPECT_THROW(Doc->SaveToStream(Out), EXmlError);
    std::ifstream Kept(Path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(Kept), {}), "old");

    // The memory running out, or a buffer too long for a string, is an EXmlError saying so.
    Doc->SetMaxDocumentBytes(DefaultMaxXMLDocumentBytes);
    TStubBuffer<TBadAlloc> NoMemory(true);
    std::istream NoMemoryIn(&NoMemory);
    EXPECT_NE(MessageOf([&] { Doc->LoadFromStream(NoMemoryIn); }).find("memory"),
              std::string::npos);
    TStubBuffer<std::length_error> TooLong(true);
    std::istream TooLongIn(&TooLong);
    EXPECT_NE(MessageOf([&] { Doc->LoadFromStream(TooLongIn); }).find("memory"), std::string::npos);
    std::ostream NoMemoryOut(&NoMemory);
    EXPECT_NE(MessageOf([&] { Doc->SaveToStream(NoMemoryOut); }).find("memory ran out"),
              std::string::npos);
}
