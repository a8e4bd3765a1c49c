// Fuzz harness of the inputs of korva's calibration modes: the input is read in
// turn as the SCE input file, the Monte Carlo input file, the observation file
// and the replacement parameter list; no model run is made.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "model/calibration/montecarlo.h"
#include "model/calibration/observations.h"
#include "model/calibration/sce_optimizer.h"
#include "model/core/globals.h"
#include "model/core/replace_params.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    // The SCE reader writes its report file into the working directory.
    if (chdir(fuzzsupport::scratch_dir().c_str()) != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string path = fuzzsupport::write_scratch("input.txt", data, size);

    sce_optimizer opt;
    sce_init(opt);
    opt.calibration = 1;
    std::FILE *input = std::fopen(path.c_str(), "r");
    if (input == nullptr) std::abort();
    sce_read_input(opt, input);
    std::fclose(input);
    sce_free(opt);

    // The sampler is made without an input (so that no file the input names is
    // opened) and then reads this one.
    montecarlo sampler(1, fuzzsupport::scratch_path("absent.in"));
    sampler.montecarlo_read_input(path);

    observation_set observations;
    if (read_observation_file(observations, path) == 1) compute_volume_scale(observations);
    destroy_observation_set(observations);

    replace_param_list.clear();
    read_replace_params(path);
    replace_param_list.clear();
    return 0;
}
