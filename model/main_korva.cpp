// Entry of `korva`. The model framework is not built yet.
#include <cstdio>

int main() {
    std::fprintf(stderr, "korva: the watershed model is not available in this build\n");
    return 1;
}
