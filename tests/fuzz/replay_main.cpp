// Replays inputs through one fuzz target without libFuzzer: the target's LLVMFuzzerTestOneInput is
// called once per file. Arguments are files or directories (every regular file inside, in name
// order, not recursing). A missing path fails the run, and so does finding no input at all, so a
// misspelled corpus cannot pass unnoticed. A target that finds a violation aborts the process.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

namespace {

namespace fs = std::filesystem;

bool ReadFile(const fs::path& Path, std::vector<uint8_t>& Bytes) {
    std::ifstream In(Path, std::ios::binary);
    if (!In)
        return false;
    Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    return !In.bad();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> Inputs;
    for (int I = 1; I < argc; ++I) {
        fs::path Path(argv[I]);
        std::error_code Error;
        if (fs::is_directory(Path, Error)) {
            std::vector<fs::path> Files;
            for (const fs::directory_entry& Entry : fs::directory_iterator(Path))
                if (Entry.is_regular_file())
                    Files.push_back(Entry.path());
            std::sort(Files.begin(), Files.end());
            Inputs.insert(Inputs.end(), Files.begin(), Files.end());
        } else if (fs::is_regular_file(Path, Error)) {
            Inputs.push_back(Path);
        } else {
            std::fprintf(stderr, "no such file or directory: %s\n", argv[I]);
            return 2;
        }
    }
    if (Inputs.empty()) {
        std::fprintf(stderr, "no input to replay\n");
        return 2;
    }
    std::vector<uint8_t> Bytes;
    for (const fs::path& Path : Inputs) {
        if (!ReadFile(Path, Bytes)) {
            std::fprintf(stderr, "cannot read %s\n", Path.c_str());
            return 2;
        }
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", Path.c_str(), Bytes.size());
        // An empty vector's data() may be null; the target gets a valid pointer either way.
        static const uint8_t Empty = 0;
        LLVMFuzzerTestOneInput(Bytes.empty() ? &Empty : Bytes.data(), Bytes.size());
    }
    std::printf("%zu inputs replayed without a finding\n", Inputs.size());
    return 0;
}
