// The demos' command line: an optional decimal seed as the only argument.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace kv::examples {

// The seed given as argv[1], or Default when there is none; nullopt (after printing the usage to
// stderr) when argv[1] is not a decimal number.
inline std::optional<uint64_t> SeedArgument(int argc, char** argv, uint64_t Default) {
    if (argc <= 1)
        return Default;
    char* End = nullptr;
    const uint64_t Seed = std::strtoull(argv[1], &End, 10);
    if (End == argv[1] || *End != '\0') {
        std::fprintf(stderr, "usage: %s [seed]   (a decimal seed; got \"%s\")\n", argv[0], argv[1]);
        return std::nullopt;
    }
    return Seed;
}

} // namespace kv::examples
