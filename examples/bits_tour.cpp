// Placeholder until the chromosome exists.
#include <cstdio>
int main() {
    std::puts("kvga: a tour of the bit-level layer (coming)");
    return 0;
}
