// hkdiag: the Stowhaven desktop support tool.
#include "Hearthkit.h"

#include <cstdio>

int wmain() {
    std::printf("Hearthkit\n");
    return 0;
}
