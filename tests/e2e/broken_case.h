// One case of a table of broken inputs: an edit of the project file, a file
// written over or beside the project's, and the message the run must print
// before it ends with status 1.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/run_program.h"

struct broken_case {
    const char *what;
    const char *from, *to;    // an edit of the project file (from empty: none)
    const char *file, *text;  // a file written (file empty: none)
    const char *message;
};

// Writes the project `prj` of text `project` with the case's edit into d, runs
// korva on it and expects status 1 and the case's message.
inline void expect_refused(const testsupport::scratch_dir &d, const std::string &prj, std::string project,
                           const broken_case &c) {
    if (*c.from) project.replace(project.find(c.from), std::string(c.from).size(), c.to);
    d.write(prj, project);
    const auto r = d.run(KORVA_EXE, {prj});
    EXPECT_EQ(r.exit_status, 1) << c.what << "\n" << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << c.what << "\n" << r.out;
}
