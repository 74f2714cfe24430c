// A tour of the bit-level layer: chromosomes, their genetic operators and typed access to runs of
// bits. (The main demo, run by ./dev demo, is ga_demo; this tour stays as an example.)
#include <cstdio>
#include <string>

#include "kv/ga/bits.h"
#include "kv/rtl/random.h"

namespace {

void Show(const char* Caption, const kv::TKvGABits& Bits) {
    std::printf("  %-34s %s\n", Caption, Bits.ToBitString().c_str());
}

} // namespace

int main() {
    std::puts("kvga: a tour of the bit-level layer (chromosomes and their operators)");
    std::puts("Bits are shown bit 0 first.\n");

    kv::RandSeed(2024); // the library never seeds; a caller who wants repeatable runs does
    constexpr int32_t Size = 32;

    kv::TKvGABits Mother, Father, Child;
    Mother.SetSize(Size);
    Father.SetSize(Size);
    Child.SetSize(Size);
    Show("new chromosome (all zero):", Child);

    Mother.Randomize();
    Show("mother, randomised:", Mother);
    Father.Invert(0, Size - 1);
    Show("father, all bits inverted:", Father);

    Child.CrossOver(Mother, Father, 11);
    Show("child = crossover at bit 11:", Child);

    const bool Flipped = Child.Mutate(0.1);
    Show(Flipped ? "child after Mutate(0.1):" : "child after Mutate(0.1), unchanged:", Child);

    Child.Invert(4, 7);
    Show("child after Invert(4, 7):", Child);

    Child.Clear();
    Show("child after Clear:", Child);

    std::puts("\nTyped access to runs of bits (start, count):");
    Child.SetAsInteger(3, 4, 5);
    Show("SetAsInteger(3, 4, 5):", Child);
    Child.PreserveSignBit = true;
    Child.SetAsInteger(8, 8, -3);
    Show("signed SetAsInteger(8, 8, -3):", Child);
    Child.SetAsFloat(16, 16, 1234.5f);
    Show("SetAsFloat(16, 16, 1234.5):", Child);
    std::printf("  read back: %d, %d and %g (a 16-bit run holds a rounded integer)\n",
                Child.GetAsInteger(3, 4), Child.GetAsInteger(8, 8),
                static_cast<double>(Child.GetAsFloat(16, 16)));

    std::printf("\nBitsRequired: 4 values need %d bits, 255 need %d, 256 need %d\n",
                kv::BitsRequired(4), kv::BitsRequired(255), kv::BitsRequired(256));
    return 0;
}
