#include "kv/xml/detail/xml_input.h"

#include "kv/rtl/convert.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kv::detail {

namespace {

enum class TInputEncoding { Utf8, Utf16LE, Utf16BE, Utf32LE, Utf32BE };

inline unsigned char Byte(std::string_view S, size_t I) {
    return static_cast<unsigned char>(S[I]);
}

bool StartsWith(std::string_view S, std::initializer_list<unsigned char> Prefix) {
    if (S.size() < Prefix.size())
        return false;
    size_t I = 0;
    for (unsigned char B : Prefix)
        if (Byte(S, I++) != B)
            return false;
    return true;
}

// Detects the encoding and the length of the byte-order mark.
TInputEncoding DetectEncoding(std::string_view S, size_t& BomLength) {
    BomLength = 0;
    if (StartsWith(S, {0xEF, 0xBB, 0xBF})) {
        BomLength = 3;
        return TInputEncoding::Utf8;
    }
    if (StartsWith(S, {0x00, 0x00, 0xFE, 0xFF})) {
        BomLength = 4;
        return TInputEncoding::Utf32BE;
    }
    if (StartsWith(S, {0xFF, 0xFE, 0x00, 0x00})) {
        BomLength = 4;
        return TInputEncoding::Utf32LE;
    }
    if (StartsWith(S, {0xFE, 0xFF})) {
        BomLength = 2;
        return TInputEncoding::Utf16BE;
    }
    if (StartsWith(S, {0xFF, 0xFE})) {
        BomLength = 2;
        return TInputEncoding::Utf16LE;
    }
    // No mark: the document's first character is '<'.
    if (StartsWith(S, {0x00, 0x00, 0x00, 0x3C}))
        return TInputEncoding::Utf32BE;
    if (StartsWith(S, {0x3C, 0x00, 0x00, 0x00}))
        return TInputEncoding::Utf32LE;
    if (StartsWith(S, {0x00, 0x3C}))
        return TInputEncoding::Utf16BE;
    if (StartsWith(S, {0x3C, 0x00}))
        return TInputEncoding::Utf16LE;
    return TInputEncoding::Utf8;
}

[[noreturn]] void InputError(const char* What, const std::string& TextSoFar) {
    TTextPosition P = TextPosition(TextSoFar, TextSoFar.size());
    throw EXmlError(Format("Cannot read the XML document: %s at line %d, column %d", What,
                           static_cast<int>(P.Line), static_cast<int>(P.Column)));
}

void DecodeUTF16(std::string_view S, bool BigEndian, std::string& Out) {
    if (S.size() % 2 != 0)
        throw EXmlError(Format("Cannot read the XML document: the UTF-16 text has an odd number of "
                               "bytes (%d)",
                               static_cast<int>(S.size())));
    Out.clear();
    Out.reserve(S.size() / 2 + S.size() / 8);
    auto Unit = [&](size_t I) -> uint32_t {
        return BigEndian ? (uint32_t(Byte(S, I)) << 8) | Byte(S, I + 1)
                         : (uint32_t(Byte(S, I + 1)) << 8) | Byte(S, I);
    };
    for (size_t I = 0; I < S.size(); I += 2) {
        uint32_t C = Unit(I);
        if (C >= 0xD800 && C <= 0xDBFF) {
            uint32_t Low = I + 2 < S.size() ? Unit(I + 2) : 0;
            if (Low < 0xDC00 || Low > 0xDFFF)
                InputError("an unpaired UTF-16 surrogate", Out);
            C = 0x10000 + ((C - 0xD800) << 10) + (Low - 0xDC00);
            I += 2;
        } else if (C >= 0xDC00 && C <= 0xDFFF) {
            InputError("an unpaired UTF-16 surrogate", Out);
        } else if (C == 0) {
            InputError("a NUL character", Out);
        }
        AppendUtf8(Out, C);
    }
}

void DecodeUTF32(std::string_view S, bool BigEndian, std::string& Out) {
    if (S.size() % 4 != 0)
        throw EXmlError(Format("Cannot read the XML document: the UTF-32 text has %d bytes, not a "
                               "multiple of 4",
                               static_cast<int>(S.size())));
    Out.clear();
    Out.reserve(S.size() / 4);
    for (size_t I = 0; I < S.size(); I += 4) {
        uint32_t C = 0;
        for (size_t K = 0; K < 4; ++K) {
            uint32_t B = Byte(S, BigEndian ? I + K : I + 3 - K);
            C = (C << 8) | B;
        }
        if (C == 0)
            InputError("a NUL character", Out);
        if (C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF))
            InputError("a character outside Unicode", Out);
        AppendUtf8(Out, C);
    }
}

// The encoding named by the XML declaration at the start of Text, or empty.
std::string_view DeclaredEncoding(std::string_view Text) {
    if (Text.substr(0, 5) != "<?xml" || Text.size() < 6 ||
        !(Text[5] == ' ' || Text[5] == '\t' || Text[5] == '\r' || Text[5] == '\n'))
        return {};
    size_t End = Text.find("?>");
    if (End == std::string_view::npos)
        return {};
    std::string_view Decl = Text.substr(0, End);
    size_t K = Decl.find("encoding");
    if (K == std::string_view::npos)
        return {};
    size_t I = K + 8;
    auto SkipSpace = [&] {
        while (I < Decl.size() &&
               (Decl[I] == ' ' || Decl[I] == '\t' || Decl[I] == '\r' || Decl[I] == '\n'))
            ++I;
    };
    SkipSpace();
    if (I >= Decl.size() || Decl[I] != '=')
        return {};
    ++I;
    SkipSpace();
    if (I >= Decl.size() || (Decl[I] != '"' && Decl[I] != '\''))
        return {};
    char Quote = Decl[I++];
    size_t Close = Decl.find(Quote, I);
    if (Close == std::string_view::npos)
        return {};
    return Decl.substr(I, Close - I);
}

bool IsLatin1Name(std::string_view E) {
    return SameText(E, "ISO-8859-1") || SameText(E, "ISO_8859-1") || SameText(E, "latin1") ||
           SameText(E, "l1") || SameText(E, "ISO8859-1");
}

bool IsUTF8Name(std::string_view E) {
    // A declaration naming UTF-16 or UTF-32 without the matching byte pattern is taken as UTF-8:
    // the content decides, as for any document without a byte-order mark.
    return E.empty() || SameText(E, "UTF-8") || SameText(E, "UTF8") || SameText(E, "US-ASCII") ||
           SameText(E, "ASCII") || SameText(E, "UTF-16") || SameText(E, "UTF-16LE") ||
           SameText(E, "UTF-16BE") || SameText(E, "UTF-32") || SameText(E, "UTF-32LE") ||
           SameText(E, "UTF-32BE");
}

inline bool IsContinuation(unsigned char B) {
    return (B & 0xC0) == 0x80;
}

constexpr uint64_t Highs = 0x8080808080808080ull;
// Equal to Highs exactly when each of the eight bytes of W is 1..127. A byte 1..127 plus 0x7F
// sets its top bit without a carry; a byte 0 does not set it, and a byte of 128 or more has its
// top bit cleared by ~W (any carry it makes goes into a byte above it, and the result already
// differs from Highs).
inline uint64_t AsciiNonZero(uint64_t W) {
    return (W + 0x7F7F7F7F7F7F7F7Full) & ~W & Highs;
}

} // namespace

size_t FindInvalidUTF8(std::string_view Text) noexcept {
    const size_t N = Text.size();
    size_t I = 0;
    while (I < N) {
        // Fast path: blocks of 32 ASCII bytes none of which is NUL.
        if (I + 32 <= N) {
            uint64_t W[4];
            std::memcpy(W, Text.data() + I, sizeof W);
            if ((AsciiNonZero(W[0]) & AsciiNonZero(W[1]) & AsciiNonZero(W[2]) &
                 AsciiNonZero(W[3])) == Highs) {
                I += 32;
                continue;
            }
        }
        unsigned char B = Byte(Text, I);
        if (B == 0)
            return I;
        if (B < 0x80) {
            ++I;
            continue;
        }
        size_t Len;
        uint32_t Min;
        uint32_t C;
        if (B >= 0xC2 && B <= 0xDF) {
            Len = 2;
            Min = 0x80;
            C = B & 0x1F;
        } else if (B >= 0xE0 && B <= 0xEF) {
            Len = 3;
            Min = 0x800;
            C = B & 0x0F;
        } else if (B >= 0xF0 && B <= 0xF4) {
            Len = 4;
            Min = 0x10000;
            C = B & 0x07;
        } else {
            return I;
        }
        if (I + Len > N)
            return I;
        for (size_t K = 1; K < Len; ++K) {
            unsigned char X = Byte(Text, I + K);
            if (!IsContinuation(X))
                return I;
            C = (C << 6) | (X & 0x3F);
        }
        if (C < Min || C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF))
            return I;
        I += Len;
    }
    return std::string_view::npos;
}

namespace {

// True when the reference at Text[At] ("&#...") is one the parser decodes into a character that
// is NUL, a surrogate or beyond U+10FFFF. The value saturates instead of wrapping around as the
// parser's does, so a reference too large for any character is caught whatever it wraps to.
bool IsBadReference(std::string_view Text, size_t At) noexcept {
    size_t I = At + 2;
    const bool Hex = I < Text.size() && Text[I] == 'x';
    if (Hex)
        ++I;
    const size_t First = I;
    uint32_t Value = 0;
    for (; I < Text.size(); ++I) {
        const char C = Text[I];
        uint32_t Digit;
        if (C >= '0' && C <= '9')
            Digit = static_cast<uint32_t>(C - '0');
        else if (Hex && (C | ' ') >= 'a' && (C | ' ') <= 'f')
            Digit = static_cast<uint32_t>((C | ' ') - 'a' + 10);
        else
            break;
        Value = std::min<uint32_t>(Value * (Hex ? 16 : 10) + Digit, 0x110000);
    }
    if (I == First || I == Text.size() || Text[I] != ';')
        return false; // not decoded: it stays as its literal text
    return Value == 0 || Value > 0x10FFFF || (Value >= 0xD800 && Value <= 0xDFFF);
}

bool StartsAt(std::string_view Text, size_t At, std::string_view Prefix) noexcept {
    return Text.substr(At, Prefix.size()) == Prefix;
}

} // namespace

size_t FindBadCharacterReference(std::string_view Text) noexcept {
    constexpr size_t npos = std::string_view::npos;
    if (Text.find("&#") == npos)
        return npos;
    size_t P = 0;
    for (;;) {
        const size_t Amp = Text.find("&#", P);
        if (Amp == npos)
            return npos;
        const size_t Lt = Text.find('<', P);
        if (Amp < Lt) { // in text
            if (IsBadReference(Text, Amp))
                return Amp;
            P = Amp + 2;
            continue;
        }
        // Markup starts first: pass over it, looking into the quoted attribute values of a tag.
        std::string_view End;
        if (StartsAt(Text, Lt, "<!--"))
            End = "-->";
        else if (StartsAt(Text, Lt, "<![CDATA["))
            End = "]]>";
        else if (StartsAt(Text, Lt, "<?"))
            End = "?>";
        else if (StartsAt(Text, Lt, "<!"))
            return npos;
        if (!End.empty()) {
            const size_t E = Text.find(End, Lt + 2);
            if (E == npos)
                return npos;
            P = E + End.size();
            continue;
        }
        size_t I = Lt + 1;
        while (I < Text.size() && Text[I] != '>') {
            const char Q = Text[I];
            if (Q != '"' && Q != '\'') {
                ++I;
                continue;
            }
            const size_t Close = Text.find(Q, I + 1);
            if (Close == npos)
                return npos;
            for (size_t R = Text.find("&#", I + 1); R < Close; R = Text.find("&#", R + 2))
                if (IsBadReference(Text, R))
                    return R;
            I = Close + 1;
        }
        P = I;
    }
}

TTextPosition TextPosition(std::string_view Text, size_t Offset) noexcept {
    if (Offset > Text.size())
        Offset = Text.size();
    TTextPosition P;
    for (size_t I = 0; I < Offset; ++I) {
        unsigned char B = Byte(Text, I);
        if (B == '\n') {
            ++P.Line;
            P.Column = 1;
        } else if (!IsContinuation(B)) {
            ++P.Column;
        }
    }
    return P;
}

std::string_view DecodeXMLInput(std::string_view Bytes, std::string& Converted) {
    size_t Bom = 0;
    TInputEncoding E = DetectEncoding(Bytes, Bom);
    std::string_view Body = Bytes.substr(Bom);
    switch (E) {
    case TInputEncoding::Utf16LE:
    case TInputEncoding::Utf16BE:
        DecodeUTF16(Body, E == TInputEncoding::Utf16BE, Converted);
        return Converted;
    case TInputEncoding::Utf32LE:
    case TInputEncoding::Utf32BE:
        DecodeUTF32(Body, E == TInputEncoding::Utf32BE, Converted);
        return Converted;
    case TInputEncoding::Utf8:
        break;
    }
    std::string_view Declared = Bom == 0 ? DeclaredEncoding(Body) : std::string_view();
    if (!Declared.empty() && IsLatin1Name(Declared)) {
        Converted.clear();
        Converted.reserve(Body.size() + Body.size() / 8);
        for (size_t I = 0; I < Body.size(); ++I) {
            if (Body[I] == 0)
                InputError("a NUL character", Converted);
            AppendUtf8(Converted, Byte(Body, I));
        }
        return Converted;
    }
    if (!IsUTF8Name(Declared))
        throw EXmlError(Format("Cannot read the XML document: its encoding \"%s\" is not supported "
                               "(UTF-8, UTF-16, UTF-32 and ISO-8859-1 are)",
                               std::string(Declared)));
    size_t Bad = FindInvalidUTF8(Body);
    if (Bad != std::string_view::npos) {
        TTextPosition P = TextPosition(Body, Bad);
        throw EXmlError(Format("Cannot read the XML document: %s at line %d, column %d",
                               Body[Bad] == 0 ? "a NUL character" : "invalid UTF-8",
                               static_cast<int>(P.Line), static_cast<int>(P.Column)));
    }
    return Body;
}

} // namespace kv::detail
