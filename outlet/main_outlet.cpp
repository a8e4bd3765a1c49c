// Entry of `main`, the outlet flow extractor; command-line arguments are ignored.
#include <cstdio>

#include "outlet/extract_outlet_flows.h"

int main() { return extract_outlet_flows(stderr); }
