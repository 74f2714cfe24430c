// A program outside the kvga tree that uses the installed package.
#include <cstdio>

#include "kv/rtl/random.h"

int main() {
    kv::RandSeed(1);
    double R = kv::Random();
    if (!(R >= 0.0 && R < 1.0))
        return 1;
    std::printf("installed kvga works: Random() = %.6f\n", R);
    return 0;
}
