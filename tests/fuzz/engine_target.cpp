// Fuzz target: an engine loaded from a byte stream (LoadFromStream), as from a file a user was
// handed. See fuzz_load.h for what is checked.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "tests/fuzz/fuzz_load.h"

using namespace kv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    fuzz::CheckLoad(
        Data, Size,
        [](TKvGeneticAlgorithm& GA, std::string_view Bytes) {
            std::istringstream In{std::string(Bytes)};
            GA.LoadFromStream(In);
        },
        [](const TKvGeneticAlgorithm& GA) { return fuzz::SaveEngine(GA); });
    return 0;
}
