// Fuzz target: a genotype document (GenoType) loaded into an engine's genes. The bytes are parsed
// as a document and bound with GetGenoType; the check of fuzz_load.h follows, and loading must
// leave the document as it was. Then every property of the document is read through the typed nodes
// (fuzz_walk.h).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tests/fuzz/fuzz_load.h"
#include "tests/fuzz/fuzz_walk.h"

using namespace kv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    fuzz::CheckLoad(
        Data, Size,
        [](TKvGeneticAlgorithm& GA, std::string_view Bytes) {
            auto Doc = NewXMLDocument();
            Doc->LoadFromString(Bytes);
            auto Root = GetGenoType(Doc);
            fuzz::KeepsDocument(*Doc, [&] { GA.GetGenes()->LoadFromXML(*Root); });
        },
        [](const TKvGeneticAlgorithm& GA) { return fuzz::SaveGenoType(GA); });
    fuzz::Run([&] {
        auto Doc = NewXMLDocument();
        Doc->LoadFromString(std::string_view(reinterpret_cast<const char*>(Data), Size));
        fuzz::WalkGenoType(*GetGenoType(Doc));
    });
    return 0;
}
