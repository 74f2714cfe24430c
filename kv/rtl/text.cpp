#include "kv/rtl/text.h"

#include "kv/rtl/exceptions.h"

namespace kv {

namespace {
inline char FoldAscii(char C) {
    return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C;
}
} // namespace

bool SameText(std::string_view A, std::string_view B) noexcept {
    if (A.size() != B.size())
        return false;
    for (size_t I = 0; I < A.size(); ++I)
        if (FoldAscii(A[I]) != FoldAscii(B[I]))
            return false;
    return true;
}

int CompareText(std::string_view A, std::string_view B) noexcept {
    size_t N = A.size() < B.size() ? A.size() : B.size();
    for (size_t I = 0; I < N; ++I) {
        unsigned char X = static_cast<unsigned char>(FoldAscii(A[I]));
        unsigned char Y = static_cast<unsigned char>(FoldAscii(B[I]));
        if (X != Y)
            return X < Y ? -1 : 1;
    }
    return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}

std::string LowerCase(std::string_view A) {
    std::string R(A);
    for (char& C : R)
        C = FoldAscii(C);
    return R;
}

std::string UpperCase(std::string_view A) {
    std::string R(A);
    for (char& C : R)
        if (C >= 'a' && C <= 'z')
            C = static_cast<char>(C - 'a' + 'A');
    return R;
}

std::string TextExcerpt(std::string_view Text) {
    constexpr size_t Max = 64;
    if (Text.size() <= Max)
        return std::string(Text);
    size_t N = Max;
    while (N > 0 && (static_cast<unsigned char>(Text[N]) & 0xC0) == 0x80)
        --N;
    return std::string(Text.substr(0, N)) + "...";
}

std::string OrdinalToIdent(std::span<const char* const> Names, int Ordinal) {
    if (Ordinal < 0 || static_cast<size_t>(Ordinal) >= Names.size())
        throw EConvertError(Format("Ordinal %i is outside the enumeration (0 to %i)", Ordinal,
                                   static_cast<int>(Names.size()) - 1));
    return Names[static_cast<size_t>(Ordinal)];
}

int IdentToOrdinal(std::span<const char* const> Names, std::string_view Text) noexcept {
    for (size_t I = 0; I < Names.size(); ++I)
        if (SameText(Names[I], Text))
            return static_cast<int>(I);
    return -1;
}

} // namespace kv
