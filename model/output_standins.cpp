// Stand-ins for the output writers that run_model calls, until they are built: a
// writer whose output the project does not ask for does nothing; one a run needs
// stops it with a clear message.
#include "model/feature_standin.h"
#include "model/model_state.h"
#include "model/output_writers.h"

