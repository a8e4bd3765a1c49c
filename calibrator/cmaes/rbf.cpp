// Cubic RBF surrogate with a linear tail and the "rbf" self-test. The fit and
// evaluation serve the "cmaesrbf" screening; the self-test is MODE "rbf".
#include "calibrator/cmaes/rbf.h"
