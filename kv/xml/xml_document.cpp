#include "kv/rtl/detail/file_read.h"
#include "kv/rtl/detail/file_replace.h"
#include "kv/rtl/exceptions.h"
#include "kv/xml/detail/xml_impl.h"
#include "kv/xml/detail/xml_input.h"
#include "kv/xml/detail/xml_lists.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <istream>
#include <new>
#include <ostream>
#include <stdexcept>

namespace kv {

namespace detail {

namespace {

// Standard character references are decoded; line ends inside texts are kept as they stand (so a
// text written with a CR reads back with it); the declaration and any DOCTYPE are kept so that
// they can be checked; white space that is an element's only content is kept, white space between
// elements is not. Comments and processing instructions are dropped.
// Parsing as a fragment makes the parser keep text outside the root element (and accept any
// number of root elements) instead of dropping it silently; CheckTree refuses both.
constexpr unsigned ParseOptions = pugi::parse_cdata | pugi::parse_escapes |
                                  pugi::parse_wconv_attribute | pugi::parse_declaration |
                                  pugi::parse_doctype | pugi::parse_ws_pcdata_single |
                                  pugi::parse_fragment;

constexpr const char* Indent = "  ";

[[noreturn]] void LoadError(const char* What, std::string_view Text, ptrdiff_t Offset) {
    TTextPosition P = TextPosition(Text, Offset < 0 ? 0 : static_cast<size_t>(Offset));
    throw EXmlError(Format("Cannot read the XML document: %s at line %d, column %d", What,
                           static_cast<int>(P.Line), static_cast<int>(P.Column)));
}

// Finds the bytes of a text that can change the nesting of its markup: '<', '>', '"' and '\''.
// Sixteen bytes are tested at a time (with SSE2 where there is SSE2), so the long runs of text
// and indentation between tags cost little.
class TMarkupScanner {
public:
    explicit TMarkupScanner(std::string_view Text) noexcept
        : FText(Text.data()), FSize(Text.size()) {}

    // The index of the first such byte at or after From, or npos.
    size_t Next(size_t From) noexcept {
        if (FInBlock && From >= FBlock && From - FBlock < 16) {
            FMask &= ~uint32_t(0) << (From - FBlock);
        } else {
            if (From > FSize || FSize - From < 16)
                return Tail(From);
            FBlock = From;
            FInBlock = true;
            FMask = Mask(FText + From);
        }
        while (FMask == 0) {
            FBlock += 16;
            if (FSize - FBlock < 16)
                return Tail(FBlock);
            FMask = Mask(FText + FBlock);
        }
        return FBlock + static_cast<size_t>(__builtin_ctz(FMask));
    }

private:
    static bool IsMarkup(char C) noexcept { return C == '<' || C == '>' || C == '"' || C == '\''; }
    static uint32_t Mask(const char* P) noexcept {
#if defined(__SSE2__)
        const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
        const __m128i M = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(V, _mm_set1_epi8('<')),
                                                    _mm_cmpeq_epi8(V, _mm_set1_epi8('>'))),
                                       _mm_or_si128(_mm_cmpeq_epi8(V, _mm_set1_epi8('"')),
                                                    _mm_cmpeq_epi8(V, _mm_set1_epi8('\''))));
        return static_cast<uint32_t>(_mm_movemask_epi8(M));
#else
        uint32_t M = 0;
        for (int I = 0; I < 16; ++I)
            if (IsMarkup(P[I]))
                M |= uint32_t(1) << I;
        return M;
#endif
    }
    // Fewer than 16 bytes are left: one at a time.
    size_t Tail(size_t From) noexcept {
        FInBlock = false;
        for (size_t I = From; I < FSize; ++I)
            if (IsMarkup(FText[I]))
                return I;
        return std::string_view::npos;
    }

    const char* FText;
    size_t FSize;
    size_t FBlock = 0;
    uint32_t FMask = 0;
    bool FInBlock = false;
};

// The offset of the '<' of the first element nested deeper than MaxXMLDepth (a root element is
// level 1), or npos. A loop over the text, not over the tree: it runs on a document the parser
// has accepted, so every '<' outside comments, CDATA sections, processing instructions and quoted
// attribute values starts a tag, and following the tags measures the nesting without a call into
// the parser's library per node (which would cost more than the parse itself on a document of
// many small elements). Comments, CDATA sections, processing instructions and declarations are
// passed over whole; an empty-element tag ("<a/>") does not nest.
size_t FindTooDeep(std::string_view Text) {
    constexpr size_t None = std::string_view::npos;
    TMarkupScanner Markup(Text);
    int Level = 0;
    bool InStartTag = false;
    size_t TagStart = 0;
    char Quote = 0;
    for (size_t At = Markup.Next(0); At != None; At = Markup.Next(At + 1)) {
        const char C = Text[At];
        if (InStartTag) {
            if (Quote != 0) {
                if (C == Quote)
                    Quote = 0;
            } else if (C == '"' || C == '\'') {
                Quote = C;
            } else if (C == '>') {
                InStartTag = false;
                if (++Level > MaxXMLDepth)
                    return TagStart;
                if (Text[At - 1] == '/')
                    --Level;
            }
            continue;
        }
        if (C != '<' || At + 1 >= Text.size())
            continue;
        const std::string_view Tag = Text.substr(At);
        std::string_view Closer;
        switch (Text[At + 1]) {
        case '/':
            --Level;
            continue;
        case '?':
            Closer = "?>";
            break;
        case '!':
            Closer = Tag.starts_with("<!--") ? "-->" : Tag.starts_with("<![CDATA[") ? "]]>" : ">";
            break;
        default:
            InStartTag = true;
            TagStart = At;
            continue;
        }
        const size_t Close = Text.find(Closer, At + 2);
        if (Close == None)
            return None;
        At = Close + Closer.size() - 1;
    }
    return None;
}

// Refuses what the parser accepts but this layer does not: a DOCTYPE, text outside the root
// element, no or several root elements, and nesting deeper than MaxXMLDepth. The depth is
// measured by a loop, before anything recurses over the tree. (The offset of an element is that
// of its name, one past its '<'.)
void CheckTree(const pugi::xml_document& Tree, std::string_view Text) {
    pugi::xml_node Root;
    for (pugi::xml_node N = Tree.first_child(); N; N = N.next_sibling()) {
        if (N.type() == pugi::node_doctype)
            LoadError("a document type declaration (DOCTYPE), which is not accepted,", Text,
                      N.offset_debug());
        if (N.type() == pugi::node_pcdata || N.type() == pugi::node_cdata)
            LoadError("text outside the root element", Text, N.offset_debug());
        if (N.type() == pugi::node_element) {
            if (Root)
                LoadError("a second root element", Text, N.offset_debug() - 1);
            Root = N;
        }
    }
    if (!Root)
        LoadError("no root element", Text, static_cast<ptrdiff_t>(Text.size()));
    const size_t TooDeep = FindTooDeep(Text);
    if (TooDeep != std::string_view::npos)
        LoadError(Format("elements nested deeper than %d levels", MaxXMLDepth).c_str(), Text,
                  static_cast<ptrdiff_t>(TooDeep));
}

// The document is held as UTF-8 and always saved as UTF-8: a declared encoding must say so.
void NormalizeDeclaration(pugi::xml_document& Tree) {
    for (pugi::xml_node N = Tree.first_child(); N; N = N.next_sibling())
        if (N.type() == pugi::node_declaration)
            if (pugi::xml_attribute A = N.attribute("encoding"))
                A.set_value("UTF-8");
}

[[noreturn]] void TooLong(const char* What, uint64_t MaxBytes) {
    throw EXmlError(Format("%s: it holds more than the %llu bytes a document may have", What,
                           static_cast<unsigned long long>(MaxBytes)));
}

// The number of bytes from the stream's position to its end when the stream can tell (files,
// string streams), or 0 when it cannot. Only a claim: it refuses a stream that claims too much
// early, and the reading checks the limit again.
uint64_t RemainingBytes(std::streambuf& Buffer) {
    const std::streampos Here = Buffer.pubseekoff(0, std::ios::cur, std::ios::in);
    if (Here == std::streampos(-1))
        return 0;
    const std::streampos End = Buffer.pubseekoff(0, std::ios::end, std::ios::in);
    if (Buffer.pubseekpos(Here, std::ios::in) != Here)
        throw EXmlError("Cannot read the XML document: the stream cannot return to its position");
    return End != std::streampos(-1) && End > Here ? static_cast<uint64_t>(End - Here) : 0;
}

// Reads the stream to its end, refusing more than MaxBytes bytes as soon as one more arrives. The
// buffer grows with what has been read (at most doubling), never by the size the stream claims.
std::string ReadAll(std::streambuf& Buffer, uint64_t MaxBytes) {
    const char* What = "Cannot read the XML document from the stream";
    if (RemainingBytes(Buffer) > MaxBytes)
        TooLong(What, MaxBytes);
    return detail::ReadWithLimit(
        MaxBytes,
        [&Buffer](char* Into, size_t Room) -> size_t {
            const std::streamsize N = Buffer.sgetn(Into, static_cast<std::streamsize>(Room));
            return N > 0 ? static_cast<size_t>(N) : 0;
        },
        [&] { TooLong(What, MaxBytes); });
}

// Takes the saved text from the parser library, counting it: once the text grows beyond the
// limit, or the sink fails (an exception included), nothing more is passed on and the reason is
// kept, to be raised after saving, so that no exception passes through the parser library.
class TLimitedWriter : public pugi::xml_writer {
public:
    enum TState { wsOk, wsTooLong, wsFailed, wsOutOfMemory };

    explicit TLimitedWriter(uint64_t MaxBytes) noexcept : FMaxBytes(MaxBytes) {}

    void write(const void* Data, size_t Size) final {
        if (FState != wsOk)
            return;
        if (Size > FMaxBytes - FCount) {
            FState = wsTooLong;
            return;
        }
        FCount += Size;
        try {
            if (!Put(static_cast<const char*>(Data), Size))
                FState = wsFailed;
        } catch (const std::bad_alloc&) {
            FState = wsOutOfMemory;
        } catch (const std::length_error&) {
            FState = wsOutOfMemory;
        } catch (...) {
            FState = wsFailed;
        }
    }
    TState State() const noexcept { return FState; }
    // Raises the EXmlError of a failed save; does nothing after a sound one.
    void Check() const {
        switch (FState) {
        case wsOk:
            return;
        case wsTooLong:
            TooLong("Cannot write the XML document", FMaxBytes);
        case wsOutOfMemory:
            throw EXmlError("Cannot write the XML document: the memory ran out");
        case wsFailed:
            break;
        }
        throw EXmlError("Cannot write the XML document: writing to the stream failed");
    }

protected:
    // Passes Size bytes on; false when they could not be.
    virtual bool Put(const char* Data, size_t Size) = 0;

private:
    uint64_t FMaxBytes;
    uint64_t FCount = 0;
    TState FState = wsOk;
};

class TStringWriter final : public TLimitedWriter {
public:
    TStringWriter(std::string& Out, uint64_t MaxBytes) : TLimitedWriter(MaxBytes), FOut(Out) {}

protected:
    bool Put(const char* Data, size_t Size) override {
        FOut.append(Data, Size);
        return true;
    }

private:
    std::string& FOut;
};

class TStreamWriter final : public TLimitedWriter {
public:
    TStreamWriter(std::streambuf& Buffer, uint64_t MaxBytes)
        : TLimitedWriter(MaxBytes), FBuffer(Buffer) {}

protected:
    bool Put(const char* Data, size_t Size) override {
        const auto N = static_cast<std::streamsize>(Size);
        return FBuffer.sputn(Data, N) == N;
    }

private:
    std::streambuf& FBuffer;
};

// Raises the EXmlError of a load or save that ran out of memory, or whose buffer would have
// grown beyond what a string can hold.
[[noreturn]] void OutOfMemory(const char* What) {
    throw EXmlError(Format("%s: the memory ran out", What));
}

} // namespace

TXMLDocument::TXMLDocument(std::string_view Version)
    : FTree(std::make_unique<pugi::xml_document>()) {
    if (Version.empty())
        return;
    CheckText(Version, TValueSite{"version", "xml", true});
    pugi::xml_node D = FTree->append_child(pugi::node_declaration);
    if (!D || !D.append_attribute("version").set_value(Version.data(), Version.size()) ||
        !D.append_attribute("encoding").set_value("UTF-8"))
        throw std::bad_alloc();
}

TXMLDocument::~TXMLDocument() = default;

bool TXMLDocument::IsEmpty() const {
    return !FTree->document_element();
}

std::shared_ptr<IXMLNode> TXMLDocument::GetDocumentElement() {
    pugi::xml_node Root = FTree->document_element();
    if (!Root)
        return nullptr;
    return Wrap(Root, PlainNodeClass);
}

std::string TXMLDocument::GetVersion() const {
    for (pugi::xml_node N = FTree->first_child(); N; N = N.next_sibling())
        if (N.type() == pugi::node_declaration)
            if (pugi::xml_attribute A = N.attribute("version"))
                return A.value();
    return "1.0";
}

void TXMLDocument::Load(std::string_view Bytes) {
    if (Bytes.size() > FMaxBytes)
        throw EXmlError(Format("Cannot read the XML document: it has %llu bytes, more than the "
                               "%llu a document may have",
                               static_cast<unsigned long long>(Bytes.size()),
                               static_cast<unsigned long long>(FMaxBytes)));
    std::string Converted;
    std::string_view Text = DecodeXMLInput(Bytes, Converted);
    auto Tree = std::make_unique<pugi::xml_document>();
    pugi::xml_parse_result R =
        Tree->load_buffer(Text.data(), Text.size(), ParseOptions, pugi::encoding_utf8);
    if (R.status == pugi::status_out_of_memory)
        throw std::bad_alloc();
    if (!R)
        LoadError(R.description(), Text, R.offset);
    const size_t BadReference = FindBadCharacterReference(Text);
    if (BadReference != std::string_view::npos)
        LoadError("a character reference to no character (NUL, a surrogate or beyond U+10FFFF)",
                  Text, static_cast<ptrdiff_t>(BadReference));
    CheckTree(*Tree, Text);
    NormalizeDeclaration(*Tree);
    // The new tree is sound: only now do the old one and its handles go.
    DetachAll();
    FTree = std::move(Tree);
    Changed();
}

void TXMLDocument::LoadFromString(std::string_view Bytes) {
    try {
        Load(Bytes);
    } catch (const std::bad_alloc&) {
        OutOfMemory("Cannot read the XML document");
    } catch (const std::length_error&) {
        OutOfMemory("Cannot read the XML document");
    }
}

void TXMLDocument::LoadFromStream(std::istream& Stream) {
    std::streambuf* Buffer = Stream.rdbuf();
    if (!Stream || !Buffer)
        throw EXmlError("Cannot read the XML document: the stream is not readable");
    try {
        Load(ReadAll(*Buffer, FMaxBytes));
    } catch (const std::ios_base::failure& E) {
        throw EXmlError(
            Format("Cannot read the XML document: reading the stream failed (%s)", E.what()));
    } catch (const std::bad_alloc&) {
        OutOfMemory("Cannot read the XML document");
    } catch (const std::length_error&) {
        OutOfMemory("Cannot read the XML document");
    }
}

void TXMLDocument::LoadFromFile(const std::string& FileName) {
    try {
        const std::string Bytes = ReadRegularFile(FileName, FMaxBytes);
        try {
            Load(Bytes);
        } catch (const EXmlError& E) {
            throw EXmlError(Format("%s (file \"%s\")", E.Message(), FileName));
        }
    } catch (const std::bad_alloc&) {
        OutOfMemory(Format("Cannot read the XML file \"%s\"", FileName).c_str());
    } catch (const std::length_error&) {
        OutOfMemory(Format("Cannot read the XML file \"%s\"", FileName).c_str());
    }
}

std::string TXMLDocument::SaveToString() const {
    std::string Out;
    TStringWriter W(Out, FMaxBytes);
    try {
        FTree->save(W, Indent, pugi::format_indent, pugi::encoding_utf8);
    } catch (const std::bad_alloc&) {
        OutOfMemory("Cannot write the XML document");
    }
    W.Check();
    return Out;
}

void TXMLDocument::SaveToStream(std::ostream& Stream) const {
    std::streambuf* Buffer = Stream.rdbuf();
    if (!Stream || !Buffer)
        throw EXmlError("Cannot write the XML document: the stream is not writable");
    TStreamWriter W(*Buffer, FMaxBytes);
    try {
        FTree->save(W, Indent, pugi::format_indent, pugi::encoding_utf8);
    } catch (const std::bad_alloc&) {
        OutOfMemory("Cannot write the XML document");
    }
    if (W.State() != TLimitedWriter::wsOk) {
        try {
            Stream.setstate(std::ios::badbit);
        } catch (const std::ios_base::failure&) {
            // The stream's own exception would not say what failed; ours below does.
        }
        W.Check();
    }
}

void TXMLDocument::SaveToFile(const std::string& FileName) const {
    std::string Text;
    try {
        Text = SaveToString();
    } catch (const EXmlError& E) {
        throw EXmlError(Format("%s (file \"%s\")", E.Message(), FileName));
    }
    ReplaceFile(FileName, Text);
}

// ---- handles ----

void TXMLDocument::Attach(TXMLNode* Node, pugi::xml_node_struct* Element) {
    FNodes.emplace(Element, Node);
}

void TXMLDocument::Release(TXMLNode* Node, pugi::xml_node_struct* Element) noexcept {
    auto Range = FNodes.equal_range(Element);
    for (auto It = Range.first; It != Range.second; ++It)
        if (It->second == Node) {
            FNodes.erase(It);
            return;
        }
}

std::shared_ptr<TXMLNode> TXMLDocument::Wrap(pugi::xml_node Node, const TXMLNodeClass& Class) {
    auto Range = FNodes.equal_range(Node.internal_object());
    for (auto It = Range.first; It != Range.second; ++It)
        if (&It->second->NodeClass() == &Class)
            if (std::shared_ptr<TXMLNode> Live = It->second->weak_from_this().lock())
                return Live;
    return Class.Create(TXMLNodeInit{shared_from_this(), Node, &Class});
}

std::shared_ptr<TXMLNode> TXMLDocument::BindRoot(const char* Tag, const TXMLNodeClass& Class,
                                                 const char* InterfaceName) {
    pugi::xml_node Root = FTree->document_element();
    if (!Root) {
        Root = FTree->append_child(Tag);
        if (!Root)
            throw std::bad_alloc();
        Changed();
    } else if (std::strcmp(Root.name(), Tag) != 0) {
        throw EIntfCastError(Format("The document's root element \"%s\" does not bind as %s: "
                                    "the root element must be \"%s\"",
                                    Root.name(), InterfaceName, Tag));
    }
    return Wrap(Root, Class);
}

void TXMLDocument::RemoveChild(pugi::xml_node Parent, pugi::xml_node Child) {
    DetachWithin(Child);
    Parent.remove_child(Child);
    Changed();
}

void TXMLDocument::DetachAll() noexcept {
    for (auto& Entry : FNodes)
        Entry.second->Detach();
    FNodes.clear();
}

void TXMLDocument::DetachWithin(pugi::xml_node Root) {
    if (FNodes.empty())
        return;
    // Either walk the removed subtree and look each node up, or test every live handle for being
    // inside it, whichever is cheaper: the walk gives up after a budget proportional to the
    // number of handles, and the handle test then runs instead.
    std::vector<TXMLNode*> Found;
    size_t Budget = FNodes.size() * 4 + 16;
    bool Complete = true;
    pugi::xml_node N = Root;
    for (;;) {
        if (Budget-- == 0) {
            Complete = false;
            break;
        }
        auto Range = FNodes.equal_range(N.internal_object());
        for (auto It = Range.first; It != Range.second; ++It)
            Found.push_back(It->second);
        if (pugi::xml_node C = N.first_child()) {
            N = C;
            continue;
        }
        while (N != Root && !N.next_sibling())
            N = N.parent();
        if (N == Root)
            break;
        N = N.next_sibling();
    }
    if (!Complete) {
        Found.clear();
        for (auto& Entry : FNodes)
            for (pugi::xml_node X(Entry.first); X; X = X.parent())
                if (X == Root) {
                    Found.push_back(Entry.second);
                    break;
                }
    }
    for (TXMLNode* H : Found) {
        Release(H, H->Handle());
        H->Detach();
    }
}

} // namespace detail

std::shared_ptr<IXMLDocument> NewXMLDocument(std::string_view Version) {
    return std::make_shared<detail::TXMLDocument>(Version);
}

std::shared_ptr<IXMLDocument> LoadXMLDocument(const std::string& FileName) {
    auto Doc = std::make_shared<detail::TXMLDocument>(std::string_view());
    Doc->LoadFromFile(FileName);
    return Doc;
}

std::shared_ptr<IXMLDocument> LoadXMLDocument(std::istream& Stream) {
    auto Doc = std::make_shared<detail::TXMLDocument>(std::string_view());
    Doc->LoadFromStream(Stream);
    return Doc;
}

} // namespace kv

namespace kv::detail {

TXMLDocument& DocumentOf(const std::shared_ptr<IXMLDocument>& Doc) {
    if (!Doc)
        throw EXmlError("No XML document was given");
    auto* D = dynamic_cast<TXMLDocument*>(Doc.get());
    if (!D)
        throw EIntfCastError("The XML document is not one of this library's documents");
    return *D;
}

} // namespace kv::detail
