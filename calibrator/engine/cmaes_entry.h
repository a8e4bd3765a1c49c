// Entry points of the evolutionary search that calibration_main dispatches to:
// the driver of MODE "cmaes" and "cmaesrbf" and the RBF self-test of MODE "rbf".
#pragma once
#include "calibrator/cmaes/cmaes_driver.h"
#include "calibrator/cmaes/rbf.h"
