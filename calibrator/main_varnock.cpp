// Entry of `varnock`. The calibration engine is not built yet.
#include <cstdio>

int main() {
    std::fprintf(stderr, "varnock: the calibration program is not available in this build\n");
    return 1;
}
