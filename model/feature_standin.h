// Stand-in support for services that are not built yet: a stand-in that a run
// needs prints that the feature is not available and stops the run with code 4000
// through the normal clean-up.
#pragma once

// Prints "Error: <feature> is not available in this build.\n" on the console,
// stores code 4000 and reports it (the run then stops).
void report_feature_not_available(const char *feature);
