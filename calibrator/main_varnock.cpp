// Entry of `varnock`, the model-independent calibration program: everything is
// done by calibration_main, whose status becomes the exit status.
#include "calibrator/engine/calibration_main.h"

int main(int argc, char *argv[]) { return calibration_main(argc, argv); }
