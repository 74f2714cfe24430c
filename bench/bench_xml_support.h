// Helpers shared by the XML benchmarks: a deterministic bit pattern and a pugixml writer into a
// string.
#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <string>

namespace kvbench {

// Bit string number Individual of Size bits: about a third of the bits set, differing between
// individuals.
inline std::string BitPattern(int Individual, int Size) {
    std::string S(static_cast<size_t>(Size), '0');
    for (int I = 0; I < Size; ++I)
        if ((Individual * 31 + I * 7) % 3 == 0)
            S[static_cast<size_t>(I)] = '1';
    return S;
}

struct TStringWriter : pugi::xml_writer {
    std::string Out;
    void write(const void* Data, size_t Size) override {
        Out.append(static_cast<const char*>(Data), Size);
    }
};

} // namespace kvbench
