// Fuzz harness of the outlet flow extractor's two inputs: the input up to its
// first form feed is the outlet hydrograph, the rest the date list (an input
// without one is read as both); the flow lines go to /dev/null.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "outlet/extract_outlet_flows.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::size_t split = text.find('\f');
    std::istringstream hydrograph(text.substr(0, split));
    std::istringstream dates(split == std::string::npos ? text : text.substr(split + 1));
    static std::FILE *out = std::fopen("/dev/null", "w");
    if (out == nullptr) std::abort();
    std::string message;
    pair_outlet_flows(hydrograph, dates, out, message);
    return 0;
}
